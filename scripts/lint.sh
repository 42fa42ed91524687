#!/usr/bin/env bash
# clang-tidy with the checks of .clang-tidy over every source file of the project in the
# compile database of a build tree (`make lint` runs it as `scripts/lint.sh build`). Files the
# build generates (moc, resources) are left out. Exit status 1 when a check fires.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$build/compile_commands.json" ]; then
    echo "lint: no $build/compile_commands.json (configure with CMAKE_EXPORT_COMPILE_COMMANDS=ON)" >&2
    exit 1
fi
tidy=$(command -v run-clang-tidy || command -v run-clang-tidy-14 || true)
if [ -z "$tidy" ]; then
    echo "lint: run-clang-tidy is missing (make deps installs clang-tidy)" >&2
    exit 1
fi
log=$build/clang-tidy.log
start=$SECONDS
status=0
# run-clang-tidy colours its output even into a file: the colours are taken out.
"$tidy" -p "$build" -quiet -j "${JOBS:-$(nproc)}" "^$root/(src|tools|tests|bench|fuzz)/" 2>&1 |
    sed 's/\x1b\[[0-9;]*m//g' >"$log" || status=$?
findings=$(grep -c ': \(warning\|error\): ' "$log" || true)
grep -B0 -A3 ': \(warning\|error\): ' "$log" || true
echo "lint: $findings findings in $((SECONDS - start)) s (full output in $log)"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    exit 1
fi
