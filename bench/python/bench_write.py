"""Writing benchmark: zarvi.write beside zarvi.parse on the same generated files.

For each file: the parse (input MB/s), the write of the parse's own tables
and the write of the same tables as polars frames (MB of output per second),
the import of the polars frames alone, and the peak memory a write from
polars frames adds, as a multiple of the output size.

The import alone is timed as a write from the frames that the writer refuses
right after binding (an envelope without a repetition separator, which the
5010 header needs), so it holds the import, the plan and the binding and
nothing of the emission or the read-back. Throughput figures are best of
2-3 runs, each figure in a fresh subprocess; memory is measured as in
bench_read.py (high-water RSS minus RSS before the write, the frames and the
input already in memory).

Usage: bench_write.py --data DIR --gen GEN835 [--sizes 10M,100M] [--json FILE]
"""

from __future__ import annotations

import datetime
import json
import sys
import time

from bench_read import (MB, answered_child, bench_arguments, generated, memory_baseline,
                        memory_peak, run_child, size_label)


def _envelope(zarvi, **changes):
    return zarvi.Envelope(sender_id="BENCHSENDER", receiver_id="BENCHRECEIVER",
                          date=datetime.date(2026, 1, 5), time=datetime.time(12, 0), **changes)


def _best(runs: int, fn) -> tuple[float, object]:
    best, out = None, None
    for _ in range(runs):
        t0 = time.perf_counter()
        out = fn()
        took = time.perf_counter() - t0
        best = took if best is None or took < best else best
    return best, out


def child_write_speed(path: str) -> dict:
    import zarvi

    with open(path, "rb") as f:
        data = f.read()
    runs = 3 if len(data) <= 20 * MB else 2
    envelope = _envelope(zarvi)
    parse_s, result = _best(runs, lambda: zarvi.parse(data))
    tables = result.tables
    write_s, (written, findings) = _best(
        runs, lambda: zarvi.write(tables, envelope, allow_findings=True))
    frames = tables.to_polars()
    del result
    polars_s, (again, _) = _best(runs, lambda: zarvi.write(frames, envelope, allow_findings=True))
    refused = _envelope(zarvi, delimiters=zarvi.Delimiters())

    def import_only():
        try:
            zarvi.write(frames, refused)
        except zarvi.WriteError as error:
            assert "repetition" in error.message, error.message
    import_s, _ = _best(runs, import_only)
    return {"input": len(data), "output": len(written), "same_bytes": again == written,
            "findings": len(findings), "rows": sum(len(tables[n]) for n in tables),
            "parse": parse_s, "write": write_s, "write_polars": polars_s, "import": import_s,
            "runs": runs}


def child_write_memory(path: str) -> dict:
    import gc

    import zarvi

    with open(path, "rb") as f:
        data = f.read()
    frames = zarvi.parse(data).tables.to_polars()
    gc.collect()
    envelope = _envelope(zarvi)
    base, how = memory_baseline()
    written, _ = zarvi.write(frames, envelope, allow_findings=True)
    peak = memory_peak()
    return {"output": len(written), "added": peak - base, "baseline": how}


CHILDREN = {"write-speed": child_write_speed, "write-memory": child_write_memory}


def main() -> int:
    ap = bench_arguments(__doc__, "10M,100M")
    args = ap.parse_args()
    if answered_child(args, CHILDREN):
        return 0

    raw: dict = {}
    for size in args.sizes.split(","):
        path = generated(args.data, args.gen, size)
        print(f"[{size}] write", file=sys.stderr, flush=True)
        raw[size] = {kind: run_child(sys.executable, f"write-{kind}", path, None, __file__)
                     for kind in ("speed", "memory")}
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(raw, f, indent=2)
    report(raw)
    return 0


def report(raw: dict) -> None:
    print("Throughput: parse in input MB/s; writes and the import in output MB/s")
    head = (f"{'file':>7} | {'rows':>9} | {'parse':>7} | {'write':>7} | {'polars':>7} | "
            f"{'import':>7} | {'out MB':>7} | findings | same bytes")
    print(head)
    print("-" * len(head))
    verdicts = []
    for size, r in raw.items():
        s, m = r["speed"], r["memory"]
        if "error" in s:
            print(f"{size:>7} | error: {s['error']}")
            continue
        out = s["output"] / MB

        def rate(key: str) -> float:
            return (s["input"] if key == "parse" else s["output"]) / MB / s[key]
        print(f"{size_label(s['input']):>7} | {s['rows']:>9} | {rate('parse'):7.1f} | "
              f"{rate('write'):7.1f} | {rate('write_polars'):7.1f} | {rate('import'):7.1f} | "
              f"{out:7.1f} | {s['findings']:>8} | {s['same_bytes']}")
        half = rate("write_polars") >= rate("parse") / 2
        verdicts.append(f"{'met ' if half else 'MISSED'} import + write >= half the parse "
                        f"speed at {size}: {rate('write_polars'):.1f} vs {rate('parse'):.1f}")
        verdicts.append(f"{'met ' if rate('import') >= 500 else 'MISSED'} import >= 500 output "
                        f"MB/s at {size}: {rate('import'):.1f}")
        if "added" in m:
            ratio = m["added"] / m["output"]
            verdicts.append(f"{'met ' if ratio < 4 else 'MISSED'} write from polars peak < 4x "
                            f"the output at {size}: {ratio:.2f}x")
        else:
            verdicts.append(f"memory at {size}: error: {m.get('error')}")
    print()
    print("Targets")
    for v in verdicts:
        print(f"  {v}")


if __name__ == "__main__":
    sys.exit(main())
