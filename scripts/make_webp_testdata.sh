#!/usr/bin/env bash
# Makes the WebP test files in tests/data/webp from corpus pictures, and the reference pixels of
# the lossy ones with dwebp, an independent decoder. Needs the webp package (cwebp, dwebp,
# gif2webp, webpmux). Run from anywhere; the files are committed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=$root/tests/data/corpus
out=$root/tests/data/webp
mkdir -p "$out"
# A photograph brought to 160 x 100 (ImageMagick), kept as the lossless file's source.
photo=$out/photo.png
convert "$corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg" -resize 160x100 -strip \
    PNG24:"$photo"
alpha=$corpus/png/pngsuite-go-subset/basn6a08.png                          # 32 x 32, RGBA
anim=$corpus/gif/gdk-pixbuf/test-animation.gif                             # 17 x 17, 3 frames

cwebp -quiet -lossless -exact "$photo" -o "$out/lossless.webp"
cwebp -quiet -lossless -exact "$alpha" -o "$out/alpha-lossless.webp"
cwebp -quiet -q 80 "$photo" -o "$out/lossy.webp"
cwebp -quiet -q 80 -alpha_q 100 "$alpha" -o "$out/alpha-lossy.webp"
gif2webp -quiet "$anim" -o "$out/animated.webp"
dwebp -quiet "$out/lossy.webp" -o "$out/lossy-dwebp.png"
dwebp -quiet "$out/alpha-lossy.webp" -o "$out/alpha-lossy-dwebp.png"
webpmux -get frame 1 "$out/animated.webp" -o /tmp/lumora-frame1.webp
# The first frame covers 16 x 16 of the 17 x 17 canvas, whose background is transparent black.
dwebp -quiet /tmp/lumora-frame1.webp -o /tmp/lumora-frame1.png
convert /tmp/lumora-frame1.png -background '#00000000' -extent 17x17 PNG32:"$out/animated-dwebp.png"
rm -f /tmp/lumora-frame1.png
rm -f /tmp/lumora-frame1.webp
# A file cut in the middle of its picture data.
head -c "$(( $(stat -c %s "$out/lossy.webp") / 2 ))" "$out/lossy.webp" > "$out/truncated.webp"
# overclaiming-animation.webp is not made here: the fuzz campaign found it (a mutation of
# animated.webp whose canvas claims 17 x 15,400,706), kept byte for byte.
