#!/usr/bin/env python3
"""Turns runtime/data/error-catalogue.zor into C++ tables: the categories, their ids with
message templates split into pieces, an enum naming every error, and the catalogue text
itself (the boot environment builds system/catalog/errors from that same text)."""
import re
import sys

TOKEN = re.compile(r'\s*(?:;[^\n]*\n|("[^"]*")|(\[)|(\])|([^\s\[\]"]+))')


def tokens(text):
    pos = 0
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m or m.end() == pos:
            if text[pos:].strip() == "":
                return
            sys.exit(f"error-catalogue: cannot read at {text[pos:pos + 30]!r}")
        pos = m.end()
        if m.group(1):
            yield ("string", m.group(1)[1:-1])
        elif m.group(2):
            yield ("open", None)
        elif m.group(3):
            yield ("close", None)
        elif m.group(4):
            yield ("word", m.group(4))


def parse(text):
    toks = list(tokens(text))
    i = 0
    categories = []

    def take(kind):
        nonlocal i
        if i >= len(toks) or toks[i][0] != kind:
            sys.exit(f"error-catalogue: expected {kind} at token {i}: {toks[i:i + 3]}")
        i += 1
        return toks[i - 1][1]

    while i < len(toks):
        name = take("word")
        code = int(take("word"))
        title = take("string")
        take("open")
        ids = []
        while toks[i][0] != "close":
            id_name = take("word")
            kind, value = toks[i]
            if kind == "string":
                i += 1
                template = ("string", [("text", value)])
            elif kind == "word":
                i += 1
                template = ("word", [("word", value)])
            else:
                take("open")
                pieces = []
                while toks[i][0] != "close":
                    k, v = toks[i]
                    i += 1
                    pieces.append(("text", v) if k == "string" else ("word", v))
                take("close")
                template = ("block", pieces)
            ids.append((id_name, template))
        take("close")
        categories.append((name, code, title, ids))
    return categories


def c_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def ident(s):
    return s.replace("-", "_")


def main():
    source, output = sys.argv[1], sys.argv[2]
    text = open(source, encoding="utf-8").read()
    categories = parse(text)
    out = ["// Generated from runtime/data/error-catalogue.zor by tools/generate-error-catalogue.py.", ""]
    out.append("#ifdef ZOR_ERROR_CATALOGUE_ENUM")
    for ci, (name, _, _, ids) in enumerate(categories):
        for ii, (id_name, _) in enumerate(ids):
            out.append(f"{ident(name)}_{ident(id_name)} = 0x{ci:02X}{ii + 2:02X},")
    out.append("#else")
    pieces, id_rows, cat_rows = [], [], []
    for ci, (name, code, title, ids) in enumerate(categories):
        cat_rows.append(f"    {{{c_string(name)}, {code}, {c_string(title)}, {len(id_rows)}, {len(ids)}}},")
        for id_name, (kind, parts) in ids:
            first = len(pieces)
            for pk, pv in parts:
                if pk == "text":
                    pieces.append(f"    {{template_piece_kind::text, {c_string(pv)}, 0}},")
                else:
                    bare = pv.lstrip(":")
                    m = re.fullmatch(r"arg([123])", bare)
                    if not m:
                        sys.exit(f"error-catalogue: unknown word {pv} in {name}/{id_name}")
                    pieces.append(f"    {{template_piece_kind::argument, {c_string(pv)}, {m.group(1)}}},")
            id_rows.append(f"    {{{c_string(id_name)}, template_kind::{kind}, {first}, {len(parts)}}},")
    out.append("inline constexpr catalogue_category catalogue_categories[] = {")
    out += cat_rows
    out.append("};")
    out.append("inline constexpr catalogue_id catalogue_ids[] = {")
    out += id_rows
    out.append("};")
    out.append("inline constexpr template_piece catalogue_pieces[] = {")
    out += pieces
    out.append("};")
    out.append(f"inline constexpr std::string_view catalogue_text = R\"zorcatalogue({text})zorcatalogue\";")
    out.append("#endif")
    open(output, "w", encoding="utf-8").write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
