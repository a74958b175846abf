"""End-to-end tests of extract-only runs: the real stub extracts a package made by Info-ZIP, and
the result must match, byte for byte, in modification times and in the read-only state, what
Info-ZIP's unzip extracts from the same file."""

import os
import shutil
import stat
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winehelp  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.path.abspath(os.environ.get("E2E_BUILD_DIR", os.path.join(REPO, "build", "windows")))

S = None
WORK = None
PACKAGE = None     # stub + archive of TREE, offsets fixed
ALTERED = None     # the same package with a byte of stored data changed
REFERENCE = None   # what unzip extracts from PACKAGE

# The package tree. Names are bytes: the archive carries names in the Windows ANSI code page, so
# the non-ASCII name is written in Windows-1252 ("café Überblick.txt").
ANSI_NAME = b"caf\xe9 \xdcberblick.txt"
TREE = {
    b"setup.exe": b"MZ" + bytes(range(256)) * 40,
    b"firmware/image.bin": bytes((i * 97 + 13) % 256 for i in range(70000)),
    b"firmware/notes.txt": b"Release notes\r\n" * 400,
    b"docs/read me.txt": b"A name with a blank.\r\n",
    b"docs/" + ANSI_NAME: b"Non-ASCII name in Windows-1252.\r\n",
    b"locked/readonly.cfg": b"setting=1\r\n",
}
EMPTY_FOLDER = b"empty"
READ_ONLY = b"locked/readonly.cfg"


def build_package(tree, out_path):
    """Archives the tree with Info-ZIP zip (.bin stored, the rest deflated; no extra fields, so
    both extractors go by the MS-DOS time), appends it to the stub and fixes its offsets."""
    src = os.path.join(WORK, "src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(os.path.join(src.encode(), EMPTY_FOLDER))
    for name, data in tree.items():
        path = os.path.join(src.encode(), name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.chmod(os.path.join(src.encode(), READ_ONLY), 0o444)
    archive = os.path.join(WORK, "payload.zip")
    if os.path.exists(archive):
        os.remove(archive)
    env = dict(os.environ, LANG="C", LC_ALL="C")
    subprocess.run(["zip", "-q", "-r", "-X", "-n", ".bin", archive, "."], cwd=src, env=env, check=True)
    shutil.copyfile(os.path.join(BUILD_DIR, "setupstub.exe"), out_path)
    with open(out_path, "ab") as out, open(archive, "rb") as inp:
        out.write(inp.read())
    subprocess.run(["zip", "-q", "-A", out_path], check=True)
    return out_path


def snapshot(root):
    """{relative name (bytes): (kind, content, mtime, writable)} of everything below root."""
    result = {}
    root_b = root.encode() if isinstance(root, str) else root
    for dirpath, dirnames, filenames in os.walk(root_b):
        for d in dirnames:
            rel = os.path.relpath(os.path.join(dirpath, d), root_b)
            result[rel] = ("folder", None, None, None)
        for f in filenames:
            path = os.path.join(dirpath, f)
            st = os.stat(path)
            with open(path, "rb") as fh:
                data = fh.read()
            rel = os.path.relpath(path, root_b)
            result[rel] = ("file", data, int(st.st_mtime), bool(st.st_mode & stat.S_IWUSR))
    return result


def stub_names_to_bytes(snap):
    """Wine writes the stub's wide names as UTF-8; unzip wrote the archive's bytes as they are.
    Bring the stub's names back to Windows-1252 bytes so both snapshots compare."""
    return {name.decode("utf-8").encode("cp1252"): value for name, value in snap.items()}


def setUpModule():
    global S, WORK, PACKAGE, ALTERED, REFERENCE
    S = winehelp.shared_session(BUILD_DIR)
    WORK = os.path.join(S.root, "extract-tests")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    PACKAGE = build_package(TREE, os.path.join(WORK, "pkg.exe"))
    REFERENCE = os.path.join(WORK, "reference")
    subprocess.run(["unzip", "-q", PACKAGE, "-d", REFERENCE], env=dict(os.environ, LANG="C", LC_ALL="C"),
                   check=True)
    # Alter one byte inside the stored image.bin data: its CRC no longer matches.
    with open(PACKAGE, "rb") as f:
        data = bytearray(f.read())
    marker = TREE[b"firmware/image.bin"][1000:1032]
    at = data.find(marker)
    assert at > 0, "the stored entry's data is not in the package"
    data[at] ^= 0xFF
    ALTERED = os.path.join(WORK, "altered.exe")
    with open(ALTERED, "wb") as f:
        f.write(data)


def tearDownModule():
    if S is not None:
        S.end_all()


class ExtractOnlyTest(unittest.TestCase):
    def target(self, name):
        winpath = "C:\\extract-tests\\" + name
        linux = S.to_linux(winpath)
        shutil.rmtree(linux, ignore_errors=True)
        return winpath, linux

    def test_extraction_matches_unzip_in_bytes_times_and_attributes(self):
        winpath, linux = self.target("good")
        os.makedirs(linux)
        result = S.run_without_window([PACKAGE, "/extract:" + winpath], timeout=120)
        self.assertEqual(result.returncode, 1)
        expected = snapshot(REFERENCE)
        got = stub_names_to_bytes(snapshot(linux))
        self.assertEqual(sorted(got), sorted(expected))
        for name, want in expected.items():
            self.assertEqual(got[name], want, name)
        self.assertIn(b"docs/" + ANSI_NAME, got)
        self.assertEqual(got[EMPTY_FOLDER][0], "folder")
        self.assertFalse(got[READ_ONLY][3], "the read-only file stays read-only")
        self.assertTrue(got[b"setup.exe"][3])

    def test_missing_folder_fails_and_writes_nothing(self):
        winpath, linux = self.target("missing")
        before = snapshot(S.to_linux("C:\\extract-tests")) if os.path.isdir(S.to_linux("C:\\extract-tests")) else {}
        for args in (["/extract:" + winpath], ["/extract:" + winpath, "/dosretcode"], ["/extract:"]):
            result = S.run_without_window([PACKAGE] + args, timeout=120)
            self.assertEqual(result.returncode, 0, args)
        self.assertFalse(os.path.exists(linux))
        after = snapshot(S.to_linux("C:\\extract-tests")) if os.path.isdir(S.to_linux("C:\\extract-tests")) else {}
        self.assertEqual(before, after)

    def test_altered_package_fails(self):
        winpath, linux = self.target("altered")
        os.makedirs(linux)
        result = S.run_without_window([ALTERED, "/extract:" + winpath], timeout=120)
        self.assertEqual(result.returncode, 0)


if __name__ == "__main__":
    unittest.main()
