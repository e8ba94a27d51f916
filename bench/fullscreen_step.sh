#!/usr/bin/env bash
# Stepping through a folder of 12-megapixel photos in fullscreen with Page Down in resample mode
# Both, under Xvfb: for each step, the time from the key press to the moment the next
# image is painted, and whether it was complete then (pre-loaded while the previous one was
# shown). Each step waits until the previous step has finished loading and pre-loading.
#
#   bench/fullscreen_step.sh [BUILD_DIR] [STEPS] [PAUSE_SECONDS]
#   PHOTOS=folder   the JPEG photos the steps are made from (default: the repository's
#                   tests/data/corpus/jpeg/photos-4mp)
#
# Two figures per step: "in program" from the key's arrival at the image pane to the end of the
# paint that put the image on screen (the paint is flushed to the X server before it returns),
# and "from xdotool" from just before xdotool sends the key, which adds the X round trip.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
steps=${2:-8}
pause=${3:-2}
binary=$(realpath "$build/lumora")

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photos=("${PHOTOS:-tests/data/corpus/jpeg/photos-4mp}"/*.jpg)
mkdir -p "$work/photos"
for i in $(seq 0 $steps); do
    source=${photos[$((i % ${#photos[@]}))]}
    convert "$source" -resize '4000x3000!' -quality 92 "$work/photos/$(printf 'photo-%02d.jpg' "$i")"
done

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$XDG_CONFIG_HOME/Lumora"
printf '[Software\\Lumora]\n"ImageResample"=dword:%08x\n' 40013 > "$XDG_CONFIG_HOME/Lumora/Lumora.reg"

log="$work/log"
sent="$work/sent"
LUMORA_PAINT_LOG=1 "$binary" "$work/photos/photo-00.jpg" 2>"$log" &
pid=$!
sleep 4
window=$(xdotool search --onlyvisible --name '^Lumora' | head -1)
xdotool windowfocus --sync "$window"
sleep 0.5
# Into fullscreen, and the first picture and its neighbour loaded at the screen's size.
xdotool key ctrl+f
sleep "$pause"
: > "$sent"
for i in $(seq "$steps"); do
    date +%s.%N >> "$sent"
    xdotool key Next
    sleep "$pause"
done
kill -TERM $pid
wait $pid || true

python3 - "$log" "$sent" <<'PY'
import sys
log, sent = sys.argv[1], sys.argv[2]
sends = [float(l) for l in open(sent)]
events = []
for line in open(log, errors="replace"):
    parts = line.split()
    if line.startswith("lumora-key") and int(parts[2]) == 0x22:
        events.append(("key", float(parts[1])))
    elif line.startswith("lumora-show"):
        events.append(("show", float(parts[1]), int(parts[2]), int(parts[3])))
rows = []
key = None
for e in events:
    if e[0] == "key":
        key = e[1]
    elif key is not None:
        rows.append((key, e[1], e[2], e[3]))
        key = None
print("%-5s %18s %18s %10s %8s" % ("step", "in program (ms)", "from xdotool (ms)", "complete", "painted"))
for i, (k, shown, done, painted) in enumerate(rows):
    s = sends[i] if i < len(sends) else k
    print("%-5d %18.2f %18.2f %10s %8s" % (i + 1, (shown - k) * 1000, (shown - s) * 1000,
                                        "yes" if done else "no", "yes" if painted else "no"))
if rows:
    inside = sorted((r[1] - r[0]) * 1000 for r in rows)
    print("median in program: %.2f ms, worst: %.2f ms, frame at 60 Hz: 16.67 ms" %
          (inside[len(inside) // 2], inside[-1]))
PY
