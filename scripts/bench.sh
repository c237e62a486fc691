#!/usr/bin/env bash
# Builds what the benchmarks need, runs them all and writes docs/performance.md:
# the stream interpreter natively (Google Benchmark), and under Wine, in an
# Xvfb and Wine prefix of its own: the two painters, the port reads, the line
# rate, the capacity and the idle load of q72display.exe; then on the same
# Xvfb the native q72display beside it: start to first frame, line rate,
# capacity, idle load and memory; then its browser panel (--serve): latency to
# a page in headless Chromium, bytes to each viewer, CPU with 8 viewers, and
# capacity with them attached; and, on an Xvfb of its own, the history with a
# page attached: memory over 200,000 lines, and the time a page that connects
# takes to show 10,000 kept ones. About 20 minutes.
#
#   bash scripts/bench.sh [--runs N] [--parts LIST] [--out FILE]
#
# Options go to tests/bench/run_bench.py. Build folders: $BENCH_BUILD (default
# build-bench) and $BENCH_WIN_BUILD (default build-bench-win). Benchmarks are
# not tests: scripts/test.sh does not run them, and the figures depend on the
# machine and on what else it is doing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
native=${BENCH_BUILD:-build-bench}
win=${BENCH_WIN_BUILD:-build-bench-win}
jobs=$(nproc)

echo "== native build: bench_interpreter, q72render, q72modem, q72display"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$native" -j"$jobs" --target bench_interpreter q72render q72modem q72display

echo "== Windows build: q72display.exe, the probe and the benchmark programs"
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$win" -j"$jobs"

echo "== benchmarks"
python3 tests/bench/run_bench.py --native-build "$native" --win-build "$win" "$@"
