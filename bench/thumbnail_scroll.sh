#!/usr/bin/env bash
# The thumbnail pane over a folder of 10,000 small JPEGs (240 x 180, 50 different pictures made
# from the corpus photographs, each copied 200 times) with "MaxThumbsLoad" 1000: the scroll bar
# dragged from top to bottom in DRAG seconds, with a new cache and again with the cache that run
# left. Per run: the longest wait of a mouse move for the event loop (target <= 30 ms), the 99th
# percentile, the longest single event (wall, and the most CPU one event took: on a shared
# machine a long wall time with little CPU is a wait for a core; the driver's line also gives that
# event's own waits and preemptions), the pictures held (the ring: at most 1000), image-list
# entries, RSS after the drag and peak RSS, and the pictures started (more: the loop kept up).
# Also the listing's own time (SetFolder of 10,000 files), one turn of the loop at a folder change.
#
#   bench/thumbnail_scroll.sh [build-dir] [drag seconds...]      (defaults: build, 3 15)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
drags=("$@")
[ ${#drags[@]} -gt 0 ] || drags=(3 15)
folder=${BENCH_DIR:-/tmp/lumora-thumb-bench}/small
driver=$build/bench/thumbnail_scroll_gui_bench
[ -x "$driver" ] || { echo "build $driver first (LUMORA_BENCH on)"; exit 1; }
command -v convert > /dev/null || { echo "needs convert (imagemagick)"; exit 1; }

if [ "$(ls "$folder" 2> /dev/null | wc -l)" -ne 10000 ]; then
    echo "making $folder ..."
    rm -rf "$folder" && mkdir -p "$folder/.src"
    sources=(tests/data/corpus/jpeg/photos-4mp/*.jpg)
    for i in $(seq 0 49); do
        src=${sources[$((i % ${#sources[@]}))]}
        convert "$src" -crop "$((2400 - 20 * i))x$((1800 - 15 * i))+$((3 * i))+0" \
            -resize '240x180!' -quality 85 "$folder/.src/$i.jpg"
    done
    for i in $(seq 0 9999); do cp "$folder/.src/$((i % 50)).jpg" "$folder/s$(printf %05d $i).jpg"; done
    rm -rf "$folder/.src"
fi

cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
printf '%-6s %6s %10s %10s %6s %8s %8s %9s %5s %9s %5s %5s %6s %6s %7s %7s\n' cache drag_s \
    listing_ms refresh_ms moves wait_max wait_p99 event_max type event_cpu type held images \
    rss_mb peak_mb decodes

for drag in "${drags[@]}"; do
    for pass in new kept; do
        [ $pass = new ] && rm -rf "$cache/LumoraCache"
        line=$("$driver" "$folder" "$cache/LumoraCache" "$drag")
        # files N listing_ms X refresh_ms X drag_ms X moves N longest_wait_ms X p99_wait_ms X
        # longest_event_ms X longest_event_type N longest_event_cpu_ms X longest_cpu_type N held N
        # image_list N shown N rss_mb X peak_rss_mb X at_bottom N longest_event_waits N
        # longest_event_preempted N decodes N
        echo "$line" | awk -v pass=$pass -v drag="$drag" '{
            printf "%-6s %6s %10.0f %10.1f %6d %8.1f %8.1f %9.1f %5d %9.1f %5d %5d %6d %6.0f %7.0f %7d\n",
                pass, drag, $4, $6, $10, $12, $14, $16, $18, $20, $22, $24, $26, $30, $32, $40}'
        echo "  $line" >&2
    done
done
