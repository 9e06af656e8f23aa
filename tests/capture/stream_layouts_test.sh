#!/usr/bin/env bash
# framix-grab on the ways a file can lay out its video, against ffmpeg: pictures stored
# rotated or mirrored (saved as shown, or as stored with --no-autorotate), transport streams
# cut in the middle of a GOP (starting with slices whose parameter sets come later), and a
# multiplex of two video programs (the first by default, the other with --stream), plus the
# real Matroska file with cover art when the recordings folder is there.
# usage: stream_layouts_test.sh FRAMIX_GRAB CLIP_DIR [REAL_DIR]
#   clips of its own are made into CLIP_DIR once.
set -uo pipefail
GRAB=$1
CLIPS=$2
REAL=${3:-}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
. "$(dirname "$0")/checks.sh"
mkdir -p "$CLIPS"
# An index cache of the test's own, empty at the start.
export XDG_CACHE_HOME=$WORK/cache

# Size and hash columns of a framemd5 listing on standard input.
columns() { grep -v '^#' | awk -F', *' '{print $5, $6}'; }
# ffmpeg's checksums of the decoded pictures of one stream, every frame the decoder
# outputs; further ffmpeg options (before the input) first.
ff_md5() { # [OPTIONS...] FILE STREAM
    local args=("$@") n=$#
    "${FF[@]}" "${args[@]:0:n-2}" -i "${args[n-2]}" -map "0:${args[n-1]}" -fps_mode passthrough \
        -f framemd5 - | columns
}
# The same of ffmpeg's 24-bit pictures (untagged pictures this small are BT.601).
ff_bgr_md5() { # [OPTIONS...] FILE STREAM
    local args=("$@") n=$#
    "${FF[@]}" "${args[@]:0:n-2}" -i "${args[n-2]}" -map "0:${args[n-1]}" -fps_mode passthrough \
        -vf "scale=in_color_matrix=bt601:in_range=tv:out_range=pc,format=bgr24" -f framemd5 - | columns
}
# The same of a folder of frame<N>.bmp files, from frame0 on.
bmp_md5() { "${FF[@]}" -f image2 -start_number 0 -i "$1/frame%d.bmp" -f framemd5 - | columns; }
# The first line two listings differ at, as a frame number, or nothing.
first_difference() { diff <(cat -n "$1") <(cat -n "$2") | awk '/^[<>]/ {print $2 - 1; exit}'; }
same_listing() { # WHAT GOT WANT
    local at
    at=$(first_difference "$2" "$3")
    if [ -z "$at" ] && [ -s "$3" ]; then
        ok "$1 ($(wc -l < "$3") frames)"
    else
        bad "$1: $(wc -l < "$2") frames against ffmpeg's $(wc -l < "$3"), first difference at frame ${at:-?}"
    fi
}
picture_size() { identify -format '%wx%h' "$1" 2>&1; }
# The display matrix ffprobe reads from a file (nine numbers) and the rotation it gives.
side_data() {
    ffprobe -v error -select_streams v:0 -show_entries stream_side_data=displaymatrix,rotation \
        -of default=nw=1 "$1" | awk '/^0000000[0-2]:/ {for (i = 2; i <= 4; i++) m = m (m == "" ? "" : ",") $i}
            /^rotation=/ {r = $0} END {print m, r}'
}

# 1. Rotated and mirrored pictures: 318x178 H.264 with a display matrix in the track header.
make_clip "$CLIPS" base.mp4 -f lavfi -i testsrc=s=318x178:r=25:d=3 \
    -c:v libx264 -preset veryfast -bf 2 -g 25 -pix_fmt yuv420p
for r in 90 180 270; do
    make_clip "$CLIPS" rot$r.mp4 -i "$CLIPS/base.mp4" -c copy -metadata:s:v:0 rotate=$r
