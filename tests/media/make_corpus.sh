#!/usr/bin/env bash
# Generates the test corpus into DIR with the ffmpeg command-line tool, plus one oracle
# table per clip (DIR/<clip>.framemd5) made by ffmpeg's own decoder. Nothing here is
# committed: the clips are small and rebuilt at test time. A clip is only regenerated
# when it is missing, so a rerun of the suite in the same build tree is quick.
#
# Every picture carries its frame number twice: as text, and as a row of 16 large
# black/white blocks (bit i of the number in block i) that survives lossy coding.
set -euo pipefail
# shellcheck source=media_dir.sh
source "$(dirname "$0")/media_dir.sh"

# The frame-number blocks: a 16x1 picture from geq, scaled up without smoothing and laid
# over the moving test pattern. geq runs on 16 pixels per frame, so this stays cheap.
numbered() { # W H RATE FRAMES
    local w=$1 h=$2 r=$3 n=$4 bh=$(( $2 / 8 ))
    echo "testsrc2=s=${w}x${h}:r=${r}:d=$(echo "scale=4; $n / $r" | bc)[bg];" \
         "color=c=black:s=16x1:r=${r}:d=$(echo "scale=4; $n / $r" | bc),format=gray," \
         "geq=lum='255*mod(floor(N/pow(2\,X))\,2)',scale=${w}:${bh}:flags=neighbor[bits];" \
         "[bg][bits]overlay=0:0:format=auto,format=yuv420p"
}

make() { # NAME, then ffmpeg arguments; skipped when NAME already exists
    local name=$1; shift
    [ -s "$name" ] && return 0
    "${FF[@]}" "$@" "$name.tmp.${name##*.}"
    mv "$name.tmp.${name##*.}" "$name"
}

SINE="sine=frequency=440:sample_rate=44100"

# MPEG-1 system stream: B-frames, open GOPs, MP2 audio.
make mpeg1.mpg -filter_complex "$(numbered 352 288 25 300)" -f lavfi -i "$SINE:d=12" \
    -c:v mpeg1video -b:v 1500k -g 15 -bf 2 -c:a mp2 -b:a 128k -shortest -f mpeg
# MPEG-2 program stream 720x576, B-frames, open GOPs (no closed-GOP flag), small PES
# packets so that many pictures arrive without a timestamp of their own.
make mpeg2.mpg -filter_complex "$(numbered 720 576 25 250)" -f lavfi -i "$SINE:d=10" \
    -c:v mpeg2video -b:v 4000k -g 15 -bf 2 -c:a mp2 -b:a 192k -shortest -f vob
# AVI with MPEG-4 Part 2 and B-frames.
make mpeg4.avi -filter_complex "$(numbered 320 240 25 250)" -f lavfi -i "$SINE:d=10" \
    -c:v mpeg4 -q:v 4 -g 30 -bf 2 -c:a mp2 -shortest
# ASF/WMV with Windows Media Video 8 and Windows Media Audio 2.
make wmv2.wmv -filter_complex "$(numbered 320 240 25 250)" -f lavfi -i "$SINE:d=10" \
    -c:v wmv2 -b:v 800k -g 50 -c:a wmav2 -b:a 64k -shortest -f asf
# H.264 1080p in MP4, B-frames, every GOP exactly 250 frames (no scene-cut keyframes),
# with AAC sound.
make h264.mp4 -filter_complex "$(numbered 1920 1080 25 500)" -f lavfi -i "$SINE:d=20" \
    -c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 \
    -pix_fmt yuv420p -c:a aac -b:a 128k -shortest -movflags +faststart
# Variable frame rate Matroska: uneven steps and a slower second half.
make vfr.mkv -filter_complex "$(numbered 320 240 25 200),settb=1/1000,setpts='(N*40+if(mod(N\,2)\,0\,15)+if(gt(N\,100)\,(N-100)*60\,0))/1000/TB'" \
    -c:v libx264 -preset veryfast -bf 2 -g 48 -fps_mode passthrough -enc_time_base 1/1000
# An odd picture size, so every BMP row needs padding (the test source itself only makes
# even sizes, hence the crop).
make odd.avi -f lavfi -i testsrc2=s=34x18:r=5:d=2 -vf format=yuv444p,crop=33:17:0:0 -c:v ffv1 -pix_fmt yuv444p
# Sound only.
make sound.mp2 -f lavfi -i "$SINE:d=4" -c:a mp2 -b:a 128k
# High dynamic range, BT.2020, bright enough for tone mapping to change the pictures
# clearly: 10-bit PQ, as HDR10 is; 8-bit 4:2:0 HLG, whose pictures the screen would
# otherwise get from swscale directly; and PQ with a colour matrix (SMPTE ST 2085) the tone
# mapping filters cannot convert from.
make pq.mp4 -f lavfi -i "testsrc2=s=320x240:r=25:d=1,lutyuv=y=200+val*0.2" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p10le \
    -color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc
