# Sourced by the bench scripts. best_of RUNS SCRATCH COMMAND...: runs COMMAND RUNS times, its
# output discarded, and prints the best wall time with that run's user+system CPU: "wall cpu".
best_of() {
    local runs=$1 scratch=$2 best="" line
    shift 2
    for _ in $(seq "$runs"); do
        /usr/bin/time -o "$scratch/time" -f "%e %U %S" "$@" >/dev/null 2>&1
        line=$(tail -1 "$scratch/time")
        best=$(printf '%s\n%s\n' "$best" "$line" | awk 'NF==3' | sort -n | head -1)
    done
    awk '{printf "%7.2f %7.2f", $1, $2 + $3}' <<<"$best"
}
