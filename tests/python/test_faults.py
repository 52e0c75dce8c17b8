"""Faults: writers killed at random moments leave a vault that reopens to the state before or after
the write in flight, with no journal left once reopened; a write that meets a full disk fails with
a store error and leaves the old vault and ratchet as they were."""

from __future__ import annotations

import os
import random
import resource
import signal
import time
from collections.abc import Callable
from typing import Any

import pytest

from load_support import Child, Opener, journals, ratchet_file, workspace
from ostrel import OstrelError
from workspace import secret

ROUNDS = 200
CRASH = "app/crash"


def state_after(r: int, k: int | None, before: tuple[str, dict[str, str]]) -> tuple[str, dict[str, str]]:
    """The secret after writes 0..k of round r: even writes set the value (dropping the fields),
    odd ones set the field f."""
    if k is None:
        return before
    value, fields = before
    for n in range(k + 1):
        if n % 2 == 0:
            value, fields = f"{r}.{n}", {}
        else:
            fields = {**fields, "f": f"{r}.{n}"}
    return value, fields


def test_writers_killed_at_random_moments() -> None:
    rng = random.Random(17)
    with workspace("ostrel-kill-", secret(CRASH, "start")) as ws:
        open_as = Opener(ws, "alice")
        known: tuple[str, dict[str, str]] = ("start", {})
        acked_rounds = cut_short = 0
        started = time.perf_counter()
        # Half the rounds kill while the child opens or starts writing, half within about three
        # writes after its first, as long as a write takes on this machine.
        v = open_as("alice")
        timed = time.perf_counter()
        for k in range(4):
            v.set("app/after", str(k))
        write_time = (time.perf_counter() - timed) / 4
        for r in range(ROUNDS):
            def write(send: Callable[[Any], None], r: int = r) -> None:
                v = open_as("alice")
                send("open")
                for k in range(12):
                    if k % 2 == 0:
                        v.set(CRASH, f"{r}.{k}")
                    else:
                        v.set_field(CRASH, "f", f"{r}.{k}")
                    send(k)
                time.sleep(60)  # wait for the signal

            child = Child(write)
            if r % 2 == 0:
                time.sleep(rng.uniform(0, 0.01))
            else:
                assert (child.next(), child.next()) == ("open", 0), child.wait()
                time.sleep(rng.uniform(0, 3 * write_time))
            os.kill(child.pid, signal.SIGKILL)
            code, sent = child.wait()
            assert code == -signal.SIGKILL, sent
            acked = [m for m in sent if isinstance(m, int)]
            last = acked[-1] if acked else None
            acked_rounds += bool(acked)
            cut_short += bool(acked) and acked[-1] < 11

            v = open_as("alice")  # recovers what the killed writer left
            assert journals(ws) == [], f"round {r}"
            seen = (v.get(CRASH), v.fields(CRASH))
            in_flight = (last + 1 if last is not None else 0) if "open" in sent else None
            allowed = [state_after(r, last, known), state_after(r, in_flight, known)]
            assert seen in allowed, (r, sent, seen, allowed)
            known = seen
            v.set("app/after", str(r))
            assert v.get("app/after") == str(r)
            assert open_as("alice").get("app/after") == str(r)
        took = time.perf_counter() - started
        # The kills must land amid the writes, not after them, to test anything.
        assert acked_rounds >= ROUNDS // 2 and cut_short >= ROUNDS // 4, (acked_rounds, cut_short)
        print(f"\n{ROUNDS} kill rounds ({acked_rounds} after a write, {cut_short} amid the writes; {write_time * 1e3:.1f} ms a write): {took:.1f} s")


def snapshot(ws: Any) -> dict[str, bytes]:
    """Every file of the workspace's vault folder and state folder but the lock files."""
    files = {}
    for folder in (ws.vault_dir, ws.state_dir):
        for p in sorted(folder.rglob("*")):
            if p.is_file() and not p.name.endswith(".lock"):
                files[str(p)] = p.read_bytes()
    return files


@pytest.mark.parametrize(("value_bytes", "limit"), [
    (100_000, 1),          # no byte of anything new can be written
    (100_000, 16_384),     # the journal's first blocks, not the rest
    (1_000_000, 600_000),  # half of the journal
])
def test_a_full_disk_fails_the_write_and_keeps_the_vault(value_bytes: int, limit: int) -> None:
    with workspace("ostrel-full-", secret("app/db", "old", fields={"user": "admin"})) as ws:
        open_as = Opener(ws, "alice", "bob")
        open_as("alice").get("app/db")  # the ratchet as opening leaves it
        before = snapshot(ws)
        vault_bytes = (ws.vault_dir / "vault.cord").read_bytes()
        ratchet_bytes = ratchet_file(ws).read_bytes()
        assert len(vault_bytes) < limit or limit < 100

        def write(send: Callable[[Any], None]) -> None:
            v = open_as("alice")
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a short write instead of a signal
            _, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, hard))
            for attempt in ({"set": "app/db"}, {"set_field": "app/db"}, {"set": "app/new"}):
                try:
                    if "set" in attempt:
                        v.set(attempt["set"], "x" * value_bytes)
                    else:
                        v.set_field(attempt["set_field"], "big", "y" * value_bytes)
                except OstrelError as e:
                    send({"type": type(e).__name__, "message": str(e)})
                else:
                    send({"type": None})
            send({"get": v.get("app/db"), "fields": v.fields("app/db")})

        code, sent = Child(write).wait()
        assert code == 0, sent
        *failures, after = sent
        assert len(failures) == 3
        for f in failures:
            assert f["type"] == "OstrelError", f
            assert "File too large" in f["message"] or "No space" in f["message"], f
        # The session keeps what it had.
        assert after == {"get": "old", "fields": {"user": "admin"}}

        assert (ws.vault_dir / "vault.cord").read_bytes() == vault_bytes
        assert ratchet_file(ws).read_bytes() == ratchet_bytes
        assert snapshot(ws) == before, "a failed write left files behind"
        for reader in ("alice", "bob"):
            v = open_as(reader)
            assert (v.get("app/db"), v.fields("app/db")) == ("old", {"user": "admin"})
        v = open_as("alice")
        v.set("app/db", "x" * value_bytes)
        assert open_as("bob").get("app/db") == "x" * value_bytes
        assert journals(ws) == []
