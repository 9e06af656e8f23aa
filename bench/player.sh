#!/usr/bin/env bash
# Benchmarks of the desktop program, under Xvfb:
#  1. start-up: process start to the main window's first paint, median of 5, next to the
#     smallest Qt Widgets program started the same way (ratio);
#  2. playing the 1080p H.264 corpus clip for 10 s through the main window, at normal and
#     at double speed: frames shown and dropped, and, with a sound server running (a null
#     sink of PulseAudio when the package is installed), the largest gap between the sound
#     heard and the picture shown;
#     play after a seek: how soon the picture moves on;
#  3. stepping forward and backward and random seeks through the player widget (the
#     frame put, then drawn), next to sequential decoding in the same run.
# usage: bench/player.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
MEDIA=$BUILD/test-media
tests/media/make_corpus.sh "$MEDIA" > /dev/null
command -v xvfb-run > /dev/null || { echo "skipped: xvfb-run is not installed"; exit 0; }

# A private sound server with a null sink, so the sound path is measured without hardware.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
PULSE_STARTED=
if command -v pulseaudio > /dev/null && ! pactl info > /dev/null 2>&1; then
    pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load="module-null-sink sink_name=bench" \
        --load=module-native-protocol-unix > /dev/null 2>&1 && PULSE_STARTED=1
    sleep 1
fi
trap '[ -n "$PULSE_STARTED" ] && pulseaudio --kill 2> /dev/null || true' EXIT

export BUILD MEDIA
xvfb-run -a -s "-screen 0 1920x1200x24" bash -c '
    set -euo pipefail
    # Milliseconds from launch to the first paint of the main window.
    startup() {
        local t0 line
        t0=$(date +%s%3N)
        line=$(QT_LOGGING_RULES="framix.app.info=true" timeout 20 "$@" 2>&1 & pid=$!
               for _ in $(seq 1 150); do sleep 0.01; done; kill $pid 2> /dev/null; wait $pid 2> /dev/null) || true
        echo "$line" | sed -n "s/.*main window shown at \([0-9]*\).*/\1/p" | head -n 1 | awk -v t0="$t0" "{print \$1 - t0}"
    }
    median() { sort -n | awk "{a[NR]=\$1} END {print a[int((NR+1)/2)]}"; }
    ours=$(for i in 1 2 3 4 5; do startup "$BUILD/src/app/framix"; done | median)
    ref=$(for i in 1 2 3 4 5; do startup "$BUILD/bench/bench_qtstart"; done | median)
    echo "== start-up to the main window shown, median of 5"
    printf "framix %d ms, empty Qt window %d ms, ratio %.2f (target: framix under 500 ms)\n" \
        "$ours" "$ref" "$(echo "$ours / $ref" | bc -l)"
    echo "== playing the 1080p H.264 clip (25 frames/s, AAC sound) for 10 s"
    "$BUILD/bench/bench_player" "$MEDIA/h264.mp4" 10 1000 2>&1 | grep -v "^QStandardPaths\|^PulseAudioService"
    echo "   (targets: under 2 % dropped, sound and picture within 80 ms)"
    "$BUILD/bench/bench_player" "$MEDIA/h264.mp4" 10 2000 2>&1 | grep -v "^QStandardPaths\|^PulseAudioService"
    echo "   (target at double speed: under 5 % dropped)"
    echo "== play after a seek (F3 after moving the slider), 1080p H.264 with sound"
    "$BUILD/bench/bench_playstart" "$MEDIA/h264.mp4" 200 5 2>&1 | grep -v "^QStandardPaths\|^PulseAudioService"
    echo "   (the picture should move within a few frames, never wait for the sound device)"
'

echo "== steps and seeks through the player widget, 1080p H.264 (GOP 250)"
QT_QPA_PLATFORM=offscreen "$BUILD/bench/bench_steps" "$MEDIA/h264.mp4" 250 2>&1 | grep -v "^QStandardPaths"
