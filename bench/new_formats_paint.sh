#!/usr/bin/env bash
# The viewer's time from process start to the first painted band and to the whole picture, for
# a 12-megapixel (4000 x 3000) WebP, HEIC and AVIF and, for scale, a JPEG of the same photo,
# under Xvfb, in resample modes None and Auto. Each file is alone in its folder, so nothing is
# pre-loaded after it. "cpu" is the process's user+system time from its start until half a
# second after the whole picture was painted.
#
#   bench/new_formats_paint.sh [BUILD_DIR] [RUNS]
#
# The files are made from a corpus photo with libvips and the encoders of Debian's packages
# (cwebp -q 85, heif-enc -q 80, avifenc as bench/heif.sh, ImageMagick -quality 92).
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
vips resize tests/data/corpus/jpeg/photos-4mp/plasma_ColorfulCups_2560x1600.jpg \
    "$work/big.png[strip]" 1.5625 --vscale 1.875
for ext in webp heic avif jpg; do mkdir -p "$work/$ext"; done
cwebp -quiet -q 85 "$work/big.png" -o "$work/webp/photo-12mp.webp"
heif-enc -q 80 -o "$work/heic/photo-12mp.heic" "$work/big.png" >/dev/null
avifenc -s 6 --min 15 --max 25 -j all "$work/big.png" "$work/avif/photo-12mp.avif" >/dev/null
convert "$work/big.png" -quality 92 "$work/jpg/photo-12mp.jpg"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$XDG_CONFIG_HOME/Lumora"
ticks=$(getconf CLK_TCK)
now() { date +%s.%N; }

echo "best of $runs runs by time to the whole picture; ms from process start"
printf '%-18s %-5s %12s %12s %10s\n' file mode "first band" "whole" "cpu"
for ext in webp heic avif jpg; do
    file="$work/$ext/photo-12mp.$ext"
    for mode in None Auto; do
        command=$([ $mode = None ] && echo 40012 || echo 40016)
        results="$work/results"
        : > "$results"
        for _ in $(seq "$runs"); do
            printf '[Software\\Lumora]\n"ImageResample"=dword:%08x\n' "$command" \
                > "$XDG_CONFIG_HOME/Lumora/Lumora.reg"
            log="$work/log"
            : > "$log"  # emptied here, or the wait below could read the previous run's log
            start=$(now)
            LUMORA_PAINT_LOG=1 "$binary" "$file" 2>"$log" &
            pid=$!
            # Until the whole picture is painted (at most 30 s), then a moment for the paint.
            for _ in $(seq 300); do
                awk '/^lumora-progress/ { if ($3 != 0 || $4 != 0) { if ($5 > 0) band = 1 }
                     else if (band) whole = 1 } END { exit !whole }' "$log" && break
                sleep 0.1
            done
            sleep 0.5
            cpu=$(awk -v t="$ticks" '{printf "%.0f", ($14 + $15) * 1000 / t}' "/proc/$pid/stat")
            kill -TERM $pid
            wait $pid || true
            python3 - "$start" "$log" "$cpu" >>"$results" <<'EOF'
import sys
start, log, cpu = float(sys.argv[1]), sys.argv[2], sys.argv[3]
first = last = None
for line in open(log, errors="replace"):
    parts = line.split()
    if line.startswith("lumora-progress"):
        t, a, b, painted = float(parts[1]), int(parts[2]), int(parts[3]), int(parts[4])
        if (a, b) != (0, 0) and painted and first is None:
            first = t
        if (a, b) == (0, 0) and first is not None:
            last = t
ms = lambda t: "%.0f" % ((t - start) * 1000) if t else "none"
print(ms(last), ms(first), cpu)
EOF
        done
        whole=none first=none cpu=none
        read -r whole first cpu < <(grep -v '^none' "$results" | sort -n | head -1) || true
        printf '%-18s %-5s %9s ms %9s ms %7s ms\n' "$(basename "$file")" "$mode" "$first" "$whole" "$cpu"
    done
done
