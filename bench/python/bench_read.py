"""Reading benchmark: zarvi against the pure-Python 835 readers.

Compares, on the same generated files, zarvi's `parse` plus the conversion of
the claims table to polars with edi-835-parser (parse and its dataframe) and
pyx12 (its validation); times the Arrow export of the claims table at every
size; and measures the peak memory of `parse` and of `stream`.

Throughput is the input's bytes over the wall time of the work (zarvi: the
input already in memory, best of 2-5 runs of parse plus claims to polars;
peers: one run from paths, their reading of the files included). edi-835-parser reads one transaction per file (on a whole
interchange of several it fails an assertion, reported as found), so it
reads a directory holding each transaction of the same file wrapped in the
file's own ISA/GS envelope; its figure still counts the original file's
bytes. pyx12 validates without writing a 999, with its logging off.

Every figure comes from a fresh subprocess, so that one measurement's heap
never inflates another's. The zarvi children run under this interpreter
(zarvi, pyarrow and polars importable); the peer children run under
--peers-python (bench/peers/setup.sh makes that venv).

Peak memory: a child imports what it needs and reads the input into one
bytes object, then resets the kernel's high-water mark of its resident set
(writing 5 to /proc/self/clear_refs) and takes its current VmRSS as the
baseline. After the work it reads the high-water mark (VmHWM, which is also
what getrusage's ru_maxrss reports). The figure is high-water minus
baseline: what the work added at its peak, the input bytes excluded. Where
clear_refs cannot be written, the baseline falls back to ru_maxrss at that
moment, which can only understate the peak.

Usage: bench_read.py --data DIR --gen GEN835 [--sizes 1M,10M,100M]
                     [--peers-python PY] [--peer-limit SECONDS]
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

MB = 1_000_000


# ---------------------------------------------------------------- memory --


def _status_kb(field: str) -> int:
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"/proc/self/status has no {field}")


def memory_baseline() -> tuple[int, str]:
    """The resident set now, in bytes, with the high-water mark reset."""
    try:
        with open("/proc/self/clear_refs", "w", encoding="ascii") as f:
            f.write("5")
        return _status_kb("VmRSS") * 1024, "VmRSS after resetting VmHWM"
    except OSError:
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024, "ru_maxrss"


def memory_peak() -> int:
    """The resident high-water mark, in bytes."""
    try:
        return _status_kb("VmHWM") * 1024
    except (OSError, RuntimeError):
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


# --------------------------------------------------------------- children --


def _read(path: str) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def child_zarvi_speed(path: str) -> dict:
    import zarvi

    data = _read(path)
    # Best of a few runs; the first also loads the built-in spec.
    runs = 5 if len(data) <= 2 * MB else 3 if len(data) <= 20 * MB else 2
    best = None
    for _ in range(runs):
        t0 = time.perf_counter()
        result = zarvi.parse(data)
        t1 = time.perf_counter()
        frame = result.tables["claims"].to_polars()
        t2 = time.perf_counter()
        if best is None or t2 - t0 < best["seconds"]:
            best = {"seconds": t2 - t0, "parse": t1 - t0, "to_polars": t2 - t1}
        rows = frame.height
        diagnostics = len(result.diagnostics)
        del result, frame
    best.update(runs=runs, claims=rows, diagnostics=diagnostics)
    return best


def child_zarvi_export(path: str) -> dict:
    import pyarrow as pa
    import zarvi

    data = _read(path)
    claims = zarvi.parse(data).tables["claims"]
    reps = 50

    def median(fn) -> float:
        fn()
        times = []
        for _ in range(reps):
            t0 = time.perf_counter()
            fn()
            times.append(time.perf_counter() - t0)
        times.sort()
        return times[len(times) // 2]

    return {
        "rows": pa.table(claims).num_rows,
        "capsule": median(lambda: claims.__arrow_c_stream__()),
        "pyarrow": median(lambda: pa.table(claims)),
        "polars": median(lambda: claims.to_polars()),
    }


def child_zarvi_parse_memory(path: str, warm: bool = False) -> dict:
    import zarvi

    data = _read(path)
    if warm:
        # A process that has parsed before: the built-in spec is loaded and
        # the allocator holds the memory the first parse freed.
        zarvi.parse(data)
    base, how = memory_baseline()
    t0 = time.perf_counter()
    result = zarvi.parse(data)
    seconds = time.perf_counter() - t0
    peak = memory_peak()
    return {"bytes": len(data), "added": peak - base, "baseline": how, "seconds": seconds,
            "diagnostics": len(result.diagnostics)}


def child_zarvi_stream_memory(path: str) -> dict:
    import zarvi

    data = _read(path)
    base, how = memory_baseline()
    t0 = time.perf_counter()
    batches = claims = 0
    for batch in zarvi.stream(data, by="transaction"):
        batches += 1
        claims += batch.tables["claims"].__len__()
        del batch
    seconds = time.perf_counter() - t0
    peak = memory_peak()
    return {"bytes": len(data), "added": peak - base, "baseline": how, "seconds": seconds,
            "batches": batches, "claims": claims}


def _split_transactions(data: bytes, out_dir: str) -> int:
    """Writes each transaction of the interchange as an interchange of its own.

    edi-835-parser reads a file as one transaction; its `parse` also takes a
    directory, one transaction per file.
    """
    terminator = data[105:106]
    segments = [s.strip() for s in data.split(terminator)]
    segments = [s for s in segments if s]
    isa, gs = segments[0], segments[1]
    isa_control = isa.split(data[3:4])[13]
    gs_control = gs.split(data[3:4])[6]
    tail = [b"GE*1*" + gs_control, b"IEA*1*" + isa_control]
    count = 0
    current: list[bytes] | None = None
    for seg in segments[2:]:
        if seg.startswith(b"ST" + data[3:4]):
            current = [seg]
        elif current is not None:
            current.append(seg)
            if seg.startswith(b"SE" + data[3:4]):
                count += 1
                body = [isa, gs] + current + tail
                with open(os.path.join(out_dir, f"{count:06d}.835"), "wb") as f:
                    f.write(b"".join(s + terminator + b"\n" for s in body))
                current = None
    return count


def child_edi835_speed(path: str) -> dict:
    import warnings

    from edi_835_parser import parse

    # It warns once per unhandled segment kind; the warnings are not the work.
    warnings.simplefilter("ignore")
    data = _read(path)
    out = {}
    with tempfile.TemporaryDirectory() as tmp:
        out["files"] = _split_transactions(data, tmp)
        base, _ = memory_baseline()
        t0 = time.perf_counter()
        frame = parse(tmp).to_dataframe()
        out["seconds"] = time.perf_counter() - t0
        out["added"] = memory_peak() - base
        out["rows"] = len(frame)
    return out


def child_edi835_whole(path: str) -> dict:
    import traceback
    import warnings

    from edi_835_parser import parse

    warnings.simplefilter("ignore")
    t0 = time.perf_counter()
    try:
        frame = parse(path).to_dataframe()
        return {"ok": True, "rows": len(frame), "seconds": time.perf_counter() - t0}
    except Exception as e:  # noqa: BLE001 - the error is the finding
        where = traceback.extract_tb(e.__traceback__)[-1]
        return {"ok": False, "error": f"{type(e).__name__}: {e}".rstrip(": "),
                "where": f"{os.path.basename(where.filename)}:{where.lineno} {where.line}"}


def child_pyx12_speed(path: str) -> dict:
    import logging

    import pyx12.params
    import pyx12.x12n_document

    # It logs every finding; the logging is not the validation.
    logging.disable(logging.CRITICAL)
    data_bytes = os.path.getsize(path)
    base, _ = memory_baseline()
    t0 = time.perf_counter()
    ok = pyx12.x12n_document.x12n_document(pyx12.params.params(), path, None, None)
    seconds = time.perf_counter() - t0
    return {"seconds": seconds, "valid": bool(ok), "added": memory_peak() - base,
            "bytes": data_bytes}


CHILDREN = {
    "zarvi-speed": child_zarvi_speed,
    "zarvi-export": child_zarvi_export,
    "zarvi-parse-memory": child_zarvi_parse_memory,
    "zarvi-parse-memory-warm": lambda path: child_zarvi_parse_memory(path, warm=True),
    "zarvi-stream-memory": child_zarvi_stream_memory,
    "edi835-speed": child_edi835_speed,
    "edi835-whole": child_edi835_whole,
    "pyx12-speed": child_pyx12_speed,
}


# ----------------------------------------------------------------- driver --


def run_child(python: str, kind: str, path: str, timeout: float | None,
              script: str = __file__) -> dict:
    """One measurement by `script --child KIND FILE` in a fresh interpreter."""
    cmd = [python, os.path.abspath(script), "--child", kind, path]
    try:
        proc = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return {"error": f"not finished after {timeout:.0f} s"}
    if proc.returncode != 0:
        lines = proc.stderr.strip().splitlines()
        return {"error": lines[-1] if lines else f"exit {proc.returncode}"}
    return json.loads(proc.stdout.strip().splitlines()[-1])


def bench_arguments(doc: str, sizes: str) -> argparse.ArgumentParser:
    """The options every benchmark script takes; callers add their own."""
    ap = argparse.ArgumentParser(description=doc.split("\n")[0])
    ap.add_argument("--child", nargs=2, metavar=("KIND", "FILE"), help=argparse.SUPPRESS)
    ap.add_argument("--data", default="bench/data", help="where the generated files go")
    ap.add_argument("--gen", help="the gen835 executable")
    ap.add_argument("--sizes", default=sizes)
    ap.add_argument("--json", help="also write every raw figure here")
    return ap


def answered_child(args: argparse.Namespace, children: dict) -> bool:
    """Whether this process is a --child run, its figures printed as JSON."""
    if not args.child:
        return False
    kind, path = args.child
    print(json.dumps(children[kind](path)))
    return True


def generated(data: str, gen: str | None, size: str) -> str:
    """The path of the generated file of `size` in `data`, made when missing."""
    os.makedirs(data, exist_ok=True)
    path = os.path.join(data, f"gen-{size}.835")
    if not os.path.exists(path):
        if not gen:
            sys.exit(f"{path} is missing and no --gen was given")
        subprocess.run([gen, size, path], check=True)
    return path


def size_label(n: int) -> str:
    return f"{n / MB:.0f} MB"


def fmt(value, spec: str, missing: str = "-") -> str:
    return missing if value is None else format(value, spec)


def main() -> int:
    ap = bench_arguments(__doc__, "1M,10M,100M")
    ap.add_argument("--peers-python", help="the interpreter of the peers' venv")
    ap.add_argument("--peer-limit", type=float, default=600.0,
                    help="seconds a peer may take on one file before it is stopped")
    args = ap.parse_args()
    if answered_child(args, CHILDREN):
        return 0

    files = []
    for size in args.sizes.split(","):
        path = generated(args.data, args.gen, size)
        files.append((size, path, os.path.getsize(path)))

    me = sys.executable
    raw: dict = {}
    peers_skipped: set[str] = set()
    for size, path, nbytes in files:
        r = raw[size] = {"bytes": nbytes}
        print(f"[{size}] zarvi", file=sys.stderr, flush=True)
        r["zarvi"] = run_child(me, "zarvi-speed", path, None)
        r["export"] = run_child(me, "zarvi-export", path, None)
        r["parse_memory"] = run_child(me, "zarvi-parse-memory", path, None)
        r["parse_memory_warm"] = run_child(me, "zarvi-parse-memory-warm", path, None)
        r["stream_memory"] = run_child(me, "zarvi-stream-memory", path, None)
        if not args.peers_python:
            continue
        if size == files[0][0]:
            r["edi835_whole"] = run_child(args.peers_python, "edi835-whole", path,
                                          args.peer_limit)
        for peer in ("edi835", "pyx12"):
            if peer in peers_skipped:
                r[peer] = {"error": "skipped: too slow on the smaller file"}
                continue
            print(f"[{size}] {peer}", file=sys.stderr, flush=True)
            r[peer] = run_child(args.peers_python, f"{peer}-speed", path, args.peer_limit)
            # A peer that needed over a tenth of the limit here would not
            # finish the next size (ten times larger) within it.
            took = r[peer].get("seconds")
            if took is None or took * 10 > args.peer_limit:
                peers_skipped.add(peer)

    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(raw, f, indent=2)
    report(raw, files)
    return 0


def measured(raw: dict, files, key: str):
    """(size label, figures) of each file where `key` was measured; errors printed."""
    for size, _, nbytes in files:
        m = raw[size][key]
        if "error" in m:
            print(f"{size_label(nbytes):>7} | error: {m['error']}")
        else:
            yield size_label(nbytes), m


def targets(raw: dict, files) -> None:
    """The issue's targets, each with the figure it is judged on."""

    def verdict(ok: bool | None) -> str:
        return "n/a " if ok is None else "met " if ok else "MISSED"

    print("Targets")
    for size, _, nbytes in files:
        r = raw[size]
        z, peers = r["zarvi"].get("seconds"), []
        for key in ("edi835", "pyx12"):
            if r.get(key, {}).get("seconds"):
                peers.append(r[key]["seconds"])
        if z and peers:
            speedup = min(peers) / z
            print(f"  {verdict(speedup >= 100)} throughput >= 100x the fastest peer at "
                  f"{size_label(nbytes)}: {speedup:.1f}x")
    exports = [(nbytes, raw[size]["export"]) for size, _, nbytes in files
               if "error" not in raw[size]["export"]]
    if len(exports) > 1:
        (small, first), (large, last) = exports[0], exports[-1]
        for key in ("capsule", "pyarrow", "polars"):
            growth = last[key] / first[key]
            # polars rebuilds binary columns in its own view layout: its
            # conversion, not the export, is what grows there.
            mark = "info" if key == "polars" else verdict(growth < 2)
            print(f"  {mark} export time ({key}) flat in the rows: "
                  f"{growth:.2f}x from {size_label(small)} to {size_label(large)} "
                  f"({last['rows'] / first['rows']:.0f}x the rows)")
    for size, _, nbytes in files:
        for key, what in (("parse_memory", "first"), ("parse_memory_warm", "warm")):
            m = raw[size][key]
            if "added" in m:
                print(f"  {verdict(m['added'] < 3 * nbytes)} parse peak < 3x the input at "
                      f"{size_label(nbytes)} ({what}): {m['added'] / nbytes:.2f}x added")
    size, _, nbytes = files[-1]
    m = raw[size]["stream_memory"]
    if "added" in m:
        whole = (m["added"] + nbytes) / nbytes
        print(f"  {verdict(whole < 1.5)} stream peak < 1.5x the input at {size_label(nbytes)}: "
              f"{m['added'] / nbytes:.2f}x added, {whole:.2f}x with the input itself")


