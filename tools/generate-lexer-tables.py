#!/usr/bin/env python3
"""Turns runtime/data/lexer-classes.txt and runtime/data/lexer-transitions.txt into the
lexer's C++ tables: the character table (class in bits 0-7, flag bits 18-31), the
transition table of the reading states, the skip and token-type tables of every state,
the line and path-end tables of the classes, and the Unicode blanks.

Refuses a byte with no class or two, an unknown class or target, a class given two
targets in one state, a state whose targets leave a class out, and a state written
twice or missing, so that the machine can index its tables without checks."""
import sys

READING_STATES = 65      # states 0..64 read bytes
TOKEN_CLASSES = 36       # final states 66..101 end tokens of classes 1..36
STATE_COUNT = READING_STATES + 1 + TOKEN_CLASSES  # 0..101; 65 is never entered
CLASS_COUNT = 40
FLAG_BITS = range(18, 32)


def fail(where, message):
    sys.exit(f"generate-lexer-tables: {where}: {message}")


def sections(path):
    """(section name, line number, fields) for every meaningful line of the file."""
    current = None
    for number, raw in enumerate(open(path, encoding="utf-8").read().splitlines(), 1):
        if raw.startswith("#") or not raw.strip():
            continue
        line = raw.strip()
        if line.startswith("[") and line.endswith("]") and len(line) > 2 and " " not in line:
            current = line[1:-1]
            continue
        if current is None:
            fail(f"{path}:{number}", "a line before any section")
        yield current, f"{path}:{number}", line.split()


def parse_bytes(where, token):
    """The byte values a token of the classes file names."""
    def one(text):
        if text.startswith("0x") and len(text) == 4:
            try:
                return int(text, 16)
            except ValueError:
                pass
        if len(text) == 1 and 0x21 <= ord(text) <= 0x7E:
            return ord(text)
        fail(where, f"not a byte: {text!r}")

    if token.startswith("0x") and "-" in token:
        first, last = (one(t) for t in token.split("-", 1))
    elif len(token) == 3 and token[1] == "-":
        first, last = one(token[0]), one(token[2])
    else:
        first = last = one(token)
    if first > last:
        fail(where, f"empty range {token!r}")
    return range(first, last + 1)


def type_constant(where, name):
    """The C++ constant of a datatype name: none, or integer! -> TYPE_INTEGER."""
    if name == "none":
        return "TYPE_NONE_ID"
    if not name.endswith("!") or len(name) < 2:
        fail(where, f"not a datatype name: {name!r}")
    return "TYPE_" + name[:-1].upper().replace("-", "_")


def read_classes(path):
    classes = {}          # name -> id
    identifiers = {}      # id -> C++ name
    byte_class = [None] * 256
    byte_flags = [0] * 256
    blanks = []
    flag_seen = set()
    for section, where, fields in sections(path):
        if section == "classes":
            if len(fields) < 4:
                fail(where, "expected: id name C++-name bytes...")
            number, name, identifier = int(fields[0]), fields[1], fields[2]
            if number != len(classes):
                fail(where, f"class {number} out of order")
            if name in classes:
                fail(where, f"class name {name!r} given twice")
            classes[name] = number
            identifiers[number] = identifier
            for token in fields[3:]:
                for byte in parse_bytes(where, token):
                    if byte_class[byte] is not None:
                        fail(where, f"byte 0x{byte:02X} already has class {byte_class[byte]}")
                    byte_class[byte] = number
        elif section == "flags":
            if len(fields) < 3:
                fail(where, "expected: bit meaning bytes...")
            bit = int(fields[0])
            if bit not in FLAG_BITS or bit in flag_seen:
                fail(where, f"flag bit {bit} outside 18..31 or given twice")
            flag_seen.add(bit)
            for token in fields[2:]:
                for byte in parse_bytes(where, token):
                    byte_flags[byte] |= 1 << bit
        elif section == "unicode-blanks":
            for token in fields:
                code = int(token, 16)
                if not 0x80 <= code <= 0x10FFFF or code in blanks:
                    fail(where, f"bad or repeated blank U+{token}")
                blanks.append(code)
        else:
            fail(where, f"unknown section {section!r}")
    if len(classes) != CLASS_COUNT:
        fail(path, f"{len(classes)} classes, expected {CLASS_COUNT}")
    missing = [f"0x{b:02X}" for b in range(256) if byte_class[b] is None]
    if missing:
        fail(path, "bytes without a class: " + " ".join(missing))
    return classes, identifiers, byte_class, byte_flags, sorted(blanks)


def target_state(where, token):
    if len(token) > 1 and token[0] in "ST" and token[1:].isdigit():
        n = int(token[1:])
        if token[0] == "S" and n < READING_STATES:
            return n
        if token[0] == "T" and 1 <= n <= TOKEN_CLASSES:
            return READING_STATES + n
    fail(where, f"not a state: {token!r}")


