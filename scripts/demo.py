"""Read one 835 file, show what zarvi makes of it, and write its tables back.

Usage: python scripts/demo.py [FILE]   (default: tests/data/simple_5010.835)
"""
import datetime
import pathlib
import sys

import zarvi

ROOT = pathlib.Path(__file__).resolve().parent.parent


def main() -> None:
    path = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "tests/data/simple_5010.835"
    result = zarvi.parse(path.read_bytes())
    print(f"{path.name}: {result!r}, read with {result.spec!r}")
    print(f"payer:          {result.payer}")
    print(f"payee:          {result.payee}")
    print(f"claims:         {result.count_claims()}")
    print(f"patients:       {result.count_patients()}")
    print(f"payment total:  {result.sum_payments()}")
    print(f"diagnostics:    {len(result.diagnostics)}")
    for diagnostic in result.diagnostics:
        print(f"  {diagnostic}")
    print()
    print(result.tables)
    print(result.tables["services"].render())
    print(result.tables["claims"].to_polars())
    print()
    envelope = zarvi.Envelope(sender_id="ZARVIDEMO", receiver_id="ZARVIDEMO",
                              date=datetime.date.today(), time=datetime.time(12, 0))
    written, findings = zarvi.write(result.tables, envelope, allow_findings=True)
    segment_end = written[105:106]  # the byte after the 106-byte ISA segment
    segments = written.split(segment_end)
    print(f"written back: {len(written)} bytes, {len(segments) - 1} segments, "
          f"{len(findings)} findings")
    for segment in segments[:6]:
        print(f"  {segment.decode(errors='replace')}{segment_end.decode()}")
    for finding in findings[:5]:
        print(f"  finding: {finding}")


if __name__ == "__main__":
    main()
