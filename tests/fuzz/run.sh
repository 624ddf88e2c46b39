#!/usr/bin/env bash
# Bounded fuzzing for CI: runs the target for SECONDS from the committed
# seeds, keeps libFuzzer's log, and prints its figures; any finding fails.
# Usage: run.sh FUZZER SECONDS SEED_DIR WORK_DIR
set -uo pipefail
fuzzer=$1
seconds=$2
seeds=$3
work=$4
mkdir -p "$work/corpus"
log="$work/fuzz.log"
# New inputs go to the work corpus; the committed seeds are only read.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" "$seeds" >"$log" 2>&1
status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
findings=$(find "$work" -maxdepth 1 -name 'crash-*' -o -maxdepth 1 -name 'leak-*' -o -maxdepth 1 -name 'timeout-*' -o -maxdepth 1 -name 'oom-*' | wc -l)
summary="fuzz: ${runs:-0} executions in ${seconds} s (${rate:-0} exec/s), $(ls "$work/corpus" | wc -l) corpus inputs, exit $status, $findings findings"
echo "$summary" | tee "$work/fuzz-summary.txt"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    # The finding and its stack, without the progress lines before it.
    grep -v -E '^#[0-9]+' "$log" | tail -60
    exit 1
fi