def read_transitions(path, classes):
    transitions = {}      # state -> [target per class]
    state_types = {}      # state -> C++ type constant
    skip = set()
    line = set()
    path_end = set()
    current = None
    explicit = set()
    default = None

    def class_ids(where, names):
        for name in names:
            if name not in classes:
                fail(where, f"unknown class {name!r}")
        return [classes[n] for n in names]

    def finish(where):
        if current is None:
            return
        row = transitions[current]
        for c in range(CLASS_COUNT):
            if row[c] is None:
                if default is None:
                    fail(where, f"state S{current} has no target for class {c} and no others line")
                row[c] = default

    for section, where, fields in sections(path):
        if section == "final":
            state = target_state(where, fields[0])
            if state < READING_STATES or len(fields) < 2:
                fail(where, "expected: Tn type description")
            if state in state_types:
                fail(where, f"{fields[0]} given twice")
            state_types[state] = type_constant(where, fields[1])
        elif section == "skip":
            skip.update(target_state(where, f) for f in fields)
        elif section == "line":
            line.update(class_ids(where, fields))
        elif section == "path-end":
            path_end.update(class_ids(where, fields))
        elif section == "states":
            if fields[0].startswith("S") and len(fields) == 2 and fields[1] not in classes and fields[1] != "others":
                finish(where)
                current = target_state(where, fields[0])
                if current in transitions:
                    fail(where, f"S{current} given twice")
                transitions[current] = [None] * CLASS_COUNT
                state_types[current] = type_constant(where, fields[1])
                explicit = set()
                default = None
                continue
            if current is None or len(fields) < 2:
                fail(where, "expected a state line, or: target classes...")
            target = target_state(where, fields[0])
            if fields[1:] == ["others"]:
                if default is not None:
                    fail(where, f"S{current} has two others lines")
                default = target
                continue
            for c in class_ids(where, fields[1:]):
                if c in explicit:
                    fail(where, f"S{current}: class {c} given two targets")
                explicit.add(c)
                transitions[current][c] = target
        else:
            fail(where, f"unknown section {section!r}")
    finish(path)
    for s in range(READING_STATES):
        if s not in transitions:
            fail(path, f"state S{s} is missing")
    for n in range(1, TOKEN_CLASSES + 1):
        if READING_STATES + n not in state_types:
            fail(path, f"final state T{n} has no type")
    return transitions, state_types, skip, line, path_end


def rows(values, per_line, width):
    out = []
    for i in range(0, len(values), per_line):
        out.append("    " + " ".join(f"{v:>{width}}," for v in values[i:i + per_line]))
    return out


def main():
    classes_path, transitions_path, output = sys.argv[1], sys.argv[2], sys.argv[3]
    classes, identifiers, byte_class, byte_flags, blanks = read_classes(classes_path)
    transitions, state_types, skip, line, path_end = read_transitions(transitions_path, classes)

    out = ["// Generated from runtime/data/lexer-classes.txt and runtime/data/lexer-transitions.txt",
           "// by tools/generate-lexer-tables.py.", ""]
    out.append("enum char_class : uint8_t {")
    for number in range(CLASS_COUNT):
        out.append(f"    CLASS_{identifiers[number].upper()} = {number},")
    out.append("};")
    out.append(f"inline constexpr int CLASS_COUNT = {CLASS_COUNT};")
    out.append(f"inline constexpr int READING_STATE_COUNT = {READING_STATES};")
    out.append(f"inline constexpr int STATE_COUNT = {STATE_COUNT};")
    out.append("")
    out.append("// Per byte: the class in bits 0-7, the flag bits in 18-31.")
    out.append("inline constexpr uint32_t character_table[256] = {")
    out += rows([f"0x{byte_class[b] | byte_flags[b]:08X}" for b in range(256)], 8, 10)
    out.append("};")
    out.append("")
    out.append("// The next state of each reading state for each class.")
    out.append(f"inline constexpr uint8_t transition_table[{READING_STATES}][{CLASS_COUNT}] = {{")
    for s in range(READING_STATES):
        out.append(f"    {{ // S{s}")
        out += ["    " + r for r in rows(transitions[s], 20, 3)]
        out.append("    },")
    out.append("};")
    out.append("")
    out.append("// Per state: 1 when a byte read into it is skipped.")
    out.append(f"inline constexpr uint8_t skip_table[{STATE_COUNT}] = {{")
    out += rows([1 if s in skip else 0 for s in range(STATE_COUNT)], 20, 1)
    out.append("};")
    out.append("")
    out.append("// Per state: the datatype the state stands for (of the token, for a final state).")
    out.append(f"inline constexpr uint8_t token_type_table[{STATE_COUNT}] = {{")
    out += rows([state_types.get(s, "TYPE_NONE_ID") for s in range(STATE_COUNT)], 4, 16)
    out.append("};")
    out.append("")
    out.append("// Per class: 1 for the classes that count a line.")
    out.append(f"inline constexpr uint8_t line_table[{CLASS_COUNT}] = {{")
    out += rows([1 if c in line else 0 for c in range(CLASS_COUNT)], 20, 1)
    out.append("};")
    out.append("")
    out.append("// Per class: 1 for the classes that end a path after one of its elements.")
    out.append(f"inline constexpr uint8_t path_end_table[{CLASS_COUNT}] = {{")
    out += rows([1 if c in path_end else 0 for c in range(CLASS_COUNT)], 20, 1)
    out.append("};")
    out.append("")
    out.append("// The code points that end a word, in ascending order.")
    out.append(f"inline constexpr uint32_t unicode_blanks[{len(blanks)}] = {{")
    out += rows([f"0x{b:04X}" for b in blanks], 8, 6)
    out.append("};")
    out.append("")
    open(output, "w", encoding="utf-8").write("\n".join(out))


if __name__ == "__main__":
    main()