done
# A horizontal mirror (FFmpeg's muxer cannot write one): the track header's matrix becomes
# (-1 0 0, 0 1 0, width 0 1), so x' = width - x.
if [ ! -s "$CLIPS/mirror.mp4" ]; then
    perl -e 'open(F, "<", $ARGV[0]) or die; binmode F; local $/; my $d = <F>;
        my $i = index($d, "tkhd"); die "no tkhd" if $i < 0;
        my $m = $i + 4 + (ord(substr($d, $i + 4, 1)) == 1 ? 52 : 40);
        substr($d, $m, 4) = pack("N", 0xFFFF0000); substr($d, $m + 24, 4) = pack("N", $ARGV[2] << 16);
        open(O, ">", $ARGV[1]) or die; binmode O; print O $d' \
        "$CLIPS/base.mp4" "$CLIPS/mirror.mp4.$$.tmp" 318 && mv "$CLIPS/mirror.mp4.$$.tmp" "$CLIPS/mirror.mp4"
fi
check "rot90.mp4 is stored rotated by 90 degrees" \
    test "$(side_data "$CLIPS/rot90.mp4")" = "0,-65536,0,65536,0,0,0,0,1073741824 rotation=90"
check "rot180.mp4 is stored rotated by 180 degrees" \
    test "$(side_data "$CLIPS/rot180.mp4")" = "-65536,0,0,0,-65536,0,0,0,1073741824 rotation=-180"
check "rot270.mp4 is stored rotated by 270 degrees" \
    test "$(side_data "$CLIPS/rot270.mp4")" = "0,65536,0,-65536,0,0,0,0,1073741824 rotation=-90"
check "mirror.mp4 is stored mirrored left to right" \
    test "$(side_data "$CLIPS/mirror.mp4")" = "-65536,0,0,0,65536,0,$((318 << 16)),0,1073741824 rotation=-180"
# ffmpeg shows the mirror mirrored (the oracle below relies on it).
check "ffmpeg shows mirror.mp4 as the stored picture flipped" test \
    "$(ff_bgr_md5 "$CLIPS/mirror.mp4" 0)" = "$("${FF[@]}" -noautorotate -i "$CLIPS/mirror.mp4" \
        -vf "hflip,scale=in_color_matrix=bt601:in_range=tv:out_range=pc,format=bgr24" -f framemd5 - | columns)"
for c in rot90 rot180 rot270 mirror; do
    f=$CLIPS/$c.mp4
    case $c in rot90 | rot270) shown=178x318 ;; *) shown=318x178 ;; esac
    ff_bgr_md5 "$f" 0 > "$WORK/want"
    "$GRAB" "$f" --out "$WORK/$c" --quiet > /dev/null 2> "$WORK/err" || bad "$c: $(head -c 300 "$WORK/err")"
    bmp_md5 "$WORK/$c" > "$WORK/got" 2> /dev/null
    check "$c: frame0.bmp is $shown, as shown ($(picture_size "$WORK/$c/frame0.bmp"))" \
        test "$(picture_size "$WORK/$c/frame0.bmp")" = "$shown"
    same_listing "$c: every frame as ffmpeg shows it" "$WORK/got" "$WORK/want"
    "$GRAB" "$f" --out "$WORK/$c-one" --from 40 --to 40 --quiet > /dev/null 2> "$WORK/err"
    check "$c: frame 40 alone is the whole run's" cmp -s "$WORK/$c-one/frame40.bmp" "$WORK/$c/frame40.bmp"

    ff_bgr_md5 -noautorotate "$f" 0 > "$WORK/want"
    "$GRAB" "$f" --out "$WORK/$c-stored" --no-autorotate --quiet > /dev/null 2> "$WORK/err" ||
        bad "$c --no-autorotate: exit $?: $(head -c 300 "$WORK/err")"
    bmp_md5 "$WORK/$c-stored" > "$WORK/got" 2> /dev/null
    check "$c --no-autorotate: frame0.bmp is 318x178, as stored ($(picture_size "$WORK/$c-stored/frame0.bmp"))" \
        test "$(picture_size "$WORK/$c-stored/frame0.bmp")" = 318x178
    same_listing "$c --no-autorotate: every frame as ffmpeg -noautorotate gives it" "$WORK/got" "$WORK/want"
    rm -rf "$WORK/$c" "$WORK/$c-one" "$WORK/$c-stored"
