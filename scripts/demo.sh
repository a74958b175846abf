#!/usr/bin/env bash
# The main job on a fresh Debian machine (as root): installs what is missing, builds both
# trees, then runs the real stub on the demo package under Wine and prints what it did.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
bash scripts/build.sh >/dev/null
python3 scripts/demo.py --build-dir build/windows
