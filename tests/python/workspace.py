"""Workspaces for the Vault tests, made by the fixture tool (tests/support/README.md) in folders
whose names hold neither "keychain" nor "identity"."""

from __future__ import annotations

import contextlib
import json
import os
import pathlib
import subprocess
from collections.abc import Iterator
from typing import Any

SEEDS = {
    "root": "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
    "alice": "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf",
    "bob": "b0b1b2b3b4b5b6b7b8b9babbbcbdbebfc0c1c2c3c4c5c6c7c8c9cacbcccdcecf",
    "mallory": "e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
    "carol": "c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf",
}
PASSPHRASE = "correct horse"


def fixture_tool() -> str:
    tool = os.environ.get("OSTREL_FIXTURE")
    assert tool and os.access(tool, os.X_OK), "OSTREL_FIXTURE names the fixture tool (set by ./dev test)"
    return tool


def run_tool(*args: str | os.PathLike[str], stdin: str | None = None) -> Any:
    done = subprocess.run([fixture_tool(), *map(str, args)], input=stdin, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout) if done.stdout.strip() else None


def secret(selector: str, value: str | None = None, *, signer: str = "alice", counter: int = 2,
           value_hex: str | None = None, fields: dict[str, Any] | None = None) -> dict[str, Any]:
    path, _, labels = selector.partition("@")
    record: dict[str, Any] = {
        "kind": "Secret",
        "signer": signer,
        "counter": counter,
        "selector": {"tuple": path.split("/"),
                     "labels": dict(kv.split("=") for kv in labels.split("&")) if labels else {}},
    }
    if value is not None:
        record["value"] = value
    if value_hex is not None:
        record["value_hex"] = value_hex
    if fields:
        record["fields"] = fields
    return record


def members(*records: dict[str, Any]) -> dict[str, Any]:
    """Alice may read and write everything, Bob may read and write app/..., Carol nothing."""
    return {
        "identities": dict(SEEDS),
        "records": [
            {"kind": "User", "user": "alice"},
            {"kind": "User", "user": "bob"},
            {"kind": "User", "user": "carol"},
            {"kind": "UserHandle", "handle": "alice", "user": "alice"},
            {"kind": "UserHandle", "handle": "bob", "user": "bob"},
            {"kind": "UserHandle", "handle": "carol", "user": "carol"},
            {"kind": "EntryPoint", "signer": "alice"},
            {"kind": "EntryPoint", "signer": "bob"},
            {"kind": "EntryPoint", "signer": "carol"},
            {"kind": "Grant", "seed": 1, "grantee": {"user": "alice"}, "permission": {"write": {}}},
            {"kind": "Grant", "seed": 2, "grantee": {"user": "alice"}, "permission": {"read": {}}},
            {"kind": "Grant", "seed": 3, "grantee": {"user": "bob"}, "permission": {"read": {"prefix": ["app"]}}},
            {"kind": "Grant", "seed": 4, "grantee": {"user": "bob"}, "permission": {"write": {"prefix": ["app"]}}},
            *records,
        ],
        "ratchet": "derived",
    }


class Workspace:
    """A vault made from a scenario, with its own state and keychain folders."""

    def __init__(self, base: pathlib.Path, scenario: dict[str, Any]) -> None:
        self.base = base
        self.scenario_file = base / "scenario.json"
        self.scenario_file.write_text(json.dumps(scenario))
        self.dir = base / "ws"
        self.vault_dir = self.dir / ".ostrel"
        self.state_dir = base / "state"
        self.keys_dir = base / "keys"
        built = run_tool("build", self.scenario_file, self.dir, "--state-dir", self.state_dir)
        self.root_key_id: str = built["root_key_id"]

    def user_id(self, name: str) -> str:
        out = run_tool("invite", self.scenario_file, "--identity", name)
        return str(out["user_id"])

    def add_keychain(self, *names: str, current: str | None = None) -> None:
        spec: dict[str, Any] = {
            "root": self.root_key_id,
            "identities": [{"seed": SEEDS[n], "passphrase": PASSPHRASE} for n in names],
        }
        if current is not None:
            spec["current_user"] = {"user": self.user_id(current)}
        run_tool("keychain", "-", self.keys_dir, stdin=json.dumps(spec))

    def invite_bytes(self, name: str, *extra: str) -> pathlib.Path:
        path = self.base / f"{name}.invite"
        run_tool("invite", self.scenario_file, "--identity", name, "--bytes", path, *extra)
        return path

    def invite_text(self, name: str, *extra: str) -> str:
        path = self.base / f"{name}.txt"
        run_tool("invite", self.scenario_file, "--identity", name, "--baseline", "empty", "--text", path, *extra)
        return path.read_text().strip()

    @contextlib.contextmanager
    def environment(self, **extra: str) -> Iterator[None]:
        """The state and keychain folders of this workspace, and no invitation variables."""
        saved = dict(os.environ)
        os.environ["OSTREL_STATE_DIR"] = str(self.state_dir)
        os.environ["OSTREL_KEYCHAIN_DIR"] = str(self.keys_dir)
        for name in ("OSTREL_UNSAFE_INVITE", "OSTREL_UNSAFE_INVITE_FILE", "APPDATA"):
            os.environ.pop(name, None)
        os.environ.update(extra)
        try:
            yield
        finally:
            os.environ.clear()
            os.environ.update(saved)
