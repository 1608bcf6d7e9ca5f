#!/usr/bin/env python3
"""vector! element arithmetic and point coordinates against Python's struct (the oracle).

Integer vectors of 8, 16 and 32 bits take random elements and scalars through add,
subtract, multiply, divide, remainder, and~, or~ and xor~; the result must be the
operation on 32-bit integers wrapped around and cut to the element's width, read back
signed. Float vectors of 32 bits and points must hold the nearest single float of each
double result. Zor prints every result as the bytes of `to binary!` on a vector (a point's
coordinates are put into a 32-bit float vector for that), so nothing depends on float text.

usage: vector_point_oracle.py ZOR_BINARY
"""
import random
import struct
import subprocess
import sys
import tempfile

WIDTH_FORMATS = {8: "<b", 16: "<h", 32: "<i"}


def wrap(value, bits):
    """The low bits of a 32-bit wrapped value, read back signed."""
    raw = struct.pack("<I", value & 0xFFFFFFFF)[: bits // 8]
    return struct.unpack(WIDTH_FORMATS[bits], raw)[0]


def truncated_divide(a, b):
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


def truncated_remainder(a, b):
    return a - b * truncated_divide(a, b)


def single(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


INTEGER_OPS = [
    ("+", lambda a, b: a + b),
    ("-", lambda a, b: a - b),
    ("*", lambda a, b: a * b),
    ("/", truncated_divide),
    ("//", truncated_remainder),
    ("and", lambda a, b: a & b),
    ("or", lambda a, b: a | b),
    ("xor", lambda a, b: a ^ b),
]

# Zor spells remainder as the action; the rest as operators.
def zor_expression(op, left, right):
    if op == "//":
        return f"remainder {left} {right}"
    return f"{left} {op} {right}"


FLOAT_OPS = [("+", lambda a, b: a + b), ("-", lambda a, b: a - b), ("*", lambda a, b: a * b),
             ("/", lambda a, b: a / b)]


def hex_of(data):
    return "#{" + data.hex().upper() + "}"


def main():
    zor = sys.argv[1]
    rng = random.Random(133)
    lines = ["Zor []"]
    expected = []

    # Integer vectors: element op scalar in place, and element op element into a vector
    # of the wider width.
    for _ in range(300):
        bits = rng.choice([8, 16, 32])
        limit = 1 << (bits - 1)
        elements = [rng.randrange(-limit, limit) for _ in range(rng.randrange(1, 6))]
        op, fn = rng.choice(INTEGER_OPS)
        scalar = rng.choice([rng.randrange(-2**31, 2**31), rng.randrange(-300, 300), 65536, -1, 2])
        if op in ("/", "//") and scalar == 0:
            scalar = 3
        if op in ("/", "//") and scalar == -1:
            scalar = -2  # -2147483648 / -1 raises math/overflow: not a wrap-around case
        vector = f"make vector! [integer! {bits} [{' '.join(map(str, elements))}]]"
        lines.append(f"print mold to binary! {zor_expression(op, '(' + vector + ')', scalar)}")
        result = [wrap(fn(e, scalar), bits) for e in elements]
        expected.append(hex_of(b"".join(struct.pack(WIDTH_FORMATS[bits], r) for r in result)))

        other_bits = rng.choice([8, 16, 32])
        other_limit = 1 << (other_bits - 1)
        others = [rng.randrange(-other_limit, other_limit) for _ in range(rng.randrange(1, 6))]
        if op in ("/", "//"):
            others = [o if o not in (0, -1) else 7 for o in others]
        other = f"make vector! [integer! {other_bits} [{' '.join(map(str, others))}]]"
        width = max(bits, other_bits)
        lines.append(f"print mold to binary! {zor_expression(op, '(' + vector + ')', '(' + other + ')')}")
        result = [wrap(fn(a, b), width) for a, b in zip(elements, others)]
        expected.append(hex_of(b"".join(struct.pack(WIDTH_FORMATS[width], r) for r in result)))

    # 32-bit float vectors: every result narrowed to the nearest single.
    for _ in range(200):
        elements = [single(rng.uniform(-1e6, 1e6)) for _ in range(rng.randrange(1, 5))]
        op, fn = rng.choice(FLOAT_OPS)
        scalar = rng.uniform(-1e3, 1e3)
        vector = f"make vector! [float! 32 [{' '.join(repr(e) for e in elements)}]]"
        lines.append(f"print mold to binary! {zor_expression(op, '(' + vector + ')', repr(scalar))}")
        expected.append(hex_of(b"".join(struct.pack("<f", fn(e, scalar)) for e in elements)))

    # Points: literals, as-point2D, and arithmetic, each coordinate the nearest single of
    # the double result (a float scalar is narrowed before it is used).
    def coordinates_line(point_expression, count):
        names = ["x", "y", "z"][:count]
        picks = " ".join(f"(p/{n})" for n in names)
        return f"p: {point_expression} print mold to binary! make vector! compose/deep [float! 32 [{picks}]]"

    for _ in range(200):
        count = rng.choice([2, 3])
        values = [rng.uniform(-1e5, 1e5) for _ in range(count)]
        literal = "(" + ", ".join(repr(v) for v in values) + ")"
        point = [single(v) for v in values]
        lines.append(coordinates_line(literal, count))
        expected.append(hex_of(b"".join(struct.pack("<f", c) for c in point)))

        op, fn = rng.choice(FLOAT_OPS)
        scalar = rng.choice([rng.uniform(-1e3, 1e3), float(rng.randrange(-1000, 1000)) + 0.5])
        lines.append(coordinates_line(f"{literal} {op} {repr(scalar)}", count))
        expected.append(hex_of(b"".join(struct.pack("<f", fn(c, single(scalar))) for c in point)))

        integer = rng.randrange(-2**31, 2**31)
        lines.append(coordinates_line(f"{literal} + {integer}", count))
        expected.append(hex_of(b"".join(struct.pack("<f", c + integer) for c in point)))

        others = [single(rng.uniform(-1e5, 1e5)) for _ in range(count)]
        other_literal = "(" + ", ".join(repr(v) for v in others) + ")"
        lines.append(coordinates_line(f"{literal} {op} {other_literal}", count))
        expected.append(hex_of(b"".join(struct.pack("<f", fn(a, b)) for a, b in zip(point, others))))

    x, y = rng.uniform(-1e9, 1e9), rng.uniform(-1e9, 1e9)
    lines.append(coordinates_line(f"as-point2D {repr(x)} {repr(y)}", 2))
    expected.append(hex_of(struct.pack("<ff", x, y)))

    with tempfile.NamedTemporaryFile("w", suffix=".zor", delete=False) as script:
        script.write("\n".join(lines) + "\n")
    run = subprocess.run([zor, script.name], capture_output=True, text=True, timeout=300)
    got = run.stdout.splitlines()
    failures = 0
    for i, want in enumerate(expected):
        have = got[i] if i < len(got) else "<missing>"
        if have != want:
            failures += 1
            if failures <= 10:
                print(f"line {i + 2}: {lines[i + 1]}\n  expected {want}\n  got      {have}")
    if run.returncode != 0 or len(got) != len(expected):
        print(f"status {run.returncode}, {len(got)} lines of {len(expected)}\n{run.stderr}")
        failures += 1
    print(f"{len(expected) - failures} of {len(expected)} results agree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
