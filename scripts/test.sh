#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the native build: unit tests (GoogleTest) and tool tests, under CTest;
#   2. the native program end to end under Xvfb (no Wine), and its demo,
#      headless: it must link and save its screenshot;
#   3. the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. each fuzz target for a bounded time (FUZZ_SECONDS, default 60);
#   5. the Windows program, cross-built and tested end to end under Wine;
#   6. the demo, headless, as a new user would first run it: from a fresh
#      folder with no Wine prefix; it must link, and save its screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

# headless_demo SCRIPT SECONDS: runs a demo with no display in a fresh folder,
# as a new user's first run would; it must link and save its screenshot.
headless_demo() {
    local demo
    demo=$(mktemp -d)
    env -u DISPLAY bash "$1" --duration "$2" --out "$demo/out" | tee "$demo/demo.log"
    grep -qx 'demo: link: Q72 Linked' "$demo/demo.log" || { echo "$1: did not link" >&2; exit 1; }
    identify "$demo/out/screenshot.png" || { echo "$1: no screenshot" >&2; exit 1; }
    rm -rf "$demo"
}

echo "== native build and tests"
cmake -S . -B build >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== the native program under Xvfb"
python3 tests/native/run.py --native-build build
headless_demo scripts/demo-native.sh 2

echo "== unit tests under ASan and UBSan"
cmake -S . -B build-asan -DQ72_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j"$jobs" --target unit_tests
build-asan/tests/unit/unit_tests --gtest_brief=1

echo "== fuzzing"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}" stream config keys

echo "== the Windows program under Wine"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build-win -j"$jobs"
python3 tests/e2e/run.py --native-build build --win-build build-win

echo "== the demo, headless, from a fresh folder"
headless_demo scripts/demo.sh 3
