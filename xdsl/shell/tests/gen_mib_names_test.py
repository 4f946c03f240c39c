#!/usr/bin/env python3
"""The MIB name generator: group order, range rows, refusals."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import gen_mib_names as gen  # noqa: E402

TEXT = """# comment
- 0.16 (`xdsl2PMLCurr`): 1 Unit0; 4 15MTimeElapsed0-1
- 2.3 (`xdsl2StatsTotal`): 1 FullInits
- SELT (`XdslGltSelt`): Version; Status
- 10.1 (`xdsl2`): 1.1 Banplan
- 3.3: 1 xdslRtxChConfProfileName; 0xffff XdslGltGroup
"""


class GeneratorTest(unittest.TestCase):
    def test_rows_in_group_order_with_ranges_expanded(self):
        rows = gen.parse(TEXT)
        self.assertEqual(rows, [
            ("xdsl2Banplan", "10.1.1.1"),
            ("xdsl2StatsTotalFullInits", "2.3.1"),
            ("XdslGltSeltVersion", "0xffff.0xffff.SV_MIB_XdslGltSeltVersion"),
            ("XdslGltSeltStatus", "0xffff.0xffff.SV_MIB_XdslGltSeltStatus"),
            ("xdsl2PMLCurrUnit0", "0.16.1"),
            ("xdsl2PMLCurr15MTimeElapsed0", "0.16.4"),
            ("xdsl2PMLCurr15MTimeElapsed1", "0.16.4.2"),
            ("xdslRtxChConfProfileName", "3.3.1"),
            ("XdslGltGroup", "3.3.0xffff"),
        ])

    def test_refusals(self):
        for bad in ("- 0.1 xdsl: 1 A", "- 0.1: 1", "- 0.1: 1 A; 2 A"):
            with self.assertRaises(gen.NamesError, msg=bad):
                gen.parse(bad)

    def test_shipped_list_has_every_row(self):
        path = os.path.join(os.path.dirname(__file__), "..", "tools", "mib_names.txt")
        with open(path) as f:
            rows = gen.parse(f.read())
        self.assertEqual(len(rows), 1687)
        self.assertIn('{"xdsl2PMLCurr15MTimeElapsed1", "0.16.4.2"},', gen.emit(rows))


if __name__ == "__main__":
    unittest.main()
