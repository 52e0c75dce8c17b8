"""Support of the load and fault suites: workspaces on /dev/shm when it is there (the suites write
thousands of records; a memory file system keeps their syncs cheap), and forked children that run
one function and report through a pipe."""

from __future__ import annotations

import contextlib
import json
import os
import pathlib
import shutil
import tempfile
import traceback
from collections.abc import Callable, Iterator
from typing import Any

from ostrel import Auth, Vault
from workspace import Workspace, members

SHM = pathlib.Path("/dev/shm")


def fast_tmp(prefix: str) -> pathlib.Path:
    parent = str(SHM) if SHM.is_dir() and os.access(SHM, os.W_OK) else None
    path = pathlib.Path(tempfile.mkdtemp(prefix=prefix, dir=parent))
    for word in ("keychain", "identity"):
        assert word not in str(path), f"temporary folder {path} holds {word!r}"
    return path


@contextlib.contextmanager
def workspace(prefix: str, *records: dict[str, Any]) -> Iterator[Workspace]:
    """A small workspace (alice and bob may write app/...) with its environment set."""
    base = fast_tmp(prefix)
    try:
        ws = Workspace(base, members(*records))
        with ws.environment():
            yield ws
    finally:
        shutil.rmtree(base, ignore_errors=True)


class Opener:
    """Opens the workspace's vault as a user through an invitation held in memory (no passphrase
    derivation, so a child opens in milliseconds)."""

    def __init__(self, ws: Workspace, *names: str) -> None:
        self.path = str(ws.vault_dir)
        self.invites = {n: ws.invite_bytes(n).read_bytes() for n in names}

    def __call__(self, name: str) -> Vault:
        return Vault(self.path, auth=Auth.from_invite(self.invites[name]))


class Child:
    """A forked process running fn(send); send(obj) writes one JSON line to the parent."""

    def __init__(self, fn: Callable[[Callable[[Any], None]], None]) -> None:
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:  # the child never returns into pytest
            os.close(read_end)
            out = os.fdopen(write_end, "w", buffering=1)
            code = 0

            def send(obj: Any) -> None:
                out.write(json.dumps(obj) + "\n")

            try:
                fn(send)
            except BaseException:  # noqa: BLE001  (reported to the parent as a line)
                out.write(json.dumps({"error": traceback.format_exc()}) + "\n")
                code = 1
            out.flush()
            os._exit(code)
        os.close(write_end)
        self.pid = pid
        self.stream = os.fdopen(read_end, "r")
        self.received: list[Any] = []

    def next(self) -> Any:
        """The next message, waiting for it; None once the child has ended."""
        line = self.stream.readline()
        if not line:
            return None
        self.received.append(json.loads(line))
        return self.received[-1]

    def wait(self) -> tuple[int, list[Any]]:
        """The exit status (os.waitstatus_to_exitcode form) and every message sent."""
        lines = self.stream.read().splitlines()
        self.stream.close()
        _, status = os.waitpid(self.pid, 0)
        return os.waitstatus_to_exitcode(status), self.received + [json.loads(line) for line in lines if line]


def journals(ws: Workspace) -> list[pathlib.Path]:
    """Transaction and join-commit journals left in the workspace's state folder."""
    return sorted(p for name in ("transaction.cord", "join-commit.cord") for p in ws.state_dir.rglob(name))


def ratchet_file(ws: Workspace) -> pathlib.Path:
    found = list(ws.state_dir.rglob("ratchet.cord"))
    assert len(found) == 1, found
    return found[0]
