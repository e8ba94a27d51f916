#!/usr/bin/env bash
# How soon a photo opened from a file manager is on screen: Lumora beside feh, gpicview and
# nsxiv, each started the way a file manager starts it (the program and the file, default
# settings), on a 20-megapixel baseline JPEG, a 13-megapixel progressive JPEG and a 5120 x 2880
# PNG made from corpus photographs (in a scratch folder, one photo per folder, so no viewer has
# a neighbour to pre-load). Rounds are interleaved: each round runs every photo with every
# viewer, the viewers' order turned by one per round. Each run has a fresh Xvfb (1920 x 1080,
# 24 bits, no window manager) and a fresh HOME.
#
#   bench/first_photo.sh [BUILD_DIR] [ROUNDS]      (defaults: build, 7)
#   OLD=binary   another Lumora build run as the viewer "lumora-old" in the same rounds, for a
#                before/after comparison under the same load
#
# A small Xlib/XShm poller made by this script starts the viewer itself (time 0 is its fork)
# and grabs the whole screen every 5 ms:
#   first photo pixels: the first grab in which the screen holds at least FIRST_COLOURS (200)
#     distinct colours (15-bit, sampled on a 4-pixel grid). Window backgrounds, a blank or
#     black picture area, toolbars and file lists stay far below that (Lumora's window without
#     a picture: about 40, gpicview's about 120); any part of a photo, even a coarse first scan,
#     is above it (the corpus photos scaled to the screen: 350 and more).
#   final picture: the grab from which the screen no longer changes, once it has stayed the
#     same for 1.5 s after the first photo pixels (or 20 s passed).
# Peak RSS and CPU time (user + system) come from the viewer's rusage when it is ended after
# the run. Medians with ranges (min-max) over the rounds; the ratios are Lumora's median over
# the fastest peer's median. Targets: first pixels <= 0.8x, final picture <= 1.0x.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-7}
lumora=$(realpath "$build/lumora")
export FIRST_COLOURS=${FIRST_COLOURS:-200}

missing=()
for p in feh gpicview nsxiv; do command -v "$p" > /dev/null || missing+=("$p"); done
[ -f /usr/include/X11/extensions/XShm.h ] || missing+=(libx11-dev libxext-dev)
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq && apt-get install -y -qq "${missing[@]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/poll.c" << 'POLL'
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int threshold = getenv("FIRST_COLOURS") ? atoi(getenv("FIRST_COLOURS")) : 200;
    Display* d = XOpenDisplay(NULL);
    if (!d) return 3;
    const int s = DefaultScreen(d);
    const int w = DisplayWidth(d, s), h = DisplayHeight(d, s);
    XShmSegmentInfo shm;
    XImage* img = XShmCreateImage(d, DefaultVisual(d, s), DefaultDepth(d, s), ZPixmap, NULL,
                                  &shm, w, h);
    shm.shmid = shmget(IPC_PRIVATE, img->bytes_per_line * h, IPC_CREAT | 0600);
    shm.shmaddr = img->data = shmat(shm.shmid, NULL, 0);
    shm.readOnly = False;
    XShmAttach(d, &shm);
    shmctl(shm.shmid, IPC_RMID, NULL);
    static uint8_t seen[32768];

    const double t0 = Now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    double first = -1, changed = 0, next = t0;
    uint64_t last = 0;
    int maxColours = 0;
    for (;;) {
        next += 5;
        const double wait = next - Now();
        if (wait > 0) usleep((useconds_t)(wait * 1000));
        const double t = Now() - t0;
        XShmGetImage(d, DefaultRootWindow(d), img, 0, 0, AllPlanes);
        uint64_t hash = 1469598103934665603ull;
        for (int y = 0; y < h; ++y) {
            const uint64_t* row = (const uint64_t*)(img->data + (size_t)y * img->bytes_per_line);
            for (int x = 0; x < w / 2; ++x) hash = (hash ^ row[x]) * 1099511628211ull;
        }
        if (hash != last) {
            last = hash;
            changed = t;
        }
        if (first < 0) {
            memset(seen, 0, sizeof seen);
            int colours = 0;
            for (int y = 0; y < h; y += 4) {
                const uint32_t* row =
                    (const uint32_t*)(img->data + (size_t)y * img->bytes_per_line);
                for (int x = 0; x < w; x += 4) {
                    const uint32_t p = row[x];
                    const int c = ((p >> 9) & 0x7C00) | ((p >> 6) & 0x3E0) | ((p >> 3) & 0x1F);
                    if (!seen[c]) seen[c] = 1, ++colours;
                }
            }
            if (colours > maxColours) maxColours = colours;
            if (colours >= threshold) first = t;
        }
        if ((first >= 0 && t - changed >= 1500) || t > 20000) break;
    }
    kill(child, SIGTERM);
    int status;
    struct rusage use;
    for (int i = 0; i < 200 && wait4(child, &status, WNOHANG, &use) == 0; ++i) usleep(10000);
    if (wait4(child, &status, WNOHANG, &use) == 0) {
        kill(child, SIGKILL);
        wait4(child, &status, 0, &use);
    }
    const double cpu = use.ru_utime.tv_sec * 1e3 + use.ru_utime.tv_usec / 1e3 +
                       use.ru_stime.tv_sec * 1e3 + use.ru_stime.tv_usec / 1e3;
    printf("%.1f %.1f %ld %.1f %d\n", first, first >= 0 ? changed : -1.0, use.ru_maxrss, cpu,
           maxColours);
    return 0;
}
POLL
cc -O2 -o "$work/poll" "$work/poll.c" -lX11 -lXext

