"""Where the first parse's peak memory goes, part by part.

bench_read.py reports the peak resident growth of the first parse in a fresh
process. This splits that figure, each part measured the same way (fresh
interpreter, high-water mark reset after the imports and the input read),
as the median of --runs processes:

  first parse   the figure itself, and its file-backed share: the pages of
                code the parse runs first (the kernel maps code around each
                page fault, so a page touched brings its neighbours in)
  spec          Spec.builtin("5010") alone: its code pages and its heap
  warm          a parse after a parse of the file's first transaction (kept),
                so with the spec compiled and the code paged in: what the
                file itself costs
  output        the tables' Arrow buffers plus the segment index (8 bytes a
                segment), which the result holds: no first parse costs less

Usage: memory_split.py FILE [--runs 7]
(PYTHONPATH naming the zarvi to measure, as run.sh sets it; needs pyarrow)
"""

from __future__ import annotations

import argparse
import statistics
import subprocess
import sys

from bench_read import _read, _status_kb, memory_baseline, memory_peak


def resident() -> tuple[int, int]:
    """The file-backed and anonymous resident bytes now."""
    return _status_kb("RssFile") * 1024, _status_kb("RssAnon") * 1024


def child(kind: str, path: str) -> list[int]:
    import zarvi

    data = _read(path)
    # Held, so that the parse measured finds none of its memory freed.
    warm_up = None
    if kind == "warm":
        end = data.find(b"~", data.find(b"SE" + data[3:4])) + 1
        warm_up = zarvi.parse(data[:end])
    if kind == "output":
        import pyarrow as pa

        result = zarvi.parse(data)
        tables = sum(pa.table(result.tables[name]).nbytes for name in result.tables)
        return [tables + 8 * len(result.document), 0]
    base, _ = memory_baseline()
    file_before, _ = resident()
    kept = zarvi.Spec.builtin("5010") if kind == "spec" else zarvi.parse(data)
    peak = memory_peak()
    del kept, warm_up
    return [peak - base, resident()[0] - file_before]


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("file")
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--child", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        print(" ".join(map(str, child(args.child, args.file))))
        return 0
    size = len(_read(args.file))
    print(f"{args.file}: {size} bytes; medians of {args.runs} processes, MB and x the input")
    for kind in ("first", "spec", "warm", "output"):
        runs = 1 if kind == "output" else args.runs
        figures = []
        for _ in range(runs):
            out = subprocess.run([sys.executable, __file__, args.file, "--child", kind],
                                 capture_output=True, text=True, check=True).stdout
            figures.append([int(v) for v in out.split()])
        added = statistics.median(f[0] for f in figures)
        code = statistics.median(f[1] for f in figures)
        split = f" (code pages {code / 1e6:.3f})" if kind != "output" else ""
        print(f"  {kind:<7} {added / 1e6:7.3f} MB {added / size:6.2f}x{split}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
