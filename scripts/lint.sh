#!/usr/bin/env bash
# clang-tidy with the checks of .clang-tidy over every source file of the project (`make lint`
# runs it as `scripts/lint.sh build build-bench`): src, tools and tests from the compile
# database of the first tree, bench from that of the benchmark tree, and fuzz from the clang
# tree the fuzz smoke tests build inside the first (when clang's libFuzzer is installed). Files
# the build generates (moc, resources) are left out. Exit status 1 when a check fires.
set -euo pipefail
build=${1:-build}
bench=${2:-build-bench}
root=$(cd "$(dirname "$0")/.." && pwd)
for tree in "$build" "$bench"; do
    if [ ! -f "$tree/compile_commands.json" ]; then
        echo "lint: no $tree/compile_commands.json (configure with CMAKE_EXPORT_COMPILE_COMMANDS=ON)" >&2
        exit 1
    fi
done
tidy=$(command -v run-clang-tidy || command -v run-clang-tidy-14 || true)
if [ -z "$tidy" ]; then
    echo "lint: run-clang-tidy is missing (make deps installs clang-tidy)" >&2
    exit 1
fi
log=$build/clang-tidy.log
start=$SECONDS
status=0
# run-clang-tidy colours its output even into a file: the colours are taken out.
# The headers of each part are checked with it (tests' headers under tests/.clang-tidy).
check() {
    "$tidy" -p "$1" -quiet -j "${JOBS:-$(nproc)}" -header-filter="^$root/$2/.*\.h$" \
        "^$root/$2/" 2>&1 |
        sed 's/\x1b\[[0-9;]*m//g' >>"$log" || status=$?
}
: >"$log"
check "$build" "(src|tools|tests)"
check "$bench" bench
fuzz_tree=$build/tests/smoke_fuzz/tree
if [ -f "$fuzz_tree/compile_commands.json" ]; then
    check "$fuzz_tree" fuzz
else
    echo "lint: no fuzz tree in $build (clang's libFuzzer missing): fuzz/ not checked"
fi
findings=$(grep -c ': \(warning\|error\): ' "$log" || true)
grep -B0 -A3 ': \(warning\|error\): ' "$log" || true
echo "lint: $findings findings in $((SECONDS - start)) s (full output in $log)"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    exit 1
fi
