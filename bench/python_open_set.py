"""Opening a vault and writing one secret from Python, each in a fresh process, as a program that
uses the module sees it: the time of a warm open (the keychain road, with the verification cache
of the keychain's current user) and of one `set`, and the peak resident memory of a process that
opens, and of one that opens and sets, counted above that of the same process on a tiny vault
(the interpreter, the module and Argon2id) and divided by the vault file's size. Every round
starts from the same files; rounds of the two kinds alternate and the figures are medians.

    python bench/python_open_set.py FIXTURE_TOOL [RECORDS ...] [--rounds N] [--json FILE]
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
from typing import Any

ROOT_SEED = "01" * 32
PASSPHRASE = "bench passphrase"
SELECTOR = "bench/written"
TINY = 16

# One measurement, run by a fresh interpreter: prints the open and set times and the peak RSS.
CHILD = r"""
import json, sys, time
import ostrel
vault_dir, passphrase, do_set = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
auth = ostrel.Auth.from_keychain(passphrase=passphrase)
t0 = time.perf_counter()
v = ostrel.Vault(vault_dir, auth=auth)
t1 = time.perf_counter()
if do_set:
    v.set("bench/written", "value")
t2 = time.perf_counter()
# VmHWM, the peak of this program's own memory: ru_maxrss would also count the parent's, which the
# child's address space was before exec (subprocess spawns with vfork).
with open("/proc/self/status") as status:
    hwm = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
print(json.dumps({"open_s": t1 - t0, "set_s": t2 - t1, "maxrss_bytes": hwm * 1024}))
"""


class Workspace:
    """A generated vault with its state folder, a keychain whose current user is the root user,
    and that user's verification cache; pristine copies of both folders restore every round."""

    def __init__(self, tool: str, base: pathlib.Path, records: int) -> None:
        self.base = base
        scenario = base / "scenario.json"
        scenario.write_text(json.dumps({"identities": {"root": ROOT_SEED}, "generate": {"records": records - 1},
                                        "ratchet": "derived"}))
        built = json.loads(subprocess.run([tool, "build", scenario, base / "ws", "--state-dir", base / "state"],
                                          check=True, capture_output=True, text=True).stdout)
        user = json.loads(subprocess.run([tool, "invite", scenario, "--seed", ROOT_SEED], check=True,
                                         capture_output=True, text=True).stdout)["user_id"]
        spec = {"root": built["root_key_id"], "identities": [{"seed": ROOT_SEED, "passphrase": PASSPHRASE}],
                "current_user": {"user": user, "label": "root"}}
        subprocess.run([tool, "keychain", "-", base / "keys"], input=json.dumps(spec), check=True,
                       capture_output=True, text=True)
        subprocess.run([tool, "cache", base / "ws", "--seed", ROOT_SEED, "--state-dir", base / "state"], check=True,
                       capture_output=True)
        self.vault_dir = base / "ws" / ".ostrel"
        self.file_bytes = (self.vault_dir / "vault.cord").stat().st_size
        shutil.copytree(base / "ws", base / "ws.pristine", symlinks=True)
        shutil.copytree(base / "state", base / "state.pristine", symlinks=True)

    def restore(self) -> None:
        for name in ("ws", "state"):
            shutil.rmtree(self.base / name)
            shutil.copytree(self.base / f"{name}.pristine", self.base / name, symlinks=True)
        # The copies' dirty pages are written back now, not by the measured set's first fsync (the
        # file system's journal commits them with it).
        os.sync()

    def run(self, do_set: bool) -> dict[str, float]:
        self.restore()
        env = dict(os.environ, OSTREL_STATE_DIR=str(self.base / "state"), OSTREL_KEYCHAIN_DIR=str(self.base / "keys"))
        out = subprocess.run([sys.executable, "-c", CHILD, str(self.vault_dir), PASSPHRASE, "1" if do_set else "0"],
                             check=True, capture_output=True, text=True, env=env).stdout
        return json.loads(out)


def measure(tool: str, sizes: list[int], rounds: int) -> dict[str, Any]:
    base = pathlib.Path(tempfile.mkdtemp(prefix="ostrel-open-set-"))
    try:
        (base / "tiny").mkdir()
        tiny = Workspace(tool, base / "tiny", TINY)
        workspaces = {}
        for n in sizes:
            (base / str(n)).mkdir()
            print(f"generating {n} records", file=sys.stderr, flush=True)
            workspaces[n] = Workspace(tool, base / str(n), n)
        runs: dict[str, list[dict[str, float]]] = {}
        for r in range(rounds):
            print(f"round {r + 1} of {rounds}", file=sys.stderr, flush=True)
            for key, ws in [("tiny", tiny)] + [(str(n), w) for n, w in workspaces.items()]:
                runs.setdefault(f"{key}/open", []).append(ws.run(False))
                runs.setdefault(f"{key}/set", []).append(ws.run(True))

        def median(key: str, field: str) -> float:
            return statistics.median(run[field] for run in runs[key])

        result: dict[str, Any] = {"rounds": rounds, "sizes": {}}
        tiny_open_rss = median("tiny/open", "maxrss_bytes")
        tiny_set_rss = median("tiny/set", "maxrss_bytes")
        for n, ws in workspaces.items():
            warm = median(f"{n}/open", "open_s")
            set_s = median(f"{n}/set", "set_s")
            result["sizes"][str(n)] = {
                "file_bytes": ws.file_bytes,
                "warm_open_s": warm,
                "set_s": set_s,
                "set_per_warm_open": set_s / warm,
                "open_rss_above_tiny_per_file": (median(f"{n}/open", "maxrss_bytes") - tiny_open_rss) / ws.file_bytes,
                "set_rss_above_tiny_per_file": (median(f"{n}/set", "maxrss_bytes") - tiny_set_rss) / ws.file_bytes,
            }
        result["tiny_rss_bytes"] = {"open": tiny_open_rss, "set": tiny_set_rss}
        return result
    finally:
        shutil.rmtree(base, ignore_errors=True)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("sizes", nargs="*", type=int, default=[16384, 262080])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--json", type=pathlib.Path)
    args = parser.parse_args()
    result = measure(args.tool, args.sizes, args.rounds)
    text = json.dumps(result, indent=2)
    print(text)
    if args.json:
        args.json.write_text(text)


if __name__ == "__main__":
    main()
