#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for the given number of seconds, starting from its
# saved seeds, and prints executions per second. Fails on the first finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-30}
status=0
for fuzzer in "$build"/fuzz/*_fuzzer; do
    name=$(basename "$fuzzer" _fuzzer)
    work=$(mktemp -d)
    cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    log=$(mktemp)
    if (cd "$work" && "$OLDPWD/$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
            -rss_limit_mb=2048 -timeout=20 "$work" >"$log" 2>&1); then
        rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
        printf '%-16s %8s execs/s %10s runs, no finding\n' "$name" "$rate" "$runs"
    else
        echo "FINDING in $name:"
        tail -n 60 "$log"
        mkdir -p fuzz/findings
        cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* fuzz/findings/ 2>/dev/null || true
        status=1
    fi
    rm -rf "$work" "$log"
done
exit $status
