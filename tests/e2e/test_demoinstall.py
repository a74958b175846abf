"""End-to-end tests of demoinstall.exe, the demo package's installer, run directly under Wine.

The installer runs from a folder laid out like an extracted package, with that folder as its
current directory, the way the stub starts it. The tests check what later runs through the stub
rely on: the marker file, the lines in the shared component log (and in an inherited verbose
log), the completion code and the output written to a pipe.

The build folder with demoinstall.exe (and uiprobe.exe, which the session's warm-up runs) comes
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

WAIT_S = 60  # safety net for the installer to end
LOG_FOLDER = "C:\\riviziduve\\log"
MAIN_LOG = LOG_FOLDER + "\\vorqsetup.log"
DEFAULT_MARKER = "C:\\riviziduve\\demo\\installed.txt"

S = None


def setUpModule():
    global S
    missing = [n for n in ("demoinstall.exe", "uiprobe.exe") if not os.path.isfile(os.path.join(BUILD_DIR, n))]
    if missing:
        raise RuntimeError("not built in %s: %s" % (BUILD_DIR, ", ".join(missing)))
    S = winehelp.shared_session(BUILD_DIR)


def tearDownModule():
    if S is not None:
        S.end_all()


def read_bytes(winpath):
    with open(S.to_linux(winpath), "rb") as f:
        return f.read()


def filler(stream, size):
    """What /spew:size writes to one stream: numbered lines of 64 bytes, the last one cut."""
    lines = ("demoinstall %s filler %010d .........................\r\n" % (stream, n)
             for n in range(size // 64 + 1))
    return "".join(lines)[:size]


class DemoInstallTest(unittest.TestCase):
    def setUp(self):
        for folder in ("C:\\riviziduve\\log", "C:\\riviziduve\\demo"):
            shutil.rmtree(S.to_linux(folder), ignore_errors=True)
        # A folder laid out like an extracted package, the installer among its files.
        self.pkg = os.path.join(S.root, "demoinstall-tests", self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.pkg, ignore_errors=True)
        os.makedirs(os.path.join(self.pkg, "docs"))
        with open(os.path.join(self.pkg, "docs", "readme.txt"), "wb") as f:
            f.write(b"Demo firmware.\r\n")
        shutil.copyfile(S.tool("demoinstall.exe"), os.path.join(self.pkg, "demoinstall.exe"))

    def tearDown(self):
        left = S.end_all()
        if left:
            sys.stderr.write("\nended programs left running by %s: %s\n" % (self.id(), left))

    def write(self, name, data):
        with open(os.path.join(self.pkg, name), "wb") as f:
            f.write(data)

    def run_installer(self, args, env=None):
        return S.run([os.path.join(self.pkg, "demoinstall.exe")] + list(args), timeout=WAIT_S, env=env,
                     cwd=self.pkg)

    def test_records_its_run_and_returns_the_given_code(self):
        config = b"firmware=demo.bin\r\nlevel=\xc3\xa9\r\n"
        self.write("demo.cfg", config)
        self.write("exitcode.txt", b"5\r\n")  # /code wins over the file
        r = self.run_installer(["/code:3010", "/s", "C:\\Program Files\\x"])
        self.assertEqual(r.returncode, 3010 % 256, r)

        folder = S.to_windows(self.pkg)
        exe_size = os.path.getsize(os.path.join(self.pkg, "demoinstall.exe"))
        marker = read_bytes(DEFAULT_MARKER)
        expected_head = (
            "Demo installer ran.\r\n"
            'Command line: "%s\\demoinstall.exe" /code:3010 /s "C:\\Program Files\\x"\r\n'
            "Current directory: %s\r\n"
            "Completion code: 3010 (/code argument)\r\n"
            "CMPLOG2_VERBOSE_FILENAME: (not set)\r\n"
            "Files in the current directory:\r\n"
            "  demo.cfg (%d bytes)\r\n"
            "  demoinstall.exe (%d bytes)\r\n"
            "  docs\\\r\n"
            "  docs\\readme.txt (16 bytes)\r\n"
            "  exitcode.txt (3 bytes)\r\n"
            "Configuration file %s\\demo.cfg (%d bytes):\r\n"
            % (folder, folder, len(config), exe_size, folder, len(config))).encode()
        self.assertEqual(marker, expected_head + config)

        log = read_bytes(MAIN_LOG).decode("cp1252")
        self.assertEqual(log, (
            'Demo installer started with arguments [/code:3010 /s "C:\\Program Files\\x"]\r\n\r\n'
            "Demo installer working folder [%s]\r\n\r\n"
            "Demo installer read configuration file [%s\\demo.cfg] (%d bytes)\r\n\r\n"
            "Demo installer wrote marker file [%s] (4 files listed)\r\n\r\n"
            "Demo installer finished: completion code 3010 (/code argument)\r\n\r\n"
            % (folder, folder, len(config), DEFAULT_MARKER)))
        self.assertIn("completion code 3010", r.stdout)

    def test_code_file_inherited_verbose_log_and_marker_path(self):
        self.write("exitcode.txt", b"\xef\xbb\xbf -2 \r\n")
        self.write("other.cfg", b"x=1\r\n")
        verbose = LOG_FOLDER + "\\demo verbose.log"
        r = self.run_installer(["/cfg:other.cfg", "/marker:out\\m.txt"], env={"CMPLOG2_VERBOSE_FILENAME": verbose})
        self.assertEqual(r.returncode, 254, r)  # -2 as an unsigned 32-bit code, modulo 256

        self.assertFalse(os.path.exists(S.to_linux(DEFAULT_MARKER)))
        marker = read_bytes(S.to_windows(os.path.join(self.pkg, "out", "m.txt"))).decode()
        self.assertIn("\r\nCompletion code: -2 (exitcode.txt)\r\n", marker)
        self.assertIn("\r\nCMPLOG2_VERBOSE_FILENAME: %s\r\n" % verbose, marker)
        self.assertTrue(marker.endswith("other.cfg (5 bytes):\r\nx=1\r\n"), marker)

        main = read_bytes(MAIN_LOG).decode("cp1252")
        messages = re.findall(r"(?m)^(Demo installer [^\r\n]*)\r\n\r\n", main)
        self.assertEqual(len(messages), 5, main)
        self.assertEqual(messages[-1], "Demo installer finished: completion code -2 (exitcode.txt)")
        # The verbose log holds the same messages, each after the time and the source position.
        lines = read_bytes(verbose).decode("cp1252").split("\r\n\r\n")
        self.assertEqual(lines[-1], "")
        prefix = re.compile(r"^\[\d{1,2}:\d{2}:\d{2}\]::demoinstall\.cpp\[\d+\] ")
        for line in lines[:-1]:
            self.assertRegex(line, prefix)
        self.assertEqual([prefix.sub("", line) for line in lines[:-1]], messages)

    def test_malformed_values_fail_the_installation(self):
        self.write("exitcode.txt", b"3\r\n")
        r = self.run_installer(["/code:4294967296", "/sleep:soon"])
        self.assertEqual(r.returncode, 0, r)
        log = read_bytes(MAIN_LOG).decode("cp1252")
        self.assertIn("**ERROR** - Demo installer: not a 32-bit decimal completion code: /code:4294967296\r\n", log)
        self.assertIn("**ERROR** - Demo installer: not a number of milliseconds: /sleep:soon\r\n", log)
        self.assertIn("Demo installer finished: completion code 0 (malformed input)\r\n", log)

    def test_spew_fills_both_streams_in_full(self):
        size = 200000  # several times what a pipe buffers
        r = self.run_installer(["/spew:%d" % size])
        self.assertEqual(r.returncode, 1, r)
        self.assertEqual(r.stdout[:size], filler("stdout", size))
        self.assertTrue(r.stdout[size:].startswith("demoinstall: completion code 1 (default)\r\n"), r.stdout[size:])
        self.assertIn(filler("stderr", size), r.stderr)
        self.assertIn("Demo installer wrote %d bytes to standard output and %d bytes to standard error\r\n"
                      % (size, size), read_bytes(MAIN_LOG).decode("cp1252"))


if __name__ == "__main__":
    unittest.main()
