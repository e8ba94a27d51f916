#!/usr/bin/env bash
# The 24-megapixel JPEG under each Exif orientation: the viewer's first band, the whole picture,
# and batch resize's load into 1920 x 1920 (bench/orientation_bench.cpp says what each measures),
# as one table of wall and user+system CPU milliseconds per load, each beside orientation 1's,
# and the peak resident memory of a process running that one case.
#
# Every case runs in its own process, once per round, the rounds interleaving the orientations so
# that a busy machine slows them alike; the table gives the median of the rounds.
#
#   bench/orientation.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-5}
bench=$build/bench/orientation_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" --make-photos
for round in $(seq "$rounds"); do
    for kind in FirstBand Whole Resize1920; do
        for o in 1 2 3 4 5 6 7 8; do
            /usr/bin/time -o "$work/time" -f "%M" "$bench" --benchmark_filter="^$kind/$o/" \
                --benchmark_format=csv >"$work/csv" 2>/dev/null
            # name, iterations, real_time, cpu_time (milliseconds), ...; then the peak in KiB.
            row=$(grep "^\"$kind/$o/" "$work/csv" | cut -d, -f3,4)
            [ -n "$row" ] || { echo "$kind/$o did not run" >&2; exit 1; }
            echo "$kind $o ${row/,/ } $(tail -1 "$work/time")" >>"$work/all"
        done
    done
done

awk -v rounds="$rounds" '
function median(list, n,    a, i, j, t) {
    n = split(list, a, " ")
    for (i = 2; i <= n; ++i)
        for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
{
    key = $1 " " $2
    wall[key] = wall[key] " " $3
    cpu[key] = cpu[key] " " $4
    if ($5 > peak[key]) peak[key] = $5
}
END {
    printf "6000 x 4000 JPEG, median of %d rounds; x: against orientation 1\n", rounds
    printf "%-10s %3s %9s %6s %9s %6s %9s\n", "case", "o", "wall ms", "x", "cpu ms", "x", "peak MiB"
    split("FirstBand Whole Resize1920", kinds, " ")
    for (k = 1; k <= 3; ++k) {
        w1 = median(wall[kinds[k] " 1"]); c1 = median(cpu[kinds[k] " 1"])
        for (o = 1; o <= 8; ++o) {
            key = kinds[k] " " o
            w = median(wall[key]); c = median(cpu[key])
            printf "%-10s %3d %9.1f %6.2f %9.1f %6.2f %9.1f\n", kinds[k], o, w, w / w1, c, c / c1,
                   peak[key] / 1024
        }
    }
}' "$work/all"
