#!/usr/bin/env bash
# Runs every test on a fresh Debian machine (as root): installs what is missing, builds both
# trees, runs the native unit tests, then the end-to-end tests of the real stub under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/install-deps.sh
bash scripts/build.sh

echo "== native unit tests"
(cd build/native && ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)")

echo "== end-to-end tests of build/windows/setupstub.exe under Wine"
python3 tests/e2e/run_e2e.py --build-dir build/windows
