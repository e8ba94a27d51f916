#!/usr/bin/env bash
# Remakes the HEIF and AVIF test files and their reference pictures from corpus images, with
# Debian 12's heif-enc / heif-convert (libheif-examples 1.15.1), avifenc / avifdec (libavif-bin)
# and vips (libvips-tools). Run from the repository root.
set -euo pipefail
out=tests/data/heif
corpus=tests/data/corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A 160 x 100 photograph, the source of most files; committed as the lossless files' reference.
vips thumbnail "$corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg" "$tmp/p.png" 160
vips copy "$tmp/p.png" "$out/photo.png[strip]"
# Alpha: a 128 x 128 piece of a corpus PNG with a varying alpha channel.
vips crop "$corpus/png/go-png-testdata/benchNRGBA-gradient.png" "$out/alpha.png" 64 64 128 128
alpha="$out/alpha.png"

# Lossy 8-bit HEIC; reference by heif-convert.
heif-enc -q 60 -o "$out/photo.heic" "$out/photo.png"
heif-convert "$out/photo.heic" "$out/photo.heic.png" >/dev/null
# Lossless 4:4:4 RGB AVIF: must decode to photo.png exactly.
avifenc --lossless -s 8 "$out/photo.png" "$out/photo-lossless.avif" >/dev/null
# Lossless with alpha: must decode to alpha.png exactly, alpha unblended.
avifenc --lossless -s 8 "$alpha" "$out/alpha-lossless.avif" >/dev/null
# Lossy HEIC with alpha; reference by heif-convert.
heif-enc -q 60 -o "$out/alpha.heic" "$alpha"
heif-convert "$out/alpha.heic" "$out/alpha.heic.png" >/dev/null
# 10-bit lossy AVIF; reference: avifdec to 16 bits, rounded to 8 bits by vips.
avifenc -d 10 --min 20 --max 30 -s 8 "$out/photo.png" "$out/deep10.avif" >/dev/null
avifdec -d 16 "$out/deep10.avif" "$tmp/deep16.png" >/dev/null
vips linear "$tmp/deep16.png" "$tmp/deep8.v" 0.0038910506 0.5
vips cast "$tmp/deep8.v" "$tmp/deep8u.v" uchar
vips copy "$tmp/deep8u.v" "$out/deep10.avif.png" --interpretation srgb
# ICC-tagged (Adobe RGB (1998) profile of ghostscript's colour files) lossless AVIF; reference:
# the source's samples taken as that profile and converted to sRGB by vips.
icc=/usr/share/color/icc/ghostscript/a98.icc
avifenc --lossless -s 8 --icc "$icc" "$out/photo.png" "$out/icc-a98.avif" >/dev/null
vips icc_transform "$out/photo.png" "$out/icc-a98.avif.png" srgb --input-profile "$icc" \
  --intent perceptual
# Container transformations on lossless AVIF: a quarter turn anticlockwise (irot), and a crop
# (clap) with a left-right mirror (imir); references by heif-convert.
avifenc --lossless -s 8 --irot 1 "$out/photo.png" "$out/rotated.avif" >/dev/null
heif-convert "$out/rotated.avif" "$out/rotated.avif.png" >/dev/null
avifenc --lossless -s 8 --crop 16,8,100,60 --imir 1 "$out/photo.png" "$out/crop-mirror.avif" \
  >/dev/null
heif-convert "$out/crop-mirror.avif" "$out/crop-mirror.avif.png" >/dev/null
# A lossless grid of 2 x 2 tiles, its alpha a grid too: the canvas sizes come from the grid items.
avifenc --lossless -s 8 -g 2x2 "$out/alpha.png" "$out/grid-alpha.avif" >/dev/null
# overclaiming-overlay.heic is not made here: the fuzz campaign found it (its alpha picture an
# overlay whose canvas claims 29544 x 30307), kept byte for byte.
