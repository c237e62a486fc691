#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 60)
# on a copy of its committed seed corpus. Prints the executions per target;
# exits nonzero on the first finding (the crashing input is kept in build-fuzz/).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(stream config keys messages)

cmake -S . -B build-fuzz -DQ72_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null

# Inputs of a few hundred bytes reach every interpreter state and every
# column and row overflow; longer ones only repeat them, more slowly.
max_len=512

for t in "${targets[@]}"; do
    work=build-fuzz/corpus/$t
    mkdir -p "$work" build-fuzz/findings
    log=build-fuzz/fuzz_$t.log
    if ! build-fuzz/tests/fuzz/fuzz_"$t" -max_total_time="$seconds" -max_len=$max_len -print_final_stats=1 \
        -artifact_prefix=build-fuzz/findings/"$t"- "$work" tests/fuzz/corpus/"$t" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "fuzz: $t found a fault (see $log)" >&2
        exit 1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $t ran $execs inputs in ${seconds}s, no finding"
done
