#!/usr/bin/env bash
# Benchmarks, each printed as a ratio against a reference run in the same go on the same
# machine (absolute times on these machines are noisy):
#  1. extraction of all frames to BMP: ffmpeg versus framix-grab, frames/s and ratio;
#  2. peak memory of framix-grab extracting the 1080p clip;
#  3. random access, backward and forward steps, and the cached index (bench_access).
# usage: bench/run.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
GRAB=$BUILD/src/app/framix-grab
ACCESS=$BUILD/bench/bench_access
MEDIA=$BUILD/bench-media
mkdir -p "$MEDIA"
FF=(ffmpeg -hide_banner -loglevel error -nostdin -y)

# The clips: MPEG-2 program stream 720x576 with B-frames, and H.264 1080p with B-frames and
# true 250-frame GOPs (no scene-cut keyframes), 900 frames.
[ -s "$MEDIA/mpeg2.mpg" ] || "${FF[@]}" -f lavfi -i testsrc2=s=720x576:r=25:d=20 \
    -f lavfi -i sine=d=20 -c:v mpeg2video -b:v 5000k -g 15 -bf 2 -c:a mp2 -f vob "$MEDIA/mpeg2.mpg"
[ -s "$MEDIA/h264.mp4" ] || "${FF[@]}" -f lavfi -i testsrc2=s=1920x1080:r=25:d=36 \
    -c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p \
    "$MEDIA/h264.mp4"

# Frames go to memory-backed storage where there is some, so the disk does not decide.
OUT=$(mktemp -d -p /dev/shm 2> /dev/null || mktemp -d)
trap 'rm -rf "$OUT"' EXIT

extract() { # clip
    local clip=$MEDIA/$1 n t0 t1 ffs ours
    n=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$clip" | head -1 | tr -dc 0-9)
    rm -rf "$OUT"/*; mkdir -p "$OUT/ff" "$OUT/fx"
    t0=$(date +%s.%N)
    "${FF[@]}" -i "$clip" -map 0:v:0 -fps_mode passthrough -start_number 0 "$OUT/ff/frame%d.bmp"
    t1=$(date +%s.%N)
    ffs=$(echo "$n / ($t1 - $t0)" | bc -l)
    rm -rf "$OUT/ff"
    t0=$(date +%s.%N)
    "$GRAB" "$clip" --out "$OUT/fx" --quiet > /dev/null
    t1=$(date +%s.%N)
    ours=$(echo "$n / ($t1 - $t0)" | bc -l)
    [ "$(ls "$OUT/fx" | wc -l)" -eq "$n" ] || { echo "framix-grab wrote the wrong number of files"; exit 1; }
    printf '%-9s %4d frames: ffmpeg %6.1f frames/s, framix-grab %6.1f frames/s, ratio %.2f (target >= 1.0)\n' \
        "$1" "$n" "$ffs" "$ours" "$(echo "$ours / $ffs" | bc -l)"
}
echo "== extracting every frame to BMP into $(dirname "$OUT")"
extract mpeg2.mpg
extract h264.mp4

echo "== peak memory, framix-grab on the 1080p clip"
rm -rf "$OUT"/*
if [ -x /usr/bin/time ]; then
    kb=$(/usr/bin/time -f %M "$GRAB" "$MEDIA/h264.mp4" --out "$OUT/mem" --quiet 2>&1 > /dev/null | tail -1)
    printf 'peak resident memory %d MB (target < 400 MB)\n' $((kb / 1024))
else
    echo "skipped: /usr/bin/time is not installed (Debian package time)"
fi

echo "== random access, steps and index cache, 1080p H.264"
"$ACCESS" "$MEDIA/h264.mp4" 250
echo "== the same, MPEG-2 program stream"
"$ACCESS" "$MEDIA/mpeg2.mpg" 15
