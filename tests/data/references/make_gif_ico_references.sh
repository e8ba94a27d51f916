#!/usr/bin/env bash
# Remakes the GIF and icon reference pictures with ImageMagick, an independent decoder.
#   GIF: the first frame at its own size, alpha dropped (a transparent index keeps its colour).
#   Icons: the entry the viewer chooses (its index in the directory is given below). Pixels
#   that the icon leaves fully transparent are white; the others keep their colour unblended.
#   ImageMagick takes an entry's transparency from its mask, or from the alpha channel of
#   32-bit entries, whose fully transparent pixels are exactly the masked ones in these files.
set -euo pipefail
cd "$(dirname "$0")"
corpus=../corpus
convert=${CONVERT:-/usr/bin/convert}
png=(-strip -define png:color-type=2 -define png:bit-depth=8)

mkdir -p gif ico
for f in gif-test-suite/four-colors gif-test-suite/transparent gif-test-suite/local-color-table \
         gif-test-suite/interlace gif-test-suite/image-inside-bg gif-test-suite/image-outside-bg \
         gif-test-suite/animation gif-test-suite/depth1 gif-test-suite/depth4 gif-test-suite/depth8 \
         gif-test-suite/high-color gif-test-suite/255-codes go-image-testdata/video-001 \
         go-image-testdata/video-005.gray go-image-testdata/video-001.5bpp \
         go-image-testdata/triangle-001 libjxl/traffic_light misc/sdl2image_palette \
         gdk-pixbuf/test-animation gdk-pixbuf/aero; do
    "$convert" "$corpus/gif/$f.gif[0]" -alpha off "${png[@]}" "gif/$(basename "$f").png"
done

while read -r file entry; do
    "$convert" "$corpus/$file[$entry]" \( -clone 0 -alpha off \) \
        \( -clone 0 -alpha extract -threshold 0 -negate \) -delete 0 -compose lighten -composite \
        "${png[@]}" "ico/$(basename "$file").png"
done <<'LIST'
ico/misc/graphicsmagick_favicon.ico 1
ico/misc/sdl2image_sample.ico 0
ico/nsis/llama-blue.ico 0
ico/nsis/classic-install.ico 1
ico/nsis/arrow-install.ico 3
ico/nsis/modern-install.ico 6
ico/nsis/orange-install.ico 8
ico/nsis/nsis3-install.ico 3
ico/nsis/nsis-menu.ico 5
ico/nsis/pixel-install.ico 2
LIST
