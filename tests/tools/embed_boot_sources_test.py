#!/usr/bin/env python3
"""The boot sources' embedder on small made-up folders: it embeds the listed files in the
list's order, skips a listed file that does not exist yet, and stops on a .zor file the
list does not name, on a name listed twice and on an entry that is not a file of the
folder. Usage: embed_boot_sources_test.py EMBEDDER."""

import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

EMBEDDER = None


def run_on(order, files):
    """Runs the embedder on a folder with the order list and the files (name: text);
    answers (status, generated text or the error output)."""
    with tempfile.TemporaryDirectory() as folder:
        root = pathlib.Path(folder)
        (root / "install-order.txt").write_text(order)
        for name, text in files.items():
            (root / name).write_text(text)
        output = root / "out.inc"
        done = subprocess.run([sys.executable, EMBEDDER, str(root / "install-order.txt"), str(output)],
                              capture_output=True, text=True)
        return done.returncode, output.read_text() if done.returncode == 0 else done.stderr


def embedded_names(generated):
    return re.findall(r'\{"([^"]+)", \{BOOT_SOURCE_', generated)


class EmbedBootSources(unittest.TestCase):
    def test_the_list_order_is_the_installation_order(self):
        status, out = run_on("b.zor  # first\n# a comment line\na.zor\n", {"a.zor": "Zor []\n", "b.zor": "Zor []\n"})
        self.assertEqual(status, 0, out)
        self.assertEqual(embedded_names(out), ["b.zor", "a.zor"])

    def test_a_listed_file_that_does_not_exist_is_skipped(self):
        status, out = run_on("a.zor\nlater.zor\nb.zor\n", {"a.zor": "Zor []\n", "b.zor": "Zor []\n"})
        self.assertEqual(status, 0, out)
        self.assertEqual(embedded_names(out), ["a.zor", "b.zor"])

    def test_the_text_is_kept_byte_for_byte(self):
        text = 'Zor []\nprint "?? \\\\ caf\u00e9"\n\tx: 1\n'
        status, out = run_on("a.zor\n", {"a.zor": text})
        self.assertEqual(status, 0, out)
        literal = "".join(re.findall(r'^    "(.*)"', out, re.MULTILINE))
        decoded = re.sub(r"\\([0-7]{3})", lambda m: chr(int(m.group(1), 8)), literal)
        self.assertEqual(decoded.encode("latin-1"), text.encode("utf-8"))

    def test_refusals(self):
        cases = [
            ("a file the list does not name", "a.zor\n", {"a.zor": "", "stray.zor": ""}, "stray.zor"),
            ("a name listed twice", "a.zor\na.zor\n", {"a.zor": ""}, "listed twice"),
            ("an entry two folders down", "sub/deeper/a.zor\n", {}, "not a .zor file"),
            ("an entry above the folders", "../a.zor\n", {}, "not a .zor file"),
            ("an entry that is no .zor file", "a.txt\n", {}, "not a .zor file"),
            ("nothing to embed", "later.zor\n", {}, "none of the listed"),
        ]
        for name, order, files, message in cases:
            with self.subTest(name):
                status, out = run_on(order, files)
                self.assertNotEqual(status, 0)
                self.assertIn(message, out)


if __name__ == "__main__":
    EMBEDDER = sys.argv.pop(1)
    unittest.main()
