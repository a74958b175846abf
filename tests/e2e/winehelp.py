"""Harness for the end-to-end tests: runs the real Windows stub under Wine on a private X server.

One WineSession owns a fresh Wine prefix in a temporary folder, its own Xvfb display and the
prefix's wineserver. It runs Windows programs with a time limit, runs them in the background
while a test reads and drives their windows through uiprobe.exe, converts paths between Linux
and the prefix's drive letters, builds packages (stub + appended ZIP archive) and takes
screenshots of the display.

Every Windows process started through the session carries a run tag in its environment; Wine
hands the environment on to the processes a program starts, so a run that hangs is ended
together with everything it started, by process id, and nothing else of the machine is touched.

Exit codes: Wine gives the Windows exit code as the Linux exit status. Codes 0 to 255 come through
unchanged; larger codes come through modulo 256, except that a non-zero code whose low byte is 0
(256, 512, 0x80000000) arrives as 1.
"""

import atexit
import collections
import os
import re
import secrets
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WINE = shutil.which("wine") or "/usr/bin/wine"
WINESERVER = shutil.which("wineserver") or "/usr/bin/wineserver"
XVFB = shutil.which("Xvfb") or "/usr/bin/Xvfb"
IMPORT = shutil.which("import") or "/usr/bin/import"
# /usr/bin/convert is ImageMagick itself; an entry earlier in PATH may be a stand-in.
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else (shutil.which("convert") or "convert")

RUN_TAG_VAR = "E2E_RUN_TAG"

Result = collections.namedtuple("Result", "returncode stdout stderr")
Control = collections.namedtuple("Control", "id cls text")
Window = collections.namedtuple("Window", "pid cls title")
Rect = collections.namedtuple("Rect", "window client origin")


WINE_TRAY_CLASS = "__winex11_standalone_tray"

# Service start types (the Start value of a service's key).
SERVICE_AUTO_START = 2
SERVICE_DEMAND_START = 3
SERVICE_DISABLED = 4
# Service states as sc reports them.
SERVICE_STOPPED = 1
SERVICE_RUNNING = 4


class WineError(Exception):
    """The harness could not do what it was asked (prefix, display, tool failure)."""


class WineTimeout(AssertionError):
    """A Windows program did not end in time; it was ended, and so was everything it started."""

    def __init__(self, what, timeout, windows=(), stdout="", stderr=""):
        self.windows = list(windows)
        self.stdout = stdout
        self.stderr = stderr
        lines = ["%s did not end within %.0f s (it has been ended)" % (what, timeout)]
        if self.windows:
            lines.append("windows open at that moment:")
            lines.extend("  pid %s  %s  %r" % (w.pid, w.cls, w.title) for w in self.windows)
        else:
            lines.append("no visible windows at that moment")
        if stdout:
            lines.append("stdout: %s" % stdout.strip())
        if stderr:
            lines.append("stderr: %s" % stderr.strip())
        super().__init__("\n".join(lines))


def _unescape(field):
    """Reverses uiprobe's escaping of backslash, tab, carriage return and line feed."""
    out = []
    i = 0
    while i < len(field):
        ch = field[i]
        if ch == "\\" and i + 1 < len(field):
            nxt = field[i + 1]
            out.append({"\\": "\\", "t": "\t", "r": "\r", "n": "\n"}.get(nxt, "\\" + nxt))
            i += 2
        else:
            out.append(ch)
            i += 1
    return "".join(out)


def _split_records(text, fields):
    records = []
    for line in text.splitlines():
        if not line:
            continue
        parts = line.split("\t")
        if len(parts) != fields:
            raise WineError("uiprobe printed a malformed line: %r" % line)
        records.append([_unescape(p) for p in parts])
    return records


def _tagged_pids(tags):
    """Linux process ids whose environment carries one of the given run tags (a tag or a set)."""
    wanted = {tags} if isinstance(tags, str) else set(tags)
    if not wanted:
        return []
    prefix = RUN_TAG_VAR.encode() + b"="
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = f.read()
        except OSError:
            continue
        for var in env.split(b"\0"):
            if var.startswith(prefix) and var[len(prefix):].decode(errors="replace") in wanted:
                pids.append(int(entry))
                break
    return pids


