"""Read one 835 file and show what zarvi makes of it.

Usage: python scripts/demo.py [FILE]   (default: tests/data/simple_5010.835)
"""
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


if __name__ == "__main__":
    main()
