#!/usr/bin/env bash
# Entering and leaving fullscreen (Ctrl+F, then Esc) on a shown 12-megapixel photo under Xvfb:
# for each switch, the time from the key to the first and to the final paint of the window, how
# many times the window reached the screen between the key and the settled picture, how many of
# those paints were the image pane's, and whether any of them showed a layout other than the
# final one (toolbar or file list in a fullscreen frame, the image pane at the old size).
#
#   bench/fullscreen_switch.sh [BUILD_DIR] [ROUNDS] [PAUSE_SECONDS]
#   PHOTO=file   the JPEG the 4000 x 3000 photo is made from (default: the first of the
#                repository's tests/data/corpus/jpeg/photos-4mp)
#   SIZE=WxH     the photo's size instead of 4000x3000 (a huge one shows the stand-in path)
#   WM=program   a window manager to run first (e.g. openbox), when installed
#
# "layout" frames are those before the photo is decoded again at the new size (a picture made
# ahead of the switch reaches the screen in that frame), "decode" frames
# the progressive paints of that decode; "stand-in" the frames in which rows not yet decoded
# showed the picture from before the switch, scaled, rather than black; "ready" whether the
# picture at the new size was complete before the window changed (1), not within the switch's
# wait (0), or not made ahead at all (-); "cpu" is the program's user+system time from the key to
# the next key (10 ms ticks), which covers the switch and the decode.
# "in program" counts from the switch's start in the main window (the key's handling), "from
# xdotool" from just before xdotool sends the key, which adds the X round trip. A frame is one
# flush of the window's repaint to the X server; the paint log notes every widget painted in it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-5}
pause=${3:-2}
binary=$(realpath "$build/lumora")

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work=$(mktemp -d)
wm_pid=
trap '[ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null; rm -rf "$work"' EXIT
if [ -n "${WM:-}" ]; then
    "$WM" >/dev/null 2>&1 &
    wm_pid=$!
    sleep 1
