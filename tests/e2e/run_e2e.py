#!/usr/bin/env python3
"""Runs the end-to-end tests (tests/e2e/test_*.py) against a Windows build under Wine.

    tests/e2e/run_e2e.py --build-dir build/windows [-k PATTERN] [--keep]

Exits 0 when every test passed, 1 otherwise (also when no test ran).
"""

import argparse
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build", "windows"),
                        help="folder with setupstub.exe, uiprobe.exe, kivagent.exe and cmdline_probe.exe")
    parser.add_argument("--artefact-dir", default=os.path.join(REPO, "build", "test-artefacts"),
                        help="folder for screenshots")
    parser.add_argument("-k", dest="patterns", action="append", default=None,
                        help="only tests whose name matches this pattern (repeatable)")
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix and session folder")
    args = parser.parse_args()

    os.environ["E2E_BUILD_DIR"] = os.path.abspath(args.build_dir)
    os.environ["E2E_ARTEFACT_DIR"] = os.path.abspath(args.artefact_dir)
    if args.keep:
        os.environ["E2E_KEEP"] = "1"

    sys.path.insert(0, HERE)
    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [p if "*" in p else "*%s*" % p for p in args.patterns]
    suite = loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    result = unittest.TextTestRunner(verbosity=2).run(suite)

    # A test with failing subtests appears once per failing subtest, and a failed module or
    # class set-up appears as an entry of its own that is not a test; count tests.
    def test_id(test):
        return getattr(test, "test_case", test).id()

    def is_test(test):
        return isinstance(test, unittest.TestCase)

    bad = result.failures + result.errors
    failed_tests = {test_id(t) for t, _ in bad if is_test(t)} | {test_id(t) for t in result.unexpectedSuccesses}
    setup_errors = len([t for t, _ in bad if not is_test(t)])
    skipped = len({test_id(t) for t, _ in result.skipped if is_test(t)})
    passed = max(0, result.testsRun - len(failed_tests) - skipped)
    failed = len(failed_tests) + setup_errors
    print("e2e: %d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