corpus=tests/data/corpus/jpeg/photos-4mp
mkdir -p "$work/baseline" "$work/progressive" "$work/png"
convert "$corpus/plasma_Path_2560x1600.jpg" -resize '5472x3648!' -quality 92 \
    "$work/baseline/photo-20mp.jpg"
convert "$corpus/plasma_EveningGlow_2560x1600.jpg" -resize '4416x2944!' -interlace JPEG \
    -quality 92 "$work/progressive/photo-13mp.jpg"
convert "$corpus/plasma_Kite_2560x1600.jpg" -resize '5120x2880!' "$work/png/photo-5120.png"
photos=("$work/baseline/photo-20mp.jpg" "$work/progressive/photo-13mp.jpg"
        "$work/png/photo-5120.png")

viewers=(lumora feh gpicview nsxiv)
[ -n "${OLD:-}" ] && viewers+=(lumora-old)
command_of() {
    case $1 in
        lumora) echo "$lumora" ;;
        lumora-old) realpath "$OLD" ;;
        *) command -v "$1" ;;
    esac
}

# One run: a fresh Xvfb and HOME; prints "first final rss cpu colours".
run_one() {  # viewer photo
    local home
    home=$(mktemp -d "$work/home.XXXX")
    exec {fd}> "$home/display"
    Xvfb -displayfd "$fd" -screen 0 1920x1080x24 -nolisten tcp > /dev/null 2>&1 &
    local xvfb=$!
    exec {fd}>&-
    for _ in $(seq 500); do [ -s "$home/display" ] && break; sleep 0.01; done
    local display
    display=:$(cat "$home/display")
    env -i PATH="$PATH" HOME="$home" DISPLAY="$display" XDG_CONFIG_HOME="$home/.config" \
        XDG_CACHE_HOME="$home/.cache" XDG_DATA_HOME="$home/.local/share" \
        "$work/poll" "$(command_of "$1")" "$2"
    kill "$xvfb"
    wait "$xvfb" 2> /dev/null || true
    rm -rf "$home"
}

results="$work/results"
: > "$results"
for round in $(seq "$rounds"); do
    for photo in "${photos[@]}"; do
        for k in "${!viewers[@]}"; do
            viewer=${viewers[$(((k + round) % ${#viewers[@]}))]}
            echo "$(basename "$photo") $viewer $(run_one "$viewer" "$photo")" >> "$results"
        done
    done
    echo "round $round of $rounds done" >&2
done

python3 - "$results" << 'TABLE'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    photo, viewer, first, final, rss, cpu, colours = line.split()
    rows.setdefault((photo, viewer), []).append(
        (float(first), float(final), int(rss), float(cpu), int(colours)))
def cell(values):
    ok = [v for v in values if v >= 0]
    if not ok: return "never", None
    m = statistics.median(ok)
    miss = "" if len(ok) == len(values) else f" ({len(values) - len(ok)} missed)"
    return f"{m:6.0f} ({min(ok):.0f}-{max(ok):.0f}){miss}", m
print(f"{'photo':18} {'viewer':9} {'first pixels ms':>22} {'final picture ms':>22} "
      f"{'peak RSS MB':>11} {'CPU ms':>7}")
for photo in sorted({p for p, _ in rows}):
    medians = {}
    for viewer in ("lumora", "lumora-old", "feh", "gpicview", "nsxiv"):
        runs = rows.get((photo, viewer), [])
        if not runs: continue
        first, mf = cell([r[0] for r in runs])
        final, ml = cell([r[1] for r in runs])
        medians[viewer] = (mf, ml)
        rss = statistics.median(r[2] for r in runs) / 1024
        cpu = statistics.median(r[3] for r in runs)
        print(f"{photo:18} {viewer:9} {first:>22} {final:>22} {rss:11.0f} {cpu:7.0f}")
    for own_name in ("lumora", "lumora-old"):
        if own_name not in medians: continue
        for i, (name, target) in enumerate((("first pixels", 0.8), ("final picture", 1.0))):
            peers = [(m[i], v) for v, m in medians.items()
                     if not v.startswith("lumora") and m[i] is not None]
            own = medians[own_name][i]
            if not peers or own is None: continue
            best, who = min(peers)
            ratio = own / best
            verdict = "met" if ratio <= target else "not met"
            print(f"{'':18} {name}: {own_name} / fastest peer ({who}) = {ratio:.2f}x, "
                  f"target <= {target}x: {verdict}")
TABLE
