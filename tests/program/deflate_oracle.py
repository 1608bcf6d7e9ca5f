#!/usr/bin/env python3
"""compress, decompress and checksum against Python's zlib, hashlib and hmac.

Zor compresses varied samples with each method; Python's zlib inflates the results (raw,
zlib and gzip wrappers) and checks that they are one final fixed-Huffman block. Python
compresses the same samples at levels 0-9 with each strategy (stored, fixed and dynamic
blocks) and with hand-made gzip headers (name, comment, extra field, header CRC); Zor
inflates them. Corrupt and truncated streams must raise script/invalid-data, never crash.
Checksums: CRC-32, Adler-32 and the Internet checksum of every sample, the digests of the
RFC 1321 and FIPS 180 vectors, and the HMACs of RFC 2202 and RFC 4231.

usage: deflate_oracle.py ZOR_BINARY
"""
import gzip
import hashlib
import hmac
import random
import struct
import subprocess
import sys
import tempfile
import zlib
import os

WBITS = {"deflate": -15, "zlib": 15, "gzip": 31}


def hexed(data):
    return "#{" + data.hex().upper() + "}"


def text_sample(rng, size):
    words = ["the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "zor", "block", "value",
             "series", "\n", "    ", "print", "[", "]", "1234", "é", "ünïcode"]
    out = []
    length = 0
    while length < size:
        word = rng.choice(words) + " "
        out.append(word)
        length += len(word)
    return "".join(out).encode()[:size]


def samples(rng):
    yield b""
    yield b"a"
    yield b"aaaa"  # too short for a match: four literals
    yield b"abcabcabcabcabcabc"
    yield bytes(range(256))
    yield b"\x00" * 70000  # long runs: matches of 258 and distance 1
    yield bytes(rng.randrange(256) for _ in range(5000))  # incompressible: 9-bit literals
    yield text_sample(rng, 300)
    yield text_sample(rng, 120000)  # distances across the whole window
    yield b"\x1f\x8b\x08not really gzip"
    for _ in range(20):
        size = rng.randrange(0, 3000)
        alphabet = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 20)))
        yield bytes(rng.choice(alphabet) for _ in range(size))


def gzip_with_header(data, rng):
    """A gzip member with every optional header field, its header CRC included."""
    body = zlib.compressobj(6, zlib.DEFLATED, -15)
    raw = body.compress(data) + body.flush()
    flags = 0x02 | 0x04 | 0x08 | 0x10
    header = bytearray(b"\x1f\x8b\x08" + bytes([flags]) + struct.pack("<I", 1234567) + b"\x00\x03")
    extra = bytes(rng.randrange(256) for _ in range(7))
    header += struct.pack("<H", len(extra)) + extra
    header += b"name.txt\x00" + b"a comment\x00"
    header += struct.pack("<H", zlib.crc32(bytes(header)) & 0xFFFF)
    return bytes(header) + raw + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)


def internet_checksum(data):
    total = 0
    for i in range(0, len(data) - 1, 2):
        total += data[i] << 8 | data[i + 1]
    if len(data) % 2:
        total += data[-1] << 8
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def signed32(v):
    return v - (1 << 32) if v >= 1 << 31 else v


DIGEST_VECTORS = [b"", b"a", b"abc", b"message digest", b"abcdefghijklmnopqrstuvwxyz",
                  b"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                  b"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
                  b"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
                  b"a" * 1000]

