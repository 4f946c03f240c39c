#!/usr/bin/env python3
"""The tree generator refuses trees it cannot turn into sound tables."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import gen_command_tree as gen  # noqa: E402

GOOD = """[] R
show | Display | dir
save | Save configuration | cmd_save

[show] H
summary | Show summary | cmd_show_summary
"""


class GeneratorTest(unittest.TestCase):
    def test_good_tree_gives_tables_with_builtins(self):
        out = gen.generate(gen.parse(GOOD))
        self.assertIn('{"summary", "Show summary", nullptr, 0, cmd_show_summary},', out)
        self.assertIn('extern "C" int cmd_show_summary(char *rest, const cli_dir_row *subdirectory);', out)
        self.assertIn('{"exit", "Change to upper directory", cli_root_directory, 0, cmd_home},', out)
        self.assertIn('{"exit", "Change to upper directory", nullptr, 0, cmd_quit},', out)
        self.assertIn("const unsigned cli_directory_count = 2;", out)

    def test_quotes_in_help_are_escaped(self):
        out = gen.generate(gen.parse('[] R\nx | say "hi" \\ there | cmd_x\n'))
        self.assertIn('"say \\"hi\\" \\\\ there"', out)

    def test_refusals(self):
        bad = {
            "unknown flag": "[] X\n",
            "root flag elsewhere": "[] R\n[a] R\n",
            "row outside a directory": "x | y | cmd_x\n",
            "pending row": "[] R\nx | a | pending\n",
            "two columns": "[] R\nx | y\n",
            "builtin typed": "[] R\nquit | q | cmd_x\n",
            "word twice": "[] R\nx | a | cmd_x\nx | b | cmd_y\n",
            "bad handler": "[] R\nx | a | rm -rf\n",
            "dir without section": "[] R\nx | a | dir\n",
            "section without dir word": "[] R\nx | a | cmd_x\n[x] N\n",
            "orphan section": "[] R\n[a b] N\n",
            "directory twice": "[] R\n[] R\n",
        }
        for what, text in bad.items():
            with self.subTest(what):
                with self.assertRaises(gen.TreeError):
                    gen.generate(gen.parse(text))


if __name__ == "__main__":
    unittest.main()
