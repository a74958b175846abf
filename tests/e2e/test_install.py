"""End-to-end tests of installation runs: the real stub, a real package made with Info-ZIP and
the sample installer demoinstall.exe, under Wine. They check what users see: exit codes, the
shared log, the installer's command line and folder, the registry record and the windows of
interactive runs. They never let the stub restart the machine: restart requests are proven by
the native tests; here a run that would restart is always answered No."""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winehelp  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.path.abspath(os.environ.get("E2E_BUILD_DIR", os.path.join(REPO, "build", "windows")))
WAIT_S = 60

LOG = "C:\\riviziduve\\log\\vorqsetup.log"
MARKER = "C:\\riviziduve\\demo\\installed.txt"
RECORD = "HKLM\\Software\\Dravik\\Version Control\\DravikRevisionManagement\\TestFirmware"

S = None
WORK = None


def definition(version="2.0.2.0", command="demoinstall.exe", params="/fixed"):
    return ('<?xml version="1.0" encoding="UTF-8"?>\r\n<vorq_package version="%s">\r\n'
            '<filename>pkg.exe</filename>\r\n'
            '<name><name_xlate lang="en">Test Firmware</name_xlate></name>\r\n<version value="3.1"/>\r\n'
            '<installation><install><command>%s</command><command_params>%s</command_params></install>'
            '</installation>\r\n<sw_keys><sw_keys_and><sw_key name="TestFirmware">'
            '<sw_key_expectedpath>firmware:test</sw_key_expectedpath></sw_key></sw_keys_and></sw_keys>\r\n'
            '</vorq_package>\r\n' % (version, command, params)).encode()


def package(name, files, with_installer=True):
    """A package file named `name` holding `files` (and the sample installer)."""
    contents = dict(files)
    if with_installer:
        with open(os.path.join(BUILD_DIR, "demoinstall.exe"), "rb") as f:
            contents["demoinstall.exe"] = f.read()
    return S.make_package(os.path.join(BUILD_DIR, "setupstub.exe"), contents, os.path.join(WORK, name))


def read(winpath, encoding="cp1252"):
    path = S.to_linux(winpath)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read().decode(encoding, errors="replace")


def read_any_case(winpath):
    """Bytes of a file named without regard to case, as Windows names it."""
    path = S.to_linux(winpath[:3])
    for part in winpath[3:].split("\\"):
        names = {n.lower(): n for n in os.listdir(path)} if os.path.isdir(path) else {}
        if part.lower() not in names:
            return None
        path = os.path.join(path, names[part.lower()])
    with open(path, "rb") as f:
        return f.read()


