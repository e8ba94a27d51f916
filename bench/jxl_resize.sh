#!/usr/bin/env bash
# Makes a 12-megapixel (4240 x 2650) lossy JPEG XL file from a corpus photograph and times, with
# wall and user+system CPU, the library's own full-size decode (djxl to PPM, on one thread as
# Lumora decodes, and on its default threads), Lumora's batch resize to fit 1920 x 1920 as
# JPEG, and libvips' full decode (vips copy) and resize (vips resize, vips thumbnail).
#
#   bench/jxl_resize.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips resize tests/data/corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg \
    "$work/photo.png" 1.65625
cjxl -d 1 -e 7 "$work/photo.png" "$work/photo.jxl" 2>/dev/null
echo "input: $(vipsheader "$work/photo.jxl"), $(stat -c %s "$work/photo.jxl") bytes; best of $runs"

. bench/best_of.sh
measure() {
    local name=$1 wall cpu
    shift
    read -r wall cpu <<<"$(best_of "$runs" "$work" "$@")"
    printf "%-34s %8.2f %10.2f\n" "$name" "$wall" "$cpu"
}

printf "%-34s %8s %10s\n" "step" "wall s" "cpu s"
measure "djxl full decode (PPM, 1 thread)" djxl --num_threads=1 "$work/photo.jxl" "$work/d.ppm"
measure "djxl full decode (PPM, default)" djxl "$work/photo.jxl" "$work/d.ppm"
measure "lumora -resize 1920 1920 (JPEG)" "$build/lumora" -resize "$work/photo.jxl" 1920 1920 \
    "$work/out.jpg"
measure "vips copy (full decode, .v)" vips copy "$work/photo.jxl" "$work/v.v"
measure "vips resize 0.4528 (JPEG q90)" vips resize "$work/photo.jxl" "$work/r.jpg[Q=90]" 0.4528
measure "vips thumbnail 1920 (JPEG q90)" vips thumbnail "$work/photo.jxl" "$work/t.jpg[Q=90]" \
    1920 --height 1920
