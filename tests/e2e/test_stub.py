"""End-to-end tests: the real Windows stub under Wine, its windows read and driven through uiprobe.exe.

One Wine prefix and one Xvfb display (winehelp.shared_session) serve the whole test run. The build
folder with setupstub.exe, uiprobe.exe, kivagent.exe and cmdline_probe.exe comes from E2E_BUILD_DIR
(run_e2e.py sets it); screenshots go to E2E_ARTEFACT_DIR (default build/test-artefacts).
"""

import os
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winehelp  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.path.abspath(os.environ.get("E2E_BUILD_DIR", os.path.join(REPO, "build", "windows")))
ARTEFACTS = os.path.abspath(os.environ.get("E2E_ARTEFACT_DIR", os.path.join(REPO, "build", "test-artefacts")))
CMDLINE_TABLE = os.path.join(REPO, "tests", "data", "cmdlines.tsv")

WAIT_S = 30  # safety net for a window to appear or a program to end

ENGLISH = {
    "box_caption": "Package Setup",
    "message_1000": "A package definition file was not found.  The file is not a valid Package.",
    "usage_caption": "Command Line Usage for Kavelon Package Setup",
    "close": "Close",
}
UI_LANGUAGES = {
    "ja_JP": {
        "box_caption": "パッケージセットアップ",
        "message_1000": "パッケージの定義が見つかりません。 このファイルは、有効なパッケージではありません。",
        "usage_caption": "Kavelon パケージセットアップ コマンドライン使用方法",
        "close": "閉じる",
    },
    "zh_CN": {
        "box_caption": "包设定",
        "message_1000": "未找到安装包定义文件。不是一个有效的安装包。",
        "usage_caption": "适用于Kavelon包装安装的命令行用法",
        "close": "关闭",
    },
    # No German resources: the English ones are shown.
    "de_DE": ENGLISH,
}
USAGE_ROWS = ("/help, /h, /?", "/silent, /s", "/reboot, /r", "/force, /f")

# A package that carries files but no usable component definition: no entry named after the
# package file, and the only definition-like document has a version the stub does not take.
NO_DEFINITION_FILES = {
    "readme.txt": b"Firmware update component, test fixture.\r\n",
    "other.xml": b'<?xml version="1.0"?>\r\n<vorq_package version="1.0.0.0"><name>Old</name></vorq_package>\r\n',
    "bin/": None,
    "bin/setup.exe": b"MZ" + b"\0" * 62,
}

S = None
STUB = None         # the plain build output: no archive at its end
NODEF = None        # stub + archive without a usable definition
UNFIXED = None      # the same archive appended without correcting its offsets


def setUpModule():
    global S, STUB, NODEF, UNFIXED
    missing = [n for n in ("setupstub.exe", "uiprobe.exe", "kivagent.exe")
               if not os.path.isfile(os.path.join(BUILD_DIR, n))]
    if missing:
        raise RuntimeError("not built in %s: %s" % (BUILD_DIR, ", ".join(missing)))
    S = winehelp.shared_session(BUILD_DIR)
    folder = os.path.join(S.root, "stub-tests")
    shutil.rmtree(folder, ignore_errors=True)
    STUB = os.path.join(folder, "stub", "setupstub.exe")
    os.makedirs(os.path.dirname(STUB))
    shutil.copyfile(os.path.join(BUILD_DIR, "setupstub.exe"), STUB)
    pkgs = os.path.join(folder, "packages")
    NODEF = S.make_package(STUB, NO_DEFINITION_FILES, os.path.join(pkgs, "nodef.exe"))
    UNFIXED = S.make_package(STUB, NO_DEFINITION_FILES, os.path.join(pkgs, "unfixed.exe"), fix_offsets=False)


def tearDownModule():
    # The session itself is shared with the other modules and ends with the test run.
    if S is not None:
        S.end_all()


def agent_copy(name):
    """kivagent.exe copied under another file name, each in its own folder."""
    folder = os.path.join(S.root, "stub-tests", "agents", name.replace(".", "_"))
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(S.tool("kivagent.exe"), path)
    return path


def command(program, args, agent=None):
    """The argument vector that starts program with args, directly or through an agent."""
    if agent is None:
        return [program] + list(args)
    target = S.to_windows(program) if os.path.isabs(program) else program
    return [agent_copy(agent), target] + list(args)


