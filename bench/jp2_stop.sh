#!/usr/bin/env bash
# Makes two 24-megapixel (6000 x 4000) JPEG 2000 files from the corpus photograph, one single
# tile and one in 1024 x 1024 tiles (opj_compress, lossy 9/7 at 12:1, from libopenjp2-tools),
# and prints how long StopLoad blocks when the load is left part-way (jp2_stop_bench).
#
#   bench/jp2_stop.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v opj_compress >/dev/null || apt-get install -y -qq libopenjp2-tools >/dev/null
opj_decompress -i tests/data/corpus/jp2/glymur/nemo.jp2 -o "$work/nemo.ppm" >/dev/null
convert "$work/nemo.ppm" -resize '6000x4000!' "$work/photo.ppm"
opj_compress -i "$work/photo.ppm" -o "$work/single-tile-24mp.jp2" -I -r 12 >/dev/null
opj_compress -i "$work/photo.ppm" -o "$work/tiled-1024-24mp.jp2" -I -r 12 -t 1024,1024 >/dev/null
"$build/bench/jp2_stop_bench" "$work/single-tile-24mp.jp2" "$work/tiled-1024-24mp.jp2"