make hlg.mkv -f lavfi -i "testsrc2=s=320x240:r=25:d=1,lutyuv=y=200+val*0.2" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p \
    -color_primaries bt2020 -color_trc arib-std-b67 -colorspace bt2020nc
make pq-2085.mp4 -f lavfi -i testsrc2=s=64x48:r=25:d=0.2 -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p10le -color_primaries bt2020 -color_trc smpte2084 -colorspace smpte2085

# MPEG streams the frame index reads from picture headers: a transport stream; a cut that
# starts at an open GOP, whose first B pictures the decoder drops; closed GOPs; interlaced
# frame pictures; and MJPEG in AVI, where every packet is a picture.
make mpeg2.ts -i mpeg2.mpg -map 0 -c copy -f mpegts
make opengop.mpg -ss 3.1 -i mpeg2.mpg -map 0:v -c copy -f vob
make closedgop.mpg -f lavfi -i testsrc2=s=176x144:r=25:d=4 -c:v mpeg2video -g 12 -bf 2 -flags +cgop -sc_threshold 1000000000 -f vob
make interlaced.mpg -f lavfi -i testsrc2=s=352x288:r=25:d=3 -c:v mpeg2video -g 12 -bf 2 \
    -flags +ilme+ildct -top 1 -f vob
make mjpeg.avi -f lavfi -i testsrc2=s=160x120:r=25:d=2 -c:v mjpeg -q:v 3
# H.264 and HEVC in transport streams, as camcorders and broadcast recordings carry them:
# B-pyramids, open GOPs, and a cut that starts in the middle of a GOP.
make h264.ts -f lavfi -i testsrc2=s=320x240:r=25:d=8 -c:v libx264 -preset veryfast -bf 3 \
    -b_strategy 0 -x264-params b-pyramid=normal:open-gop=1:keyint=50:scenecut=0 -f mpegts
make hevc.m2ts -f lavfi -i testsrc2=s=320x240:r=25:d=6 -c:v libx265 -preset ultrafast \
    -x265-params bframes=4:keyint=40:log-level=error -f mpegts -mpegts_m2ts_mode 1
make midgop.ts -ss 1.3 -i h264.ts -c copy -f mpegts
# Interlaced H.264 as broadcast 1080i carries it: frame pictures that switch macroblock pairs
# between frame and field coding (MBAFF), with B-pyramids; and the same stream in Matroska.
make interlaced.ts -f lavfi -i testsrc2=s=352x288:r=25:d=8 -c:v libx264 -preset veryfast -bf 3 \
    -flags +ildct+ilme -x264-params tff=1:b-pyramid=normal:keyint=50:open-gop=1 -f mpegts
make interlaced.mkv -i interlaced.ts -c copy
# Recordings that begin wherever the recorder started, in the middle of a GOP: the streams
# above with their start cut off at a transport packet boundary, so that the first packets
# are B and P pictures whose references are gone.
for cut in h264.ts:30:188 interlaced.ts:40:188 hevc.m2ts:30:192; do
    IFS=: read -r clip percent packet <<< "$cut"
    if [ ! -s "cut-$clip" ]; then
        tail -c +$(( $(stat -c %s "$clip") * percent / 100 / packet * packet + 1 )) "$clip" > cut.tmp
        mv cut.tmp "cut-$clip"
    fi
done
# MPEG-4 Part 2 in AVI, whose order the VOP headers give: without B-VOPs (low delay), from
# Xvid with B-VOPs (packed, as DivX and Xvid write them), and a copy that starts in the middle of a GOP.
make mpeg4-ip.avi -f lavfi -i testsrc2=s=176x144:r=25:d=4 -c:v mpeg4 -q:v 5 -g 25 -bf 0
make xvid.avi -f lavfi -i testsrc2=s=320x240:r=25:d=6 -c:v libxvid -q:v 5 -g 40 -bf 1 -vtag XVID
make mpeg4-cut.avi -i mpeg4.avi -ss 2.1 -map 0:v -c copy
# Two recordings joined end to end: the timestamps start again in the middle (half a second
# apart, so that no two pictures share one).
make shifted.ts -i h264.ts -map 0:v -c copy -output_ts_offset 0.5 -f mpegts
[ -s spliced.ts ] || { cat h264.ts shifted.ts > spliced.tmp && mv spliced.tmp spliced.ts; }
# H.264 without timestamps to order its B-frames by: in AVI (1080p, 250-frame GOPs, whose
# first GOP takes a while to decode), from the B-pyramid and open-GOP transport stream in
# AVI, cut in the middle of a GOP, and as a raw stream.
make h264.avi -i h264.mp4 -map 0:v -c copy -bsf:v h264_mp4toannexb
make pyramid.avi -i h264.ts -map 0:v -c copy
make cut-pyramid.avi -i cut-h264.ts -map 0:v -c copy
make raw.h264 -i h264.ts -map 0:v -c copy -f h264
# Timestamps that lie: B-frames stamped in decoding order, while the decoder shows them in
# display order.
make lies.mkv -i vfr.mkv -c copy -bsf:v setts=pts=DTS

