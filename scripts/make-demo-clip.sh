#!/usr/bin/env bash
# Makes media/demo.mpg, the clip that ships with Framix: 12 seconds of MPEG-2 program stream
# (352x288, 25 frames/s, B-frames, open GOPs) with MP2 sound, from synthetic sources only.
# Every picture shows its own frame number in large digits. Needs the ffmpeg command-line
# tool; the result is committed, so this only runs when the clip should change.
set -euo pipefail
cd "$(dirname "$0")/.."
font=$(fc-match -f '%{file}' 'DejaVu Sans:bold' 2>/dev/null || true)
[ -n "$font" ] && fontopt="fontfile=$font:" || fontopt=""
ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i "testsrc2=s=352x288:r=25:d=12" \
    -f lavfi -i "sine=frequency=330:beep_factor=4:sample_rate=44100:d=12" \
    -vf "drawbox=x=96:y=100:w=160:h=88:color=black@0.7:t=fill,drawtext=${fontopt}text='%{frame_num}':fontsize=64:fontcolor=white:x=(w-text_w)/2:y=(h-text_h)/2" \
    -c:v mpeg2video -b:v 900k -maxrate 1200k -bufsize 1000k -g 15 -bf 2 \
    -c:a mp2 -b:a 96k -ar 44100 -f vob media/demo.mpg.tmp
mv media/demo.mpg.tmp media/demo.mpg
ls -l media/demo.mpg