done

# 2. Transport streams cut in the middle of a GOP: the file starts with slices of a picture
# whose parameter sets come only with the next keyframe (H.264 with B-frames in closed GOPs,
# HEVC with open GOPs, whose first keyframe's leading pictures cannot be decoded).
make_clip "$CLIPS" long-h264.ts -f lavfi -i testsrc2=s=322x182:r=25:d=10 \
    -c:v libx264 -preset veryfast -bf 2 -g 50 -pix_fmt yuv420p -f mpegts
if ffmpeg -hide_banner -encoders 2> /dev/null | grep libx265 > /dev/null; then
    make_clip "$CLIPS" long-hevc.ts -f lavfi -i testsrc2=s=322x182:r=25:d=10 \
        -c:v libx265 -preset veryfast -x265-params log-level=error -bf 2 -g 50 -pix_fmt yuv420p -f mpegts
else
    echo "skipped: the HEVC cut needs ffmpeg with libx265"
fi
# Cuts F at the TS packet that starts the video packet 20 after the third keyframe.
cut_ts() { # IN OUT
    [ -s "$2" ] && return 0
    local pos
    pos=$(ffprobe -v fatal -select_streams v:0 -show_entries packet=pos,flags -of csv=p=0 "$1" |
        awk -F, '$2 ~ /K/ {k++} k == 3 && ++n == 21 {print $1; exit}')
    [ -n "$pos" ] && [ $((pos % 188)) = 0 ] || { echo "no packet to cut $1 at ($pos)"; return 1; }
    dd if="$1" of="$2.$$.tmp" bs=188 skip=$((pos / 188)) status=none && mv "$2.$$.tmp" "$2"
}
for codec in h264 hevc; do
    [ -s "$CLIPS/long-$codec.ts" ] || continue
    f=$CLIPS/cut-$codec.ts
    cut_ts "$CLIPS/long-$codec.ts" "$f" || { bad "cut-$codec.ts not made"; continue; }
    first=$(ffprobe -v fatal -select_streams v:0 -show_entries packet=flags -of csv=p=0 "$f" | head -1)
    check "cut-$codec.ts starts with a packet that is not a keyframe ($first)" test "${first#K}" = "$first"
    ff_md5 -v fatal "$f" 0 > "$WORK/want"
    "$GRAB" --framemd5 "$f" 2> "$WORK/err" | columns > "$WORK/got" || bad "cut-$codec.ts: $(head -c 300 "$WORK/err")"
    same_listing "cut-$codec.ts --framemd5: ffmpeg's checksums from frame 0" "$WORK/got" "$WORK/want"
    n=$(wc -l < "$WORK/want")
    second=$(ffprobe -v fatal -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 "$f" |
        awk -F, '$1 == 1 && NR > 1 {print NR; exit}')
    wrong=""
    targets=$(printf '%s\n' 0 1 ${second:-} $((n / 2)) $((n - 1)) | sort -nu | tr '\n' ' ')
    for k in $targets; do
        rm -rf "$XDG_CACHE_HOME"
        got=$("$GRAB" --framemd5 "$f" --from "$k" --to "$k" 2> /dev/null | columns)
        [ "$got" = "$(sed -n "$((k + 1))p" "$WORK/want")" ] || wrong+=" $k"
    done
    check "cut-$codec.ts: frames $targets alone have the whole run's checksums${wrong:+ (not$wrong)}" test -z "$wrong"
    # The first picture and one after the first keyframe as 24-bit files: ffmpeg's pixels.
    ff_bgr_md5 -v fatal "$f" 0 > "$WORK/want-bgr"
    wrong=""
    for k in 0 $((n / 2)); do
        "$GRAB" "$f" --out "$WORK/cut-$codec" --from "$k" --to "$k" --quiet > /dev/null 2>&1
        [ "$("${FF[@]}" -i "$WORK/cut-$codec/frame$k.bmp" -f framemd5 - 2> /dev/null | columns)" = \
            "$(sed -n "$((k + 1))p" "$WORK/want-bgr")" ] || wrong+=" $k"
    done
    check "cut-$codec.ts: frame0.bmp and frame$((n / 2)).bmp have ffmpeg's pixels${wrong:+ (not$wrong)}" test -z "$wrong"
