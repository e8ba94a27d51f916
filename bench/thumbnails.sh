#!/usr/bin/env bash
# Thumbnails of a folder of 100 camera-like JPEGs (12 megapixels, baseline 4:2:0 quality 92, 20
# of them progressive, made from the corpus photographs), cold cache and warm cache, beside
# vipsthumbnail -s 128 over the same files in one process, the sum of full-size djpeg decodes,
# and the sum of djpeg -scale 1/8 decodes (the entropy decoding no thumbnailer can skip).
# Wall and CPU (user + system) seconds; peak RSS of the cold run. lumora_cold and lumora_warm are
# the windowless folder driver; lumora_cold_one is it with one decode at a time instead of one per
# core (up to two), for the speed-up.
# lumora_viewer is the real viewer under Xvfb (1280 x 1024) with the thumbnails shown at start on
# that folder and a fresh HOME and cache: process start to the last thumbnail stored, from its
# start trace (bench/thumbnail_viewer.sh). Below the table: its peak RSS beside the viewer showing
# one of the photos (target <= 1.5x), and the warm cache: Ctrl+T to the last visible thumbnail
# painted, the cache from the cold run (target <= 50 ms).
#
#   bench/thumbnails.sh [build-dir] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-3}
folder=${BENCH_DIR:-/tmp/lumora-thumb-bench}/photos
driver=$build/bench/thumbnail_folder_bench
[ -x "$driver" ] || { echo "build $driver first (LUMORA_BENCH on)"; exit 1; }
for tool in djpeg vipsthumbnail convert Xvfb xdotool; do
    command -v $tool >/dev/null || { echo "needs $tool (libjpeg-turbo-progs, libvips-tools, imagemagick, xvfb, xdotool)"; exit 1; }
done

if [ "$(ls "$folder" 2>/dev/null | wc -l)" -ne 100 ]; then
    echo "making $folder ..."
    rm -rf "$folder" && mkdir -p "$folder"
    sources=(tests/data/corpus/jpeg/photos-4mp/*.jpg)
    for i in $(seq 0 99); do
        src=${sources[$((i % ${#sources[@]}))]}
        interlace=None
        [ $((i % 5)) -eq 4 ] && interlace=JPEG
        # A different crop per file, so no two files are the same picture.
        convert "$src" -crop "$((2560 - i))x$((1600 - i))+$i+0" -resize '4000x3000!' \
            -sampling-factor 4:2:0 -quality 92 -interlace $interlace "$folder/p$(printf %03d $i).jpg"
    done
fi
files=("$folder"/*.jpg)

# Runs a command, prints "wall cpu" in seconds (children's CPU from bash's times).
measure() {
    local t0 t1 c0 c1 me=$BASHPID
    c0=$(awk '{print $14+$15+$16+$17}' /proc/$me/stat)
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    c1=$(awk '{print $14+$15+$16+$17}' /proc/$me/stat)
    echo "$(echo "$t1 - $t0" | bc) $(echo "($c1 - $c0) / $(getconf CLK_TCK)" | bc -l)"
}
djpeg_all() { for f in "${files[@]}"; do djpeg -outfile /dev/null "$f"; done; }
djpeg_eighth() { for f in "${files[@]}"; do djpeg -scale 1/8 -outfile /dev/null "$f"; done; }
vips_all() { local out; out=$(mktemp -d); vipsthumbnail -s 128 -o "$out/%s.jpg" "${files[@]}"; rm -rf "$out"; }
cold_one() { local cache; cache=$(mktemp -d); "$driver" "$folder" "$cache/LumoraCache" 1 > /tmp/lumora-thumb-cold1.txt; rm -rf "$cache"; }
cold() { local cache; cache=$(mktemp -d); "$driver" "$folder" "$cache/LumoraCache" > /tmp/lumora-thumb-cold.txt; cp -a "$cache/LumoraCache" /tmp/lumora-thumb-warm-cache; rm -rf "$cache"; }  # -a: thumbnails are valid by their times
warm() { "$driver" "$folder" /tmp/lumora-thumb-warm-cache > /tmp/lumora-thumb-warm.txt; }
viewer_home=$(mktemp -d)
trap 'rm -rf "$viewer_home"' EXIT

declare -A wall cpu
names=(lumora_viewer lumora_cold lumora_cold_one lumora_warm vipsthumbnail djpeg_full djpeg_eighth)
viewer_rss="" photo_rss="" toggle_first="" toggle_last="" toggle_cpu=""
for r in $(seq 1 "$rounds"); do
    rm -rf /tmp/lumora-thumb-warm-cache
    for name in "${names[@]}"; do
        case $name in
            lumora_viewer)
                # Wall and CPU from the viewer's own trace and /proc, not from bash.
                read -r ms c rss stored < <(bench/thumbnail_viewer.sh cold "$build" "$folder" "$viewer_home/h")
                [ "$stored" -eq 100 ] || echo "round $r: the viewer stored $stored thumbnails" >&2
                m="$(echo "$ms / 1000" | bc -l) $c"
                viewer_rss+="$rss "
                read -r first last c _ < <(bench/thumbnail_viewer.sh warm "$build" "$folder" "$viewer_home/h")
                toggle_first+="$first " toggle_last+="$last " toggle_cpu+="$c "
                photo_rss+="$(bench/thumbnail_viewer.sh photo "$build" "${files[0]}" "$viewer_home/p") "
                ;;
            lumora_cold) m=$(measure cold) ;;
            lumora_cold_one) m=$(measure cold_one) ;;
            lumora_warm) m=$(measure warm) ;;
            vipsthumbnail) m=$(measure vips_all) ;;
            djpeg_full) m=$(measure djpeg_all) ;;
            djpeg_eighth) m=$(measure djpeg_eighth) ;;
        esac
        wall[$name]+="${m% *} "; cpu[$name]+="${m#* } "
    done
done
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf '%-16s %9s %9s %12s %12s\n' run wall_s cpu_s wall/vips wall/eighth
vw=$(echo "${wall[vipsthumbnail]}" | median); ew=$(echo "${wall[djpeg_eighth]}" | median)
for name in "${names[@]}"; do
    w=$(echo "${wall[$name]}" | median); c=$(echo "${cpu[$name]}" | median)
    printf '%-16s %9.2f %9.2f %12.2f %12.2f\n' "$name" "$w" "$c" "$(echo "$w / $vw" | bc -l)" \
        "$(echo "$w / $ew" | bc -l)"
done
vr=$(echo "$viewer_rss" | median) pr=$(echo "$photo_rss" | median)
printf 'lumora_viewer peak RSS %.0f MB, the viewer showing %s %.0f MB: %.2fx (target <= 1.5x)\n' \
    "$(echo "$vr / 1024" | bc -l)" "$(basename "${files[0]}")" "$(echo "$pr / 1024" | bc -l)" \
    "$(echo "$vr / $pr" | bc -l)"
printf 'warm cache, Ctrl+T to the last visible thumbnail painted: %s ms (first paint without placeholders %s ms), CPU %s s (target <= 50 ms)\n' \
    "$(echo "$toggle_last" | median)" "$(echo "$toggle_first" | median)" "$(echo "$toggle_cpu" | median)"
echo "viewer rounds: RSS kB $viewer_rss; toggle ms $toggle_last"
echo "lumora cold, last round: $(cat /tmp/lumora-thumb-cold.txt)"
echo "lumora cold with one decode, last round: $(cat /tmp/lumora-thumb-cold1.txt)"
echo "lumora warm, last round: $(cat /tmp/lumora-thumb-warm.txt)"
rm -rf /tmp/lumora-thumb-warm-cache
