#!/usr/bin/env python3
"""Fails when a source file includes a header of a higher layer.

The layers and the paths that belong to each are written down once, in
tools/include-layers.txt. Every .h and .cpp file under the program's folders must belong to
a layer; its quoted includes may name files of its own layer or lower ones. Usage:
check-include-layers.py SOURCE_ROOT [LAYER_FILE].
"""

import pathlib
import re
import sys

PROGRAM_FOLDERS = ("platform", "codecs", "runtime", "boot", "console", "libraries", "view")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def read_layers(path):
    """Answers (layer names lowest first, {prefix: layer index}); raises on a malformed file."""
    names, prefixes = [], {}
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        heading = re.fullmatch(r"\[([a-z-]+)\]", line)
        if heading:
            names.append(heading.group(1))
        elif not names or " " in line:
            raise ValueError(f"{path}:{number}: expected a [layer] heading or one path prefix")
        elif line in prefixes:
            raise ValueError(f"{path}:{number}: {line} is listed twice")
        else:
            prefixes[line] = len(names) - 1
    return names, prefixes


def layer_of(relative, prefixes):
    """The layer index of the longest matching prefix, None when no prefix matches."""
    best = None
    for prefix, layer in prefixes.items():
        if relative.startswith(prefix) and (best is None or len(prefix) > len(best)):
            best = prefix
    return (prefixes[best], best) if best else (None, None)


def check(root, layer_file):
    names, prefixes = read_layers(layer_file)
    problems, used = [], set()
    sources = sorted(p for folder in PROGRAM_FOLDERS if (root / folder).is_dir()
                     for p in (root / folder).rglob("*") if p.suffix in (".h", ".cpp"))
    for source in sources:
        relative = source.relative_to(root).as_posix()
        layer, prefix = layer_of(relative, prefixes)
        if layer is None:
            problems.append(f"{relative}: belongs to no layer (add it to {layer_file.name})")
            continue
        used.add(prefix)
        for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target.endswith(".inc"):
                continue
            if not (root / target).is_file():
                problems.append(f"{relative}:{number}: includes {target}, which is no file of the tree")
                continue
            target_layer, target_prefix = layer_of(target, prefixes)
            if target_layer is None:
                continue  # reported once as the target's own file
            used.add(target_prefix)
            if target_layer > layer:
                problems.append(f"{relative}:{number}: includes {target} ({names[target_layer]}) "
                                f"from the {names[layer]} layer")
    # A folder may be listed before it exists; a single file that is gone is a stale entry.
    for prefix in sorted(set(prefixes) - used):
        if not prefix.endswith("/"):
            problems.append(f"{layer_file.name}: {prefix} matches no file")
    return problems


def main(argv):
    root = pathlib.Path(argv[1] if len(argv) > 1 else ".").resolve()
    layer_file = pathlib.Path(argv[2]) if len(argv) > 2 else root / "tools" / "include-layers.txt"
    try:
        problems = check(root, layer_file)
    except ValueError as error:
        print(error, file=sys.stderr)
        return 2
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"{len(problems)} include-layer problem(s); the layers are in {layer_file}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
