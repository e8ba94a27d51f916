#!/usr/bin/env bash
# One run of the real viewer on the thumbnail benchmark folder, under a fresh Xvfb (1280 x 1024,
# 24 bits, no window manager), timed from its own start trace (LUMORA_LOG=1). Used by
# bench/thumbnails.sh; prints one line of numbers.
#
#   bench/thumbnail_viewer.sh cold  BUILD FOLDER HOME   thumbnails shown at start, HOME made new;
#       prints "ms cpu_s rss_kb stored": process start to the last thumbnail stored (the
#       "thumbs-idle" trace after which the cache holds one file per photo), the process's
#       user + system CPU and peak RSS at that moment, thumbnails in the cache.
#   bench/thumbnail_viewer.sh warm  BUILD FOLDER HOME   HOME from a cold run (its cache); thumbnails
#       hidden at start, then Ctrl+T (xdotool); prints "first_ms last_ms cpu_s placeholders":
#       from the toggle ("thumbs-activate") to the first and to the last paint that drew no
#       placeholder, the CPU spent from the key to the end, placeholders of the last paint.
#   bench/thumbnail_viewer.sh photo BUILD FILE HOME     the viewer showing one photo; prints
#       "rss_kb" once the picture is final (no trace line for 1.5 s).
set -euo pipefail
mode=$1 build=$2 target=$3 home=$4
lumora=$(realpath "$build/lumora")
ticks=$(getconf CLK_TCK)

write_settings() {  # ShowThumbnails value
    mkdir -p "$home/.config/Lumora"
    printf '[Software\\Lumora]\n"ShowThumbnails"=dword:%08x\n"InitialDirectory"="%s/"\n' \
        "$1" "$target" > "$home/.config/Lumora/Lumora.reg"
}

start_viewer() {  # arguments of lumora
    exec {fd}> "$home/display"
    Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1 &
    xvfb=$!
    exec {fd}>&-
    for _ in $(seq 500); do [ -s "$home/display" ] && break; sleep 0.01; done
    display=:$(cat "$home/display")
    : > "$home/trace"
    env -i PATH="$PATH" HOME="$home" DISPLAY="$display" XDG_CONFIG_HOME="$home/.config" \
        XDG_CACHE_HOME="$home/.cache" XDG_DATA_HOME="$home/.local/share" LUMORA_LOG=1 \
        "$lumora" "$@" 2> "$home/trace" &
    viewer=$!
}

stop_viewer() {
    kill "$viewer" 2> /dev/null || true
    wait "$viewer" 2> /dev/null || true
    kill "$xvfb" 2> /dev/null || true
    wait "$xvfb" 2> /dev/null || true
    rm -f "$home/display"
}

cpu_seconds() { awk -v t="$ticks" '{print ($14 + $15) / t}' "/proc/$viewer/stat"; }
peak_rss() { awk '/^VmHWM/ {print $2}' "/proc/$viewer/status"; }

# The trace is followed as it is written: tail sleeps until the file grows and the loop reads
# with shell builtins. (Polling it with a grep and a sleep every 5 ms took some 40 % of a core
# from the viewer on a two-core machine.) Lines go to $line; a read that waits longer than its
# timeout returns false.
follow_trace() {
    exec {trace}< <(exec tail -n +1 -f "$home/trace")
    tail_pid=$!
}
unfollow_trace() {
    kill "$tail_pid" 2> /dev/null || true
    exec {trace}<&-
}
next_line() { IFS= read -r -t "$1" -u "$trace" line; }  # timeout in seconds

case $mode in
    cold)
        rm -rf "$home" && mkdir -p "$home"
        write_settings 1
        photos=$(ls "$target" | wc -l)
        start_viewer
        follow_trace
        result=""
        deadline=$((SECONDS + 300))
        while [ -z "$result" ] && [ $SECONDS -lt $deadline ]; do
            if ! next_line 5; then
                kill -0 "$viewer" 2> /dev/null && continue || break  # the viewer is gone
            fi
            [[ $line == *' thumbs-idle'* ]] || continue
            stored=$(find "$home/.cache/LumoraCache" -name '*.jpg' 2> /dev/null | wc -l)
            [ "$stored" -ge "$photos" ] || continue
            cpu=$(cpu_seconds) rss=$(peak_rss)
            read -r _ ms _ <<< "$line"
            result="$ms $cpu $rss $stored"
        done
        unfollow_trace
        stop_viewer
        echo "${result:-never 0 0 0}"
        ;;
    warm)
        write_settings 0
        start_viewer
        follow_trace
        while next_line 10; do [[ $line == *' window-shown' ]] && break; done
        # The probe of the cache and the first paints settle first.
        sleep 2
        cpu0=$(cpu_seconds)
        DISPLAY=$display xdotool key ctrl+t
        # Until a paint without placeholders, then until the trace is quiet for a second.
        while next_line 30; do [[ $line == *' thumbs-paint 0' ]] && break; done
        while next_line 1; do :; done
        cpu1=$(cpu_seconds)
        unfollow_trace
        stop_viewer
        awk -v cpu="$(echo "$cpu1 - $cpu0" | bc -l)" '
            / thumbs-activate$/ && !t0 {t0 = $2}
            t0 && / thumbs-paint / {last = $4; if ($4 == 0) {if (!first) first = $2; end = $2}}
            END {if (!first) print "never never", cpu, last;
                 else printf "%.1f %.1f %s %d\n", first - t0, end - t0, cpu, last}' "$home/trace"
        ;;
    photo)
        rm -rf "$home" && mkdir -p "$home"
        start_viewer "$target"
        follow_trace
        while next_line 30; do [[ $line == *' paint '* ]] && break; done
        while next_line 1.5; do :; done
        rss=$(peak_rss)
        unfollow_trace
        stop_viewer
        echo "$rss"
        ;;
esac
