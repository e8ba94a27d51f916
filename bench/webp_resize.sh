#!/usr/bin/env bash
# Makes a 12-megapixel (4240 x 2650) lossy WebP from a corpus photograph and times, with wall
# and user+system CPU, the library's own full-size decode (dwebp to PPM, and libwebp's one-call
# decode in a process that writes nothing), the viewer's full-size load, Lumora's batch resize
# to fit 1920 x 1920 as JPEG, and libvips' full decode (vips copy) and resize (vips thumbnail).
#
#   bench/webp_resize.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips resize tests/data/corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg \
    "$work/photo.png" 1.65625
cwebp -quiet -q 85 "$work/photo.png" -o "$work/photo.webp"
echo "input: $(vipsheader "$work/photo.webp"), $(stat -c %s "$work/photo.webp") bytes; best of $runs"

. bench/best_of.sh
measure() {
    local name=$1 wall cpu
    shift
    read -r wall cpu <<<"$(best_of "$runs" "$work" "$@")"
    printf "%-34s %8.2f %10.2f\n" "$name" "$wall" "$cpu"
}

printf "%-34s %8s %10s\n" "step" "wall s" "cpu s"
measure "dwebp full decode (PPM)" dwebp -quiet -ppm "$work/photo.webp" -o "$work/d.ppm"
measure "libwebp decode, nothing written" "$build/bench/whole_decode_bench" lib "$work/photo.webp"
measure "viewer whole picture" "$build/bench/whole_decode_bench" load "$work/photo.webp"
measure "lumora -resize 1920 1920 (JPEG)" "$build/lumora" -resize "$work/photo.webp" 1920 1920 \
    "$work/out.jpg"
measure "vips copy (full decode, .v)" vips copy "$work/photo.webp" "$work/v.v"
measure "vips resize 0.4528 (JPEG q90)" vips resize "$work/photo.webp" "$work/r.jpg[Q=90]" 0.4528
measure "vips thumbnail 1920 (JPEG q90)" vips thumbnail "$work/photo.webp" "$work/t.jpg[Q=90]" \
    1920 --height 1920
