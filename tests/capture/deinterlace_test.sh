#!/usr/bin/env bash
# framix-grab --deinterlace, end to end: the pictures are exactly ffmpeg's
# bwdif=mode=send_frame:parity=auto:deint=interlaced ones converted to 24-bit BGR, whether the
# whole file is read in order, one frame is reached by a seek, or a range starts in the
# middle; --framemd5 lists bwdif's pictures; a progressive clip comes out unchanged.
# usage: deinterlace_test.sh FRAMIX_GRAB CLIP_DIR
#   clips of its own are made into CLIP_DIR once.
set -uo pipefail
GRAB=$1
CLIPS=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
. "$(dirname "$0")/checks.sh"
BWDIF=bwdif=mode=send_frame:parity=auto:deint=interlaced

# Fields of a 50 Hz source woven into 30 frames, coded interlaced; sizes that are not whole
# macroblocks.
mkdir -p "$CLIPS"
make_clip "$CLIPS" interlaced-mpeg2.mpg -f lavfi -i testsrc2=s=350x286:r=50:d=1.2 \
    -vf tinterlace=interleave_top,fieldorder=tff,format=yuv420p \
    -c:v mpeg2video -flags +ildct+ilme -top 1 -q:v 4 -g 12 -bf 2 -f vob
make_clip "$CLIPS" interlaced-h264.mp4 -f lavfi -i testsrc2=s=718x484:r=50:d=1.2 \
    -vf tinterlace=interleave_top,fieldorder=tff,format=yuv420p \
    -c:v libx264 -preset veryfast -flags +ildct+ilme -x264-params interlaced=1:tff=1 -g 12 -bf 2
make_clip "$CLIPS" progressive-h264.mp4 -f lavfi -i testsrc2=s=350x286:r=25:d=1.2 \
    -pix_fmt yuv420p -c:v libx264 -preset veryfast -g 10 -bf 2

# The pixels of a picture file as 24-bit BGR rows, top row first.
bgr() { "${FF[@]}" -i "$1" -f rawvideo -pix_fmt bgr24 "$2"; }
# Frame N of a raw BGR file of FRAMEBYTES-sized frames.
nth() { dd if="$1" bs="$2" skip="$3" count=1 status=none; }
hashes() { grep -v '^#' | awk -F', *' '{print $6}'; }

for c in interlaced-mpeg2.mpg interlaced-h264.mp4; do
    clip=$CLIPS/$c
    size=$(probe stream=width,height "$clip" | cut -d, -f1,2 | tr , x)
    bytes=$((${size%x*} * ${size#*x} * 3))
    "${FF[@]}" -i "$clip" -vf "$BWDIF" -fps_mode passthrough -pix_fmt bgr24 -f rawvideo "$WORK/want.bgr"
    "${FF[@]}" -i "$clip" -fps_mode passthrough -pix_fmt bgr24 -f rawvideo "$WORK/plain.bgr"
    frames=$(($(stat -c %s "$WORK/want.bgr") / bytes))
    last=$((frames - 1))
    # Every frame, read in order.
    out=$WORK/all-$c
    "$GRAB" "$clip" --out "$out" --deinterlace --quiet > /dev/null 2> "$WORK/err" || bad "$c: $(cat "$WORK/err")"
    wrong=""
    for n in $(seq 0 "$last"); do
        bgr "$out/frame$n.bmp" "$WORK/got.bgr" 2> /dev/null
        nth "$WORK/want.bgr" $bytes "$n" | cmp -s - "$WORK/got.bgr" || wrong="$wrong $n"
    done
    [ -z "$wrong" ] && [ "$(ls "$out" | wc -l)" = "$frames" ] &&
        ok "$c ($size): all $frames frames read in order are bwdif's, byte for byte" ||
        bad "$c: frames read in order that are not bwdif's:$wrong ($(ls "$out" | wc -l) of $frames written)"
    # Single frames reached by seeking (the first, a GOP's first and its neighbours, the
    # middle, the last) and a range that starts in the middle.
    wrong=""
    for n in 0 11 12 13 $((frames / 2)) "$last"; do
        out=$WORK/one-$c-$n
        "$GRAB" "$clip" --out "$out" --from "$n" --to "$n" --deinterlace --quiet > /dev/null 2>&1
        bgr "$out/frame$n.bmp" "$WORK/got.bgr" 2> /dev/null
        nth "$WORK/want.bgr" $bytes "$n" | cmp -s - "$WORK/got.bgr" || wrong="$wrong $n"
    done
    out=$WORK/range-$c
    "$GRAB" "$clip" --out "$out" --from 17 --to 21 --deinterlace --quiet > /dev/null 2>&1
    for n in 17 18 19 20 21; do
        bgr "$out/frame$n.bmp" "$WORK/got.bgr" 2> /dev/null
        nth "$WORK/want.bgr" $bytes "$n" | cmp -s - "$WORK/got.bgr" || wrong="$wrong range:$n"
    done
    [ -z "$wrong" ] && ok "$c: frames 0 11 12 13 $((frames / 2)) $last and 17..21 reached at random are bwdif's" ||
        bad "$c: frames reached at random that are not bwdif's:$wrong"
    # Without the option the same frame is the woven one, which bwdif changes.
    "$GRAB" "$clip" --out "$WORK/woven-$c" --from 13 --to 13 --quiet > /dev/null 2>&1
    bgr "$WORK/woven-$c/frame13.bmp" "$WORK/got.bgr" 2> /dev/null
    if nth "$WORK/plain.bgr" $bytes 13 | cmp -s - "$WORK/got.bgr" &&
        ! nth "$WORK/want.bgr" $bytes 13 | cmp -s - "$WORK/got.bgr"; then
        ok "$c: without --deinterlace frame 13 is as decoded, not bwdif's"
    else
        bad "$c: without --deinterlace frame 13 is not the decoded picture"
    fi
    check "$c: --framemd5 --deinterlace lists bwdif's pictures" test \
        "$("$GRAB" "$clip" --framemd5 --deinterlace | hashes)" = \
        "$("${FF[@]}" -i "$clip" -vf "$BWDIF" -fps_mode passthrough -f framemd5 - | hashes)"
done

# Progressive video: the option changes nothing.
clip=$CLIPS/progressive-h264.mp4
"$GRAB" "$clip" --out "$WORK/p-plain" --quiet > /dev/null
"$GRAB" "$clip" --out "$WORK/p-deint" --deinterlace --quiet > /dev/null
"$GRAB" "$clip" --out "$WORK/p-seek" --from 14 --to 14 --deinterlace --quiet > /dev/null
same=1
for f in "$WORK"/p-plain/*.bmp; do cmp -s "$f" "$WORK/p-deint/${f##*/}" || same=0; done
cmp -s "$WORK/p-plain/frame14.bmp" "$WORK/p-seek/frame14.bmp" || same=0
[ $same = 1 ] && [ "$(ls "$WORK/p-plain" | wc -l)" = 30 ] &&
    ok "progressive: --deinterlace gives the same 30 pictures" || bad "progressive: --deinterlace changed pictures"

check "--help names --deinterlace" grep -q -- --deinterlace <("$GRAB" --help)

echo "$pass passed, $failed failed"
[ "$failed" -eq 0 ]
