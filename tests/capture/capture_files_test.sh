#!/usr/bin/env bash
# The files the program's bulk capture writes, checked by independent tools (a frame saved
# from the keyboard is checked the same way by tests/app/e2e_test.sh):
#  1. a bulk run 100..110 through the real bulk dialog (headless): exactly those files,
#     each a 24-bit BMP to ImageMagick, pixels within 1 level of ffmpeg's own decoding and
#     RGB conversion;
#  2. a bulk run through the dialog on a clip of an awkward size (854x480): every file holds
#     exactly ffmpeg's pixels of its frame;
#  3. the other output types (WebP lossless and at a quality), every Nth frame, keyframes
#     and scene changes, the frame list, the display shape and HDR tone mapping settings,
#     all through the dialog.
# usage: capture_files_test.sh BULK_DRIVER MEDIA_DIR SIZES_DIR CLIP_DIR
set -uo pipefail
DRIVER=$1
MEDIA=$2
SIZES=$3
CLIPS=$4
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
. "$(dirname "$0")/checks.sh"
make_option_clips "$CLIPS"
# The largest difference of any channel of any pixel, in 8-bit levels (999: unreadable).
peak() {
    [ -s "$1" ] && [ -s "$2" ] || { echo 999; return; }
    compare -metric PAE "$1" "$2" null: 2>&1 | sed 's/ .*//' |
        awk '$1 ~ /^[0-9.]+$/ {printf "%d", ($1 + 128) / 257; next} {print 999}'
}
bmp_ok() { # file WxH
    local info bytes w=${2%x*} h=${2#*x}
    info=$(identify -format '%m %wx%h %z' "$1" 2>&1)
    bytes=$(stat -c %s "$1")
    [ "$info" = "BMP3 $2 8" ] && [ "$bytes" -eq $(( 54 + ((w * 3 + 3) / 4 * 4) * h )) ]
}
reference() { # clip first last dir
    mkdir -p "$4"
    ffmpeg -v error -i "$MEDIA/$1" -map 0:v:0 -fps_mode passthrough \
        -vf "select=between(n\,$2\,$3),scale=in_color_matrix=bt601:in_range=tv:out_range=pc" \
        -start_number "$2" -pix_fmt bgr24 "$4/frame%d.bmp"
}
export XDG_CONFIG_HOME=$WORK/config

# 1. Bulk run through the dialog.
QT_QPA_PLATFORM=offscreen "$DRIVER" "$MEDIA/mpeg2.mpg" "$WORK/bulk" 100 110 > "$WORK/log" 2>&1
want=$(seq 100 110 | sed 's/.*/frame&.bmp/' | sort)
got=$(ls -A "$WORK/bulk" 2> /dev/null | sort)
[ "$want" = "$got" ] && ok "bulk 100..110 wrote exactly frame100..frame110" || bad "bulk wrote: $got"
grep -q "The frames have been captured" "$WORK/log" && ok "completion message" ||
    bad "no completion message: $(cat "$WORK/log")"
bmp_ok "$WORK/bulk/frame100.bmp" 720x576 && ok "identify: 24-bit BMP 720x576" ||
    bad "identify: $(identify "$WORK/bulk/frame100.bmp" 2>&1)"
reference mpeg2.mpg 100 110 "$WORK/ref"
worst=0
for n in $(seq 100 110); do
    p=$(peak "$WORK/bulk/frame$n.bmp" "$WORK/ref/frame$n.bmp"); [ -n "$p" ] || p=999
    [ "$p" -gt "$worst" ] && worst=$p
done
[ "$worst" -le 1 ] && ok "bulk pixels within $worst level of ffmpeg" || bad "bulk pixels off by $worst levels"

# 2. Bulk capture at an awkward size, exact.
clip=$SIZES/long-854x480.mkv
QT_QPA_PLATFORM=offscreen "$DRIVER" "$clip" "$WORK/bulk854" 20 27 > "$WORK/log854" 2>&1
exact=0
for n in $(seq 20 27); do
    ffmpeg -v error -y -i "$clip" -vf "select=eq(n\,$n)" -fps_mode passthrough -frames:v 1 \
        -pix_fmt bgr24 "$WORK/ref854.bmp"
    [ -s "$WORK/bulk854/frame$n.bmp" ] &&
        cmp -s <(tail -c +55 "$WORK/bulk854/frame$n.bmp") <(tail -c +55 "$WORK/ref854.bmp") &&
        exact=$((exact + 1))
done
[ "$exact" -eq 8 ] && ok "bulk 854x480 frames 20..27: every file exactly ffmpeg's pixels" ||
    bad "bulk 854x480: $exact of 8 files exact ($(cat "$WORK/log854" | head -3))"

# 3. Output types and frame choices through the dialog.
bulk() { # OUTDIR CLIP, then the driver's range and options; the log is OUTDIR.log
    local out=$1 clip=$2
    shift 2
    QT_QPA_PLATFORM=offscreen "$DRIVER" "$clip" "$out" "$@" > "$out.log" 2>&1
}
raw_frame() { # CLIP N FILE: ffmpeg's picture of frame N as 24-bit RGB
    "${FF[@]}" -i "$1" -vf "select=eq(n\,$2)" -fps_mode passthrough -frames:v 1 -f rawvideo -pix_fmt rgb24 "$3"
}
out=$WORK/png
bulk "$out" "$clip" 20 40 png every=7 csv
check "PNG every 7th of 20..40: frame20, 27, 34 and the list" test "$(listing "$out")" = \
    "frame20.png frame27.png frame34.png frames.csv"
for n in 20 27 34; do
    raw_frame "$clip" "$n" "$WORK/want.rgb"
    rgb "$out/frame$n.png" "$WORK/got.rgb"
    check "frame$n.png holds exactly ffmpeg's pixels of frame $n" cmp -s "$WORK/want.rgb" "$WORK/got.rgb"
done
check "the progress text ends with the pace and the time left" grep -qx \
    "progress: Capturing Frame:34/40  (1.0 frames/s, 0:00 left)" "$out.log"
probe_frames "$clip" > "$WORK/probe.csv"
check "the list's header" test "$(head -1 "$out/frames.csv")" = "frame,time,pts,keyframe,type,file"
listed=$(tail -n +2 "$out/frames.csv" | tr '\n' ' ')
want=$(for n in 20 27 34; do grep "^$n," "$WORK/probe.csv" | sed "s/\$/,frame$n.png/"; done | tr '\n' ' ')
[ "$listed" = "$want" ] && ok "the list's frames, times, timestamps, keyframes and types are ffprobe's" ||
    bad "list '$listed', ffprobe '$want'"

out=$WORK/lossless
for type in tiff webp-lossless jpg; do bulk "$out" "$clip" 20 21 "$type"; done
raw_frame "$clip" 20 "$WORK/want.rgb"
for type in tiff webp; do
    rgb "$out/frame20.$type" "$WORK/got.rgb"
    check "frame20.$type holds exactly ffmpeg's pixels" cmp -s "$WORK/want.rgb" "$WORK/got.rgb"
done
p=$(psnr "$out/frame20.jpg" "$out/frame20.tiff")
check "frame20.jpg at the default quality is close ($p dB)" above "$p" 40
bulk "$out/lossy" "$clip" 20 21 webp quality=60
p=$(psnr "$out/lossy/frame20.webp" "$out/frame20.tiff")
check "frame20.webp at quality 60 is lossy but close ($p dB)" above "$p" 30
check "and smaller than the lossless one" test "$(stat -c %s "$out/lossy/frame20.webp")" -lt \
    "$(stat -c %s "$out/frame20.webp")"

out=$WORK/keys
bulk "$out" "$clip" 0 99 keyframes bmp
want=$(awk -F, '$1 <= 99 && $4 == 1 {printf "frame%d.bmp ", $1}' "$WORK/probe.csv" | sed 's/ $//')
check "keyframes only of 0..99: ffprobe's keyframes ($want)" test "$(listing "$out")" = "$want"

out=$WORK/scenes
bulk "$out" "$CLIPS/cuts.mp4" scenes png
check "scene changes: the first frame and every cut" test "$(listing "$out")" = \
    "frame0.png frame30.png frame50.png frame70.png frame95.png"
grep -q "The frames have been captured" "$out.log" && ok "scene run ends with the completion message" ||
    bad "scene run: $(head -3 "$out.log")"

out=$WORK/shape
bulk "$out" "$CLIPS/pal169.mpg" 3 4 png shape
bulk "$out/stored" "$CLIPS/pal169.mpg" 3 4 png
check "Capture in Display Shape: 720x576 16:9 is saved as 1024x576" test \
    "$(probe stream=width,height "$out/frame4.png")" = "1024,576"
check "without it the stored 720x576" test "$(probe stream=width,height "$out/stored/frame4.png")" = "720,576"

out=$WORK/hdr
bulk "$out" "$CLIPS/pq.mp4" 5 6 png
bulk "$out/sdr" "$CLIPS/pq.mp4" 5 6 png sdr
want=$(tonemapped_mean "$CLIPS/pq.mp4" 5 "$WORK/want.rgb")
rgb "$out/frame5.png" "$WORK/got.rgb"
got=$(mean "$WORK/got.rgb")
rgb "$out/sdr/frame5.png" "$WORK/plain.rgb"
plain=$(mean "$WORK/plain.rgb")
check "HDR tone-mapped by default: mean $got within 10% of ffmpeg's $want" within "$got" "$want" 0.10
check "with tone mapping off the stored pixels (mean $plain)" bash -c "! awk 'BEGIN {exit !($(off "$plain" "$want") <= 0.10)}'"

echo "$pass passed, $failed failed"
[ "$failed" -eq 0 ]
