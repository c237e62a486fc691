#!/usr/bin/env python3
"""Runs the end-to-end tests of q72display.exe under Wine.

    python3 tests/e2e/run.py --native-build DIR --win-build DIR [-k PATTERN] [--keep]

Every test_*.py beside this file contributes its test_* functions, run in file
and definition order; each takes the shared Env. -k selects tests whose
"module.function" name contains PATTERN (repeatable: any match selects).
Exits 0 when all selected tests pass, 1 when one fails or none is selected,
2 when the harness cannot start.
"""

import argparse
import importlib
import os
import sys
import time
import traceback
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the source tree clean

import harness  # noqa: E402


def collect(patterns, folder=HERE):
    """The test functions of the test_*.py files in `folder` (on sys.path);
    those a module imports from another are left to that one."""
    tests = []
    for file_name in sorted(os.listdir(folder)):
        if not (file_name.startswith("test_") and file_name.endswith(".py")):
            continue
        module = importlib.import_module(file_name[:-3])
        for name, function in vars(module).items():
            if (name.startswith("test_") and callable(function)
                    and function.__module__ == module.__name__):
                full_name = "%s.%s" % (module.__name__, name)
                if not patterns or any(p in full_name for p in patterns):
                    tests.append((full_name, function))
    return tests


def run_tests(tests, env, label, keep, started):
    """Runs each test with `env`, ending what it left running, then closes
    `env`; prints a line per test and the totals. Returns the exit status."""
    failed, skipped = [], []
    try:
        for name, function in tests:
            test_started = time.monotonic()
            try:
                function(env)
                outcome = "PASS"
            except unittest.SkipTest as reason:
                outcome = "SKIP (%s)" % reason
                skipped.append(name)
            except Exception:
                outcome = "FAIL"
                failed.append(name)
                traceback.print_exc(file=sys.stdout)
            finally:
                env.end_test()
            print("%s %s (%.1f s)" % (outcome, name, time.monotonic() - test_started), flush=True)
    finally:
        if keep:
            print("%s: kept %s" % (label, env.root))
        env.close()
    print("%s: %.1f s in all" % (label, time.monotonic() - started))
    if failed:
        print("failed: " + " ".join(failed))
    print("%d passed, %d failed%s" % (len(tests) - len(failed) - len(skipped), len(failed),
                                     ", %d skipped" % len(skipped) if skipped else ""))
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--native-build", required=True, help="native build folder (q72render)")
    parser.add_argument("--win-build", required=True, help="cross build folder (the .exe files)")
    parser.add_argument("-k", action="append", default=[], metavar="PATTERN",
                        help="run only tests whose name contains PATTERN")
    parser.add_argument("--keep", action="store_true",
                        help="keep the temporary folder (prefix, logs, captures)")
    args = parser.parse_args()

    tests = collect(args.k)
    if not tests:
        print("no test matches %s" % args.k)
        return 1

    started = time.monotonic()
    try:
        env = harness.Env(args.native_build, args.win_build, keep=args.keep)
    except Exception as error:
        print("e2e: cannot start: %s" % error)
        return 2
    print("e2e: display %s, prefix ready in %.1f s" % (env.display, time.monotonic() - started))
    return run_tests(tests, env, "e2e", args.keep, started)


if __name__ == "__main__":
    sys.exit(main())
