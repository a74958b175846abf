"""End-to-end test of the package document reader: every row of the shared XML document table
through the Windows build, whose expat delivers UTF-16 itself, under Wine.

xml_probe.exe (and uiprobe.exe, which the session's warm-up runs) come from E2E_BUILD_DIR
(run_e2e.py sets it). The native unit tests run the same table over the system expat.
"""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winehelp  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.path.abspath(os.environ.get("E2E_BUILD_DIR", os.path.join(REPO, "build", "windows")))
XML_TABLE = os.path.join(REPO, "tests", "data", "xml_documents.txt")

S = None


def setUpModule():
    global S
    missing = [n for n in ("xml_probe.exe", "uiprobe.exe") if not os.path.isfile(os.path.join(BUILD_DIR, n))]
    if missing:
        raise RuntimeError("not built in %s: %s" % (BUILD_DIR, ", ".join(missing)))
    S = winehelp.shared_session(BUILD_DIR)


def tearDownModule():
    # The session itself is shared with the other modules and ends with the test run.
    if S is not None:
        S.end_all()


class XmlDocumentTableTest(unittest.TestCase):
    def test_every_row_gives_its_tree_over_the_wide_parser(self):
        r = S.run([S.tool("xml_probe.exe"), S.to_windows(XML_TABLE)], timeout=300)
        self.assertEqual(r.returncode, 0, "mismatches:\n%s%s" % (r.stdout, r.stderr))
        self.assertRegex(r.stdout, r"\b\d+ rows, 0 mismatches")


if __name__ == "__main__":
    unittest.main()
