"""Write the table of code points that quoted text escapes as \\u{...}.

A code point is escaped when Python does not count it printable (controls,
format characters, separators other than the space, unassigned and private
use) or when it is a combining mark (categories Mn, Mc, Me), which would
otherwise fuse with the quote or the character before it.
"""
import sys
import unicodedata


def escaped(cp: int) -> bool:
    if 0xD800 <= cp <= 0xDFFF:
        return True
    ch = chr(cp)
    return (not ch.isprintable()) or unicodedata.category(ch) in ("Mn", "Mc", "Me")


def main(out_path: str) -> None:
    ranges = []
    start = None
    for cp in range(0x110000):
        if escaped(cp):
            if start is None:
                start = cp
        elif start is not None:
            ranges.append((start, cp - 1))
            start = None
    if start is not None:
        ranges.append((start, 0x10FFFF))
    with open(out_path, "w", encoding="ascii") as f:
        f.write(f"// Generated from Unicode {unicodedata.unidata_version}; do not edit.\n")
        for lo, hi in ranges:
            f.write(f"{{0x{lo:X}, 0x{hi:X}}},\n")


if __name__ == "__main__":
    main(sys.argv[1])
