#!/usr/bin/env bash
# Makes the fuzzers' seed inputs into DIR: tiny clips of every container and codec the index
# scan reads (and one it declines), index cache files of them, name templates and settings
# files. Made with the ffmpeg command-line tool; the real recordings beside the project add
# their smallest WMV9 and VC-1 files where they are there.
# usage: make_seeds.sh DIR FRAMIX_GRAB
set -euo pipefail
DIR=$(mkdir -p "$1" && cd "$1" && pwd)
GRAB=$2
mkdir -p "$DIR"/{scan,index_cache,frame_name,settings}
FF=(ffmpeg -hide_banner -loglevel error -nostdin -y)
src=(-f lavfi -i testsrc2=s=64x48:r=25:d=0.6)
x264=(-c:v libx264 -preset ultrafast -bf 2 -g 6 -pix_fmt yuv420p)
cd "$DIR/scan"
[ -s h264.mp4 ] || "${FF[@]}" "${src[@]}" "${x264[@]}" h264.mp4
[ -s h264.mkv ] || "${FF[@]}" "${src[@]}" "${x264[@]}" h264.mkv
[ -s h264.ts ] || "${FF[@]}" "${src[@]}" "${x264[@]}" -f mpegts h264.ts
[ -s h264.avi ] || "${FF[@]}" "${src[@]}" "${x264[@]}" -bsf:v h264_mp4toannexb h264.avi
[ -s h264.flv ] || "${FF[@]}" "${src[@]}" "${x264[@]}" h264.flv
[ -s hevc.mp4 ] || "${FF[@]}" "${src[@]}" -c:v libx265 -preset ultrafast \
    -x265-params bframes=2:keyint=6:log-level=error hevc.mp4
[ -s mpeg4.avi ] || "${FF[@]}" "${src[@]}" -c:v mpeg4 -bf 2 -g 6 mpeg4.avi
[ -s xvid.avi ] || "${FF[@]}" "${src[@]}" -c:v libxvid -bf 1 -g 6 xvid.avi
[ -s mpeg2.mpg ] || "${FF[@]}" "${src[@]}" -c:v mpeg2video -bf 2 -g 6 -f vob mpeg2.mpg
[ -s mpeg1.m1v ] || "${FF[@]}" "${src[@]}" -c:v mpeg1video -bf 2 -g 6 -f mpeg1video mpeg1.m1v
[ -s wmv2.wmv ] || "${FF[@]}" "${src[@]}" -c:v wmv2 wmv2.wmv
[ -s mjpeg.avi ] || "${FF[@]}" "${src[@]}" -c:v mjpeg mjpeg.avi
REAL="$(cd "$(dirname "$0")/../.." && pwd)/../shared/realworld"
for f in wmv3_brennon-HearMe_test_1frame.wmv wmv3_laerciop-tv_scan_test.wmv; do
    [ -s "$REAL/$f" ] && [ ! -s "$f" ] && head -c 400000 "$REAL/$f" > "$f"
done
# Index files as the cache holds them, without their closing checksum (the harness adds it).
cache=$(mktemp -d)
for f in h264.flv mpeg2.mpg wmv2.wmv; do
    XDG_CACHE_HOME=$cache "$GRAB" "$f" --out "$cache/frames" --from 0 --to 0 > /dev/null 2>&1 || true
done
for idx in "$cache"/framix/index/*.idx; do
    [ -s "$idx" ] && head -c -20 "$idx" > "$DIR/index_cache/$(basename "$idx")"
done
rm -rf "$cache"
cd "$DIR/frame_name"
printf '%s' 'frame{frame}' > default
printf '%s' '{name}_{frame:06}' > padded
printf '%s' '{name}-{time}' > time
printf '%s' 'shot {frame:09} of {name} at {time}' > all
cd "$DIR/settings"
printf '[Settings]\nLeft=1200\nTop=800.5\nWidth=6500\nHeight=4000\nvolume=500\nOpenFolder=/tmp\nJpegQuality=90\nToneMapHDR=0\n' > usual.ini
printf '[Settings]\nLeft=nan\nTop=1e39\nWidth=-inf\nJpegQuality=1000\n' > odd.ini
echo "seeds in $DIR"
