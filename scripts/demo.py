#!/usr/bin/env python3
"""The main job, shown on the demo package: builds demo.exe (the stub with demo/package
appended), then runs the real stub under Wine in a fresh prefix and prints what it did and the
exit codes."""

import argparse
import os
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import winehelp  # noqa: E402


def show(title, result):
    print("$ %s" % title)
    print("  exit code %d" % result.returncode)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build", "windows"))
    args = parser.parse_args()
    stub = os.path.join(args.build_dir, "setupstub.exe")

    with winehelp.WineSession(args.build_dir).start() as session:
        package = os.path.join(session.root, "demo.exe")
        session.make_package(stub, os.path.join(REPO, "demo", "package"), package)
        print("Built the demo package %s (%d bytes): the stub with this archive appended:" %
              (session.to_windows(package), os.path.getsize(package)))
        os.system("unzip -l '%s' 2>/dev/null | sed 's/^/  /'" % package)

        out = session.to_linux("C:\\demo-out")
        os.makedirs(out, exist_ok=True)
        result = session.run_without_window([package, "/extract:C:\\demo-out"], timeout=120)
        show("demo.exe /extract:C:\\demo-out", result)
        for dirpath, dirnames, filenames in os.walk(out):
            dirnames.sort()
            for name in sorted(filenames):
                path = os.path.join(dirpath, name)
                print("  extracted C:\\demo-out\\%s (%d bytes)" %
                      (os.path.relpath(path, out).replace("/", "\\"), os.path.getsize(path)))

        result = session.run_without_window([package, "/silent"], timeout=120)
        show("demo.exe /silent", result)
        print("  (installation runs arrive with the package reader and the installer launch;"
              " until then the stub refuses the run with completion code 0)")
        log = session.to_linux("C:\\riviziduve\\log\\vorqsetup.log")
        if os.path.exists(log):
            print("Shared log C:\\riviziduve\\log\\vorqsetup.log:")
            with open(log, "rb") as f:
                sys.stdout.write(f.read().decode("cp1252", errors="replace"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
