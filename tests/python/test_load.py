"""Load: writers in several processes on one vault lose no update, and readers that open while
writers commit always see a whole state."""

from __future__ import annotations

import random
import time
from collections.abc import Callable
from typing import Any

from load_support import Child, Opener, journals, workspace
from workspace import secret

PROCESSES = 8
WRITES = 100  # per process: half whole values of its own secrets, half field edits of shared ones
OWN_SECRETS = 5
SHARED = ["app/shared/a", "app/shared/b"]


def paced(write: Callable[[], None], rng: random.Random) -> None:
    """One write, then a pause of about a quarter of its time: a writer that takes the locks again
    at once could keep the others waiting past the lock's 10 s bound."""
    start = time.perf_counter()
    write()
    took = time.perf_counter() - start
    time.sleep(max(took / 4, 0.001) * rng.uniform(0.5, 1.5))


def test_writers_in_eight_processes_lose_no_update() -> None:
    with workspace("ostrel-load-", *[secret(s, "start", fields={"origin": "fixture"}) for s in SHARED]) as ws:
        open_as = Opener(ws, "alice", "bob")

        def writer(i: int) -> Callable[[Callable[[Any], None]], None]:
            def run(send: Callable[[Any], None]) -> None:
                rng = random.Random(1000 + i)
                v = open_as("alice" if i % 2 == 0 else "bob")
                for n in range(WRITES // 2):
                    paced(lambda: v.set(f"app/p{i}/s{n % OWN_SECRETS}", f"{i}:{n}"), rng)
                    # Every process edits its own field of both shared secrets: a write made on a
                    # stale copy of the secret would drop another process's field.
                    paced(lambda: v.set_field(SHARED[n % 2], f"p{i}", str(n)), rng)
                send({"done": i})

            return run

        started = time.perf_counter()
        children = [Child(writer(i)) for i in range(PROCESSES)]
        results = [c.wait() for c in children]
        took = time.perf_counter() - started
        assert results == [(0, [{"done": i}]) for i in range(PROCESSES)], results
        assert journals(ws) == []

        last = WRITES // 2 - 1
        for reader in ("alice", "bob"):
            v = open_as(reader)
            for i in range(PROCESSES):
                for s in range(OWN_SECRETS):
                    n = max(k for k in range(WRITES // 2) if k % OWN_SECRETS == s)
                    assert v.get(f"app/p{i}/s{s}") == f"{i}:{n}", (reader, i, s)
            for k, shared in enumerate(SHARED):
                final = max(n for n in range(WRITES // 2) if n % 2 == k)
                assert final in (last, last - 1)
                assert v.get(shared) == "start"
                assert v.fields(shared) == {"origin": "fixture", **{f"p{i}": str(final) for i in range(PROCESSES)}}
            listed = {str(s) for s in v.list("app")}
            assert len(listed) == PROCESSES * OWN_SECRETS + len(SHARED)
        # Printed with -s; the report of the suite's cost.
        print(f"\n{PROCESSES} processes x {WRITES} writes: {took:.1f} s")


def test_readers_opening_while_writers_commit() -> None:
    """The writer sets app/x then app/y to the same generation, each followed by a field naming
    it. A reader opening at any moment sees y at most one generation behind x, each field absent or
    equal to its value, and never a generation older than one it saw before."""
    generations = 60
    with workspace("ostrel-readers-", secret("app/x", "0", fields={"g": "0"}),
                   secret("app/y", "0", fields={"g": "0"})) as ws:
        open_as = Opener(ws, "alice", "bob")

        def write(send: Callable[[Any], None]) -> None:
            rng = random.Random(7)
            v = open_as("alice")
            for g in range(1, generations + 1):
                for name in ("app/x", "app/y"):
                    paced(lambda: v.set(name, str(g)), rng)
                    paced(lambda: v.set_field(name, "g", str(g)), rng)
            send("done")

        def read(reader: str, seed: int) -> Callable[[Callable[[Any], None]], None]:
            def run(send: Callable[[Any], None]) -> None:
                rng = random.Random(seed)
                seen = (0, 0)
                opened = 0
                deadline = time.monotonic() + 120
                while time.monotonic() < deadline:
                    v = open_as(reader)
                    opened += 1
                    x, y = v.get("app/x"), v.get("app/y")
                    fx, fy = v.fields("app/x"), v.fields("app/y")
                    # A value and its field are two records: setting the value drops the field,
                    # the next record adds it back with the value's generation.
                    assert fx in ({}, {"g": x}) and fy in ({}, {"g": y}), (x, fx, y, fy)
                    gx, gy = int(x), int(y)
                    assert gy <= gx <= gy + 1, (x, y)
                    assert (gx, gy) >= seen, ((gx, gy), seen)
                    seen = (gx, gy)
                    if fy == {"g": str(generations)}:
                        break
                    time.sleep(rng.uniform(0, 0.01))
                send({"opened": opened, "last": list(seen)})

            return run

        readers = [Child(read(name, seed)) for name, seed in (("alice", 1), ("bob", 2), ("bob", 3))]
        writer = Child(write)
        assert writer.wait() == (0, ["done"])
        for r in readers:
            code, sent = r.wait()
            assert code == 0, sent
            assert sent[0]["last"] == [generations, generations]
            assert sent[0]["opened"] > 1
        assert journals(ws) == []
