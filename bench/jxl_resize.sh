#!/usr/bin/env bash
# Makes a 12-megapixel (4240 x 2650) lossy JPEG XL file from a corpus photograph and times, with
# wall and user+system CPU, the library's own full-size decode (djxl to PPM, on one thread as
# Lumora decodes, and on its default threads), Lumora's batch resize to fit 1920 x 1920 as
# JPEG, and libvips' full decode (vips copy) and resize (vips resize, vips thumbnail). With
# OLD_BUILD_DIR, that build's batch resize runs beside this one's. Every command runs once per
# round, RUNS rounds, so all see the same load.
#
#   bench/jxl_resize.sh [BUILD_DIR] [RUNS] [OLD_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
old=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips resize tests/data/corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg \
    "$work/photo.png" 1.65625
cjxl -d 1 -e 7 "$work/photo.png" "$work/photo.jxl" 2>/dev/null
echo "input: $(vipsheader "$work/photo.jxl"), $(stat -c %s "$work/photo.jxl") bytes;" \
    "$runs rounds; load: $(cut -d' ' -f1-3 /proc/loadavg)"

steps=(
    "djxl full decode (PPM, 1 thread)|djxl --num_threads=1 $work/photo.jxl $work/d.ppm"
    "djxl full decode (PPM, default)|djxl $work/photo.jxl $work/e.ppm"
    "lumora -resize 1920 1920 (JPEG)|$build/lumora -resize $work/photo.jxl 1920 1920 $work/o.jpg"
)
[ -n "$old" ] && steps+=(
    "old: lumora -resize 1920 1920 (JPEG)|$old/lumora -resize $work/photo.jxl 1920 1920 $work/p.jpg")
steps+=(
    "vips copy (full decode, .v)|vips copy $work/photo.jxl $work/v.v"
    "vips resize 0.4528 (JPEG q90)|vips resize $work/photo.jxl $work/r.jpg[Q=90] 0.4528"
    "vips thumbnail 1920 (JPEG q90)|vips thumbnail $work/photo.jxl $work/t.jpg[Q=90] 1920 --height 1920"
    "ratio:lumora -resize 1920 1920 (JPEG)|djxl full decode (PPM, 1 thread)"
    "ratio:lumora -resize 1920 1920 (JPEG)|vips resize 0.4528 (JPEG q90)"
)
[ -n "$old" ] && steps+=("ratio:old: lumora -resize 1920 1920 (JPEG)|vips resize 0.4528 (JPEG q90)")
bench/run_times.py "$runs" "${steps[@]}"
