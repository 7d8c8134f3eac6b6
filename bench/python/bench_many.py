"""Many-files benchmark: zarvi.parse over a set of files from a thread pool.

parse releases the interpreter lock while it works, so a pool of threads
should scale with the cores. The files (--files copies of one generated
file of --size bytes, each its own bytes object, read before timing) are
parsed by pools of 1, 2, 4 and 8 threads in turn; each figure is the best
of --runs passes over all the files, as aggregate MB/s (input bytes over
wall time), with the speed-up over one thread. Each result is dropped in
its worker, so its tables are freed there too. One warm-up pass first loads
the built-in spec.

Usage: bench_many.py --data DIR --gen GEN835 [--size 2M] [--files 16]
                     [--threads 1,2,4,8] [--runs 3] [--json FILE]
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

MB = 1_000_000


def parse_one(data: bytes) -> int:
    import zarvi

    return len(zarvi.parse(data).diagnostics)


def best_pass(files: list[bytes], threads: int, runs: int) -> float:
    best = float("inf")
    with ThreadPoolExecutor(max_workers=threads) as pool:
        for _ in range(runs):
            t0 = time.perf_counter()
            list(pool.map(parse_one, files))
            best = min(best, time.perf_counter() - t0)
    return best


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--data", default="bench/data", help="where the generated file goes")
    ap.add_argument("--gen", help="the gen835 executable")
    ap.add_argument("--size", default="2M", help="bytes of each file")
    ap.add_argument("--files", type=int, default=16)
    ap.add_argument("--threads", default="1,2,4,8")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--json", help="also write the figures here")
    args = ap.parse_args()

    os.makedirs(args.data, exist_ok=True)
    path = os.path.join(args.data, f"gen-{args.size}.835")
    if not os.path.exists(path):
        if not args.gen:
            sys.exit(f"{path} is missing and no --gen was given")
        subprocess.run([args.gen, args.size, path], check=True)
    with open(path, "rb") as f:
        original = f.read()
    # Distinct objects, as separate files would be.
    files = [bytes(bytearray(original)) for _ in range(args.files)]
    total = len(original) * args.files

    parse_one(files[0])
    figures = []
    for threads in (int(t) for t in args.threads.split(",")):
        seconds = best_pass(files, threads, args.runs)
        figures.append({"threads": threads, "seconds": seconds, "mb_s": total / MB / seconds})

    print(f"{args.files} files of {len(original) / MB:.1f} MB, best of {args.runs} passes, "
          f"load average {os.getloadavg()[0]:.1f}")
    print(f"{'threads':>7}  {'MB/s':>8}  {'speed-up':>8}")
    one = figures[0]["mb_s"]
    for f in figures:
        print(f"{f['threads']:>7}  {f['mb_s']:>8.1f}  {f['mb_s'] / one:>7.2f}x")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump({"bytes": len(original), "files": args.files, "figures": figures}, out,
                      indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
