#!/usr/bin/env python3
"""The include-layer check on small made-up trees: it must pass a tree whose includes go
down, and name every include that goes up, every file without a layer and every stale
file entry. Usage: check_include_layers_test.py CHECKER."""

import pathlib
import subprocess
import sys
import tempfile
import unittest

CHECKER = None

LAYERS = """\
[platform]
platform/
runtime/eval/throw.h
    # published low
[runtime]
runtime/value/
runtime/eval/stack.h
[eval]
runtime/eval/
[top]
boot/
view/
"""


def run_on(files, layers=LAYERS):
    """Writes the files (path -> text) and the layer file into a fresh tree and runs the
    check on it; answers (exit status, stderr)."""
    with tempfile.TemporaryDirectory() as root:
        root = pathlib.Path(root)
        for path, text in files.items():
            (root / path).parent.mkdir(parents=True, exist_ok=True)
            (root / path).write_text(text)
        layer_file = root / "layers.txt"
        layer_file.write_text(layers)
        done = subprocess.run([sys.executable, CHECKER, str(root), str(layer_file)],
                              capture_output=True, text=True)
        return done.returncode, done.stderr


class IncludeLayerCheck(unittest.TestCase):
    def test_downward_includes_pass(self):
        status, errors = run_on({
            "platform/fatal.h": "",
            "runtime/eval/throw.h": "",
            "runtime/value/cell.h": '#include "platform/fatal.h"\n#include "runtime/eval/throw.h"\n',
            "runtime/eval/stack.h": '#include "runtime/value/cell.h"\n',
            "runtime/eval/interpreter.cpp": '#include "runtime/eval/stack.h"\n#include <vector>\n'
                                            '#include "runtime/generated-table.inc"\n',
            "boot/init.cpp": '#include "runtime/eval/interpreter.cpp"\n#include "view/hooks.h"\n',
            "view/hooks.h": "",
        })
        self.assertEqual((status, errors), (0, ""))

    def test_each_upward_include_is_named(self):
        # (including file, included file): each goes up at least one layer.
        cases = [
            ("platform/console.cpp", "runtime/value/cell.h"),
            ("runtime/value/cell.cpp", "runtime/eval/interpreter.h"),
            ("runtime/value/cell.cpp", "view/hooks.h"),
            ("runtime/eval/throw.h", "runtime/value/cell.h"),  # a published header is held to its layer
            ("runtime/eval/stack.h", "runtime/eval/interpreter.h"),
        ]
        for source, target in cases:
            with self.subTest(source=source, target=target):
                files = {"runtime/eval/throw.h": "", "runtime/eval/stack.h": "", target: ""}
                files[source] = f'#include <cstdint>\n  #  include "{target}"\n'
                status, errors = run_on(files)
                self.assertEqual(status, 1)
                self.assertIn(f"{source}:2: includes {target}", errors)

    def test_unplaced_files_and_stale_entries_fail(self):
        cases = [
            ({"console/editor.cpp": "", "runtime/eval/throw.h": "", "runtime/eval/stack.h": ""},
             "console/editor.cpp: belongs to no layer"),
            ({"runtime/eval/throw.h": ""}, "runtime/eval/stack.h matches no file"),
            ({"boot/a.cpp": '#include "boot/missing.h"\n', "runtime/eval/throw.h": "", "runtime/eval/stack.h": ""},
             "boot/a.cpp:1: includes boot/missing.h, which is no file of the tree"),
        ]
        for files, message in cases:
            with self.subTest(message=message):
                status, errors = run_on(files)
                self.assertEqual(status, 1)
                self.assertIn(message, errors)

    def test_malformed_layer_file_is_refused(self):
        for layers in ("platform/\n", "[platform]\nplatform/ runtime/\n", "[a]\nplatform/\n[b]\nplatform/\n"):
            with self.subTest(layers=layers):
                status, _ = run_on({"platform/a.h": ""}, layers)
                self.assertEqual(status, 2)


if __name__ == "__main__":
    CHECKER = sys.argv.pop(1)
    unittest.main()
