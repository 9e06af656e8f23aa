#!/usr/bin/env bash
# Peak resident memory of the desktop program, under Xvfb: a 3840x2160 clip at 30 frames/s
# played through the main window for 10 s, then stepped back 30 frames one at a time, next
# to the same run on a 1920x1080 clip made the same way (the reference: 4 times fewer
# pixels). Each run is a fresh process. Also frames shown and dropped while playing, and
# the time of a step back.
# usage: bench/memory.sh [BUILD_DIR] [SECONDS]   (default: build, 10)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
SECONDS_PLAYED=${2:-10}
MEDIA=$BUILD/bench-media
mkdir -p "$MEDIA"
command -v xvfb-run > /dev/null || { echo "skipped: xvfb-run is not installed"; exit 0; }
command -v ffmpeg > /dev/null || { echo "skipped: ffmpeg is not installed"; exit 0; }

# 12 s of picture, so that 10 s of playing does not reach the end; keyframes every 250
# frames (x264's default), so the steps back decode from the keyframe at frame 250.
clip() {
    local out=$MEDIA/testsrc2-$1-30.mp4
    if [ ! -s "$out" ]; then
        ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=$1:rate=30:duration=12" \
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$out.tmp.mp4"
        mv "$out.tmp.mp4" "$out"
    fi
    echo "$out"
}
HD=$(clip 1920x1080)
UHD=$(clip 3840x2160)

# Frame indexes in a cache of the benchmark's own, made by a first run that plays long
# enough for the background check of the index to finish: the measured runs then play a
# file opened before, without that check decoding the whole file beside them.
export XDG_CACHE_HOME=$BUILD/bench-cache
export BUILD HD UHD SECONDS_PLAYED
xvfb-run -a -s "-screen 0 1920x1200x24" bash -c '
    set -euo pipefail
    for clip in "$HD" "$UHD"; do
        marker=$XDG_CACHE_HOME/$(basename "$clip").indexed
        if [ ! -e "$marker" ]; then
            "$BUILD/bench/bench_memory" "$clip" 12 0 > /dev/null 2>&1
            mkdir -p "$XDG_CACHE_HOME" && touch "$marker"
        fi
    done
    run() {
        "$BUILD/bench/bench_memory" "$1" "$SECONDS_PLAYED" 30 2>&1 |
            grep -v "^QStandardPaths\|^PulseAudioService"
    }
    hd=$(run "$HD")
    uhd=$(run "$UHD")
    echo "== 1920x1080, 30 frames/s (reference)"
    echo "$hd" | grep -v "^result:"
    echo "== 3840x2160, 30 frames/s"
    echo "$uhd" | grep -v "^result:"
    peak() { echo "$1" | sed -n "s/^result: peak_mb=\([0-9]*\).*/\1/p"; }
    printf "peak resident memory: 4K %d MB, 1080p %d MB, ratio 4K/1080p %.2f (target: 4K at most 400 MB)\n" \
        "$(peak "$uhd")" "$(peak "$hd")" "$(echo "$(peak "$uhd") / $(peak "$hd")" | bc -l)"
'
