#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build, starting from its saved seeds and with its format's
# dictionary (fuzz/dict/<format>.dict), and prints executions per second. Fails on the first
# finding, which is copied to fuzz/findings/.
#
#   scripts/fuzz.sh [build-dir] [seconds] [whole-load seconds]
#
# The reader-level (*_decode) and text parser targets run for `seconds` each; the slower
# whole-load (*_reader) targets, which cover the loader's resampling paths, for the third
# argument (default: the same).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-30}
whole_seconds=${3:-$seconds}
# New corpus units are written as they are found: memory-backed storage keeps that cheap.
scratch=/tmp
[ -w /dev/shm ] && scratch=/dev/shm
status=0
# Leaks of the decoding libraries themselves are not findings of ours.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
printf '%-16s %8s %10s %s\n' target execs/s runs result
for fuzzer in "$build"/fuzz/*_fuzzer; do
    name=$(basename "$fuzzer" _fuzzer)
    format=${name%_reader}
    format=${format%_decode}
    limit=$seconds
    [[ $name == *_reader ]] && limit=$whole_seconds
    options=()
    [ -f "fuzz/dict/$format.dict" ] && options+=("-dict=$PWD/fuzz/dict/$format.dict")
    work=$(mktemp -d -p "$scratch")
    cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    log=$(mktemp)
    if (cd "$work" && "$OLDPWD/$fuzzer" -max_total_time="$limit" -print_final_stats=1 \
            -rss_limit_mb=2048 -timeout=20 "${options[@]}" "$work" >"$log" 2>&1); then
        rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
        printf '%-16s %8s %10s no finding in %s s\n' "$name" "$rate" "$runs" "$limit"
    else
        echo "FINDING in $name:"
        tail -n 60 "$log"
        mkdir -p fuzz/findings
        cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* fuzz/findings/ \
            2>/dev/null || true
        status=1
    fi
    rm -rf "$work" "$log"
done
exit $status