class StubTestCase(unittest.TestCase):
    def tearDown(self):
        left = S.end_all()
        if left:
            sys.stderr.write("\nended programs left running by %s: %s\n" % (self.id(), left))

    def assertMessageBox(self, controls, text):
        by_id = {c.id: c for c in controls}
        self.assertIn(65535, by_id, "no message text in %r" % (controls,))
        self.assertEqual(by_id[65535].text, text)
        self.assertIn(1, by_id, "no OK button in %r" % (controls,))
        self.assertEqual(by_id[1].cls.lower(), "button")

    def assertUsageDialog(self, controls, close_text):
        texts = [c.text for c in controls]
        for row in USAGE_ROWS:
            self.assertIn(row, texts)
        close = [c for c in controls if c.id == 2]
        self.assertEqual(len(close), 1, "no control with id 2 in %r" % (controls,))
        self.assertEqual(close[0].cls.lower(), "button")
        self.assertEqual(close[0].text, close_text)

    def run_with_message_box(self, argv, caption, text, env=None):
        """Runs argv, expects the message box, dismisses it with OK and returns the exit code."""
        with S.start_program(argv, env=env) as proc:
            controls = proc.wait_window(caption, WAIT_S)
            self.assertMessageBox(controls, text)
            S.click(caption, 1)
            return proc.wait(WAIT_S)


class InvalidArchiveTest(StubTestCase):
    # (program, arguments, started through the agent)
    CASES = [
        ("plain stub", [], None),
        ("plain stub", ["/silent"], None),
        # An archive that cannot be opened ends the run early: neither /dosretcode nor the
        # agent changes the exit code.
        ("plain stub", ["/silent", "/dosretcode"], None),
        ("plain stub", ["/s"], "kivagent.exe"),
        # Offsets counted from the start of the archive instead of the file.
        ("unfixed package", ["/silent"], None),
    ]

    def test_message_1000_is_shown_even_when_silent_and_exit_code_is_0(self):
        programs = {"plain stub": STUB, "unfixed package": UNFIXED}
        for name, args, agent in self.CASES:
            with self.subTest(program=name, args=args, agent=agent):
                rc = self.run_with_message_box(command(programs[name], args, agent),
                                               ENGLISH["box_caption"], ENGLISH["message_1000"])
                self.assertEqual(rc, 0)


class NoDefinitionTest(StubTestCase):
    def test_without_silent_message_1000_is_shown(self):
        for args, expected in [([], 0), (["/dosretcode"], 1)]:
            with self.subTest(args=args):
                rc = self.run_with_message_box(command(NODEF, args), ENGLISH["box_caption"], ENGLISH["message_1000"])
                self.assertEqual(rc, expected)

    def test_silent_shows_no_window(self):
        for args, expected in [(["/silent"], 0), (["/s"], 0), (["/silent", "/dosretcode"], 1)]:
            with self.subTest(args=args):
                r = S.run_without_window(command(NODEF, args), timeout=WAIT_S)
                self.assertEqual(r.returncode, expected)


class UsageDialogTest(StubTestCase):
    # (program, arguments, how the dialog is dismissed)
    CASES = [
        ("package", ["/?"], "click"),
        # Help is decided before anything else, silent or not.
        ("package", ["/help", "/silent"], "click"),
        ("package", ["/?", "/dosretcode"], "click"),
        # ... and before the archive is opened.
        ("plain stub", ["/h"], "click"),
        ("package", ["-help"], "close box"),
    ]

    def test_help_shows_usage_dialog_and_exit_code_is_1(self):
        programs = {"plain stub": STUB, "package": NODEF}
        caption = ENGLISH["usage_caption"]
        for name, args, dismiss in self.CASES:
            with self.subTest(program=name, args=args, dismiss=dismiss):
                with S.start_program(command(programs[name], args)) as proc:
                    controls = proc.wait_window(caption, WAIT_S)
                    self.assertUsageDialog(controls, ENGLISH["close"])
                    if dismiss == "click":
                        S.click(caption, 2)
                    else:
                        S.close(caption)
                    self.assertEqual(proc.wait(WAIT_S), 1)

    def test_screenshot_of_usage_dialog(self):
        caption = ENGLISH["usage_caption"]
        png = os.path.join(ARTEFACTS, "usage-dialog-en.png")
        if os.path.exists(png):
            os.remove(png)
        with S.start_program([NODEF, "/?"]) as proc:
            proc.wait_window(caption, WAIT_S)
            rect = S.rect(caption)
            S.screenshot(png)
            S.click(caption, 2)
            self.assertEqual(proc.wait(WAIT_S), 1)
        self.assertTrue(os.path.isfile(png))
        self.assertEqual(winehelp.image_size(png), S.screen_size())
        (x, y), (w, h) = rect.origin, rect.client
        self.assertGreater(w, 100)
        self.assertGreater(h, 100)
        # The client area holds drawn text and a button, not one flat colour.
        self.assertGreater(winehelp.image_stddev(png, (x, y, x + w, y + h)), 0.02)


