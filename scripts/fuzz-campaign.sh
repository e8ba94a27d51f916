#!/usr/bin/env bash
# A long fuzzing campaign on the developer's machine (not in CI): each target runs until it has
# made 10 million executions or run 2 hours in all, whichever comes first. The work can be
# stopped and resumed: each target's corpus and its running totals live in CAMPAIGN_DIR, so a
# campaign may span several sittings. The totals are also kept in fuzz/campaign.txt, which is
# committed with the merged corpus, so that a campaign carries on from another machine's: a
# target without totals in CAMPAIGN_DIR starts from that file's. A finding stops that target
# and is copied to fuzz/findings/; fix it, keep the input as a seed, and run again.
#
#   scripts/fuzz-campaign.sh [build-dir] [target ...]      runs (or resumes) the campaign
#   scripts/fuzz-campaign.sh --report                       prints the table so far
#   scripts/fuzz-campaign.sh --merge [build-dir]            minimises each campaign corpus into
#                                                           fuzz/corpus/<target> (-merge=1)
#
# It runs at nice 19, which yields to other work only within one scheduling group: started in a
# session of its own (setsid, a service), it gets a group of its own and a full share of the
# processor, unless that group is lowered too (echo 19 > /proc/<pid>/autogroup).
#
# Without targets: every *_decode target and the text parsers (the whole-load *_reader targets
# reach the same parsers through a loader thread at a fifth of the speed; they keep their CI run).
set -euo pipefail
cd "$(dirname "$0")/.."
state=${CAMPAIGN_DIR:-$HOME/.cache/lumora-fuzz-campaign}
max_runs=${CAMPAIGN_RUNS:-10000000}
max_seconds=${CAMPAIGN_SECONDS:-7200}
slice=${CAMPAIGN_SLICE:-1800}  # seconds per sitting of one target, so progress is saved often
mkdir -p "$state"
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

ledger=$PWD/fuzz/campaign.txt
total() { cat "$state/$1/$2" 2>/dev/null || echo 0; }

# The ledger holds a line per target: name, executions, seconds, and its state.
from_ledger() {
    [ -f "$ledger" ] || return 0
    local line
    line=$(awk -v n="$1" '$1 == n' "$ledger")
    [ -n "$line" ] || return 0
    echo "$line" | awk '{print $2}' > "$state/$1/runs"
    echo "$line" | awk '{print $3}' > "$state/$1/seconds"
    case $(echo "$line" | cut -d' ' -f4-) in
        done*) echo "$line" | cut -d' ' -f4- > "$state/$1/status" ;;
    esac
}
# Two campaigns may run side by side (one per core), so the ledger is rewritten under a lock.
to_ledger() {
    local status=running
    [ -f "$state/$1/status" ] && status=$(cat "$state/$1/status")
    (
        flock 9
        touch "$ledger"
        { grep -v "^$1 " "$ledger" || true
          echo "$1 $(total "$1" runs) $(total "$1" seconds) $status"; } | sort > "$ledger.new"
        mv "$ledger.new" "$ledger"
    ) 9> "$state/ledger.lock"
}

report() {
    printf '%-16s %12s %9s %9s %s\n' target execs seconds execs/s state
    for dir in "$state"/*/; do
        [ -d "$dir" ] || continue
        local name runs secs
        name=$(basename "$dir"); runs=$(total "$name" runs); secs=$(total "$name" seconds)
        printf '%-16s %12s %9s %9s %s\n' "$name" "$runs" "$secs" \
            "$([ "$secs" -gt 0 ] && echo $((runs / secs)) || echo -)" "$(cat "$dir/status" 2>/dev/null || echo running)"
    done
}

if [ "${1:-}" = --report ]; then report; exit 0; fi
if [ "${1:-}" = --merge ]; then
    build=${2:-build-fuzz}
    for dir in "$state"/*/; do
        name=$(basename "$dir")
        [ -x "$build/fuzz/${name}_fuzzer" ] && [ -d "$dir/corpus" ] || continue
        merged=$(mktemp -d)
        "$build/fuzz/${name}_fuzzer" -merge=1 -rss_limit_mb=2048 -timeout=20 "$merged" \
            "fuzz/corpus/$name" "$dir/corpus" >/dev/null 2>&1
        rm -rf "fuzz/corpus/$name" && mv "$merged" "fuzz/corpus/$name"
        echo "$name: $(ls "fuzz/corpus/$name" | wc -l) units, $(du -sk "fuzz/corpus/$name" | cut -f1) KiB"
    done
    du -sh fuzz/corpus
    exit 0
fi

build=${1:-build-fuzz}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for fuzzer in "$build"/fuzz/*_fuzzer; do
        name=$(basename "$fuzzer" _fuzzer)
        [[ $name == *_reader ]] || targets+=("$name")
    done
fi
for name in "${targets[@]}"; do
    fuzzer=$build/fuzz/${name}_fuzzer
    dir=$state/$name
    mkdir -p "$dir/corpus"
    [ -f "$dir/runs" ] || from_ledger "$name"
    [ -f "$dir/status" ] && { echo "$name: $(cat "$dir/status")"; continue; }
    [ "$(ls "$dir/corpus" | wc -l)" -eq 0 ] && cp -r "fuzz/corpus/$name/." "$dir/corpus/" 2>/dev/null || true
    format=${name%_decode}
    options=()
    [ -f "fuzz/dict/$format.dict" ] && options+=("-dict=$PWD/fuzz/dict/$format.dict")
    while :; do
        runs=$(total "$name" runs); secs=$(total "$name" seconds)
        if [ "$runs" -ge "$max_runs" ] || [ "$secs" -ge "$max_seconds" ]; then
            echo "done: $runs executions in $secs s, no finding" > "$dir/status"
            to_ledger "$name"; break
        fi
        left=$((max_seconds - secs)); [ $left -gt $slice ] && left=$slice
        log=$dir/last.log
        start=$(date +%s)
        # Findings are written into the target's folder, outside the corpus.
        if (cd "$dir" && nice -n 19 "$OLDPWD/$fuzzer" -runs=$((max_runs - runs)) \
                -max_total_time=$left -print_final_stats=1 -rss_limit_mb=2048 -timeout=20 \
                "${options[@]}" corpus >"$log" 2>&1); then
            found=0
        else
            found=1
        fi
        made=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
        echo $((runs + made)) > "$dir/runs"
        echo $((secs + $(date +%s) - start)) > "$dir/seconds"
        to_ledger "$name"
        if [ $found = 1 ]; then
            mkdir -p fuzz/findings
            cp "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* fuzz/findings/ 2>/dev/null || true
            echo "FINDING after $((runs + made)) executions: see $log" > "$dir/status"
            to_ledger "$name"
            echo "$name: FINDING"; tail -n 30 "$log"
            break
        fi
        echo "$name: $(total "$name" runs) executions, $(total "$name" seconds) s"
    done
done
report
