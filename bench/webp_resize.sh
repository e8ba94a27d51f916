#!/usr/bin/env bash
# Makes a 12-megapixel (4240 x 2650) lossy WebP from a corpus photograph and times, with wall
# and user+system CPU, the library's own full-size decode (dwebp to PPM, and libwebp's one-call
# decode in a process that writes nothing), the viewer's full-size load, Lumora's batch resize
# to fit 1920 x 1920 as JPEG (and of a 1 x 1 WebP: the start alone), and libvips' full decode
# (vips copy) and resize (vips resize, vips thumbnail). With OLD_BUILD_DIR, that build's batch
# resize runs beside this one's. Every command runs once per round, RUNS rounds, so all see
# the same load; the target is batch resize at most 1.2 x libwebp's own decode.
#
#   bench/webp_resize.sh [BUILD_DIR] [RUNS] [OLD_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
old=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips resize tests/data/corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg \
    "$work/photo.png" 1.65625
cwebp -quiet -q 85 "$work/photo.png" -o "$work/photo.webp"
vips black "$work/one.png" 1 1
cwebp -quiet "$work/one.png" -o "$work/one.webp"
echo "input: $(vipsheader "$work/photo.webp"), $(stat -c %s "$work/photo.webp") bytes;" \
    "$runs rounds; load: $(cut -d' ' -f1-3 /proc/loadavg)"

steps=(
    "dwebp full decode (PPM)|dwebp -quiet -ppm $work/photo.webp -o $work/d.ppm"
    "libwebp decode, nothing written|$build/bench/whole_decode_bench lib $work/photo.webp"
    "viewer whole picture|$build/bench/whole_decode_bench load $work/photo.webp"
    "lumora -resize 1920 1920 (JPEG)|$build/lumora -resize $work/photo.webp 1920 1920 $work/o.jpg"
    "lumora -resize 1 x 1 WebP (start)|$build/lumora -resize $work/one.webp 1920 1920 $work/1.jpg"
)
if [ -n "$old" ]; then
    steps+=(
        "old: lumora -resize 1920 1920 (JPEG)|$old/lumora -resize $work/photo.webp 1920 1920 $work/p.jpg"
        "old: lumora -resize 1 x 1 WebP (start)|$old/lumora -resize $work/one.webp 1920 1920 $work/2.jpg"
    )
fi
steps+=(
    "vips copy (full decode, .v)|vips copy $work/photo.webp $work/v.v"
    "vips resize 0.4528 (JPEG q90)|vips resize $work/photo.webp $work/r.jpg[Q=90] 0.4528"
    "vips thumbnail 1920 (JPEG q90)|vips thumbnail $work/photo.webp $work/t.jpg[Q=90] 1920 --height 1920"
    "ratio:lumora -resize 1920 1920 (JPEG)|libwebp decode, nothing written"
)
[ -n "$old" ] && steps+=("ratio:old: lumora -resize 1920 1920 (JPEG)|libwebp decode, nothing written")
bench/run_times.py "$runs" "${steps[@]}"
