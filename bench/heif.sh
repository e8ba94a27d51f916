#!/usr/bin/env bash
# Makes a 12-megapixel (4000 x 3000) HEIC (heif-enc, quality 80) and AVIF (avifenc, quality
# 60-ish) from a corpus photograph and prints, per file, wall and user+system CPU seconds (best
# of RUNS) for: libheif's own full-size decode to RGB, the viewer's full-size load (time to the
# whole picture), batch resize to fit 1920 x 1920 as JPEG q90, vips copy (a full decode) and
# vips resize to the same size (scale 0.48); then how long a stop blocks when the load of each
# is left part-way through its decode (jp2_stop_bench).
#
#   bench/heif.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips resize tests/data/corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg \
  "$work/big.png[strip]" 1.5625 --vscale 1.875
heif-enc -q 80 -o "$work/photo-12mp.heic" "$work/big.png" >/dev/null
avifenc -s 6 --min 15 --max 25 -j all "$work/big.png" "$work/photo-12mp.avif" >/dev/null

. bench/best_of.sh
measure() { best_of "$runs" "$work" "$@"; }

printf '%-18s %-26s %7s %7s\n' file step wall_s cpu_s
for f in "$work/photo-12mp.heic" "$work/photo-12mp.avif"; do
  n=$(basename "$f")
  printf '%-18s %-26s %s\n' "$n" "libheif decode to RGB" "$(measure "$build/bench/whole_decode_bench" lib "$f")"
  printf '%-18s %-26s %s\n' "$n" "viewer whole picture" "$(measure "$build/bench/whole_decode_bench" load "$f")"
  printf '%-18s %-26s %s\n' "$n" "lumora -resize 1920" "$(measure "$build/lumora" -resize "$f" 1920 1920 "$work/out.jpg")"
  printf '%-18s %-26s %s\n' "$n" "vips copy (full decode)" "$(measure vips copy "$f" "$work/out.v")"
  printf '%-18s %-26s %s\n' "$n" "vips resize to 1920" "$(measure vips resize "$f" "$work/vout.jpg[Q=90]" 0.48)"
done
echo
"$build/bench/jp2_stop_bench" "$work/photo-12mp.heic" "$work/photo-12mp.avif"
