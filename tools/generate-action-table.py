#!/usr/bin/env python3
"""Turns runtime/data/action-specs.zor, the one list of the 62 actions, into what the
runtime needs of it:

  ids      the `action` enum (ACTION_<NAME> = index), ACTION_COUNT and action_names
  entries  the declarations of the entry routines: actions::entry_<name>, one int32_t
           parameter per refinement of the spec, in spec order
  table    the action table's rows in index order: row<&entry_<name>, refinements>(),
           whose template checks the entry's arity against the spec, and an empty row
           for an action marked no-entry
  boot     the spec text of the actions that have a word, as the boot environment binds
           them (name index [spec] per line)

An entry of the data file is `name index [spec]`, followed by `no-word` when start-up binds
no word to the action and by `no-entry` when the action table holds no routine for it.
Names map to C++ as spec_entries.py describes (and~ is entry_and_t, ACTION_AND_T).

Usage: generate-action-table.py action-specs.zor OUTPUT ids|entries|table|boot"""
import sys

import spec_entries as data

FLAGS = ("no-word", "no-entry")


def refinements(body):
    return [value[1:] for kind, value in body if kind == "word" and value.startswith("/")]


def check(actions):
    data.check_order(actions)
    names = [a[0] for a in actions]
    data.check_unique(names, lambda n: data.enum_name("ACTION_", n))
    for name, _, _, body, _ in actions:
        for kind, value in body:
            if kind != "word":
                raise data.DataError(f"{name}: only words and refinements go in an action's spec, not {value!r}")
        params = [data.parameter_name(r) for r in refinements(body)]
        if len(set(params)) != len(params):
            raise data.DataError(f"{name}: two refinements map to one parameter name")


def ids(actions):
    out = ["#pragma once", "", "namespace zor {", "",
           "// The actions by 1-based index, in the fixed action order.", "enum action : int {"]
    out += [f"    {data.enum_name('ACTION_', name)} = {index}," for name, index, _, _, _ in actions]
    out += ["};", f"inline constexpr int ACTION_COUNT = {len(actions)};", "",
            "// The names of the actions in action order, as the language spells them.",
            "inline constexpr const char* action_names[ACTION_COUNT] = {"]
    out += [f"    {data.c_string(name)}," for name, _, _, _, _ in actions]
    out += ["};", "", "}  // namespace zor"]
    return out


def entries(actions):
    out = ["#pragma once", "", "#include <cstdint>", "", "namespace zor::actions {", ""]
    for name, _, _, body, marks in actions:
        if "no-entry" in marks:
            continue
        params = ", ".join(f"int32_t {data.parameter_name(r)}" for r in refinements(body))
        out.append(f"void entry_{data.cxx_name(name)}({params});")
    out += ["", "}  // namespace zor::actions"]
    return out


def table(actions):
    out = ["constexpr table_row rows[ACTION_COUNT] = {"]
    for name, index, _, body, marks in actions:
        if "no-entry" in marks:
            out.append(f"    {{nullptr, 0}},  // {index} {name}: no entry")
        else:
            out.append(f"    row<&entry_{data.cxx_name(name)}, {len(refinements(body))}>(),  // {index} {name}")
    out.append("};")
    return out


def boot(actions):
    text = "".join(f"{name} {index} {spec}\n" for name, index, spec, _, marks in actions if "no-word" not in marks)
    return ["#pragma once", "", "#include <string_view>", "",
            f"inline constexpr std::string_view ACTION_SPECS_SOURCE = {data.c_string(text)};"]


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in ("ids", "entries", "table", "boot"):
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        actions = data.entries(f.read(), FLAGS)
    check(actions)
    lines = globals()[sys.argv[3]](actions)
    data.write(sys.argv[2], ["// Generated from runtime/data/action-specs.zor by tools/generate-action-table.py;"
                             " do not edit.", ""] + lines)


if __name__ == "__main__":
    data.run("generate-action-table", main)
