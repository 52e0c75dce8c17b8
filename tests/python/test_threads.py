"""Threads: calls on one Vault run one at a time with the interpreter lock released; entering a
with block while another thread is inside a method of the same object is "Already borrowed"."""

from __future__ import annotations

import threading
from collections.abc import Iterator

import pytest

from ostrel import Auth, Vault
from test_vault import PASSPHRASE, SECRETS, Workspace, members  # noqa: F401  (fixtures below)
from test_vault import env, ws  # noqa: F401


def test_many_threads_calling_one_vault(env: Workspace) -> None:
    v = Vault(str(env.vault_dir), auth=Auth.from_keychain("alice", passphrase=PASSPHRASE))
    errors: list[BaseException] = []
    results: list[str] = []

    def work(i: int) -> None:
        try:
            for _ in range(200):
                results.append(v.get("app/db"))
            v.set(f"threads/t{i}", f"v{i}")
            results.append(v.get(f"threads/t{i}"))
        except BaseException as e:  # noqa: BLE001
            errors.append(e)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert results.count("hunter2") == 800
    assert sorted(r for r in results if r != "hunter2") == ["v0", "v1", "v2", "v3"]
    assert [str(s) for s in v.list("threads")] == ["threads/t0", "threads/t1", "threads/t2", "threads/t3"]


class BlockingValue:
    """A value whose conversion waits, inside the call of `set`, until released."""

    def __init__(self) -> None:
        self.inside = threading.Event()
        self.release = threading.Event()

    def __len__(self) -> int:
        return 1

    def __getitem__(self, i: int) -> int:
        if i > 0:
            raise IndexError(i)
        self.inside.set()
        assert self.release.wait(30)
        return 65


def test_with_during_another_threads_call_is_already_borrowed(env: Workspace) -> None:
    v = Vault(str(env.vault_dir), auth=Auth.from_keychain("alice", passphrase=PASSPHRASE))
    value = BlockingValue()
    worker = threading.Thread(target=lambda: v.set("threads/blocked", value))  # type: ignore[arg-type]
    worker.start()
    try:
        assert value.inside.wait(30)
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            with v:
                pass
        # Shared holds do not exclude each other: a second call goes through meanwhile.
        assert v.get("app/db") == "hunter2"
    finally:
        value.release.set()
        worker.join()
    with v as same:
        assert same is v
    assert v.get("threads/blocked") == "A"
