"""The benchmark's mixed structure, generated as zorbin_compare.cpp generates it: a list
of groups, each 20 integers, 10 floats, 5 strings, 5 words and one nested list. Words are
interned strings (the pickle of a repeated word is a reference, as a ZORBIN symbol is)."""
import sys


class Generator:
    """A 32-bit linear congruential generator, the same on both sides."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state


WORDS = [sys.intern(f"word{i}") for i in range(256)]


def build(groups):
    g = Generator(12345)
    out = []
    for _ in range(groups):
        group = []
        for _ in range(20):
            group.append((g.next() >> 8) - (1 << 23))
        for _ in range(10):
            group.append((g.next() >> 8) / 1024.0)
        for _ in range(5):
            n = 8 + g.next() % 16
            group.append("".join(chr(97 + g.next() % 26) for _ in range(n)))
        for _ in range(5):
            group.append(WORDS[g.next() % 256])
        group.append([g.next() % 1000, (g.next() >> 8) / 1024.0, "nested", WORDS[g.next() % 256]])
        out.append(group)
    return out
