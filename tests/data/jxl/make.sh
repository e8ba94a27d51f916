#!/usr/bin/env bash
# Remakes the JPEG XL test files and their reference pictures from corpus images, with Debian
# 12's cjxl / djxl (libjxl-tools 0.7.0), vips (libvips-tools) and ImageMagick. Run from the
# repository root.
set -euo pipefail
out=tests/data/jxl
corpus=tests/data/corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
photo="$corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg"

# A 160 x 100 photograph, the lossless files' source and reference.
vips thumbnail "$photo" "$tmp/p.png" 160
vips copy "$tmp/p.png" "$out/photo.png[strip]"
# Lossless: must decode to photo.png exactly.
cjxl -q 100 "$out/photo.png" "$out/lossless.jxl" 2>/dev/null
# Lossless with alpha: a 128 x 128 piece of a corpus PNG whose alpha varies; exact, unblended.
vips crop "$corpus/png/go-png-testdata/benchNRGBA-gradient.png" "$out/alpha.png" 64 64 128 128
cjxl -q 100 "$out/alpha.png" "$out/alpha-lossless.jxl" 2>/dev/null
# Lossy, 480 x 300, so that it has two rows of 256 x 256 groups; reference by djxl.
vips thumbnail "$photo" "$tmp/big.png" 480
cjxl -d 2 "$tmp/big.png" "$out/lossy.jxl" 2>/dev/null
djxl "$out/lossy.jxl" "$out/lossy.jxl.png" 2>/dev/null
# Its first 60 % only: a file cut short in its second row of groups.
head -c $(($(stat -c %s "$out/lossy.jxl") * 3 / 5)) "$out/lossy.jxl" >"$out/truncated.jxl"
# Progressive. cjxl 0.7 ignores -p for lossy files, so this one has its DC in a frame of its
# own and its groups centre first; reference by djxl. The lossless one (-p works there: a
# squeezed modular picture) must decode to photo.png exactly.
cjxl -d 2 -p --progressive_dc=1 --group_order=1 "$tmp/big.png" "$out/progressive.jxl" 2>/dev/null
djxl "$out/progressive.jxl" "$out/progressive.jxl.png" 2>/dev/null
cjxl -q 100 -p "$out/photo.png" "$out/progressive-lossless.jxl" 2>/dev/null
# 16-bit lossless (PngSuite basn2c16 without its gAMA chunk, so sRGB); reference: its samples
# rounded to 8 bits by vips.
vips copy "$corpus/png/pngsuite-go-subset/basn2c16.png" "$tmp/d16.png[strip]"
cjxl -q 100 "$tmp/d16.png" "$out/deep16.jxl" 2>/dev/null
vips linear "$tmp/d16.png" "$tmp/d.v" 0.0038910506 0.5
vips cast "$tmp/d.v" "$tmp/du.v" uchar
vips copy "$tmp/du.v" "$out/deep16.jxl.png" --interpretation srgb
# ICC-tagged lossless (Adobe RGB (1998) profile of ghostscript's colour files, assigned to the
# photograph's samples); reference: those samples converted to sRGB by vips.
icc=/usr/share/color/icc/ghostscript/a98.icc
convert "$out/photo.png" -profile "$icc" "$tmp/a98.png"
cjxl -q 100 "$tmp/a98.png" "$out/icc-a98.jxl" 2>/dev/null
vips icc_transform "$out/photo.png" "$out/icc-a98.jxl.png" srgb --input-profile "$icc" \
  --intent perceptual
# Animated, from a corpus GIF (four frames); the first frame is the reference.
cjxl -q 100 "$corpus/gif/libjxl/traffic_light.gif" "$out/animated.jxl" 2>/dev/null
vips copy "$corpus/gif/libjxl/traffic_light.gif[page=0]" "$out/animated.jxl.png"
