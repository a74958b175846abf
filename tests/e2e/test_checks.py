"""End-to-end tests of the machine checks that gate an installation run, under Wine: the WMI
service (stopped and running through the prefix's service manager), the hypervisor and the
trusted-module checks as Wine's WMI answers them, and the order of their log lines.

These tests stop and start the prefix's WMI service, which restarts its server, so they run in
a Wine session of their own rather than in the shared one."""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winehelp  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.path.abspath(os.environ.get("E2E_BUILD_DIR", os.path.join(REPO, "build", "windows")))
WAIT_S = 60

LOG = "C:\\riviziduve\\log\\vorqsetup.log"
MARKER = "C:\\riviziduve\\demo\\installed.txt"

NO_WMI_TEXT = ("Windows Management Instrumentation (WMI) is not installed or has been disabled.  Please install "
               "or enable this service in order to continue installation of this component.")
NO_WMI_HALT = ("**ERROR** - No WMI Service Available...Installation Software requires WMI Service "
               "Availability...FAILURE CODE (0) ...\r\n\r\n")

S = None
WORK = None
PKG = None


def definition():
    return ('<?xml version="1.0" encoding="UTF-8"?>\r\n<vorq_package version="2.0.2.0">\r\n'
            '<filename>pkg.exe</filename>\r\n'
            '<name><name_xlate lang="en">Test Firmware</name_xlate></name>\r\n<version value="3.1"/>\r\n'
            '<installation><install><command>demoinstall.exe</command><command_params>/fixed</command_params>'
            '</install></installation>\r\n<sw_keys><sw_keys_and><sw_key name="TestFirmware">'
            '<sw_key_expectedpath>firmware:system</sw_key_expectedpath></sw_key></sw_keys_and></sw_keys>\r\n'
            '</vorq_package>\r\n').encode()


def read(winpath):
    path = S.to_linux(winpath)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read().decode("cp1252", errors="replace")


def setUpModule():
    global S, WORK, PKG
    S = winehelp.WineSession(BUILD_DIR, keep=bool(os.environ.get("E2E_KEEP"))).start()
    WORK = os.path.join(S.root, "check-tests")
    os.makedirs(WORK)
    with open(os.path.join(BUILD_DIR, "demoinstall.exe"), "rb") as f:
        installer = f.read()
    PKG = S.make_package(os.path.join(BUILD_DIR, "setupstub.exe"),
                         {"pkg.xml": definition(), "demoinstall.exe": installer}, os.path.join(WORK, "pkg.exe"))


def tearDownModule():
    if S is not None:
        S.stop()


class ChecksTestCase(unittest.TestCase):
    def setUp(self):
        for winpath in (LOG, MARKER):
            path = S.to_linux(winpath)
            if os.path.exists(path):
                os.remove(path)

    def tearDown(self):
        S.end_all()

    def assertLogInOrder(self, lines):
        problem = winehelp.missing_in_order(read(LOG) or "", lines)
        self.assertIsNone(problem, problem)


class StoppedWmiServiceTest(ChecksTestCase):
    @classmethod
    def setUpClass(cls):
        S.set_service("winmgmt", winehelp.SERVICE_DISABLED)

    def test_silent_run_halts_after_the_two_failure_lines(self):
        self.assertEqual(S.service_state("winmgmt"), winehelp.SERVICE_STOPPED)
        result = S.run_without_window([PKG, "/s"], timeout=WAIT_S * 2)
        self.assertEqual(result.returncode, 0)
        self.assertIsNone(read(MARKER), "no installer may start")
        self.assertLogInOrder(["Log Session Start...", "Validating WMI service is available...\r\n\r\n"
                               "**ERROR** - \r\n\r\n" + NO_WMI_TEXT + "\r\n\r\n" + NO_WMI_HALT,
                               "Log Session End. [", "Return Code (0)"])
        log = read(LOG)
        self.assertNotIn("Checking for virtualized environment", log)
        self.assertNotIn("Creating extraction directory", log)
        # The stub only looks at the service; it never starts it.
        self.assertEqual(S.service_state("winmgmt"), winehelp.SERVICE_STOPPED)

    def test_noprompt_shows_message_1051(self):
        with S.start_program([PKG, "/noprompt"]) as proc:
            controls = proc.wait_window("Package Setup", WAIT_S)
            self.assertIn(NO_WMI_TEXT, [c.text for c in controls if c.id == 65535])
            S.click("Package Setup", 1)
            self.assertEqual(proc.wait(WAIT_S), 0)
        self.assertIsNone(read(MARKER))
        self.assertLogInOrder([NO_WMI_HALT, "Return Code (0)"])


class RunningWmiServiceTest(ChecksTestCase):
    @classmethod
    def setUpClass(cls):
        S.set_service("winmgmt", winehelp.SERVICE_AUTO_START)

    def test_silent_run_passes_the_gates_in_order_and_installs(self):
        self.assertEqual(S.service_state("winmgmt"), winehelp.SERVICE_RUNNING)
        result = S.run_without_window([PKG, "/s"], timeout=WAIT_S * 3)
        self.assertEqual(result.returncode, 1)
        self.assertIsNotNone(read(MARKER), "the installer did not run")
        self.assertLogInOrder([
            "Log Session Start...", "Validating WMI service is available...\r\n\r\n",
            "WMI service is available.\r\n\r\n", "Checking for virtualized environment...\r\n\r\n",
            "Virtualized environment not detected.\r\n\r\n", "Checking TPM (Trusted Platform Module) state...\r\n\r\n",
            "Retrieving SMBIOS table via WMI query of MSSmBios_RawSMBiosTables...\r\n\r\n",
            "SMBIOS table access via WMI query... Success.\r\n\r\n",
            "Creating extraction directory for Zarnic Component [pkg.exe]...",
            "Verifying required disk space for Zarnic Component Installation is available...\r\n\r\n",
            "Required disk space is available. Success.\r\n\r\n", "Demo installer finished: completion code 1",
            "Return Code (1)"])


if __name__ == "__main__":
    unittest.main()