done

# 3. Two video programs in one transport stream: program A is H.264 318x178, program B is
# MPEG-2 322x182 at a high bit rate and lasts longer.
make_clip "$CLIPS" two-programs.ts -f lavfi -i testsrc=s=318x178:r=25:d=3 \
    -f lavfi -i testsrc2=s=322x182:r=25:d=4 -map 0:v -map 1:v \
    -c:v:0 libx264 -preset veryfast -bf 2 -pix_fmt yuv420p -c:v:1 mpeg2video -b:v:1 6M \
    -program title=A:st=0 -program title=B:st=1 -f mpegts
f=$CLIPS/two-programs.ts
check "two-programs.ts: stream 0 is the H.264 318x178 one, stream 1 the MPEG-2 322x182 one" test \
    "$(ffprobe -v error -show_entries stream=index,codec_name,width,height -of csv=p=0 "$f" |
        sed 's/,*$//' | grep . | sort -u | tr '\n' ' ')" = \
    "0,h264,318,178 1,mpeg2video,322,182 "
ff_md5 "$f" 0 > "$WORK/want0"
ff_md5 "$f" 1 > "$WORK/want1"
"$GRAB" --framemd5 "$f" 2> "$WORK/err" | columns > "$WORK/got"
same_listing "two-programs.ts: by default the first video stream's frames" "$WORK/got" "$WORK/want0"
for s in 0 1; do
    "$GRAB" --framemd5 "$f" --stream "$s" 2> "$WORK/err" | columns > "$WORK/got"
    [ -s "$WORK/got" ] || bad "--stream $s: $(head -c 300 "$WORK/err")"
    same_listing "two-programs.ts --stream $s: that stream's frames" "$WORK/got" "$WORK/want$s"
done
"$GRAB" "$f" --stream 1 --out "$WORK/program-b" --from 30 --to 30 --quiet > /dev/null 2> "$WORK/err"
check "two-programs.ts --stream 1 --from 30 --to 30: ffmpeg's 322x182 picture" test \
    "$("${FF[@]}" -i "$WORK/program-b/frame30.bmp" -f framemd5 - 2> /dev/null | columns)" = \
    "$(ff_bgr_md5 "$f" 1 | sed -n 31p)"
"$GRAB" --framemd5 "$f" --stream 2 > /dev/null 2> "$WORK/err"
rc=$?
check "--stream 2 (there is none) is refused (exit $rc): $(head -1 "$WORK/err")" \
    test "$rc" -ne 0 -a "$rc" -lt 128 -a -n "$(head -1 "$WORK/err" | grep '^framix-grab: ')"

# 4. A real Matroska file whose cover picture is a second video stream: the default is the
# video.
mkv=${REAL:+$REAL/h264_hachoir_flashmob_attachment-coverart.mkv}
if [ -n "$mkv" ] && [ -s "$mkv" ]; then
    ff_md5 "$mkv" 0 > "$WORK/want"
    "$GRAB" --framemd5 "$mkv" 2> "$WORK/err" | columns > "$WORK/got"
    same_listing "MKV with cover art: by default the video, not the cover picture" "$WORK/got" "$WORK/want"
else
    echo "skipped: the MKV with cover art is not there (${REAL:-no recordings folder given})"
fi

echo "$pass passed, $failed failed"
[ "$failed" -eq 0 ]
