#!/bin/sh
# run_smoke.sh FUZZER SEEDS WORKDIR SECONDS: runs a fuzz target from its seed corpus for the
# given time in a scratch folder (the seeds in the repository stay untouched). A finding fails
# the test and leaves its input in WORKDIR/findings/.
set -eu
fuzzer=$1 seeds=$2 work=$3 seconds=$4
if [ ! -x "$fuzzer" ]; then
    echo "no fuzz target $fuzzer: the clang build failed, see $(dirname "$(dirname "$fuzzer")")/build.log" >&2
    exit 1
fi
rm -rf "$work"
mkdir -p "$work/corpus" "$work/findings"
exec "$fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/corpus" "$seeds"
