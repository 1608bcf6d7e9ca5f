#!/usr/bin/env python3
"""Turns runtime/data/natives-specs.zor, the one list of the natives, into C++:

  specs  the file's text itself (the boot environment loads the spec blocks from it), one
         record per native (index, word, spec text), the parameters of every spec in order
         (argument words with their kind and type names, refinements), from which the
         runtime makes the argument typesets of the type tests, and the routine table in
         index order
  index  the enum of native indexes (NATIVE_<NAME> = index), NATIVE_COUNT and the
         declaration of every native's routine, natives::native_<name>

Names map to C++ as spec_entries.py describes. A routine that is missing or misnamed in the
natives modules is an undefined symbol at link time, and the table cannot go out of order.

Usage: generate-natives-specs.py natives-specs.zor OUTPUT specs|index"""
import sys

import spec_entries as data


def fail(message):
    raise data.DataError(message)


def parse(text):
    return [(index, name, spec, spec_parameters(name, body)) for name, index, spec, body, _ in data.entries(text)]


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


def specs(text, natives):
    out = [f"inline constexpr int SPEC_COUNT = {len(natives)};",
           f"inline constexpr char SPECS_SOURCE[] = {data.c_string(text)};",
           "inline constexpr spec_parameter SPEC_PARAMETERS[] = {"]
    first = []
    count = 0
    for index, name, _, params in natives:
        first.append(count)
        for word, kind, refinement, types in params:
            out.append(f"    {{{data.c_string(word)}, {kind}, {refinement}, {data.c_string(' '.join(types))}}},")
            count += 1
    if count == 0:
        out.append('    {"", 0, 0, ""},')
    out.append("};")
    out.append("inline constexpr spec_record SPEC_RECORDS[] = {")
    for (index, name, spec, params), start in zip(natives, first):
        refinements = sum(1 for p in params if p[1] == 3)
        fields = [str(index), data.c_string(name), data.c_string(spec), str(start), str(len(params)), str(refinements)]
        out.append(f"    {{{', '.join(fields)}}},")
    out.append("};")
    out.append("// The routine of every native in index order.")
    out.append("inline constexpr native_entry ROUTINES[] = {")
    out += [f"    &native_{data.cxx_name(name)},  // {index} {name}" for index, name, _, _ in natives]
    out.append("};")
    return out


def index(text, natives):
    out = ["#pragma once", "", "#include <cstdint>", "", "namespace zor::natives {", "",
           "struct native_invocation;", "",
           "// The natives by 1-based index, the index a native! value names.",
           "enum native_index : int {"]
    out += [f"    {data.enum_name('NATIVE_', name)} = {index}," for index, name, _, _ in natives]
    out += ["};", f"inline constexpr int NATIVE_COUNT = {len(natives)};", "",
            "// The routine of each native, named native_<name>.",
            "// Each is defined in the natives module that holds its kind of native."]
    out += [f"uint32_t native_{data.cxx_name(name)}(const native_invocation& call);" for _, name, _, _ in natives]
    out += ["", "}  // namespace zor::natives"]
    return out


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in ("specs", "index"):
        sys.exit("usage: generate-natives-specs.py natives-specs.zor output specs|index")
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    natives = parse(text)
    data.check_order([(n[1], n[0]) for n in natives])
    data.check_unique([n[1] for n in natives], lambda name: data.enum_name("NATIVE_", name))
    lines = globals()[sys.argv[3]](text, natives)
    data.write(sys.argv[2], ["// Generated from runtime/data/natives-specs.zor by tools/generate-natives-specs.py;"
                             " do not edit.", ""] + lines)


if __name__ == "__main__":
    data.run("generate-natives-specs", main)
