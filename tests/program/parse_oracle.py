#!/usr/bin/env python3
"""parse against Python's re: random rules of literals, charsets, skip, to and thru,
repetitions and alternatives, run over random texts, compared with the equivalent regular
expressions: whether the whole text matches, what `copy` captured and where the input
stood after it.

parse never backtracks into a repetition or an alternative once it has succeeded, so each
rule maps to a regular expression built only from possessive quantifiers and atomic
groups, which behave the same way; /case keeps the comparison exact.

usage: parse_oracle.py ZOR_BINARY
"""
import random
import re
import subprocess
import sys
import tempfile

ALPHABET = "aab1 B-"
CHARSETS = ["ab", "1 ", "aB-", "b"]


def charset_class(members, complement):
    return "[" + ("^" if complement else "") + "".join(re.escape(c) for c in members) + "]"


def zor_char(c):
    return '#"' + c + '"'


class Generator:
    def __init__(self, rng):
        self.rng = rng

    def literal(self):
        r = self.rng
        kind = r.randrange(4)
        if kind == 0:
            c = r.choice(ALPHABET)
            return zor_char(c), re.escape(c)
        if kind == 1:
            s = "".join(r.choice(ALPHABET) for _ in range(r.randrange(1, 4)))
            return '"' + s + '"', re.escape(s)
        i = r.randrange(len(CHARSETS))
        if kind == 2:
            return f"cs{i}", charset_class(CHARSETS[i], False)
        return f"not-cs{i}", charset_class(CHARSETS[i], True)

    def target(self):
        """A value to and thru search for: a char, a charset or a string."""
        r = self.rng
        kind = r.randrange(3)
        if kind == 0:
            c = r.choice(ALPHABET)
            return zor_char(c), re.escape(c), f"[^{re.escape(c)}]"
        if kind == 1:
            i = r.randrange(len(CHARSETS))
            members = CHARSETS[i]
            return f"cs{i}", charset_class(members, False), charset_class(members, True)
        s = "".join(r.choice(ALPHABET) for _ in range(r.randrange(1, 3)))
        return '"' + s + '"', re.escape(s), f"(?:(?!{re.escape(s)}).)"

    def leaf(self):
        r = self.rng
        kind = r.randrange(10)
        if kind < 6:
            return self.literal()
        if kind < 8:
            return "skip", "."
        z, found, other = self.target()
        if kind == 8:
            return f"to {z}", f"{other}*+(?={found})"
        return f"thru {z}", f"{other}*+{found}"

    def node(self, depth):
        r = self.rng
        if depth <= 0 or r.random() < 0.4:
            return self.leaf()
        kind = r.randrange(7)
        inner_z, inner_re = self.node(depth - 1)
        if kind in (3, 4) and inner_z[0].isdigit():
            # A count right after a count would read as a range.
            inner_z = f"[{inner_z}]"
        group = f"(?:{inner_re})"
        if kind == 0:
            return f"any {inner_z}", group + "*+"
        if kind == 1:
            return f"some {inner_z}", group + "++"
        if kind == 2:
            return f"opt {inner_z}", group + "?+"
        if kind == 3:
            n = r.randrange(0, 4)
            return f"{n} {inner_z}", group + "{" + str(n) + "}"
        if kind == 4:
            low = r.randrange(0, 3)
            high = low + r.randrange(0, 3)
            return f"{low} {high} {inner_z}", group + "{" + f"{low},{high}" + "}+"
        # A block of one to three alternatives, each a sequence.
        alternatives = []
        for _ in range(r.randrange(1, 4)):
            seq = [self.node(depth - 1) for _ in range(r.randrange(1, 3))]
            alternatives.append(seq)
        z = " | ".join(" ".join(s[0] for s in seq) for seq in alternatives)
        regex = "|".join("".join(s[1] for s in seq) for seq in alternatives)
        return f"[{z}]", f"(?>{regex})"


def zor_mold(text):
    return '"' + text + '"'


def main():
    zor = sys.argv[1]
    rng = random.Random(20261210)
    gen = Generator(rng)
    lines = ["Zor []"]
    for i, members in enumerate(CHARSETS):
        lines.append(f'cs{i}: make bitset! "{members}"')
        lines.append(f"not-cs{i}: complement cs{i}")
    expected = []
    cases = []
    for _ in range(3000):
        text = "".join(rng.choice(ALPHABET) for _ in range(rng.randrange(0, 14)))
        first_z, first_re = gen.node(3)
        rest = [gen.node(3) for _ in range(rng.randrange(0, 3))]
        whole = rng.random() < 0.5
        # Either the rules must consume the whole text, or they match a prefix and the
        # position where they stopped is compared too.
        rules = f"copy cap {first_z} pos: " + " ".join(z for z, _ in rest) + ("" if whole else " stop: to end")
        regex = f"(?P<cap>{first_re})" + "".join(x for _, x in rest) + (r"\Z" if whole else "")
        cases.append((text, rules, regex))
        lines.append(f'stop: none r: try [parse/case "{text}" [{rules}]]')
        lines.append("either error! = type? :r [print [mold r/id]] "
                     "[either r [print [true mold cap index? pos either stop [index? stop] [0]]] [print false]]")
        m = re.match(regex, text, re.DOTALL)
        stop = m.end() + 1 if m and not whole else 0
        expected.append(f"true {zor_mold(m.group('cap'))} {m.end('cap') + 1} {stop}" if m else "false")
    with tempfile.NamedTemporaryFile("w", suffix=".zor", delete=False) as script:
        script.write("\n".join(lines) + "\n")
    done = subprocess.run([zor, script.name], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    got = done.stdout.decode().splitlines()
    failures = 0
    if done.returncode != 0:
        print(f"zor exited with {done.returncode}: {got[-3:]}")
        failures += 1
    for i, (text, rules, regex) in enumerate(cases):
        answer = got[i] if i < len(got) else "<missing>"
        if answer != expected[i]:
            failures += 1
            if failures <= 10:
                print(f"text {text!r} rules [{rules}]\n  regex {regex}\n  zor    {answer}\n  python {expected[i]}")
    matched = sum(1 for e in expected if e != "false")
    print(f"{len(cases)} cases ({matched} matching), {failures} mismatches")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