class AgentParentTest(StubTestCase):
    # (agent file name or None for a direct start, arguments, exit code)
    CASES = [
        (None, ["/silent"], 0),
        ("kivagent.exe", ["/silent"], 1),
        ("KIVAGENT.EXE", ["/silent"], 1),
        ("kivagent2.exe", ["/silent"], 0),
        ("kivagent.exe", ["/silent", "/dosretcode"], 1),
    ]

    def test_exit_code_is_inverted_when_the_parent_is_kivagent(self):
        for agent, args, expected in self.CASES:
            with self.subTest(agent=agent, args=args):
                r = S.run_without_window(command(NODEF, args, agent), timeout=WAIT_S)
                self.assertEqual(r.returncode, expected, r.stderr)

    def test_agent_inverts_after_message_box(self):
        rc = self.run_with_message_box(command(NODEF, [], "kivagent.exe"),
                                       ENGLISH["box_caption"], ENGLISH["message_1000"])
        self.assertEqual(rc, 1)


class UiLanguageTest(StubTestCase):
    def test_usage_dialog_follows_ui_language(self):
        for locale, texts in UI_LANGUAGES.items():
            with self.subTest(locale=locale):
                env = S.ui_language_env(locale)
                caption = texts["usage_caption"]
                with S.start_program([NODEF, "/?"], env=env) as proc:
                    controls = proc.wait_window(caption, WAIT_S)
                    self.assertUsageDialog(controls, texts["close"])
                    if locale == "ja_JP":
                        S.screenshot(os.path.join(ARTEFACTS, "usage-dialog-ja.png"))
                    S.click(caption, 2)
                    self.assertEqual(proc.wait(WAIT_S), 1)

    def test_message_box_follows_ui_language(self):
        for locale, texts in UI_LANGUAGES.items():
            with self.subTest(locale=locale):
                rc = self.run_with_message_box([STUB], texts["box_caption"], texts["message_1000"],
                                               env=S.ui_language_env(locale))
                self.assertEqual(rc, 0)


class HelperToolsTest(StubTestCase):
    """What the other tests take for granted about Wine and kivagent.exe."""

    def test_exit_code_reaches_linux_directly_and_through_kivagent(self):
        # Wine passes a Windows exit code on modulo 256, except that a non-zero code whose
        # low byte is 0 arrives as 1.
        for code, status in [(0, 0), (7, 7), (255, 255), (256, 1), (300, 44), (-1, 255)]:
            for agent in (None, "kivagent.exe"):
                with self.subTest(code=code, agent=agent):
                    r = S.run(command("cmd.exe", ["/c", "exit", str(code)], agent), timeout=WAIT_S)
                    self.assertEqual(r.returncode, status, r.stderr)

    def test_kivagent_hands_its_command_line_on_unchanged(self):
        # cmd's echo prints the rest of its command line as it was given, quotes included.
        args = ["/c", "echo", "a  b", 'c"d', 'e\\"f', "g\\\\", 'h"i j"', "/silent"]
        direct = S.run(["cmd.exe"] + args, timeout=WAIT_S)
        agent = S.run([agent_copy("kivagent.exe"), "cmd.exe"] + args, timeout=WAIT_S)
        self.assertEqual(direct.returncode, 0, direct.stderr)
        self.assertIn('"a  b"', direct.stdout)
        self.assertEqual(agent.stdout, direct.stdout)
        self.assertEqual(agent.returncode, 0, agent.stderr)


class CommandLineTableTest(StubTestCase):
    def test_every_row_matches_under_the_real_splitter(self):
        probe = os.path.join(BUILD_DIR, "cmdline_probe.exe")
        self.assertTrue(os.path.isfile(probe), "cmdline_probe.exe is not built in %s" % BUILD_DIR)
        r = S.run([probe, S.to_windows(CMDLINE_TABLE)], timeout=300)
        self.assertEqual(r.returncode, 0, "mismatches:\n%s%s" % (r.stdout, r.stderr))


if __name__ == "__main__":
    unittest.main()
