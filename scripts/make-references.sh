#!/usr/bin/env bash
# Writes the reference pictures the golden tests compare the readers with: each listed corpus
# file decoded by ImageMagick, not by our readers, and stored as a small 8-bit RGB or RGBA PNG
# at tests/data/references/<format>/<corpus path>.ref.png.
#
# The references hold what the readers are meant to deliver, so they follow the readers' rules:
# pixels as stored (no gamma or colour-profile conversion), 16-bit samples cut to their high
# byte, alpha dropped except in RGB-with-alpha PNGs. Run it again after changing a list below.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${CORPUS:-tests/data/corpus}
out=tests/data/references
command -v convert >/dev/null || { echo "needs ImageMagick's convert" >&2; exit 1; }

# The PNG header's bit depth (byte 24) and colour type (byte 25).
png_byte() { od -An -tu1 -j"$2" -N1 "$1" | tr -d ' '; }

# Decodes PNG $1 into 8-bit samples on stdout: channels $2 (rgb or rgba), bit depth $3. The
# colour space is declared sRGB so that no gamma chunk changes the samples.
decode_png_raw() {
    local file=$1 channels=$2 depth=$3 alpha=()
    [ "$channels" = rgb ] && alpha=(-alpha off)
    if [ "$depth" = 16 ]; then
        # Every other byte of the big-endian 16-bit samples: the high bytes.
        convert "$file" -set colorspace sRGB "${alpha[@]}" -depth 16 -endian MSB "$channels:-" |
            perl -0777 -pe '$_ = pack("C*", unpack("(Cx)*", $_))'
    else
        convert "$file" -set colorspace sRGB "${alpha[@]}" -depth 8 "$channels:-"
    fi
}

# Writes 8-bit samples from stdin as a PNG without gamma, profile or text chunks.
encode_png() {
    local channels=$1 size=$2 target=$3
    mkdir -p "$(dirname "$target")"
    convert -size "$size" -depth 8 "$channels:-" -strip -define png:exclude-chunks=all \
        "PNG${4}:$target"
}

reference_png() {
    local relative=$1 file="$corpus/$1"
    local depth type channels=rgb bits=24
    depth=$(png_byte "$file" 24)
    type=$(png_byte "$file" 25)
    if [ "$type" = 6 ]; then channels=rgba bits=32; fi
    local size
    size=$(identify -format '%wx%h' "$file[0]")
    decode_png_raw "$file" "$channels" "$depth" | encode_png "$channels" "$size" "$out/$relative.ref.png" "$bits"
}

reference_jpeg() {
    local relative=$1 file="$corpus/$1" size
    size=$(identify -format '%wx%h' "$file")
    # CMYK files are converted to RGB by ImageMagick's own rule.
    convert "$file" -depth 8 rgb:- | encode_png rgb "$size" "$out/$relative.ref.png" 24
}

PNG_FILES=(
    png/pngsuite-go-subset/basn0g01.png png/pngsuite-go-subset/basn0g01-30.png
    png/pngsuite-go-subset/basn0g02.png png/pngsuite-go-subset/basn0g02-29.png
    png/pngsuite-go-subset/basn0g04.png png/pngsuite-go-subset/basn0g04-31.png
    png/pngsuite-go-subset/basn0g08.png png/pngsuite-go-subset/basn0g16.png
    png/pngsuite-go-subset/basn2c08.png png/pngsuite-go-subset/basn2c16.png
    png/pngsuite-go-subset/basn3p01.png png/pngsuite-go-subset/basn3p02.png
    png/pngsuite-go-subset/basn3p04.png png/pngsuite-go-subset/basn3p04-31i.png
    png/pngsuite-go-subset/basn3p08.png png/pngsuite-go-subset/basn3p08-trns.png
    png/pngsuite-go-subset/basn4a08.png png/pngsuite-go-subset/basn4a16.png
    png/pngsuite-go-subset/basn6a08.png png/pngsuite-go-subset/basn6a16.png
    png/pngsuite-go-subset/ftbbn0g01.png png/pngsuite-go-subset/ftbbn0g02.png
    png/pngsuite-go-subset/ftbbn0g04.png png/pngsuite-go-subset/ftbbn2c16.png
    png/pngsuite-go-subset/ftbbn3p08.png png/pngsuite-go-subset/ftbgn2c16.png
    png/pngsuite-go-subset/ftbgn3p08.png png/pngsuite-go-subset/ftbrn2c08.png
    png/pngsuite-go-subset/ftbwn0g16.png png/pngsuite-go-subset/ftbwn3p08.png
    png/pngsuite-go-subset/ftbyn3p08.png png/pngsuite-go-subset/ftp0n0g08.png
    png/pngsuite-go-subset/ftp0n2c08.png png/pngsuite-go-subset/ftp0n3p08.png
    png/pngsuite-go-subset/ftp1n3p08.png
    png/pngsuite-libjxl-subset/ccwn2c08.png png/pngsuite-libjxl-subset/ccwn3p08.png
    png/pngsuite-libjxl-subset/ct1n0g04.png png/pngsuite-libjxl-subset/ctjn0g04.png
    png/pngsuite-libjxl-subset/ctzn0g04.png png/pngsuite-libjxl-subset/exif2c08.png
    png/pngsuite-libjxl-subset/g04n2c08.png png/pngsuite-libjxl-subset/g10n3p04.png
    png/go-png-testdata/benchGray.png png/go-png-testdata/benchNRGBA-gradient.png
    png/go-png-testdata/benchPaletted.png png/go-png-testdata/benchRGB-interlace.png
    png/go-png-testdata/gray-gradient.png png/go-png-testdata/gray-gradient.interlaced.png
    png/gdk-pixbuf-edge/dpi.png png/gdk-pixbuf-edge/icc-profile.png
    png/raw-pixls-16bit-crops/DJI-FC6310-16bit_709_v4_krita.png
    png/raw-pixls-16bit-crops/Google-Pixel2XL-16bit_srgb8_v4_krita.png
    png/raw-pixls-16bit-crops/Nikon-D300-12bit_2020_g1_dt.png
    png/raw-pixls-16bit-crops/Sony-DSC-RX1RM2-14bit_srgb8_v4_krita.png
)

JPEG_FILES=(
    jpeg/go-image-testdata/video-001.jpeg jpeg/go-image-testdata/video-001.q50.410.jpeg
    jpeg/go-image-testdata/video-001.q50.411.jpeg jpeg/go-image-testdata/video-001.q50.420.jpeg
    jpeg/go-image-testdata/video-001.q50.422.jpeg jpeg/go-image-testdata/video-001.q50.440.jpeg
    jpeg/go-image-testdata/video-001.221212.jpeg jpeg/go-image-testdata/video-001.rgb.jpeg
    jpeg/go-image-testdata/video-001.cmyk.jpeg jpeg/go-image-testdata/video-005.gray.jpeg
    jpeg/go-image-testdata/video-001.progressive.truncated.jpeg
    jpeg/gdk-pixbuf-edge/dpi.jpeg jpeg/gdk-pixbuf-edge/icc-profile.jpeg
    jpeg/gdk-pixbuf-edge/premature-end.jpg jpeg/misc/sdl2image_sample.jpg
)

for f in "${PNG_FILES[@]}"; do reference_png "$f"; done
for f in "${JPEG_FILES[@]}"; do reference_jpeg "$f"; done 2>/dev/null  # warnings of damaged files
du -sh "$out"
