#!/usr/bin/env python3
"""The main job, shown on the demo package: builds demo.exe (the stub with demo/package
appended), then runs the real stub under Wine in a fresh prefix and prints what it did and the
exit codes."""

import argparse
import os
import shutil
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
        # The demo package: demo/package plus the sample installer built with the stub.
        contents = os.path.join(session.root, "demo-package")
        shutil.copytree(os.path.join(REPO, "demo", "package"), contents)
        shutil.copyfile(os.path.join(args.build_dir, "demoinstall.exe"), os.path.join(contents, "demoinstall.exe"))
        package = os.path.join(session.root, "demo.exe")
        session.make_package(stub, contents, package)
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

        result = session.run_without_window([package, "/silent"], timeout=300)
        show("demo.exe /silent", result)
        log = session.to_linux("C:\\riviziduve\\log\\vorqsetup.log")
        print("\nThe run's section of the shared log C:\\riviziduve\\log\\vorqsetup.log:")
        with open(log, "rb") as f:
            sys.stdout.write(f.read().decode("cp1252", errors="replace"))
        marker = session.to_linux("C:\\riviziduve\\demo\\installed.txt")
        if os.path.exists(marker):
            print("The installer's marker file C:\\riviziduve\\demo\\installed.txt (first lines):")
            with open(marker, "rb") as f:
                for line in f.read().decode("utf-8", errors="replace").splitlines()[:6]:
                    print("  " + line)
        key = "HKLM\\Software\\Dravik\\Version Control\\DravikRevisionManagement\\DemoFirmware"
        query = session.run(["reg", "query", key, "/s"], timeout=60)
        print("\nThe component's registry record (reg query %s /s):" % key)
        out = query.stdout
        sys.stdout.write(out.decode("utf-8", errors="replace") if isinstance(out, bytes) else out)
        print("Exit code of the silent installation: %d" % result.returncode)
    return 0


if __name__ == "__main__":
    sys.exit(main())
