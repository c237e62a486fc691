#!/usr/bin/env python3
"""Runs the end-to-end tests of the native program under Xvfb (no Wine).

    python3 tests/native/run.py --native-build DIR [-k PATTERN] [--keep]

Every test_*.py beside this file contributes its test_* functions, run in file
and definition order; each takes the shared Env (gtk_harness.py). -k selects
tests whose "module.function" name contains PATTERN (repeatable). Exits 0 when
all selected tests pass, 1 when one fails or none is selected, 2 when the
harness cannot start. The runner itself is the Windows tests' (tests/e2e/run.py).
"""

import argparse
import importlib.util
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# The browser tests' Selenium, websockets and PIL load only in Debian's own
# Python; another python3 first on PATH hands over to it.
SYSTEM_PYTHON = "/usr/bin/python3"
if os.path.exists(SYSTEM_PYTHON) and os.path.realpath(sys.executable) != os.path.realpath(
        SYSTEM_PYTHON):
    os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the source tree clean

import gtk_harness  # noqa: E402  (puts tests/e2e on the path)

# The Windows runner, loaded under another name: both files are run.py.
_found = importlib.util.spec_from_file_location(
    "e2e_run", os.path.join(os.path.dirname(HERE), "e2e", "run.py"))
e2e_run = importlib.util.module_from_spec(_found)
_found.loader.exec_module(e2e_run)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--native-build", required=True, help="native build folder")
    parser.add_argument("-k", action="append", default=[], metavar="PATTERN",
                        help="run only tests whose name contains PATTERN")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()

    tests = e2e_run.collect(args.k, HERE)
    if not tests:
        print("no test matches %s" % args.k)
        return 1
    started = time.monotonic()
    try:
        env = gtk_harness.Env(args.native_build, keep=args.keep)
    except Exception as error:
        print("native: cannot start: %s" % error)
        return 2
    print("native: display %s" % env.display)
    return e2e_run.run_tests(tests, env, "native", args.keep, started)


if __name__ == "__main__":
    sys.exit(main())
