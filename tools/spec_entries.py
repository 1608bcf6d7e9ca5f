"""What the spec-data generators share: reading a file of `name index [spec]` entries (Zor
text: words, integers, blocks, strings and comments) and turning a language name into the
C++ names the runtime uses for it.

Name mapping (the runtime's one rule for callable names): `-` becomes `_`, a trailing `?`
becomes `_q`, a trailing `*` becomes `_star` and a trailing `~` becomes `_t` (`and~` is
`and_t`: the tilde marks the bitwise action beside the `and` operator, and the short suffix
matches `_q`). Case is kept for the routine names (`NaN?` is `NaN_q`); enum names are the
same name in upper case (`NAN_Q`)."""
import re
import sys

TOKEN = re.compile(r'\s*(?:;[^\n]*(?:\n|$)|("(?:[^"^]|\^.)*")|(\[)|(\])|([^\s\[\]";]+))')

# Words that C++ reserves, which a parameter name made from a refinement must not be.
CXX_KEYWORDS = {
    "and", "auto", "bool", "break", "case", "catch", "char", "class", "const", "continue",
    "default", "delete", "do", "double", "else", "enum", "explicit", "export", "extern",
    "false", "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable",
    "namespace", "new", "not", "operator", "or", "private", "protected", "public", "register",
    "return", "short", "signed", "sizeof", "static", "struct", "switch", "template", "this",
    "throw", "true", "try", "typedef", "typename", "union", "unsigned", "using", "virtual",
    "void", "volatile", "while", "xor",
}


class DataError(Exception):
    pass


def tokens(text):
    """(kind, value, start, end) for every token; kind is string, open, close or word."""
    pos = 0
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m or m.end() == pos:
            if text[pos:].strip() == "":
                return
            raise DataError(f"cannot read at {text[pos:pos + 30]!r}")
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


def is_integer(token):
    return token[0] == "word" and re.fullmatch(r"-?[0-9]+", token[1]) is not None


def entries(text, flags=()):
    """[(name, index, spec text, spec body tokens, set of flags)] in file order. An entry is
    a word, an integer and a block, then any of the given flag words."""
    toks = list(tokens(text))
    found = []
    i = 0
    while i < len(toks):
        if i + 2 >= len(toks) or toks[i][0] != "word" or not is_integer(toks[i + 1]) or toks[i + 2][0] != "open":
            raise DataError(f"expected: name index [spec] at {[t[1] for t in toks[i:i + 3]]}")
        name = toks[i][1]
        index = int(toks[i + 1][1])
        start = toks[i + 2][2]
        depth = 0
        j = i + 2
        body = []
        while True:
            if j >= len(toks):
                raise DataError(f"{name}: unclosed spec block")
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
        j += 1
        marks = set()
        while j < len(toks) and toks[j][0] == "word" and toks[j][1] in flags:
            marks.add(toks[j][1])
            j += 1
        found.append((name, index, text[start:end], body, marks))
        i = j
    return found


def check_order(found):
    """Entries go in index order from 1, each name once."""
    for position, entry in enumerate(found, start=1):
        if entry[1] != position:
            raise DataError(f"{entry[0]}: index {entry[1]} where {position} is expected (entries go in index order)")
    names = [e[0] for e in found]
    if len(set(names)) != len(names):
        raise DataError("a name is given twice")


def cxx_name(word):
    """The C++ spelling of a language name (see the module's comment)."""
    base = word
    suffix = ""
    for mark, replacement in (("?", "_q"), ("*", "_star"), ("~", "_t")):
        if base.endswith(mark):
            base, suffix = base[:-1], replacement
            break
    mapped = base.replace("-", "_") + suffix
    if not re.fullmatch(r"[A-Za-z_][A-Za-z_0-9]*", mapped):
        raise DataError(f"{word!r} has no C++ name under the mapping")
    return mapped


def enum_name(prefix, word):
    return prefix + cxx_name(word).upper()


def parameter_name(word):
    """A C++ parameter named after a refinement: keywords get a trailing underscore."""
    name = cxx_name(word)
    return name + "_" if name in CXX_KEYWORDS else name


def check_unique(words, make):
    made = [make(w) for w in words]
    for w, m in zip(words, made):
        if made.count(m) > 1:
            raise DataError(f"{w!r} maps to {m}, which another name maps to as well")


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def write(path, lines):
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def run(tool, main):
    try:
        main()
    except DataError as e:
        sys.exit(f"{tool}: {e}")
