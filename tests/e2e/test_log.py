"""End-to-end tests of the component log: the real log code over the real Win32 platform, under Wine.

logwriter.exe opens the log in C:\\riviziduve\\log\\ the way a stub does and appends numbered
lines "<tag> line <i>\\r\\n" with CMPLOG2_BOTH. Several of them at once stand for a stub, the
installer it started and other stubs all appending to the same files.

The build folder with logwriter.exe (and uiprobe.exe, which the session's warm-up runs) comes
from E2E_BUILD_DIR (run_e2e.py sets it).
"""

import os
import re
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winehelp  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.path.abspath(os.environ.get("E2E_BUILD_DIR", os.path.join(REPO, "build", "windows")))

WAIT_S = 120  # safety net for a writer to end
LOG_FOLDER = "C:\\riviziduve\\log"
MAIN_LOG = LOG_FOLDER + "\\vorqsetup.log"
# Enough lines that the writers are still busy when the next one starts, so that they overlap.
LINES = 20000

S = None
WRITER = None


def setUpModule():
    global S, WRITER
    missing = [n for n in ("logwriter.exe", "uiprobe.exe") if not os.path.isfile(os.path.join(BUILD_DIR, n))]
    if missing:
        raise RuntimeError("not built in %s: %s" % (BUILD_DIR, ", ".join(missing)))
    S = winehelp.WineSession(BUILD_DIR, keep=bool(os.environ.get("E2E_KEEP")))
    S.start()
    WRITER = S.tool("logwriter.exe")


def tearDownModule():
    if S is not None:
        S.stop()


def read_bytes(winpath):
    with open(S.to_linux(winpath), "rb") as f:
        return f.read()


class LogTestCase(unittest.TestCase):
    def setUp(self):
        # Every test starts without a log folder.
        folder = S.to_linux(LOG_FOLDER)
        if os.path.isdir(folder):
            shutil.rmtree(folder)
        elif os.path.exists(folder):
            os.remove(folder)

    def tearDown(self):
        left = S.end_all()
        if left:
            sys.stderr.write("\nended programs left running by %s: %s\n" % (self.id(), left))

    def run_writers(self, tags, count, env=None, extra_args=()):
        """Starts one writer per tag at once and waits for all; each must succeed."""
        procs = [S.start_program([WRITER, tag, str(count)] + list(extra_args), env=env) for tag in tags]
        try:
            for proc in procs:
                rc = proc.wait(WAIT_S)
                self.assertEqual(rc, 0, "%s: exit code %d, %r" % (proc.what, rc, proc.output()))
        finally:
            for proc in procs:
                proc.kill()

    def assertEveryLineOnce(self, data, tags, count, line_pattern):
        """Every writer's lines 1..count are there exactly once, in order, each line whole."""
        lines = data.split(b"\n")
        self.assertEqual(lines[-1], b"", "the log does not end with a line end")
        seen = {tag: [] for tag in tags}
        broken = []
        for line in lines[:-1]:
            m = line_pattern.match(line)
            if not m:
                broken.append(line)
                continue
            seen[m.group("tag").decode()].append(int(m.group("n")))
        self.assertEqual(broken[:5], [], "%d lines are not whole (first ones shown)" % len(broken))
        for tag in tags:
            self.assertEqual(seen[tag], list(range(1, count + 1)), "lines of writer %s lost or reordered" % tag)

    @staticmethod
    def switches(data):
        """How often consecutive lines come from different writers."""
        firsts = [line[:1] for line in data.split(b"\n") if line]
        return sum(1 for a, b in zip(firsts, firsts[1:]) if a != b)


class ConcurrentWritersTest(LogTestCase):
    def test_concurrent_writers_lose_no_line(self):
        tags = ("A", "B", "C")
        self.run_writers(tags, LINES)
        data = read_bytes(MAIN_LOG)
        # Without overlapping writers this test would prove nothing.
        self.assertGreater(self.switches(data), 10, "the writers did not run at the same time")
        self.assertEveryLineOnce(data, tags, LINES, re.compile(rb"^(?P<tag>[ABC]) line (?P<n>\d+)\r$"))
        self.assertEqual(len(data), sum(len(("%s line %d\r\n" % (t, i)).encode())
                                        for t in tags for i in range(1, LINES + 1)))

    def test_inherited_verbose_log_is_shared_and_prefixed(self):
        verbose = LOG_FOLDER + "\\shared verbose.log"
        tags = ("A", "B")
        self.run_writers(tags, LINES, env={"CMPLOG2_VERBOSE_FILENAME": verbose})
        main = read_bytes(MAIN_LOG)
        self.assertGreater(self.switches(main), 10, "the writers did not run at the same time")
        self.assertEveryLineOnce(main, tags, LINES, re.compile(rb"^(?P<tag>[AB]) line (?P<n>\d+)\r$"))
        # In the verbose log the prefix and the message are separate writes, so another writer's
        # write can come between them; every prefix and every message must still be whole.
        data = read_bytes(verbose)
        prefix = re.compile(rb"\[\d{1,2}:\d{2}:\d{2}\]::logwriter\.cpp\[\d+\] ")
        self.assertEqual(len(prefix.findall(data)), len(tags) * LINES)
        self.assertEveryLineOnce(prefix.sub(b"", data), tags, LINES,
                                 re.compile(rb"^(?P<tag>[AB]) line (?P<n>\d+)\r$"))


class LogFileTest(LogTestCase):
    def test_appends_after_existing_content(self):
        os.makedirs(S.to_linux(LOG_FOLDER))
        with open(S.to_linux(MAIN_LOG), "wb") as f:
            f.write(b"earlier run\r\n")
        self.run_writers(["A"], 2)
        self.run_writers(["B"], 1)
        self.assertEqual(read_bytes(MAIN_LOG), b"earlier run\r\nA line 1\r\nA line 2\r\nB line 1\r\n")

    def test_verbose_file_name_goes_to_the_log_folder(self):
        self.run_writers(["V"], 2, extra_args=["pkg.exe.log"])
        self.assertEqual(read_bytes(MAIN_LOG), b"V line 1\r\nV line 2\r\n")
        lines = read_bytes(LOG_FOLDER + "\\pkg.exe.log").split(b"\r\n")
        self.assertEqual(len(lines), 3)
        for i, line in enumerate(lines[:2], start=1):
            self.assertRegex(line, rb"^\[\d{1,2}:\d{2}:\d{2}\]::logwriter\.cpp\[\d+\] V line %d$" % i)

    def test_text_is_written_in_the_ansi_code_page(self):
        # The session's locale gives Wine the Windows-1252 code page: the euro sign has a byte
        # there, the Greek delta does not and becomes "?".
        self.run_writers(["\u00e9\u20ac\u0394"], 1)
        self.assertEqual(read_bytes(MAIN_LOG), b"\xe9\x80? line 1\r\n")

    def test_log_folder_that_is_a_file_fails_to_open(self):
        parent = S.to_linux("C:\\riviziduve")
        os.makedirs(parent, exist_ok=True)
        with open(S.to_linux(LOG_FOLDER), "wb") as f:
            f.write(b"not a folder")
        r = S.run([WRITER, "A", "1"], timeout=WAIT_S)
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertEqual(read_bytes(LOG_FOLDER), b"not a folder")


if __name__ == "__main__":
    unittest.main()
