#!/usr/bin/env bash
# The files the program's bulk capture writes, checked by independent tools (a frame saved
# from the keyboard is checked the same way by tests/app/e2e_test.sh):
#  1. a bulk run 100..110 through the real bulk dialog (headless): exactly those files,
#     each a 24-bit BMP to ImageMagick, pixels within 1 level of ffmpeg's own decoding and
#     RGB conversion;
#  2. a bulk run through the dialog on a clip of an awkward size (854x480): every file holds
#     exactly ffmpeg's pixels of its frame.
# usage: capture_files_test.sh BULK_DRIVER MEDIA_DIR SIZES_DIR
set -uo pipefail
DRIVER=$1
MEDIA=$2
SIZES=$3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failed=0 passed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAILED: $*"; failed=$((failed + 1)); }
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

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
