"""Reading a secret from Python: Vault.get in a loop next to the library-level read
(ops_bench's BM_ReadSecret on a vault of the same shape: 16,384 generated records, the root
reading one secret), and gets per second from 4 threads on 4 Vault objects next to 1 thread (each
get releases the interpreter lock, so threads overlap).

    python bench/python_get.py FIXTURE_TOOL OPS_BENCH
"""

from __future__ import annotations

import json
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import ostrel

RECORDS = 16384
ROOT_SEED = "01" * 32
SELECTOR = "bench/secret"


def make_workspace(tool: str, base: pathlib.Path) -> tuple[pathlib.Path, bytes]:
    scenario = base / "scenario.json"
    scenario.write_text(json.dumps({"identities": {"root": ROOT_SEED}, "generate": {"records": RECORDS - 1},
                                    "ratchet": "derived"}))
    subprocess.run([tool, "build", scenario, base / "ws", "--state-dir", base / "state"], check=True,
                   capture_output=True)
    subprocess.run([tool, "invite", scenario, "--seed", ROOT_SEED, "--bytes", base / "root.invite"], check=True,
                   capture_output=True)
    return base / "ws" / ".ostrel", (base / "root.invite").read_bytes()


def gets_per_second(vaults: list[ostrel.Vault], seconds: float) -> float:
    counts = [0] * len(vaults)
    stop = threading.Event()

    def loop(i: int) -> None:
        v = vaults[i]
        n = 0
        while not stop.is_set():
            for _ in range(100):
                v.get(SELECTOR)
            n += 100
        counts[i] = n

    threads = [threading.Thread(target=loop, args=(i,)) for i in range(len(vaults))]
    start = time.perf_counter()
    for t in threads:
        t.start()
    time.sleep(seconds)
    stop.set()
    for t in threads:
        t.join()
    return sum(counts) / (time.perf_counter() - start)


def library_read_us(ops_bench: str) -> float:
    out = subprocess.run([ops_bench, f"--benchmark_filter=BM_ReadSecret/{RECORDS}$", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    run = json.loads(out)["benchmarks"][0]
    return float(run["real_time"]) * {"us": 1.0, "ns": 1e-3, "ms": 1e3}[run["time_unit"]]


def main(tool: str, ops_bench: str) -> None:
    base = pathlib.Path(tempfile.mkdtemp(prefix="ostrel-pybench-"))
    try:
        import os

        os.environ["OSTREL_STATE_DIR"] = str(base / "state")
        os.environ["OSTREL_KEYCHAIN_DIR"] = str(base / "keys")
        vault_dir, invite = make_workspace(tool, base)
        vaults = [ostrel.Vault(str(vault_dir), auth=ostrel.Auth.from_invite(invite)) for _ in range(4)]
        vaults[0].set(SELECTOR, "value")
        vaults = [ostrel.Vault(str(vault_dir), auth=ostrel.Auth.from_invite(invite)) for _ in range(4)]

        n = 5000
        v = vaults[0]
        v.get(SELECTOR)
        start = time.perf_counter()
        for _ in range(n):
            v.get(SELECTOR)
        python_us = (time.perf_counter() - start) / n * 1e6
        library_us = library_read_us(ops_bench)
        print(f"Vault.get from Python: {python_us:.1f} us/get; library read_secret: {library_us:.1f} us "
              f"(binding overhead {python_us - library_us:+.1f} us, {python_us / library_us:.2f}x)")

        one = gets_per_second(vaults[:1], 2.0)
        four = gets_per_second(vaults, 2.0)
        print(f"gets/s: 1 thread on 1 Vault {one:,.0f}; 4 threads on 4 Vaults {four:,.0f} ({four / one:.2f}x)")
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
