"""The performance table of README.md, from one run of the benchmarks on this machine: opening
(cold and warm) against one bare Ed25519 verification and against decoding and hashing the file,
and against reading the file and hashing each record, a read against one HPKE open, a write
against a warm open, the heap at the peak of opening against the file's size, opening and one
write from Python in fresh processes (times and peak resident memory), and gets per second from
Python on 1 and 4 threads. The table replaces what stands between the two marker comments of
README.md.

    python bench/perf_table.py BUILD_DIR README   (./dev perf)
"""

from __future__ import annotations

import datetime
import json
import os
import pathlib
import platform
import shutil
import subprocess
import sys
import tempfile
import time
from typing import Any

import ostrel

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import python_get  # noqa: E402  (the Python benchmark's workspace and thread loop)
import python_open_set  # noqa: E402  (opening and one set from Python, in fresh processes)

BEGIN = "<!-- perf-table:begin (written by bench/perf_table.py; do not edit) -->"
END = "<!-- perf-table:end -->"
SIZES = (16384, 262144)
UNIT_US = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}


def run_benchmarks(binary: pathlib.Path, pattern: str, repetitions: int = 1) -> dict[tuple[str, int | None], dict[str, Any]]:
    """Each run of the binary's benchmarks matching `pattern`, by name and first argument, with
    its time in microseconds as `us`. With repetitions, the median of that many runs, taken in a
    random order across the pattern's benchmarks: the machine's speed drifts with its neighbours'
    load, and interleaving lets the drift move both sides of a ratio alike."""
    print(f"running {binary.name} {pattern}", file=sys.stderr, flush=True)
    command = [str(binary), f"--benchmark_filter={pattern}", "--benchmark_format=json"]
    if repetitions > 1:
        command += [f"--benchmark_repetitions={repetitions}", "--benchmark_report_aggregates_only=true",
                    "--benchmark_enable_random_interleaving=true"]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    runs = {}
    for run in json.loads(out)["benchmarks"]:
        if run.get("error_occurred"):
            sys.exit(f"{run['name']}: {run.get('error_message')}")
        if repetitions > 1 and run.get("aggregate_name") != "median":
            continue
        parts = run["run_name"].split("/")
        arg = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else None
        runs[(parts[0], arg)] = {**run, "us": float(run["real_time"]) * UNIT_US[run["time_unit"]]}
    return runs


def python_figures(tool: str) -> dict[str, float]:
    """Vault.get from Python on the Python benchmark's vault of 16,384 records, and gets per
    second from 1 thread on 1 Vault and 4 threads on 4 Vaults."""
    base = pathlib.Path(tempfile.mkdtemp(prefix="ostrel-perf-"))
    saved = dict(os.environ)
    try:
        os.environ["OSTREL_STATE_DIR"] = str(base / "state")
        os.environ["OSTREL_KEYCHAIN_DIR"] = str(base / "keys")
        vault_dir, invite = python_get.make_workspace(tool, base)
        ostrel.Vault(str(vault_dir), auth=ostrel.Auth.from_invite(invite)).set(python_get.SELECTOR, "value")
        vaults = [ostrel.Vault(str(vault_dir), auth=ostrel.Auth.from_invite(invite)) for _ in range(4)]
        n = 5000
        vaults[0].get(python_get.SELECTOR)
        start = time.perf_counter()
        for _ in range(n):
            vaults[0].get(python_get.SELECTOR)
        get_us = (time.perf_counter() - start) / n * 1e6
        return {"get_us": get_us, "one": python_get.gets_per_second(vaults[:1], 3.0),
                "four": python_get.gets_per_second(vaults, 3.0)}
    finally:
        os.environ.clear()
        os.environ.update(saved)
        shutil.rmtree(base, ignore_errors=True)


def machine() -> str:
    cpu = platform.processor() or platform.machine()
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    load = os.getloadavg()[1]  # other work on the machine moves the short figures most
    return (f"{cpu}, {os.cpu_count()} logical CPUs (load average {load:.1f} over the last 5 minutes), "
            f"Linux {platform.release()}, Python {platform.python_version()}; {when}")


def fmt_us(us: float) -> str:
    if us >= 1000:
        return f"{us / 1000:,.1f} ms"
    return f"{us:,.2f} µs" if us < 10 else f"{us:,.1f} µs"


# The Python figures of opening and writing use the largest vault a run can still add records to.
PY_SIZES = {16384: 16384, 262144: 262080}


