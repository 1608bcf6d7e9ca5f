#!/usr/bin/env python3
"""Turns runtime/data/natives-specs.zor into C++ tables: the file's text itself (the boot
environment loads the spec blocks from it), one record per native (index, word, spec text)
and the parameters of every spec in order (argument words with their kind and type names,
refinements), from which the runtime makes the argument typesets of the type tests."""
import re
import sys

TOKEN = re.compile(r'\s*(?:;[^\n]*(?:\n|$)|("(?:[^"^]|\^.)*")|(\[)|(\])|([^\s\[\]";]+))')


def fail(message):
    sys.exit(f"natives-specs: {message}")


def tokens(text):
    pos = 0
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m or m.end() == pos:
            if text[pos:].strip() == "":
                return
            fail(f"cannot read at {text[pos:pos + 30]!r}")
        start = m.start(m.lastindex) if m.lastindex else m.end()
        pos = m.end()
        if m.group(1):
            yield ("string", m.group(1), start, pos)
        elif m.group(2):
            yield ("open", "[", start, pos)
        elif m.group(3):
            yield ("close", "]", start, pos)
        elif m.group(4):
            yield ("word", m.group(4), start, pos)


def parse(text):
    toks = list(tokens(text))
    natives = []
    i = 0
    while i < len(toks):
        if i + 2 >= len(toks) or toks[i][0] != "word" or toks[i + 1][0] != "word" or toks[i + 2][0] != "open":
            fail(f"expected: name index [spec] at token {i}: {toks[i:i + 3]}")
        name = toks[i][1]
        try:
            index = int(toks[i + 1][1])
        except ValueError:
            fail(f"{name}: the index {toks[i + 1][1]!r} is not an integer")
        start = toks[i + 2][2]
        depth = 0
        j = i + 2
        body = []
        while True:
            if j >= len(toks):
                fail(f"{name}: unclosed spec block")
            kind, value, _, end = toks[j]
            if kind == "open":
                depth += 1
            elif kind == "close":
                depth -= 1
            if depth == 0:
                break
            if j > i + 2:
                body.append((kind, value))
            j += 1
        natives.append((index, name, text[start:end], spec_parameters(name, body)))
        i = j + 1
    return natives


def spec_parameters(name, body):
    """[(word, kind, refinement ordinal or 0, type names)] in spec order: kind 0 a normal
    argument, 1 a get argument, 2 a literal argument, 3 a refinement."""
    params = []
    refinement = 0
    k = 0
    while k < len(body):
        kind, value = body[k]
        if kind == "string":
            k += 1
            continue
        if kind != "word":
            fail(f"{name}: unexpected {value!r} in the spec")
        if value.startswith("/"):
            refinement += 1
            params.append((value[1:], 3, refinement, []))
            k += 1
            continue
        if value.endswith(":"):
            fail(f"{name}: a set-word in the spec: {value}")
        arg_kind = 2 if value.startswith("'") else 1 if value.startswith(":") else 0
        word = value[1:] if arg_kind else value
        types = []
        k += 1
        if k < len(body) and body[k][0] == "open":
            k += 1
            while k < len(body) and body[k][0] != "close":
                if body[k][0] != "word" or not body[k][1].endswith("!"):
                    fail(f"{name}: {body[k][1]!r} in the type block of {word} is not a type name")
                types.append(body[k][1])
                k += 1
            if k >= len(body):
                fail(f"{name}: unclosed type block of {word}")
            k += 1
        if k < len(body) and body[k][0] == "string":
            k += 1
        params.append((word, arg_kind, refinement, types))
    return params


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def main():
    if len(sys.argv) != 3:
        fail("usage: generate-natives-specs.py natives-specs.zor output.inc")
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    natives = parse(text)
    for position, (index, name, _, _) in enumerate(natives, start=1):
        if index != position:
            fail(f"{name}: index {index} where {position} is expected (entries go in index order)")
    names = [n[1] for n in natives]
    if len(set(names)) != len(names):
        fail("a name is given twice")
    out = ["// Generated from runtime/data/natives-specs.zor by tools/generate-natives-specs.py.", ""]
    out.append(f"inline constexpr int SPEC_COUNT = {len(natives)};")
    out.append(f"inline constexpr char SPECS_SOURCE[] = {c_string(text)};")
    out.append("inline constexpr spec_parameter SPEC_PARAMETERS[] = {")
    first = []
    count = 0
    for index, name, _, params in natives:
        first.append(count)
        for word, kind, refinement, types in params:
            out.append(f"    {{{c_string(word)}, {kind}, {refinement}, {c_string(' '.join(types))}}},")
            count += 1
    if count == 0:
        out.append('    {"", 0, 0, ""},')
    out.append("};")
    out.append("inline constexpr spec_record SPEC_RECORDS[] = {")
    for (index, name, spec, params), start in zip(natives, first):
        refinements = sum(1 for p in params if p[1] == 3)
        out.append(f"    {{{index}, {c_string(name)}, {c_string(spec)}, {start}, {len(params)}, {refinements}}},")
    out.append("};")
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
