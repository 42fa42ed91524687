#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for FUZZ_SECONDS
# (default 600). The working corpus of each target lives in build-fuzz/corpus/<target>, seeded
# from fuzz/corpus/<target>; a crash leaves its input in build-fuzz/findings/<target>/.
#   FUZZ_SECONDS=60 make fuzz             # a shorter run
#   FUZZ_TARGETS=settings_file make fuzz  # one target
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-600}
targets=${FUZZ_TARGETS:-$(ls fuzz/corpus)}  # every target has a seed folder of its name

command -v clang++ >/dev/null || { echo "fuzz: clang++ is not installed" >&2; exit 1; }
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKESTREL_FUZZ=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}"

status=0
for t in $targets; do
    corpus="$build/corpus/$t"
    findings="$build/findings/$t"
    mkdir -p "$corpus" "$findings"
    log="$build/fuzz-$t.log"
    echo "fuzz: $t for ${seconds}s (log $log)"
    if ! "$build/fuzz/${t}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" -max_len=4096 "$corpus" "$root/fuzz/corpus/$t" \
        >"$log" 2>&1; then
        status=1
        echo "fuzz: $t FOUND A FAULT; input in $findings/" >&2
        grep -E "INVARIANT|SETTINGS FAULT|ERROR: |runtime error" "$log" | head -5 >&2 || true
    fi
    # The last status line carries the coverage (cov:) and the executions.
    grep -E "^#[0-9]+" "$log" | tail -1 || true
    grep -E "stat::number_of_executed_units|stat::average_exec_per_sec" "$log" || true
done
exit $status
