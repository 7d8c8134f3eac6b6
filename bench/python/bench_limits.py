"""Costs of unlucky inputs: what each unit of a hostile file adds at the peak.

  element     one segment of many empty elements (only separators)
  diagnostic  many two-byte junk segments, one diagnostic each
  codes       PLB segments whose first reason code is not among the 5,000 codes
              a patched spec lists for it, one diagnostic each, less the same
              segments with a listed code
  batch       list(stream(data, by="2100")): every one-claim batch kept
  speed       stream by claim against parse, in MB/s
  growth      time of the shapes below at three sizes, each twice the last

Each unit figure is a slope: the peak resident memory of a run at two sizes
(each in a fresh subprocess, measured as bench_read.py does: the high-water
mark over the resident set once the input is built), their difference over
the difference in units. What any file costs falls out of it. The codes
figure is instead the difference between two inputs of the same size: what
the diagnostics add to the segments that carry them.

Each growth figure is the time of one shape (best and median of five runs)
at n, 2n and 4n, and the factor per doubling: 2 where the cost follows the
input, 4 where it is quadratic.

Usage: bench_limits.py [--file 835] [--units N] [--mb MB] [--only KIND ...]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

from bench_read import memory_baseline, memory_peak

HERE = os.path.dirname(os.path.abspath(__file__))
SEED = os.path.join(HERE, "..", "..", "tests", "data", "simple_5010.835")


def build(kind: str, seed: bytes, units: int) -> bytes:
    isa_end = seed.index(b"~") + 1
    if kind == "element":
        # Inside the first transaction, after its ST.
        at = seed.index(b"~", seed.index(b"ST*")) + 1
        return seed[:at] + b"ZZ" + b"*" * units + b"~" + seed[at:]
    if kind == "diagnostic":
        at = seed.index(b"~", seed.index(b"ST*")) + 1
        return seed[:at] + b"X~" * units + seed[at:]
    if kind == "batch":
        return seed * units
    if kind in ("codes", "listed"):
        at = seed.index(b"SE*")
        code = b"ZZ" if kind == "codes" else b"C0001"
        return seed[:at] + (b"PLB*1234567890*20261231*" + code + b":X*1~") * units + seed[at:]
    raise ValueError(kind)


# PLB03-1 lists 5,000 codes, so that a diagnostic that copied the list would
# cost its size.
CODES_PATCH = {"segments": {"PLB": {"elements": {"3": {"composite": {"1": {
    "max": 5, "codes": [f"C{i:04}" for i in range(5000)]}}}}}}}


def child_peak(kind: str, path: str, units: int) -> dict:
    import zarvi

    data = build(kind, open(path, "rb").read(), units)
    spec = zarvi.Spec.builtin().patch(CODES_PATCH) if kind in ("codes", "listed") else None
    baseline, how = memory_baseline()
    if kind == "batch":
        kept = list(zarvi.stream(data, by="2100"))
        count = len(kept)
    else:
        result = zarvi.parse(data, spec=spec)
        count = units if kind == "element" else len(result.diagnostics)
    return {"peak": memory_peak() - baseline, "count": count, "baseline": how}


def child_speed(path: str, mb: int) -> dict:
    import zarvi

    seed = open(path, "rb").read()
    data = seed * (mb * 1_000_000 // len(seed))

    def stream(by):
        for _ in zarvi.stream(data, by=by):
            pass

    size = len(data) / 1e6
    return {"parse": size / best_time(lambda: zarvi.parse(data)),
            "stream 2100": size / best_time(lambda: stream("2100")),
            "stream transaction": size / best_time(lambda: stream("transaction"))}


# Shapes whose time must follow their size: name -> (make, n). make(n)
# builds the input and returns the work to time, which runs GROWTH_RUNS times.
GROWTH = {}
GROWTH_RUNS = 5


def growth(name: str, n: int):
    def register(make):
        GROWTH[name] = (make, n)
        return make
    return register


def run_times(work, runs: int) -> list[float]:
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        work()
        times.append(time.perf_counter() - t0)
    return times


def best_time(work, runs: int = 3) -> float:
    return min(run_times(work, runs))


def child_growth(name: str, n: int) -> dict:
    make, _ = GROWTH[name]
    times = run_times(make(n), GROWTH_RUNS)
    return {"seconds": min(times), "median": statistics.median(times)}


def run_child(*args) -> dict:
    out = subprocess.run([sys.executable, __file__, "--child", *map(str, args)],
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


@growth("siblings", 2000)
def siblings(n: int):
    """n sibling loops on one segment told apart only by a binary code over
    log2(n) positions: no position alone tells them apart."""
    import zarvi

    bits = (n - 1).bit_length()
    loops = {f"s{i:06d}": {"trigger": {"segment": "N9", "where": {
                               str(1 + b): "AB"[i >> b & 1] for b in range(bits)}},
                           "occurrences": {"o": {"segment": "N9", "pos": 1}}}
             for i in range(n)}
    text = json.dumps({"name": "siblings", "loops": loops})
    return lambda: zarvi.Spec.from_json(text)


# Bucket counts a hash map of 64-bit integers gets when reserved for 16,000,
# 32,000 and 64,000 entries (libstdc++'s primes): row numbers that are
# multiples of their product fall in one bucket at every size below.
ROWS_SHARED_BUCKET = 16411 * 33223 * 67307


@growth("rows", 16000)
def rows_growth(n: int):
    """n claims of one service each, written from tables whose claim row
    numbers (and the services' references to them) are multiples of
    ROWS_SHARED_BUCKET."""
    sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "python"))
    import zarvi
    from x12_input import ENVELOPE, claims_with_services, scaled_claim_rows

    parsed = zarvi.parse(claims_with_services(n)).tables
    tables = scaled_claim_rows(parsed, ROWS_SHARED_BUCKET)
    return lambda: zarvi.write(tables, ENVELOPE)


@growth("spec objects", 20_000)
def spec_objects(n: int):
    import zarvi

    text = "[" + ",".join(['{"a": {}}'] * n) + "]"

    def work():
        try:
            zarvi.Spec.from_json(text)
        except zarvi.SpecError:
            pass
    return work


@growth("wide write", 2500)
def wide_write(n: int):
    """n claims columns, each reading its own of n more occurrences of REF
    in loop 2100 by its qualifier code, written from a parse of the sample
    file."""
    sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "python"))
    import zarvi
    from x12_input import ENVELOPE, wide_claim_loop

    spec, tables = wide_claim_loop(n)
    return lambda: zarvi.write(tables, ENVELOPE, spec)


def main() -> None:
    p = argparse.ArgumentParser()
    p.add_argument("--file", default=SEED)
    p.add_argument("--units", type=int, default=1_000_000)
    p.add_argument("--mb", type=int, default=50)
    p.add_argument("--only", nargs="+",
                   choices=("element", "diagnostic", "codes", "batch", "speed", "growth",
                            *GROWTH),
                   help="run these measures alone")
    p.add_argument("--child", nargs="+")
    a = p.parse_args()
    if a.child:
        if a.child[0] == "speed":
            print(json.dumps(child_speed(a.child[1], int(a.child[2]))))
        elif a.child[0] == "growth":
            print(json.dumps(child_growth(a.child[1], int(a.child[2]))))
        else:
            print(json.dumps(child_peak(a.child[0], a.child[1], int(a.child[2]))))
        return
    for kind, units, bound in (("element", a.units, 16), ("diagnostic", a.units, 200),
                               ("codes", a.units // 10, 200), ("batch", a.units // 50, 2048)):
        if a.only and kind not in a.only:
            continue
        if kind == "codes":
            listed = run_child("listed", a.file, units)
            found = run_child(kind, a.file, units)
            per = (found["peak"] - listed["peak"]) / (found["count"] - listed["count"])
            print(f"{kind:10} {per:8.1f} bytes each at the peak  (target {bound}; "
                  f"{found['count']} at most)")
            continue
        one = run_child(kind, a.file, units)
        two = run_child(kind, a.file, 2 * units)
        per = (two["peak"] - one["peak"]) / (two["count"] - one["count"])
        print(f"{kind:10} {per:8.1f} bytes each at the peak  (target {bound}; "
              f"{two['count']} at most)")
    if not a.only or "speed" in a.only:
        speed = run_child("speed", a.file, a.mb)
        ratio = speed["stream 2100"] / speed["parse"]
        print("speed      " + ", ".join(f"{k} {v:.1f} MB/s" for k, v in speed.items()) +
              f"  (stream 2100 / parse {ratio:.2f}; target 0.33)")
    for name, (_, n) in GROWTH.items():
        if a.only and "growth" not in a.only and name not in a.only:
            continue
        sizes = (n, 2 * n, 4 * n)
        runs = [run_child("growth", name, size) for size in sizes]
        best = [r["seconds"] for r in runs]
        median = [r["median"] for r in runs]
        print(f"{name:10} " + ", ".join(f"{size}: {b:.3f} s (median {m:.3f})"
                                        for size, b, m in zip(sizes, best, median)) +
              f"  ({(best[2] / best[0]) ** 0.5:.2f}x per doubling, median "
              f"{(median[2] / median[0]) ** 0.5:.2f}x; target 2)")


if __name__ == "__main__":
    main()
