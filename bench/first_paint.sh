#!/usr/bin/env bash
# Time from process start to the first and the last painted band of the start image, under
# Xvfb, for a 24-megapixel photo and a small one, in resample modes None and Auto; and the
# longest time the event loop went unanswered. The last run of each row also resizes the
# window 0.6 s after start, mid-load, and shows how soon the image pane heard of it (that run
# restarts the load, so its band times are not comparable).
#
#   bench/first_paint.sh [BUILD_DIR] [RUNS]
#
# The pictures are made from a corpus photo with ImageMagick: BMP always, JPEG as well (rows
# show "no band" while the program has no JPEG reader). PHOTO=file takes another photo than
# the repository's tests/data/corpus/jpeg/photos-4mp/plasma_Path_2560x1600.jpg.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
binary=$(realpath "$build/lumora")

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo=${PHOTO:-tests/data/corpus/jpeg/photos-4mp/plasma_Path_2560x1600.jpg}

# A bottom-up 24-bit BMP from ImageMagick's raw RGB, row padding included.
make_bmp() {  # width height output
    convert "$photo" -resize "$1x$2!" -flip -depth 8 rgb:- | python3 -c '
import struct, sys
w, h, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rgb = sys.stdin.buffer.read()
stride = (w * 3 + 3) & ~3
with open(out, "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + stride * h, 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, stride * h, 2835, 2835, 0, 0))
    for y in range(h):
        row = bytearray(rgb[y * w * 3:(y + 1) * w * 3])
        row[0::3], row[2::3] = row[2::3], row[0::3]
        f.write(row + bytes(stride - w * 3))
' "$1" "$2" "$3"
}
make_bmp 6000 4000 "$work/photo-24mp.bmp"
make_bmp 800 500 "$work/photo-small.bmp"
convert "$photo" -resize '6000x4000!' -quality 92 "$work/photo-24mp.jpg"
convert "$photo" -resize '800x500!' -quality 92 "$work/photo-small.jpg"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$XDG_CONFIG_HOME/Lumora"

now() { date +%s.%N; }

printf '%-18s %-5s %12s %12s %14s %16s\n' file mode "first band" "last band" "longest stall" "resize answered"
for file in photo-small.bmp photo-24mp.bmp photo-small.jpg photo-24mp.jpg; do
    for mode in None Auto; do
        command=$([ $mode = None ] && echo 40012 || echo 40016)
        for run in $(seq $((runs + 1))); do
            printf '[Software\\Lumora]\n"ImageResample"=dword:%08x\n' "$command" \
                > "$XDG_CONFIG_HOME/Lumora/Lumora.reg"
            log="$work/log"
            start=$(now)
            LUMORA_PAINT_LOG=1 "$binary" "$work/$file" 2>"$log" &
            pid=$!
            resized=""
            if [ "$run" -gt "$runs" ]; then
                # Mid-load, resize the window and see when the pane hears of it.
                sleep 0.6
                window=$(xdotool search --onlyvisible --name '^Lumora' | head -1 || true)
                if [ -n "$window" ]; then
                    resized=$(now)
                    xdotool windowsize "$window" 1100 900
                fi
            fi
            sleep 4
            kill -TERM $pid
            wait $pid || true
            python3 - "$start" "${resized:-0}" "$log" "$file" "$mode" <<'EOF'
import sys
start, resized, log, name, mode = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
first = last = size = None
stall = "?"
for line in open(log, errors="replace"):
    parts = line.split()
    if line.startswith("lumora-progress"):
        t, a, b, painted = float(parts[1]), int(parts[2]), int(parts[3]), int(parts[4])
        if (a, b) != (0, 0) and painted and first is None:
            first = t
        if (a, b) == (0, 0) and first is not None:
            last = t
    elif line.startswith("lumora-size") and resized and size is None and float(parts[1]) >= resized:
        size = float(parts[1])
    elif line.startswith("lumora-longest-gap"):
        stall = parts[1] + " ms"
ms = lambda t: "%.0f ms" % ((t - start) * 1000) if t else "no band"
answered = "%.0f ms" % ((size - resized) * 1000) if size else "-"
print("%-18s %-5s %12s %12s %14s %16s" % (name, mode, ms(first), ms(last), stall, answered))
EOF
        done
    done
done
