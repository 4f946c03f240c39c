#!/usr/bin/env python3
"""The sharing table generator: rows standing for several, refusals."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import gen_share_modes as gen  # noqa: E402

HEADER = "| existing open | compatibility | deny all | deny write | deny read | deny none | FCB |\n"
NONE = " | ".join(["xxxx xxxx xxxx xxxx"] * 6)


def table(rows):
    return HEADER + "".join(f"| {label} | {cells} |\n" for label, cells in rows)


def full(first_cells=NONE):
    rows = [("compatibility, read/write", first_cells)]
    rows += [(f"compatibility, {a}", NONE) for a in ("read", "write", "execute")]
    rows += [(f"{s}, any access", NONE) for s in ("deny all", "deny write", "deny read", "deny none")]
    rows += [("FCB, read/write, read or write", NONE), ("FCB, execute", NONE)]
    return table(rows)


class GeneratorTest(unittest.TestCase):
    def test_entries_in_index_order(self):
        cells = " | ".join(["2012 xxxx xxxx xxxx"] + ["xxxx xxxx xxxx xxxx"] * 5)
        entries = gen.parse(full(cells))
        self.assertEqual(len(entries), 576)
        self.assertEqual(entries[0], [2, 0, 1, 2])
        self.assertEqual(entries[1], [15, 15, 15, 15])
        # "any access" and "read/write, read or write" stand for their rows.
        self.assertTrue(all(e == [15, 15, 15, 15] for e in entries[24:]))

    def test_refusals(self):
        bad = {
            "a row missing": full().replace("| FCB, execute |" + " " + NONE + " |\n", ""),
            "a row twice": full() + f"| FCB, execute | {NONE} |\n",
            "a column missing": full().replace("| FCB |\n", "|\n", 1),
            "an unknown sharing": full().replace("deny read, any", "deny some, any"),
            "an unknown access": full().replace("compatibility, write", "compatibility, append"),
            "a short group": full().replace("xxxx xxxx xxxx xxxx |", "xxx xxxx xxxx xxxx |", 1),
            "a stray character": full().replace("xxxx xxxx xxxx xxxx |", "xxxx xxxx xxxx xxx3 |", 1),
        }
        for what, text in bad.items():
            with self.assertRaises(gen.TableError, msg=what):
                gen.parse(text)

    def test_shipped_table_has_every_row(self):
        path = os.path.join(os.path.dirname(__file__), "..", "tools", "share_modes.txt")
        with open(path, encoding="utf-8") as f:
            self.assertEqual(len(gen.parse(f.read())), 576)


if __name__ == "__main__":
    unittest.main()