def table(ops: dict[Any, Any], crypto: dict[Any, Any], derive: dict[Any, Any], py: dict[str, float],
          open_set: dict[str, Any]) -> str:
    verify_us = crypto[("BM_VerifySignature", None)]["us"]
    hpke_us = ops[("BM_HpkeOpenOnce", None)]["us"]
    set_arg = {16384: 16384, 262144: 262128}  # the write benchmark leaves room under the record limit
    rows: list[tuple[str, list[str]]] = []

    def row(label: str, cell: Any) -> None:
        rows.append((label, [cell(n) for n in SIZES]))

    row("vault file", lambda n: f"{ops[('BM_OpenCold', n)]['file_MiB']:,.1f} MiB")
    for kind, name in (("cold", "BM_OpenCold"), ("warm", "BM_OpenWarm")):
        row(f"{kind} open", lambda n, name=name: fmt_us(ops[(name, n)]["us"]))
        row(f"{kind} open per record", lambda n, name=name: fmt_us(ops[(name, n)]["us"] / n))
        row(f"{kind} open per record ÷ one bare Ed25519 verification ({fmt_us(verify_us)})",
            lambda n, name=name: f"{ops[(name, n)]['us'] / n / verify_us:.2f}×")
        row(f"{kind} open ÷ decoding and hashing the file",
            lambda n, name=name: f"{ops[(name, n)]['us'] / ops[('BM_DecodeAndHash', n)]['us']:.2f}×")
    row("decoding and hashing the file", lambda n: fmt_us(ops[("BM_DecodeAndHash", n)]["us"]))
    row("reading the file and SHA-256 of every record (libsodium's, not decoded)",
        lambda n: fmt_us(ops[("BM_ReadAndSha256Records", n)]["us"]))
    row("warm open ÷ reading the file and SHA-256 of every record",
        lambda n: f"{ops[('BM_OpenWarm', n)]['us'] / ops[('BM_ReadAndSha256Records', n)]['us']:.2f}×")
    row("`get` (library read)", lambda n: fmt_us(ops[("BM_ReadSecret", n)]["us"]))
    row(f"`get` ÷ one HPKE open ({fmt_us(hpke_us)})", lambda n: f"{ops[('BM_ReadSecret', n)]['us'] / hpke_us:.2f}×")
    row("`Vault.get` from Python", lambda n: fmt_us(py["get_us"]) if n == python_get.RECORDS else "–")
    row("`set` (one record committed through the journal)", lambda n: fmt_us(ops[("BM_SetSecret", set_arg[n])]["us"]))
    row("`set` ÷ one warm open",
        lambda n: f"{ops[('BM_SetSecret', set_arg[n])]['us'] / ops[('BM_OpenWarm', n)]['us']:.2f}×")
    row("peak heap of opening (file, records and state)",
        lambda n: f"{derive[('BM_DeriveCold', n)]['peak_total_x_file'] * derive[('BM_DeriveCold', n)]['file_MiB']:,.1f} MiB")
    row("peak heap ÷ file size", lambda n: f"{derive[('BM_DeriveCold', n)]['peak_total_x_file']:.2f}×")
    sizes = open_set["sizes"]

    def py_cell(field: str, fmt: Any) -> Any:
        return lambda n: fmt(sizes[str(PY_SIZES[n])][field])

    row("from Python: records of the vault opened and written", lambda n: f"{PY_SIZES[n]:,}")
    row("from Python: warm open (keychain road, `Vault(...)`)", py_cell("warm_open_s", lambda s: fmt_us(s * 1e6)))
    row("from Python: `set`", py_cell("set_s", lambda s: fmt_us(s * 1e6)))
    row("from Python: `set` ÷ warm open", py_cell("set_per_warm_open", lambda x: f"{x:.2f}×"))
    row("from Python: peak RSS of a process that opens, above a tiny vault's, ÷ file",
        py_cell("open_rss_above_tiny_per_file", lambda x: f"{x:.2f}×"))
    row("from Python: peak RSS of a process that opens and does one `set`, above a tiny vault's, ÷ file",
        py_cell("set_rss_above_tiny_per_file", lambda x: f"{x:.2f}×"))
    row("gets per second from Python, 1 thread (1 `Vault`)",
        lambda n: f"{py['one']:,.0f}" if n == python_get.RECORDS else "–")
    row("gets per second from Python, 4 threads (4 `Vault`s)",
        lambda n: f"{py['four']:,.0f} ({py['four'] / py['one']:.2f}×)" if n == python_get.RECORDS else "–")

    lines = [f"Measured on {machine()}, by `./dev perf` (bench/perf_table.py) in one run; "
             "the verification, HPKE, `get`, warm open, decoding and hashing, and reading and SHA-256 "
             "figures are medians of 5 runs, the figures from Python "
             "medians of 5 rounds of fresh processes (bench/python_open_set.py).", "",
             "| | 16,384 records | 262,144 records |", "|---|---:|---:|"]
    lines += [f"| {label} | {' | '.join(cells)} |" for label, cells in rows]
    return "\n".join(lines)


def main(build: pathlib.Path, readme: pathlib.Path) -> None:
    text = readme.read_text()
    if BEGIN not in text or END not in text:
        sys.exit(f"{readme} has no {BEGIN} ... {END} markers")
    bench = build / "bench"
    crypto = run_benchmarks(bench / "crypto_bench", "^BM_VerifySignature$", repetitions=5)
    ops = run_benchmarks(bench / "ops_bench", "^BM_(OpenCold|SetSecret)")
    # Each ratio's two sides in one interleaved run (the warm open and its two floors, a read and
    # one HPKE open): taken apart, a drift of the machine between them moved the warm open's ratio
    # at 262,144 records by a tenth or more. One process, so the vaults are generated once.
    ops |= run_benchmarks(bench / "ops_bench", "^BM_(OpenWarm|DecodeAndHash|ReadAndSha256Records|ReadSecret|HpkeOpenOnce)",
                          repetitions=5)
    derive = run_benchmarks(bench / "derive_bench", "^BM_DeriveCold/(16384|262144)")
    py = python_figures(str(build / "tests" / "ostrel-fixture"))
    open_set = python_open_set.measure(str(build / "tests" / "ostrel-fixture"), list(PY_SIZES.values()), rounds=5)
    generated = table(ops, crypto, derive, py, open_set)
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    readme.write_text(f"{head}{BEGIN}\n{generated}\n{END}{tail}")
    print(generated)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