def wait_title(proc, title, timeout):
    """Waits for a top-level window by its title only. The stub does not pump messages while it
    extracts, so its progress dialog answers no message a probe could send."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if any(w.title == title for w in S.list_windows()):
            return True
        if proc.poll() is not None:
            return False
        time.sleep(0.05)
    return False


def setUpModule():
    global S, WORK
    S = winehelp.shared_session(BUILD_DIR)
    WORK = os.path.join(S.root, "install-tests")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)


def tearDownModule():
    if S is not None:
        S.end_all()


class InstallTestCase(unittest.TestCase):
    def setUp(self):
        for winpath in (LOG, MARKER):
            path = S.to_linux(winpath)
            if os.path.exists(path):
                os.remove(path)
        S.run(["reg", "delete", RECORD, "/f"], timeout=60)

    def tearDown(self):
        S.end_all()

    def assertLogInOrder(self, lines):
        problem = winehelp.missing_in_order(read(LOG) or "", lines)
        self.assertIsNone(problem, problem)

    def record(self):
        r = S.run(["reg", "query", RECORD + "\\0"], timeout=60)
        if r.returncode != 0:
            return None
        out = r.stdout if isinstance(r.stdout, str) else r.stdout.decode("utf-8", "replace")
        return dict(re.findall(r"^\s+(\w+)\s+REG_SZ\s+(.*?)\s*$", out, re.M))


class SilentInstallTest(InstallTestCase):
    def test_silent_installation_end_to_end(self):
        pkg = package("pkg.exe", {"pkg.xml": definition(), "data/firmware.bin": bytes(range(256)) * 64})
        result = S.run_without_window([pkg, "/silent", "/user", "ops7", "/password:Hidden9", "C:\\my dir\\"],
                                      timeout=WAIT_S * 3)
        self.assertEqual(result.returncode, 1)
        marker = read(MARKER, "utf-8")
        self.assertIsNotNone(marker, "the installer did not run")
        # The installer ran in a fresh GUID folder under the temporary folder, with the package
        # extracted, and received the stub's arguments exactly.
        folder = re.search(r"Current directory: (.*)", marker).group(1).strip()
        self.assertRegex(folder, r"\\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
        self.assertIn("data\\firmware.bin", marker.replace("/", "\\"))
        self.assertIn('demoinstall.exe" /fixed /silent /user ops7 /password:Hidden9 "C:\\my dir\\\\"', marker)
        self.assertFalse(os.path.exists(S.to_linux(folder)), "the extraction folder is removed")
        self.assertLogInOrder([
            "Log Session Start...", "Creating extraction directory for Zarnic Component [pkg.exe]...",
            "Extraction Directory Creation... Success.", "Component XML file = [pkg.xml]",
            "Extracting component contents complete. Success.", "Setup program = [demoinstall.exe]",
            "Installation command line = [", "/fixed /silent /user **** **** \"C:\\my dir\\\\\"]",
            "Demo installer started", "Demo installer finished: completion code 1",
            "Process returned completion code of (0x1).",
            "Completion Code (0x1) -> The Zarnic Component installed Successfully",
            "Translating return code... No change (0x1).", "Component registry updates complete...success",
            "Restoring current directory [", "Log Session End. [", "Return Code (1)"])
        log = read(LOG)
        self.assertNotIn("ops7", log.split("Installation command line")[1].split("\r\n")[0])
        self.assertNotIn("Hidden9", log.split("Demo installer started")[0])
        record = self.record()
        self.assertEqual(record["ComponentFileName"], "pkg.exe")
        self.assertEqual(record["ComponentKeyExpectedPath"], "firmware:test")
        self.assertEqual(record["ComponentXmlPath"], "\\RIVIZIDUVE\\cpxml\\")
        self.assertRegex(record["InstallTime"], r".+-\d{1,2}:\d{2}:\d{2}")
        # Windows names compare without regard to case; the Linux side keeps the first spelling.
        self.assertEqual(read_any_case("C:\\RIVIZIDUVE\\cpxml\\pkg.xml"), definition())

    def test_completion_codes_maps_and_exit_code_rules(self):
        files = {"pkg.xml": definition(),
                 "cp_data.xml": b'<cp_pkg_data><installation><install><returncode_map>'
                                b'<map source="3010" dest="1"/></returncode_map></install></installation></cp_pkg_data>'}
        pkg = package("pkg.exe", files)
        cases = [  # (arguments, installer code, exit code, the code recorded?)
            (["/s", "/code:3"], 3, False),
            (["/s", "/code:3010"], 1, True),
            (["/s", "/code:0", "/dosretcode"], 1, False),
            (["/s", "/code:7", "/dosretcode"], 0, False),
        ]
        for args, exit_code, recorded in cases:
            self.setUp()
            result = S.run_without_window([pkg] + args, timeout=WAIT_S * 3)
            self.assertEqual(result.returncode, exit_code, args)
            self.assertEqual(self.record() is not None, recorded, args)
        self.assertLogInOrder(["Completion Code (0x7) -> The Zarnic Component returned an unknown completion code."])
        # Started by the management agent, the exit code is inverted without /dosretcode.
        self.setUp()
        result = S.run_without_window([S.tool("kivagent.exe"), S.to_windows(pkg), "/s", "/code:0"], timeout=WAIT_S * 3)
        self.assertEqual(result.returncode, 1)

    def test_talkative_installer_is_drained(self):
        pkg = package("pkg.exe", {"pkg.xml": definition()})
        result = S.run_without_window([pkg, "/s", "/spew:3000000"], timeout=WAIT_S * 3)
        self.assertEqual(result.returncode, 1)
        self.assertLogInOrder(["Demo installer finished: completion code 1", "Return Code (1)"])

    def test_dry_run_starts_nothing(self):
        pkg = package("pkg.exe", {"pkg.xml": definition()})
        result = S.run_without_window([pkg, "/s", "/dryrun"], timeout=WAIT_S * 3)
        self.assertEqual(result.returncode, 1)
        self.assertIsNone(read(MARKER))
        self.assertLogInOrder(["Dry Run of Installer Component...Returning Completion Code (1)...Success",
                               "Return Code (1)"])
        self.assertIsNotNone(self.record())

    def test_missing_installer_fails_and_is_logged(self):
        pkg = package("pkg.exe", {"pkg.xml": definition(command="absent.exe")})
        result = S.run_without_window([pkg, "/s"], timeout=WAIT_S * 3)
        self.assertEqual(result.returncode, 0)
        self.assertLogInOrder(["**CRITICAL** - CreateProcess FAILED with error 2: ",
                               "Install Command was - absent.exe", "Installation Issue...FAILURE CODE (0)",
                               "Return Code (0)"])

    def test_instpath_creates_parents_and_removes_the_folder(self):
        pkg = package("pkg.exe", {"pkg.xml": definition()})
        result = S.run_without_window([pkg, "/s", "/instpath:C:\\inst-tests\\a\\b"], timeout=WAIT_S * 3)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Current directory: C:\\inst-tests\\a\\b", read(MARKER, "utf-8"))
        self.assertFalse(os.path.exists(S.to_linux("C:\\inst-tests\\a\\b")))
        self.assertTrue(os.path.isdir(S.to_linux("C:\\inst-tests\\a")))


class PackageRecognitionTest(InstallTestCase):
    def test_renamed_stub_finds_a_known_definition_by_search(self):
        pkg = package("renamed-by-download.exe", {"readme.txt": b"x", "pkg.xml": definition("2.0.2.0")})
        result = S.run_without_window([pkg, "/s", "/dryrun"], timeout=WAIT_S * 3)
        self.assertEqual(result.returncode, 1)
        self.assertLogInOrder(["Component XML file = [pkg.xml]"])

    def test_unknown_definition_version_is_not_a_package(self):
        pkg = package("other-name.exe", {"pkg.xml": definition("2.0.3.0")})
        self.assertEqual(S.run_without_window([pkg, "/silent"], timeout=WAIT_S).returncode, 0)
        self.assertEqual(S.run_without_window([pkg, "/silent", "/dosretcode"], timeout=WAIT_S).returncode, 1)
        with S.start_program([pkg]) as proc:
            controls = proc.wait_window("Package Setup", WAIT_S)
            texts = [c.text for c in controls]
            self.assertIn("A package definition file was not found.  The file is not a valid Package.", texts)
            S.click("Package Setup", 1)
            self.assertEqual(proc.wait(WAIT_S), 0)


class InteractiveInstallTest(InstallTestCase):
    def test_noprompt_shows_progress_and_asks_about_the_restart(self):
        pkg = package("pkg.exe", {"pkg.xml": definition(params="/code:2 /sleep:1500")})
        with S.start_program([pkg, "/noprompt"]) as proc:
            self.assertTrue(wait_title(proc, "Extraction Progress", WAIT_S), "no progress dialog")
            controls = proc.wait_window("Reboot Confirmation", WAIT_S * 2)
            texts = [c.text for c in controls]
            self.assertIn("A reboot is required to finish the installation completely.\r\n\r\n"
                          "Do you want to reboot your system now?", texts)
            S.click("Reboot Confirmation", 7)  # No: nothing restarts
            self.assertEqual(proc.wait(WAIT_S), 2)
        self.assertLogInOrder(["Completion Code (0x2) -> The Zarnic Component installed Successfully, but the system "
                               "must be restart", "Return Code (2)"])

    def test_installer_that_cannot_start_is_shown(self):
        pkg = package("pkg.exe", {"pkg.xml": definition(command="absent.exe")})
        with S.start_program([pkg, "/noprompt"]) as proc:
            controls = proc.wait_window("Package Setup", WAIT_S * 2)
            text = [c.text for c in controls if c.id == 65535][0]
            self.assertTrue(text.startswith("Package Setup was unable to start the installation program - absent.exe"),
                            text)
            self.assertTrue(text.endswith(".  Installation will not continue."), text)
            S.click("Package Setup", 1)
            self.assertEqual(proc.wait(WAIT_S), 0)


if __name__ == "__main__":
    unittest.main()