# Two programs of a broadcast multiplex, each with its own video of another size and length.
make twovideo.ts -f lavfi -i testsrc2=s=320x240:r=25:d=2 -f lavfi -i testsrc=s=176x144:r=10:d=3 \
    -map 0:v -map 1:v -c:v libx264 -preset veryfast -bf 2 \
    -program title=First:st=0 -program title=Second:st=1 -f mpegts
# A phone's portrait video: stored sideways, with a quarter turn in the display matrix.
make upright.mp4 -f lavfi -i testsrc2=s=318x178:r=25:d=2 -c:v libx264 -preset veryfast -bf 2
make rot90.mp4 -i upright.mp4 -c copy -metadata:s:v:0 rotate=90
# Stated frame rates that frame times in whole milliseconds only come near: 30/1 in ASF
# and MP4, 30000/1001 in an MPEG-2 program stream.
make rate30.wmv -f lavfi -i testsrc2=s=160x120:r=30:d=2 -c:v wmv2 -f asf
make rate30.mp4 -f lavfi -i testsrc2=s=160x120:r=30:d=2 -c:v libx264 -preset veryfast -bf 2
make ntsc.mpg -f lavfi -i testsrc2=s=160x120:r=30000/1001:d=2 -c:v mpeg2video -f vob
# HEVC in MP4, short, with B-frames: damaged copies of it are made by the tests.
make hevc.mp4 -f lavfi -i testsrc2=s=320x180:r=25:d=3 -c:v libx265 -preset ultrafast \
    -x265-params bframes=3:keyint=25:log-level=error

# Bad inputs.
[ -e empty.mpg ] || : > empty.mpg
[ -e text.mpg ] || printf 'This is a text file, not a video.\n%.0s' {1..200} > text.mpg
[ -s truncated.mpg ] || head -c $(( $(stat -c %s mpeg2.mpg) * 2 / 5 )) mpeg2.mpg > truncated.mpg
if [ ! -s garbage.mpg ]; then
    cp mpeg2.mpg garbage.tmp
    # 128 KiB of noise in the middle of the file, in place.
    head -c 131072 /dev/urandom | dd of=garbage.tmp bs=1 seek=$(( $(stat -c %s mpeg2.mpg) / 2 )) conv=notrunc status=none
    mv garbage.tmp garbage.mpg
fi
# A raw YUV stream whose header claims a 60000x60000 picture.
[ -s huge.y4m ] || { printf 'YUV4MPEG2 W60000 H60000 F25:1 Ip A1:1 C420jpeg\nFRAME\n'; head -c 65536 /dev/zero; } > huge.y4m
# An AVI whose headers claim a 20000x20000 picture (width and height rewritten in place).
if [ ! -s huge.avi ]; then
    "${FF[@]}" -f lavfi -i testsrc2=s=16x16:r=5:d=1 -c:v rawvideo -pix_fmt bgr24 -f avi huge.tmp
    # The stream format's width and (top-down, negative) height: 16 and -16 become 20000 and -20000.
    perl -0777 -pi -e 's/(strf.{8})\x10\0\0\0\xf0\xff\xff\xff/$1\x20\x4e\0\0\xe0\xb1\xff\xff/s' huge.tmp
    mv huge.tmp huge.avi
fi
# Matroska whose codec is unknown to any decoder: the codec id string is rewritten in place.
if [ ! -s unsupported.mkv ]; then
    "${FF[@]}" -f lavfi -i testsrc2=s=64x48:r=5:d=1 -c:v libx264 -f matroska unsup.tmp
    sed -i 's|V_MPEG4/ISO/AVC|V_FRAMIX/XX/ZZZ|' unsup.tmp
    mv unsup.tmp unsupported.mkv
fi
mkdir -p folder.mpg

# The oracle: what ffmpeg's own decoder outputs, every frame, no duplication or dropping,
# timed in the stream's own time base; and beside it one line per frame, 1 where ffprobe's
# decoder reports a key frame.
for clip in mpeg1.mpg mpeg2.mpg mpeg4.avi xvid.avi wmv2.wmv h264.mp4 vfr.mkv; do
    [ -s "$clip.framemd5" ] && [ -s "$clip.keyframes" ] && continue
    "${FF[@]}" -i "$clip" -map 0:v:0 -fps_mode passthrough -enc_time_base -1 -f framemd5 "$clip.framemd5.tmp"
    ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 "$clip" |
        grep -o '^[01]' > "$clip.keyframes.tmp"
    mv "$clip.keyframes.tmp" "$clip.keyframes"
    mv "$clip.framemd5.tmp" "$clip.framemd5"
done
echo "corpus ready in $MEDIA_DIR"
