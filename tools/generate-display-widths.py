#!/usr/bin/env python3
"""Turns runtime/data/display-width-ranges.txt into C++ tables: one array of 32-bit words
per section, each range stored as its first and last code point. Refuses a file whose
ranges are malformed, unsorted, overlapping or outside the code point space, so that the
lookup's early-out and search can rely on the order."""
import sys

SECTIONS = {"zero-width": "zero_width_words",
            "double-width": "double_width_words",
            "ambiguous": "ambiguous_words"}


def fail(message):
    sys.exit(f"display-widths: {message}")


def parse(text):
    tables = {}
    current = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            if current not in SECTIONS:
                fail(f"line {number}: unknown section {current!r}")
            if current in tables:
                fail(f"line {number}: section {current!r} appears twice")
            tables[current] = []
            continue
        if current is None:
            fail(f"line {number}: a range before any section")
        fields = line.split()
        if len(fields) != 2:
            fail(f"line {number}: expected two hexadecimal code points")
        try:
            first, last = (int(f, 16) for f in fields)
        except ValueError:
            fail(f"line {number}: not hexadecimal: {line!r}")
        if not 0 <= first <= last <= 0x10FFFF:
            fail(f"line {number}: bad range {line!r}")
        ranges = tables[current]
        if ranges and first <= ranges[-1][1]:
            fail(f"line {number}: range {line!r} is not above the one before it")
        ranges.append((first, last))
    for name in SECTIONS:
        if not tables.get(name):
            fail(f"section {name!r} is missing or empty")
    return tables


def main():
    source, output = sys.argv[1], sys.argv[2]
    tables = parse(open(source, encoding="utf-8").read())
    out = ["// Generated from runtime/data/display-width-ranges.txt by tools/generate-display-widths.py.", ""]
    for name, identifier in SECTIONS.items():
        ranges = tables[name]
        out.append(f"// {name}: {len(ranges)} ranges")
        out.append(f"inline constexpr uint32_t {identifier}[] = {{")
        for first, last in ranges:
            out.append(f"    0x{first:05X}, 0x{last:05X},")
        out.append("};")
        out.append("")
    open(output, "w", encoding="utf-8").write("\n".join(out))


if __name__ == "__main__":
    main()