def report(raw: dict, files) -> None:
    print()
    print("Throughput (MB/s = input bytes / wall seconds; zarvi: parse + claims to polars,")
    print("best of several runs; peers: one run)")
    head = f"{'file':>7} | {'zarvi':>9} | {'edi-835-parser':>14} | {'pyx12':>9} | {'speed-up':>9}"
    print(head)
    print("-" * len(head))
    for size, _, nbytes in files:
        r = raw[size]
        z = r["zarvi"].get("seconds")
        rates = {}
        for key in ("zarvi", "edi835", "pyx12"):
            s = r.get(key, {}).get("seconds")
            rates[key] = nbytes / MB / s if s else None
        peers = [v for k, v in rates.items() if k != "zarvi" and v]
        speedup = rates["zarvi"] / max(peers) if peers and z else None
        print(f"{size_label(nbytes):>7} | {fmt(rates['zarvi'], '9.1f')} | "
              f"{fmt(rates['edi835'], '14.3f')} | {fmt(rates['pyx12'], '9.3f')} | "
              f"{fmt(speedup, '8.0f')}x")
    print()
    print("zarvi split (seconds): parse, claims to polars; claims rows; diagnostics")
    for label, z in measured(raw, files, "zarvi"):
        print(f"{label:>7} | {z['parse']:.4f} | {z['to_polars']:.6f} | "
              f"{z['claims']} | {z['diagnostics']}")
    print()
    print("Arrow export of the claims table (median of 50, microseconds)")
    print(f"{'file':>7} | {'rows':>8} | {'capsule':>8} | {'pyarrow':>8} | {'polars':>8}")
    for label, e in measured(raw, files, "export"):
        print(f"{label:>7} | {e['rows']:>8} | {e['capsule'] * 1e6:8.1f} | "
              f"{e['pyarrow'] * 1e6:8.1f} | {e['polars'] * 1e6:8.1f}")
    print()
    print("Peak memory added over the input (high-water RSS minus RSS after imports and")
    print("after reading the input), as a multiple of the input size; parse: the first")
    print("parse of a fresh process, and one after a first parse of the same file")
    print(f"{'file':>7} | {'parse':>7} | {'warm':>7} | {'stream':>7} | {'edi-835-parser':>14} | "
          f"{'pyx12':>7}")
    for size, _, nbytes in files:
        r = raw[size]

        def ratio(key: str, width: int) -> str:
            m = r.get(key, {})
            return fmt(m["added"] / nbytes if "added" in m else None, f"{width}.2f")

        print(f"{size_label(nbytes):>7} | {ratio('parse_memory', 7)} | "
              f"{ratio('parse_memory_warm', 7)} | "
              f"{ratio('stream_memory', 7)} | {ratio('edi835', 14)} | {ratio('pyx12', 7)}")
    print()
    targets(raw, files)
    print()
    for size, _, nbytes in files:
        for key in ("edi835_whole", "edi835", "pyx12"):
            m = raw[size].get(key)
            if m is None:
                continue
            if "error" in m:
                print(f"{size_label(nbytes)} {key}: {m['error']} {m.get('where', '')}".rstrip())
            elif key == "edi835":
                print(f"{size_label(nbytes)} edi835: {m['files']} single-transaction files, "
                      f"{m['rows']} dataframe rows")
            elif key == "pyx12":
                print(f"{size_label(nbytes)} pyx12: validation returned "
                      f"{'valid' if m['valid'] else 'invalid'}")


if __name__ == "__main__":
    sys.exit(main())