# RFC 2202 (MD5, SHA-1) and RFC 4231 (SHA-2) keys and data.
HMAC_VECTORS = [
    (b"\x0b" * 16, b"Hi There"), (b"\x0b" * 20, b"Hi There"),
    (b"Jefe", b"what do ya want for nothing?"),
    (b"\xaa" * 16, b"\xdd" * 50), (b"\xaa" * 20, b"\xdd" * 50),
    (bytes(range(1, 26)), b"\xcd" * 50),
    (b"\x0c" * 16, b"Test With Truncation"),
    (b"\xaa" * 80, b"Test Using Larger Than Block-Size Key - Hash Key First"),
    (b"\xaa" * 80, b"Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
    (b"\xaa" * 131, b"Test Using Larger Than Block-Size Key - Hash Key First"),
    (b"\xaa" * 131, b"This is a test using a larger than block-size key and a larger than block-size data. "
                    b"The key needs to be hashed before being used by the HMAC algorithm."),
]

DIGESTS = ["md5", "sha1", "sha256", "sha384", "sha512"]


def main():
    zor = sys.argv[1]
    rng = random.Random(1951)
    lines = ["Zor []"]
    checks = []  # (line of Zor, check(output) -> error text or None)

    def add(code, check):
        lines.append(code)
        checks.append((code, check))

    def setup(code):
        lines.append(code)

    def equals(want):
        return lambda got: None if got == want else f"expected {want[:120]}, got {got[:120]}"

    def inflates_to(method, data):
        def check(got):
            try:
                stream = bytes.fromhex(got)
            except ValueError:
                return f"not hex: {got[:120]}"
            try:
                inflated = zlib.decompress(stream, WBITS[method])
            except zlib.error as e:
                return f"Python cannot inflate it: {e}"
            if inflated != data and not (method == "gzip" and data.startswith(b"\x1f\x8b\x08")):
                return "inflates to other bytes"
            body = stream[{"deflate": 0, "zlib": 2, "gzip": 10}[method]:]
            if method == "gzip" and data.startswith(b"\x1f\x8b\x08"):
                return None
            if not body or body[0] & 7 != 3:
                return "not one final fixed-Huffman block"
            return None
        return check

    # Each sample is written once, as the value of a word, and the decompressed results are
    # compared with it in Zor (the comparison itself is checked by the first lines).
    corpus = list(samples(rng))
    add('print equal? #{00FF} decompress #{789C63F80F0001010100} \'zlib', equals("true"))
    add('print equal? #{00FE} decompress #{789C63F80F0001010100} \'zlib', equals("false"))
    for number, data in enumerate(corpus):
        name = f"sample-{number}"
        setup(f"{name}: {hexed(data)}")
        for method in WBITS:
            add(f"print enbase/base compress {name} '{method} 16", inflates_to(method, data))
        for level in (0, 1, 6, 9):
            for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FIXED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE):
                if level in (0, 1) and strategy != zlib.Z_DEFAULT_STRATEGY:
                    continue
                for method, wbits in WBITS.items():
                    packer = zlib.compressobj(level, zlib.DEFLATED, wbits, 9, strategy)
                    stream = packer.compress(data) + packer.flush()
                    add(f"print equal? {name} decompress {hexed(stream)} '{method}", equals("true"))
        add(f"print equal? {name} decompress {hexed(gzip_with_header(data, rng))} 'gzip", equals("true"))
        add(f"print checksum {name} 'crc32", equals(str(signed32(zlib.crc32(data)))))
        add(f"print checksum {name} 'adler32", equals(str(signed32(zlib.adler32(data)))))
        add(f"print checksum {name} 'tcp", equals(str(internet_checksum(data))))
    for level in range(10):
        data = corpus[8]
        for method, wbits in WBITS.items():
            packer = zlib.compressobj(level, zlib.DEFLATED, wbits)
            stream = packer.compress(data) + packer.flush()
            add(f"print equal? sample-8 decompress {hexed(stream)} '{method}", equals("true"))

    # Damaged streams: every one must raise script/invalid-data (or decode, for raw
    # deflate, which has no check of its own), and nothing may crash.
    good = zlib.compress(corpus[8][:4000])
    gz = gzip.compress(corpus[8][:4000])
    damaged = [("zlib", good[:n]) for n in (0, 1, 2, 5, 6, 7, 50, len(good) - 1)]
    damaged += [("gzip", gz[:n]) for n in (0, 10, 17, 18, 40, len(gz) - 1)]
    damaged += [("gzip", gz[:-4] + struct.pack("<I", 0xFFFFFFF0))]  # lying length field
    damaged += [("gzip", gz[:-4] + struct.pack("<I", 1000))]
    damaged += [("zlib", b"\x78\x21" + good[2:])]  # preset dictionary
    damaged += [("gzip", gz[:3] + b"\x20" + gz[4:])]  # reserved flag bit
    for _ in range(60):
        flipped = bytearray(good)
        flipped[rng.randrange(2, len(flipped))] ^= 1 << rng.randrange(8)
        damaged.append(("zlib", bytes(flipped)))
    for method, stream in damaged:
        add(f"print either error! = type? e: try [decompress {hexed(stream)} '{method}] [e/id] ['decoded]",
            lambda got: None if got in ("invalid-data", "decoded") else f"unexpected {got}")
    for method, stream in damaged[:14]:
        add(f"print either error! = type? e: try [decompress {hexed(stream)} '{method}] [e/id] ['decoded]",
            equals("invalid-data"))

    for data in DIGEST_VECTORS:
        for name in DIGESTS:
            add(f"print enbase/base checksum {hexed(data)} '{name} 16",
                equals(hashlib.new(name, data).hexdigest().upper()))
    for key, data in HMAC_VECTORS:
        for name in DIGESTS:
            add(f"print enbase/base checksum/with {hexed(data)} '{name} {hexed(key)} 16",
                equals(hmac.new(key, data, name).hexdigest().upper()))

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "oracle.zor")
        with open(path, "w") as script:
            script.write("\n".join(lines) + "\n")
        done = subprocess.run([zor, path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    got = done.stdout.decode(errors="replace").splitlines()
    failures = 0
    if done.returncode != 0:
        print(f"zor exited with {done.returncode}")
        failures += 1
    for i, (code, check) in enumerate(checks):
        have = got[i] if i < len(got) else "<missing>"
        problem = check(have)
        if problem:
            failures += 1
            if failures <= 10:
                print(f"{code[:160]}\n  {problem}")
    if len(got) != len(checks):
        print(f"{len(got)} lines of output for {len(checks)} expected")
        failures += 1
    if failures:
        sys.exit(1)
    print(f"{len(checks)} results agree with Python")


if __name__ == "__main__":
    main()
