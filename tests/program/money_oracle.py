#!/usr/bin/env python3
"""money! against Python's decimal: sums and differences, products and quotients with
integers (cut after five fraction digits), remainders, and round/to in every mode
(nearest with ties away from zero, even, down, half-down, floor, ceiling, half-ceiling)
over random amounts from 0.00001 to the largest, with the overflow and underflow
refusals where decimal's exact result does not fit.

usage: money_oracle.py ZOR_BINARY
"""
import decimal
import random
import subprocess
import sys
import tempfile
from decimal import Decimal

decimal.getcontext().prec = 80
UNIT = Decimal("0.00001")
LARGEST = Decimal("99999999999999999.99999")
MODES = [
    ("round/to", decimal.ROUND_HALF_UP),
    ("round/to/even", decimal.ROUND_HALF_EVEN),
    ("round/to/down", decimal.ROUND_DOWN),
    ("round/to/half-down", decimal.ROUND_HALF_DOWN),
    ("round/to/floor", decimal.ROUND_FLOOR),
    ("round/to/ceiling", decimal.ROUND_CEILING),
    ("round/to/half-ceiling", None),  # ties toward positive infinity
]


def text(value):
    if value is None:
        return "error"
    sign = "-" if value < 0 else ""
    whole, _, fraction = f"{abs(value):.5f}".partition(".")
    return f"{sign}${whole}.{fraction}"


def checked(value, refuse_zero_of=None):
    """The amount, or None where money refuses it: beyond the largest, or a non-zero
    operation whose result was cut to zero."""
    if abs(value) > LARGEST:
        return None
    if refuse_zero_of is not None and refuse_zero_of != 0 and value == 0:
        return None
    return value


def cut(value):
    return value.quantize(UNIT, rounding=decimal.ROUND_DOWN)


def random_amount(rng):
    digits = rng.randint(1, 22)
    magnitude = Decimal(rng.randint(1, 10 ** digits - 1)) * UNIT
    return -magnitude if rng.random() < 0.5 else magnitude


def rounded(value, scale, mode):
    scale = abs(scale)
    if scale == 0 or value == 0:
        return value
    if mode is None:
        mode = decimal.ROUND_HALF_UP if value > 0 else decimal.ROUND_HALF_DOWN
    return checked((value / scale).to_integral_value(rounding=mode) * scale)


def main():
    zor = sys.argv[1]
    rng = random.Random(4217)
    lines, expected = [], []
    for _ in range(4000):
        a, b = random_amount(rng), random_amount(rng)
        k = rng.choice([rng.randint(-9, 9) or 1, rng.randint(-2**31, 2**31 - 1)])
        # Scales of a few digits, the sizes round/to is used with.
        scale = Decimal(rng.randint(1, 10 ** rng.randint(1, 8))) * UNIT
        lines.append(f"{text(a)} {text(b)} {k} {text(scale)}")
        results = [
            checked(a + b),
            checked(a - b),
            checked(cut(a * k), a),
            checked(cut(a / k), a),
            a % b,
        ]
        results += [rounded(a, scale, mode) for _, mode in MODES]
        expected.append(" ".join(text(r) for r in results))
    outputs = ["a + b", "a - b", "a * k", "a / k", "remainder a b"]
    outputs += [f"{name} a s" for name, _ in MODES]
    calls = " ".join(f"attempt [{o}]" for o in outputs)
    code = ("attempt: func [code /local r] [r: try code either error! = type? :r [\"error\"] [mold/all :r]]\n"
            "foreach [a b k s] [\n" + "\n".join(lines) + "\n] [print reduce [" + calls + "]]\n")
    with tempfile.NamedTemporaryFile("w", suffix=".zor", delete=False) as f:
        f.write("Zor []\n" + code)
        path = f.name
    result = subprocess.run([zor, path], capture_output=True, timeout=600)
    if result.returncode != 0:
        sys.exit(f"zor failed ({result.returncode}): {result.stdout.decode()[-2000:]}")
    got = result.stdout.decode().splitlines()
    for i, (g, e) in enumerate(zip(got, expected)):
        if g != e:
            sys.exit(f"case {i + 1} ({lines[i]}):\n got      {g}\n expected {e}\n (order: {', '.join(outputs)})")
    if len(got) != len(expected):
        sys.exit(f"{len(got)} lines, expected {len(expected)}")
    print(f"{len(expected)} cases agree")


if __name__ == "__main__":
    main()