fi
photos=(tests/data/corpus/jpeg/photos-4mp/*.jpg)
mkdir -p "$work/photos"
convert "${PHOTO:-${photos[0]}}" -resize "${SIZE:-4000x3000}!" -quality 92 "$work/photos/photo.jpg"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$XDG_CONFIG_HOME/Lumora"
printf '[Software\\Lumora]\n"ImageResample"=dword:%08x\n' 40013 > "$XDG_CONFIG_HOME/Lumora/Lumora.reg"

log="$work/log"
sent="$work/sent"
LUMORA_PAINT_LOG=1 LUMORA_WIDGET_LOG=1 "$binary" "$work/photos/photo.jpg" 2>"$log" &
pid=$!
sleep 4
window=$(xdotool search --onlyvisible --name '^Lumora' | head -1)
xdotool windowfocus --sync "$window"
sleep "$pause"
# The program's user+system time so far, in ms (from /proc; clock ticks of 1/100 s).
cpu_ms() { awk '{ print ($14 + $15) * 10 }' "/proc/$pid/stat"; }
: > "$sent"
for i in $(seq "$rounds"); do
    for key in ctrl+f Escape; do
        echo "$(date +%s.%N) $(cpu_ms)" >> "$sent"
        xdotool key "$key"
        sleep "$pause"
    done
done
echo "$(date +%s.%N) $(cpu_ms)" >> "$sent"
kill -TERM $pid
wait $pid || true
cp "$log" "${KEEP_LOG:-/dev/null}" 2>/dev/null || true

python3 - "$log" "$sent" <<'PY'
import sys
log, sent = sys.argv[1], sys.argv[2]
sends = [float(l.split()[0]) for l in open(sent)]
switches = []  # [entering, start, frames]; a frame is [time, [(kind, x, y, w, h)], geometry]
pending = []
standin = False
standin_frames = set()
for line in open(log, errors="replace"):
    p = line.split()
    if not p:
        continue
    if p[0] == "lumora-switch":
        switches.append([p[2] == "1", float(p[1]), [], "-"])
        pending = []
        standin = False
    elif p[0] == "lumora-prepared" and switches:
        switches[-1][3] = p[2]
    elif p[0] == "lumora-standin":
        standin = True
    elif p[0] == "lumora-widget" and len(p) == 7:
        pending.append((p[2], int(p[3]), int(p[4]), int(p[5]), int(p[6])))
    elif p[0] == "lumora-flush" and len(p) == 6:
        if switches and pending:
            switches[-1][2].append([float(p[1]), pending, tuple(int(v) for v in p[2:6])])
            if standin:
                standin_frames.add(id(switches[-1][2][-1]))
        pending = []
        standin = False
    elif p[0] in ("lumora-progress", "lumora-done") and switches and switches[-1][2]:
        # Noted right after the repaint of freshly decoded rows, or of the complete picture that
        # replaces the stand-in: that frame was the decode's.
        if len(switches[-1][2][-1]) == 3:
            switches[-1][2][-1].append("decode")

def layout(widgets):
    """What a frame showed: the pane's rectangle, and whether browser widgets were painted."""
    pane = [w[1:] for w in widgets if w[0] == "pane"]
    others = sorted({w[0] for w in widgets if w[0] not in ("pane", "frame")})
    return (pane[-1] if pane else None), others

cpu = [float(l.split()[1]) for l in open(sent)]
print("%-4s %-6s %9s %9s %11s %7s %7s %8s %7s %5s %8s  %s" % ("#", "switch", "first(ms)",
      "final(ms)", "xdotool(ms)", "layout", "decode", "stand-in", "pane", "ready", "cpu(ms)",
      "intermediate frames"))
figures = {True: [], False: []}
for i, (entering, start, frames, ready) in enumerate(switches):
    if not frames:
        print("%-4d %-6s no paint" % (i + 1, "enter" if entering else "leave"))
        continue
    final_pane, _ = layout(frames[-1][1])
    panes = sum(1 for f in frames for w in f[1] if w[0] == "pane")
    odd = []
    for f in frames:
        pane, others = layout(f[1])
        g = f[2]
        wrong = (entering and (others or (g[2], g[3]) != (1280, 1024))) or \
                (pane is not None and final_pane is not None and pane != final_pane)
        if wrong:
            odd.append("+%.1fms pane=%s %s window=%dx%d" % ((f[0] - start) * 1000,
                       "x".join(map(str, pane)) if pane else "-", ",".join(others), g[2], g[3]))
    s = sends[i] if i < len(sends) else start
    first, final = (frames[0][0] - start) * 1000, (frames[-1][0] - start) * 1000
    decode = sum(1 for f in frames if len(f) > 3)
    stood = sum(1 for f in frames if id(f) in standin_frames)
    used = (cpu[i + 1] - cpu[i]) if i + 1 < len(cpu) else float("nan")
    figures[entering].append((final, (frames[-1][0] - s) * 1000, len(frames) - decode, panes,
                              len(odd), decode, used, stood, ready))
    print("%-4d %-6s %9.2f %9.2f %11.2f %7d %7d %8d %7d %5s %8.1f  %s" % (i + 1,
          "enter" if entering else "leave", first, final, (frames[-1][0] - s) * 1000,
          len(frames) - decode, decode, stood, panes, ready, used, "; ".join(odd) or "none"))
for entering in (True, False):
    rows = figures[entering]
    if rows:
        finals = sorted(r[0] for r in rows)
        print("%s: key to final paint median %.2f ms, worst %.2f ms (from xdotool median %.2f ms); "
              "layout frames %s, decode frames %s, stand-in frames %s, image-pane paints %s, "
              "picture ready before the switch %d of %d, CPU median %.1f ms; "
              "switches with an intermediate frame: %d of %d" %
              ("entering" if entering else "leaving", finals[len(finals) // 2], finals[-1],
               sorted(r[1] for r in rows)[len(rows) // 2], sorted({r[2] for r in rows}),
               sorted({r[5] for r in rows}), sorted({r[7] for r in rows}),
               sorted({r[3] for r in rows}), sum(1 for r in rows if r[8] == "1"), len(rows),
               sorted(r[6] for r in rows)[len(rows) // 2], sum(1 for r in rows if r[4]),
               len(rows)))
PY