def _kill_pids(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


class WineProcess:
    """A Windows program running in the background. Use as a context manager: leaving the
    block ends the program (and whatever it started) if it is still running."""

    def __init__(self, session, popen, tag, what, out_path, err_path):
        self._session = session
        self._popen = popen
        self.tag = tag
        self.what = what
        self._out_path = out_path
        self._err_path = err_path
        self.returncode = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()
        return False

    def poll(self):
        rc = self._popen.poll()
        if rc is not None:
            self.returncode = rc
        return rc

    def output(self):
        """(stdout, stderr) written so far."""
        with open(self._out_path, "rb") as f:
            out = f.read().decode("utf-8", "replace")
        with open(self._err_path, "rb") as f:
            err = f.read().decode("utf-8", "replace")
        return out, err

    def wait(self, timeout=60):
        """Waits for the program to end and returns its exit code. When it does not end in
        time, ends it and raises WineTimeout naming the windows that were open."""
        try:
            self.returncode = self._popen.wait(timeout)
        except subprocess.TimeoutExpired:
            windows = self._session.list_windows()
            self.kill()
            out, err = self.output()
            raise WineTimeout(self.what, timeout, windows, out, err)
        # The program may have left something it started behind; end that too.
        _kill_pids(_tagged_pids(self.tag))
        return self.returncode

    def kill(self):
        if self._popen.poll() is None:
            try:
                os.killpg(self._popen.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        _kill_pids(_tagged_pids(self.tag))
        try:
            self.returncode = self._popen.wait(10)
        except subprocess.TimeoutExpired:
            pass

    def wait_window(self, title, timeout=30):
        """Waits for a visible top-level window with exactly this title and returns its
        controls. Fails at once when the program ends without showing it."""
        deadline = time.monotonic() + timeout
        while True:
            controls = self._session.find_window(title, wait_ms=500)
            if controls is not None:
                return controls
            rc = self.poll()
            if rc is not None:
                out, err = self.output()
                raise AssertionError(
                    "%s ended with exit code %d without showing a window titled %r\nstdout: %s\nstderr: %s"
                    % (self.what, rc, title, out.strip(), err.strip()))
            if time.monotonic() >= deadline:
                windows = self._session.list_windows()
                raise AssertionError(
                    "no window titled %r appeared within %.0f s while %s was running; open windows: %r"
                    % (title, timeout, self.what, [w.title for w in windows]))


class WineSession:
    """A fresh Wine prefix, its wineserver and a private Xvfb display."""

    def __init__(self, tools_dir, keep=False, screen="1024x768x24"):
        self.tools_dir = os.path.abspath(tools_dir)
        self.keep = keep
        self.screen = screen
        self.root = None
        self.prefix = None
        self.display = None
        self._xvfb = None
        self._server = None
        self._tags = set()
        self._locales = {}
        self._stopped = False

    # ---- lifetime -------------------------------------------------------------------

    def start(self):
        self.root = tempfile.mkdtemp(prefix="setupstub-e2e-")
        self.prefix = os.path.join(self.root, "prefix")
        os.mkdir(self.prefix)
        os.mkdir(os.path.join(self.root, "runs"))
        # Whatever ends the test run, the display, the server and the programs go with it.
        atexit.register(self.stop)
        try:
            self._start_xvfb()
            self._make_prefix()
        except BaseException:
            self.stop()
            raise
        return self

    @property
    def stopped(self):
        return self._stopped

    def stop(self):
        if self._stopped:
            return
        self._stopped = True
        _kill_pids(_tagged_pids(self._tags))
        if self.prefix and os.path.isdir(self.prefix):
            subprocess.run([WINESERVER, "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30, check=False)
        if self._server is not None:
            try:
                self._server.wait(15)
            except subprocess.TimeoutExpired:
                self._server.kill()
                self._server.wait(5)
            self._server = None
        if self._xvfb is not None:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait(5)
            self._xvfb = None
        if self.root and not self.keep:
            # The prefix's drive links (z: is /) are unlinked, never followed.
            shutil.rmtree(self.root, ignore_errors=True)
        elif self.root:
            sys.stderr.write("kept the Wine session folder %s\n" % self.root)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False

    def _start_xvfb(self):
        # -displayfd lets the server pick a free display number and tell us which.
        rfd, wfd = os.pipe()
        try:
            with open(os.path.join(self.root, "xvfb.log"), "wb") as log:
                self._xvfb = subprocess.Popen(
                    [XVFB, "-displayfd", str(wfd), "-screen", "0", self.screen, "-nolisten", "tcp", "-noreset"],
                    pass_fds=(wfd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log,
                    start_new_session=True)
            os.close(wfd)
            wfd = -1
            data = b""
            deadline = time.monotonic() + 30
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self._xvfb.poll() is not None:
                    raise WineError("Xvfb did not start (see %s/xvfb.log)" % self.root)
                ready, _, _ = select.select([rfd], [], [], left)
                if ready:
                    chunk = os.read(rfd, 64)
                    if not chunk:
                        raise WineError("Xvfb closed its display pipe without a display number")
                    data += chunk
            self.display = ":" + data.decode().strip()
        finally:
            os.close(rfd)
            if wfd >= 0:
                os.close(wfd)

    def _make_prefix(self):
        env = self.env()
        # Output goes to files: the prefix's services inherit the handles and outlive the
        # program, so a pipe would never reach its end.
        log = os.path.join(self.root, "wineboot.log")
        with open(log, "wb") as out:
            r = subprocess.run([WINE, "wineboot", "-i"], env=env, cwd=self.root, stdin=subprocess.DEVNULL,
                               stdout=out, stderr=subprocess.STDOUT, timeout=300, check=False)
        if r.returncode != 0:
            raise WineError("wineboot -i failed (%d), see %s" % (r.returncode, log))
        subprocess.run([WINESERVER, "-w"], env=env, timeout=300, check=True)
        if not os.path.isdir(os.path.join(self.prefix, "drive_c", "windows")):
            raise WineError("wineboot did not create the prefix in %s" % self.prefix)
        self._start_server()
        # Windows servers start the WMI service with the system; a new prefix starts it only on
        # demand, and installation runs stop when it does not run.
        state = self.set_service("winmgmt", SERVICE_AUTO_START)
        if state != SERVICE_RUNNING:
            raise WineError("the WMI service of the new prefix does not run (state %r)" % state)

    def _start_server(self):
        env = self.env()
        # Keep one server alive for the whole session, so that each program does not pay
        # for starting the server and the prefix's services again.
        self._server = subprocess.Popen([WINESERVER, "-f", "-p"], env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        # The first program on a new server also starts the prefix's services and the desktop
        # process. Start them here, without a run tag, so that ending a test's programs never
        # ends them.
        log = os.path.join(self.root, "warmup.log")
        with open(log, "wb") as out:
            r = subprocess.run([WINE, self.to_windows(self.tool("uiprobe.exe")), "list"], env=env, cwd=self.root,
                               stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, timeout=120,
                               check=False)
        if r.returncode != 0:
            raise WineError("the first program in the new prefix failed (%d), see %s" % (r.returncode, log))

    # ---- environment and paths ------------------------------------------------------

    def env(self, extra=None):
        """The environment for a Wine process of this session: English C.UTF-8 locale
        unless extra says otherwise (see ui_language_env)."""
        env = {k: v for k, v in os.environ.items()
               if not (k.startswith("LC_") or k in ("LANG", "LANGUAGE", "LOCPATH", "DISPLAY")
                       or k.startswith("WINE"))}
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": os.environ.get("E2E_WINEDEBUG", "-all"),
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "DISPLAY": self.display or "",
            "LANG": "C.UTF-8",
        })
        if extra:
            env.update(extra)
        return env

    def ui_language_env(self, locale_name):
        """Environment that makes Wine take the given Unix locale (for example "ja_JP") as the
        user interface language. Wine derives the UI language from the LC_MESSAGES locale, and
        only a locale that the C library can load counts, so the locale is compiled into the
        session folder with localedef and named through LOCPATH."""
        full = locale_name + ".UTF-8"
        if locale_name not in self._locales:
            locdir = os.path.join(self.root, "locales")
            os.makedirs(locdir, exist_ok=True)
            # localedef may end with status 1 over harmless warnings; what counts is the result.
            r = subprocess.run(["localedef", "-i", locale_name, "-f", "UTF-8", os.path.join(locdir, full)],
                               capture_output=True, timeout=120, check=False)
            if not os.path.isdir(os.path.join(locdir, full, "LC_MESSAGES")):
                raise WineError("cannot build the locale %s with localedef (%d): %s"
                                % (full, r.returncode, r.stderr.decode(errors="replace")))
            self._locales[locale_name] = locdir
        return {"LOCPATH": self._locales[locale_name], "LANG": full, "LC_ALL": full}

    def to_windows(self, path):
        """Linux path -> Windows path in this prefix (C: for drive_c, Z: for everything else)."""
        path = os.path.abspath(path)
        drive_c = os.path.join(self.prefix, "drive_c")
        if path == drive_c or path.startswith(drive_c + os.sep):
            rest = path[len(drive_c):]
            return "C:" + (rest.replace("/", "\\") or "\\")
        return "Z:" + path.replace("/", "\\")

    def to_linux(self, winpath):
        """Windows path with a drive letter -> Linux path, through the prefix's dosdevices."""
        if len(winpath) < 2 or winpath[1] != ":":
            raise ValueError("not a drive path: %r" % winpath)
        target = os.path.realpath(os.path.join(self.prefix, "dosdevices", winpath[0].lower() + ":"))
        rest = winpath[2:].replace("\\", "/").lstrip("/")
        return os.path.join(target, rest) if rest else target

    def tool(self, name):
        path = os.path.join(self.tools_dir, name)
        if not os.path.isfile(path):
            raise WineError("missing tool %s" % path)
        return path

    # ---- running programs -----------------------------------------------------------

    def _command(self, argv):
        # A Linux path to a program becomes its Windows path; other arguments pass as given.
        program = argv[0]
        if os.sep in program and os.path.exists(program):
            program = self.to_windows(program)
        return [WINE, program] + [str(a) for a in argv[1:]]

    def _new_tag(self):
        tag = secrets.token_hex(8)
        self._tags.add(tag)
        return tag

    def run(self, argv, timeout=60, env=None, cwd=None):
        """Runs a Windows program to its end and returns Result(returncode, stdout, stderr).
        A program that does not end in time is ended and WineTimeout raised."""
        proc = self.start_program(argv, env=env, cwd=cwd)
        with proc:
            rc = proc.wait(timeout)
            out, err = proc.output()
        return Result(rc, out, err)

    def start_program(self, argv, env=None, cwd=None):
        """Starts a Windows program in the background and returns its WineProcess."""
        tag = self._new_tag()
        run_dir = os.path.join(self.root, "runs", tag)
        os.mkdir(run_dir)
        out_path = os.path.join(run_dir, "stdout")
        err_path = os.path.join(run_dir, "stderr")
        full_env = self.env(env)
        full_env[RUN_TAG_VAR] = tag
        cmd = self._command(argv)
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            popen = subprocess.Popen(cmd, env=full_env, cwd=cwd or self.root, stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=err, start_new_session=True)
        what = " ".join([os.path.basename(argv[0])] + [str(a) for a in argv[1:]])
        return WineProcess(self, popen, tag, what, out_path, err_path)

    def end_all(self):
        """Ends every program that this session started and that is still running.
        Returns the Linux process ids that had to be ended."""
        left = _tagged_pids(self._tags)
        _kill_pids(left)
        return left

    def run_without_window(self, argv, timeout=60, env=None):
        """Runs a program that must show no window. Watches the display while it runs; a new
        visible top-level window fails the run at once (the program is ended and the window
        named). Returns the Result of a run that ended by itself."""
        baseline = set(self.list_windows())
        proc = self.start_program(argv, env=env)
        deadline = time.monotonic() + timeout
        with proc:
            while proc.poll() is None:
                # Wine shows notification-area icons in a small window of its own when there
                # is no desktop tray; that window belongs to Wine, not to the program.
                new = [w for w in self.list_windows() if w not in baseline and w.cls != WINE_TRAY_CLASS]
                if new and proc.poll() is None:
                    proc.kill()
                    raise AssertionError("%s showed a window: %s" % (
                        proc.what, ", ".join("%r (%s)" % (w.title, w.cls) for w in new)))
                if time.monotonic() >= deadline:
                    windows = self.list_windows()
                    proc.kill()
                    out, err = proc.output()
                    raise WineTimeout(proc.what, timeout, windows, out, err)
                time.sleep(0.1)
            rc = proc.wait(10)
            out, err = proc.output()
        return Result(rc, out, err)

    # ---- services -------------------------------------------------------------------

    def service_state(self, name):
        """The current state of a service of the prefix as sc reports it (1 stopped, 2 start
        pending, 4 running, ...), or None when sc cannot query it."""
        r = self.run(["sc", "query", name], timeout=60)
        found = re.search(r"STATE\s*:\s*(\d+)", r.stdout)
        return int(found.group(1)) if r.returncode == 0 and found else None

    def set_service(self, name, start_type):
        """Gives a service of the prefix a start type and restarts the prefix's server and
        services so that the service manager takes it (every program of the session ends with
        them): an automatic service then runs, a disabled one stays stopped. Returns the state sc
        then reports."""
        key = "HKLM\\System\\CurrentControlSet\\Services\\" + name
        r = self.run(["reg", "add", key, "/v", "Start", "/t", "REG_DWORD", "/d", str(start_type), "/f"], timeout=60)
        if r.returncode != 0:
            raise WineError("cannot set the start type of %s: %s" % (name, r.stderr.strip()))
        # The service manager reads start types when it starts, so it must start again.
        self.end_all()
        env = self.env()
        subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60, check=False)
        subprocess.run([WINESERVER, "-w"], env=env, timeout=60, check=False)
        if self._server is not None:
            self._server.wait(15)
        self._start_server()
        if start_type == SERVICE_AUTO_START:
            # Automatic services start while the manager starts; wait for it rather than race.
            self.run(["sc", "start", name], timeout=60)
        return self.service_state(name)

    # ---- windows --------------------------------------------------------------------

    def probe(self, *args, timeout=60):
        return self.run([self.tool("uiprobe.exe")] + [str(a) for a in args], timeout=timeout)

    def find_window(self, title, wait_ms=0):
        """Controls of the window titled exactly `title` (a list of Control), or None when no
        such window appears within wait_ms milliseconds."""
        r = self.probe("wait", title, int(wait_ms), timeout=wait_ms / 1000.0 + 60)
        if r.returncode == 1:
            return None
        if r.returncode != 0:
            raise WineError("uiprobe wait failed (%d): %s" % (r.returncode, r.stderr))
        return [Control(int(i), cls, text) for i, cls, text in _split_records(r.stdout, 3)]

    def click(self, title, control_id):
        r = self.probe("click", title, control_id)
        if r.returncode != 0:
            raise AssertionError("cannot click control %d of %r: %s" % (control_id, title, r.stderr.strip()))

    def close(self, title):
        r = self.probe("close", title)
        if r.returncode != 0:
            raise AssertionError("cannot close %r: %s" % (title, r.stderr.strip()))

    def rect(self, title):
        """Rect(window=(left, top, right, bottom), client=(width, height), origin=(x, y)) of the
        window, in screen pixels; origin is the top left corner of the client area."""
        r = self.probe("rect", title)
        if r.returncode != 0:
            raise AssertionError("no window %r to measure: %s" % (title, r.stderr.strip()))
        rec = {fields[0]: tuple(int(v) for v in fields[1:])
               for fields in (line.split("\t") for line in r.stdout.splitlines())}
        return Rect(rec["window"], rec["client"], rec["origin"])

    def list_windows(self):
        # A probe started while Wine is busy starting or ending other programs can fail
        # without cause; a few attempts tell that from a real failure.
        for attempt in range(3):
            r = self.probe("list")
            if r.returncode == 0:
                break
            time.sleep(0.2)
        if r.returncode != 0:
            raise WineError("uiprobe list failed (%d): %s" % (r.returncode, r.stderr))
        return [Window(int(pid), cls, title) for pid, cls, title in _split_records(r.stdout, 3)]

    # ---- screenshots ----------------------------------------------------------------

    def screen_size(self):
        width, height = self.screen.split("x")[:2]
        return int(width), int(height)

    def screenshot(self, path):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        subprocess.run([IMPORT, "-window", "root", "-display", self.display, path],
                       env=self.env(), capture_output=True, timeout=60, check=True)
        return path

    # ---- packages -------------------------------------------------------------------

    def make_package(self, stub_path, files, out_path, fix_offsets=True, store=False):
        """Builds a package: a copy of the stub with a ZIP archive appended.

        files: a dict of entry name -> bytes (names may contain "/"; a name ending in "/"
        with the value None makes a folder entry), written in the dict's order; or the path
        of a folder whose tree is archived in sorted order. The archive is made by Info-ZIP
        zip, appended with cat and, unless fix_offsets is false, its offsets corrected for
        the stub in front of it with zip -A."""
        work = tempfile.mkdtemp(prefix="pkg-", dir=self.root)
        try:
            src = os.path.join(work, "src")
            names = []
            if isinstance(files, dict):
                os.mkdir(src)
                for name, data in files.items():
                    target = os.path.join(src, *name.rstrip("/").split("/"))
                    if name.endswith("/"):
                        os.makedirs(target, exist_ok=True)
                    else:
                        os.makedirs(os.path.dirname(target), exist_ok=True)
                        with open(target, "wb") as f:
                            f.write(data)
                    names.append(name)
            else:
                shutil.copytree(files, src)
                for dirpath, dirnames, filenames in os.walk(src):
                    dirnames.sort()
                    rel = os.path.relpath(dirpath, src)
                    for fn in sorted(filenames):
                        names.append(fn if rel == "." else rel.replace(os.sep, "/") + "/" + fn)
            archive = os.path.join(work, "package.zip")
            zip_cmd = ["zip", "-q", "-X", "-@"] + (["-0"] if store else []) + [archive]
            subprocess.run(zip_cmd, cwd=src, input="\n".join(names).encode() + b"\n",
                           capture_output=True, timeout=120, check=True)
            os.makedirs(os.path.dirname(os.path.abspath(out_path)), exist_ok=True)
            shutil.copyfile(stub_path, out_path)
            with open(out_path, "ab") as out:
                subprocess.run(["cat", archive], stdout=out, timeout=120, check=True)
            if fix_offsets:
                subprocess.run(["zip", "-q", "-A", out_path], capture_output=True, timeout=120, check=True)
                test = subprocess.run(["unzip", "-tq", out_path], capture_output=True, timeout=120)
                if test.returncode != 0:
                    raise WineError("the package %s does not test clean: %s" % (out_path, test.stdout.decode()))
            os.chmod(out_path, 0o755)
            return out_path
        finally:
            shutil.rmtree(work, ignore_errors=True)


_shared = None


def missing_in_order(text, parts):
    """None when every part occurs in text, each after the one before; otherwise a description
    of the first part that does not."""
    at = 0
    for part in parts:
        found = text.find(part, at)
        if found == -1:
            return "missing %r after position %d in:\n%s" % (part, at, text)
        at = found + len(part)
    return None


def shared_session(tools_dir):
    """The one session of this test run, started on first use and shared by every test
    module; it ends when the interpreter exits. E2E_KEEP=1 keeps its folder."""
    global _shared
    if _shared is None or _shared.stopped:
        _shared = WineSession(tools_dir, keep=bool(os.environ.get("E2E_KEEP"))).start()
    elif os.path.abspath(tools_dir) != _shared.tools_dir:
        raise WineError("the shared session uses the tools in %s, not %s" % (_shared.tools_dir, tools_dir))
    return _shared


def image_stddev(png, box=None):
    """Standard deviation of the pixel values (0..1) of a PNG, or of the box
    (left, top, right, bottom) in it: 0 for a single flat colour."""
    cmd = [CONVERT, png]
    if box is not None:
        left, top, right, bottom = box
        cmd += ["-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage"]
    cmd += ["-format", "%[fx:standard_deviation]", "info:"]
    r = subprocess.run(cmd, capture_output=True, timeout=60, check=True)
    return float(r.stdout.decode().strip())


def image_size(png):
    r = subprocess.run(["identify", "-format", "%w %h", png], capture_output=True, timeout=60, check=True)
    w, h = r.stdout.decode().split()
    return int(w), int(h)
