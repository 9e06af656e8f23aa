#!/usr/bin/env bash
# Generates short clips of many picture sizes and pixel formats into DIR, each with
# ffmpeg's own 24-bit BMP of one frame as the oracle, and DIR/cases.txt listing them:
#   <clip> <frame> <oracle.bmp> <description>
# Widths 1 to 64 cover every remainder modulo 16 and 32, at odd and even heights, and the
# real sizes are those of common video. Most HD pictures are tagged BT.709 and smaller ones
# left untagged (so BT.601), so both conversions are compared; an untagged HD picture
# (1280 wide or more, or more than 576 lines) is converted as BT.709, as players do.
set -euo pipefail
# shellcheck source=media_dir.sh
source "$(dirname "$0")/media_dir.sh"
FRAME=2 # of three: not the first, so the decoder has something to predict from

jobs=()
# NAME SIZE DESCRIPTION, then the encoding arguments (after the lavfi input).
clip() {
    local name=$1 size=$2 what=$3; shift 3
    jobs+=("$name|$size|$what|$*")
}

for w in $(seq 1 64); do
    # Odd and even heights for odd and even widths.
    h=$(( 2 + 2 * ((w * 5) % 12) - (w % 3 == 0) ))
    clip "w$w.mkv" "${w}x$h" "yuv420p ${w}x$h" -c:v ffv1 -pix_fmt yuv420p
done
x264="-c:v libx264 -preset ultrafast -bf 2 -pix_fmt yuv420p"
hd="-colorspace bt709 -color_primaries bt709 -color_trc bt709"
clip 426x240.mp4 426x240 "H.264 426x240" $x264
clip 640x360.mp4 640x360 "H.264 640x360" $x264
clip 854x480.mkv 854x480 "H.264 854x480" $x264
clip 1278x718.mkv 1278x718 "H.264 1278x718" $x264
clip 1280x544.mkv 1280x544 "H.264 1280x544 film crop, untagged" $x264
clip 1280x720.mp4 1280x720 "H.264 1280x720" $x264 $hd
clip 1366x768.mp4 1366x768 "H.264 1366x768" $x264 $hd
clip 1920x1080.mp4 1920x1080 "H.264 1920x1080" $x264 $hd
clip 3840x2160.mp4 3840x2160 "H.264 3840x2160" $x264 $hd
clip 1080x1920.mp4 1080x1920 "H.264 portrait 1080x1920" $x264 $hd
clip 720x1280.mp4 720x1280 "H.264 portrait 720x1280" $x264 $hd
clip 720x480.mpg 720x480 "MPEG-2 720x480 (4:3 non-square)" \
    -c:v mpeg2video -b:v 6M -bf 2 -aspect 4:3 -f vob
clip 720x576.mpg 720x576 "MPEG-2 720x576 (16:9 non-square)" \
    -c:v mpeg2video -b:v 6M -bf 2 -aspect 16:9 -f vob
clip yuvj420p.avi 333x187 "yuvj420p (full range) MJPEG 333x187" -c:v mjpeg -pix_fmt yuvj420p -q:v 2
clip yuvj422p.avi 333x187 "yuvj422p (full range) MJPEG 333x187" -c:v mjpeg -pix_fmt yuvj422p -q:v 2
clip yuv422p.mkv 333x187 "yuv422p 333x187" -c:v ffv1 -pix_fmt yuv422p
clip yuv444p.mkv 333x187 "yuv444p 333x187" -c:v ffv1 -pix_fmt yuv444p
clip nv12.avi 334x187 "nv12 334x187" -c:v rawvideo -pix_fmt nv12
clip yuv420p10.mkv 333x187 "yuv420p10le 333x187" -c:v ffv1 -pix_fmt yuv420p10le
clip h264-10bit.mkv 854x480 "H.264 10-bit 854x480" -c:v libx264 -preset ultrafast -pix_fmt yuv420p10le
clip h264-422.mkv 426x240 "H.264 4:2:2 426x240" -c:v libx264 -preset ultrafast -pix_fmt yuv422p
clip h264-444.mkv 426x240 "H.264 4:4:4 426x240" -c:v libx264 -preset ultrafast -pix_fmt yuv444p
clip rgb24.mov 333x187 "PNG rgb24 333x187" -c:v png -pix_fmt rgb24
clip rgba.mov 333x187 "PNG rgba 333x187" -c:v png -pix_fmt rgba
clip pal8.avi 333x187 "PNG pal8 333x187" -c:v png -pix_fmt pal8
clip gif.gif 333x187 "GIF 333x187" -c:v gif

# Longer clips of awkward sizes for driving the real program (not in cases.txt).
long_clip() { # NAME SIZE, then encoding arguments
    local name=$1 size=$2; shift 2
    [ -s "$name" ] && return 0
    "${FF[@]}" -f lavfi -i "testsrc2=s=$size:r=25:d=4" "$@" "$name.tmp.${name##*.}"
    mv "$name.tmp.${name##*.}" "$name"
}
long_clip long-426x240.mp4 426x240 -c:v libx264 -preset ultrafast -bf 2 -g 25 -pix_fmt yuv420p
long_clip long-854x480.mkv 854x480 -c:v libx264 -preset ultrafast -bf 2 -g 25 -pix_fmt yuv420p
long_clip long-352x288.mpg 352x288 -c:v mpeg1video -b:v 1500k -bf 2 -f mpeg

make_one() {
    set -euo pipefail
    IFS='|' read -r name size what args <<< "$1"
    local ref="${name%.*}.ref.bmp" w=${size%x*} h=${size#*x}
    if [ ! -s "$name" ]; then
        # testsrc2 makes even sizes of at least 2x2: the picture is cut from a larger one.
        # shellcheck disable=SC2086
        "${FF[@]}" -f lavfi -i "testsrc2=s=$(( (w + 2) / 2 * 2 ))x$(( (h + 2) / 2 * 2 )):r=25:d=0.12" \
            -vf "format=rgb24,crop=$w:$h:0:0" -frames:v 3 $args "$name.tmp.${name##*.}"
        mv "$name.tmp.${name##*.}" "$name"
    fi
    local convert=""
    if [[ "$args" != *-colorspace* ]] && [[ "$args" != *mjpeg* ]] && [[ "$args" != *png* ]] &&
        [[ "$args" != *gif* ]] && { [ "$w" -ge 1280 ] || [ "$h" -gt 576 ]; }; then
        convert=",scale=in_color_matrix=bt709:in_range=tv:out_range=pc"
    fi
    if [ ! -s "$ref" ]; then
        "${FF[@]}" -i "$name" -vf "select=eq(n\,$FRAME)$convert" -fps_mode passthrough -frames:v 1 \
            -pix_fmt bgr24 "$ref.tmp.bmp"
        mv "$ref.tmp.bmp" "$ref"
    fi
    echo "$name $FRAME $ref $what"
}
export -f make_one
export FRAME
export FF_ARGS="${FF[*]}"
printf '%s\0' "${jobs[@]}" |
    xargs -0 -P "$(nproc)" -I{} bash -c 'FF=($FF_ARGS); make_one "$1"' _ {} > cases.tmp
sort -V cases.tmp > cases.txt
rm cases.tmp
echo "$(wc -l < cases.txt) clips in $MEDIA_DIR"
