#!/usr/bin/env bash
# Opening long files with a cold index cache. Makes, once, a 20-minute 640x360 H.264 MKV
# (B-frames, 250-frame GOPs) and the same stream in an M2TS transport stream (as camcorders
# write) and in AVI, a 20-minute 640x360 Xvid AVI (packed B-frames, as DivX and Xvid write them), a
# 10-minute 720x576 interlaced H.264 transport stream (as broadcast recordings are, also cut
# to start in the middle of a GOP), a 1-hour
# 320x240 MPEG-2 program stream, a 10-minute 1080p H.264 MP4 and, where the real recordings
# are beside the project (../shared/realworld), a 30-minute WMV9 (WMV3) file joined from
# copies of one without re-encoding; then for each prints the
# time framix-grab takes to write one frame near the
# end, as a ratio of ffmpeg decoding the whole file in the same run (target: at most 0.05),
# checks the frame against ffmpeg's, and for the 1080p clip the time the program takes to
# show its first picture (median of 5, target: under 500 ms).
# usage: [CLIPS="long640.m2ts ..."] bench/long_files.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
MEDIA=$BUILD/bench-media
mkdir -p "$MEDIA"
FF=(ffmpeg -hide_banner -loglevel error -nostdin -y)
make_clip() { # name, then ffmpeg arguments
    [ -s "$MEDIA/$1" ] && return 0
    echo "making $1 (once)..."
    local name=$1; shift
    "${FF[@]}" "$@" "$MEDIA/$name.tmp.${name##*.}"
    mv "$MEDIA/$name.tmp.${name##*.}" "$MEDIA/$name"
}
make_clip long640.mkv -f lavfi -i testsrc=s=640x360:r=25:d=1200 \
    -c:v libx264 -preset ultrafast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p
make_clip long640.m2ts -i "$MEDIA/long640.mkv" -c copy -f mpegts -mpegts_m2ts_mode 1
make_clip long640-h264.avi -i "$MEDIA/long640.mkv" -map 0:v -c copy -bsf:v h264_mp4toannexb
make_clip long640.avi -f lavfi -i testsrc=s=640x360:r=25:d=1200 -c:v libxvid -bf 2 -q:v 5
make_clip long576i.ts -f lavfi -i testsrc=s=720x576:r=25:d=600 -c:v libx264 -preset ultrafast \
    -bf 3 -g 50 -flags +ildct+ilme -x264-params tff=1 -pix_fmt yuv420p -f mpegts
# The same as a recording that starts wherever the recorder did, in the middle of a GOP.
if [ ! -s "$MEDIA/long576i-cut.ts" ]; then
    size=$(stat -c %s "$MEDIA/long576i.ts")
    tail -c +$(( size / 33 / 188 * 188 + 1 )) "$MEDIA/long576i.ts" > "$MEDIA/long576i-cut.tmp"
    mv "$MEDIA/long576i-cut.tmp" "$MEDIA/long576i-cut.ts"
fi
make_clip long240.mpg -f lavfi -i testsrc=s=320x240:r=25:d=3600 \
    -c:v mpeg2video -b:v 800k -g 15 -bf 2 -f vob
make_clip long1080.mp4 -f lavfi -i testsrc=s=1920x1080:r=25:d=600 \
    -c:v libx264 -preset ultrafast -bf 2 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p
# A Windows encoder's WMV9 recording, copied end to end to about 30 minutes.
REAL=$(cd "$(dirname "$0")/.." && pwd)/../shared/realworld
WMV_SOURCE=$REAL/wmv3_brennon-HearMe_phase2.wmv
if [ -s "$WMV_SOURCE" ] && [ ! -s "$MEDIA/long-wmv3.wmv" ]; then
    seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$WMV_SOURCE")
    copies=$(echo "1800 / $seconds + 1" | bc)
    for ((i = 0; i < copies; ++i)); do echo "file '$(realpath "$WMV_SOURCE")'"; done \
        > "$MEDIA/long-wmv3.txt"
    make_clip long-wmv3.wmv -f concat -safe 0 -i "$MEDIA/long-wmv3.txt" -c copy
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
now() { date +%s.%N; }
for clip in ${CLIPS:-long640.mkv long640.m2ts long640-h264.avi long640.avi long576i.ts long576i-cut.ts long240.mpg long1080.mp4 long-wmv3.wmv}; do
    if [ ! -s "$MEDIA/$clip" ]; then
        echo "$clip: skipped (made from the real recordings in $REAL, which are absent)"
        continue
    fi
    frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$MEDIA/$clip" | sed -n 1p | tr -d ,)
    # Near the end, and short of the packet count by more than a GOP: a recording cut in the
    # middle of a GOP has packets whose pictures the decoder drops.
    n=$((frames - 300))
    t0=$(now)
    "${FF[@]}" -i "$MEDIA/$clip" -map 0:v:0 -f null - 2> /dev/null
    t1=$(now)
    rm -rf "$WORK/out" "$WORK/cache"
    XDG_CACHE_HOME=$WORK/cache "$BUILD/src/app/framix-grab" "$MEDIA/$clip" --out "$WORK/out" \
        --from "$n" --to "$n" --quiet > /dev/null
    t2=$(now)
    # Untagged pictures of 720 lines and more are BT.709, as the program takes them.
    height=$(ffprobe -v error -select_streams v:0 -show_entries stream=height -of csv=p=0 "$MEDIA/$clip" | sed -n 1p | tr -d ,)
    matrix=bt601
    [ "$height" -ge 720 ] && matrix=bt709
    "${FF[@]}" -i "$MEDIA/$clip" -vf "select=eq(n\,$n),scale=in_color_matrix=$matrix" \
        -fps_mode passthrough -frames:v 1 -pix_fmt bgr24 "$WORK/ref.bmp" 2> /dev/null
    same=$(cmp -s <(tail -c +55 "$WORK/out/frame$n.bmp") <(tail -c +55 "$WORK/ref.bmp") && echo yes || echo NO)
    printf "%s: frame %d of %d written in %.2f s; ffmpeg decodes the file in %.2f s; ratio %.3f " \
        "$clip" "$n" "$frames" "$(echo "$t2 - $t1" | bc)" "$(echo "$t1 - $t0" | bc)" \
        "$(echo "($t2 - $t1) / ($t1 - $t0)" | bc -l)"
    echo "(target at most 0.05); equals ffmpeg's frame: $same"
done
if [ -x "$BUILD/bench/bench_open" ]; then
    # On a real X server (Xvfb) where there is one, as a user's desktop draws it.
    if command -v xvfb-run > /dev/null; then
        ms=$(xvfb-run -a env QT_QPA_PLATFORM=xcb "$BUILD/bench/bench_open" "$MEDIA/long1080.mp4" 5 2> /dev/null)
        where="under Xvfb"
    else
        ms=$(QT_QPA_PLATFORM=offscreen "$BUILD/bench/bench_open" "$MEDIA/long1080.mp4" 5 2> /dev/null)
        where="offscreen"
    fi
    echo "long1080.mp4: first picture in the program ($where) after $ms ms (median of 5, cold cache; target under 500)"
fi
