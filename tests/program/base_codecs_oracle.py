#!/usr/bin/env python3
"""enbase and debase against Python's base64 and binascii: the RFC 4648 vectors, the
common base-58 vectors, and random byte strings in bases 2, 16 and 64, encoded by Zor and
checked against Python, then encoded by Python (with and without padding, with blanks
put in) and decoded by Zor.

usage: base_codecs_oracle.py ZOR_BINARY
"""
import base64
import binascii
import random
import subprocess
import sys
import tempfile

RFC4648 = [b"", b"f", b"fo", b"foo", b"foob", b"fooba", b"foobar"]

# The usual base-58 vectors (hex of the bytes, text).
BASE58 = [
    ("", ""),
    ("61", "2g"),
    ("626262", "a3gV"),
    ("636363", "aPEr"),
    ("73696d706c792061206c6f6e6720737472696e67", "2cFupjhnEsSn59qHXstmK2ffpLv2"),
    ("00eb15231dfceb60925886b67d065299925915aeb172c06647", "1NS17iag9jJgTHD1VXjvLCEnZuQ3rJDE9L"),
    ("516b6fcd0f", "ABnLTmg"),
    ("bf4f89001e670274dd", "3SEo3LWLoPntC"),
    ("572e4794", "3EFU7m"),
    ("ecac89cad93923c02321", "EJDM8drfXA6uyA"),
    ("10c8511e", "Rt5zm"),
    ("00000000000000000000", "1111111111"),
]


def zor_binary(data):
    return "#{" + data.hex().upper() + "}"


def zor_string(text):
    # Only ASCII letters, digits, "+", "/", "=" and blanks reach here; the caret escapes
    # the line feed.
    return '"' + text.replace("\n", "^/") + '"'


def base2(data):
    return "".join(f"{b:08b}" for b in data)


def with_blanks(text, rng):
    out = []
    for ch in text:
        out.append(ch)
        if rng.random() < 0.1:
            out.append(rng.choice([" ", "\n"]))
    return "".join(out)


def main():
    zor = sys.argv[1]
    rng = random.Random(4648)
    samples = list(RFC4648) + [bytes(rng.randrange(256) for _ in range(rng.randrange(0, 80))) for _ in range(150)]
    lines = ["Zor []"]
    expected = []
    for data in samples:
        b = zor_binary(data)
        lines.append(f"print enbase {b}")
        expected.append(base64.b64encode(data).decode())
        lines.append(f"print enbase/base {b} 16")
        expected.append(binascii.hexlify(data).decode().upper())
        lines.append(f"print enbase/base {b} 2")
        expected.append(base2(data))
        encoded = base64.b64encode(data).decode()
        for text in (encoded, encoded.rstrip("="), with_blanks(encoded, rng)):
            lines.append(f"print mold debase {zor_string(text)}")
            expected.append(zor_binary(data))
        lines.append(f"print mold debase/base {zor_string(with_blanks(data.hex(), rng))} 16")
        expected.append(zor_binary(data))
        lines.append(f"print mold debase/base {zor_string(with_blanks(base2(data), rng))} 2")
        expected.append(zor_binary(data))
    for hex_bytes, text in BASE58:
        data = bytes.fromhex(hex_bytes)
        lines.append(f"print enbase/base {zor_binary(data)} 58")
        expected.append(text)
        lines.append(f"print mold debase/base {zor_string(text)} 58")
        expected.append(zor_binary(data))
    with tempfile.NamedTemporaryFile("w", suffix=".zor", delete=False) as script:
        script.write("\n".join(lines) + "\n")
    done = subprocess.run([zor, script.name], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    got = done.stdout.decode().splitlines()
    # A molded binary of 31 bytes or more spans lines: join each back into one.
    joined = []
    for line in got:
        if joined and joined[-1].startswith("#{") and not joined[-1].endswith("}"):
            joined[-1] += line.strip()
        else:
            joined.append(line)
    failures = 0
    if done.returncode != 0:
        print(f"zor exited with {done.returncode}")
        failures += 1
    for i, want in enumerate(expected):
        have = joined[i] if i < len(joined) else "<missing>"
        if have != want:
            failures += 1
            if failures <= 10:
                print(f"line {i + 1}: {lines[i + 1]}\n  expected {want}\n  got      {have}")
    if len(joined) != len(expected):
        print(f"{len(joined)} lines of output for {len(expected)} expected")
        failures += 1
    if failures:
        sys.exit(1)
    print(f"{len(expected)} results agree with Python")


if __name__ == "__main__":
    main()
