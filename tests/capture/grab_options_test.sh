#!/usr/bin/env bash
# framix-grab's picture formats and frame choices, end to end, against ffmpeg and ffprobe:
# lossless formats hold the BMP's pixels, JPEG is close to them, --every/--keyframes/--scenes
# save exactly the frames they should (read back from the frame numbers drawn into the
# corpus pictures), the CSV list agrees with ffprobe, names follow their templates, and
# --display-shape and --tonemap give what ffmpeg's own filters give.
# usage: grab_options_test.sh FRAMIX_GRAB MEDIA_DIR CLIP_DIR
#   MEDIA_DIR holds the test corpus; clips of its own are made into CLIP_DIR once.
set -uo pipefail
GRAB=$1
MEDIA=$2
CLIPS=$3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
. "$(dirname "$0")/checks.sh"
make_option_clips "$CLIPS"

# The frame number drawn into a corpus picture: 16 black/white blocks along the top, bit i
# in block i.
number() {
    "${FF[@]}" -i "$1" -vf "crop=iw:ih/8:0:0,scale=16:1:flags=area,format=gray" -f rawvideo - |
        od -An -v -tu1 | awk '{for (i = 1; i <= NF; i++) {if ($i > 127) n += 2 ^ k; k++}} END {print n + 0}'
}
# The numbers drawn into every picture of a folder, sorted, on one line.
numbers() {
    local f
    for f in "$1"/*; do number "$f"; done | sort -n | tr '\n' ' ' | sed 's/ $//'
}

# 1. Formats: PNG, TIFF and lossless WebP hold exactly the BMP's pixels; JPEG is close.
out=$WORK/formats
for f in bmp png tiff webp jpg; do
    "$GRAB" "$MEDIA/mpeg2.mpg" --out "$out" --from 120 --to 121 --format "$f" --quiet > /dev/null 2> "$WORK/err" ||
        bad "--format $f: $(cat "$WORK/err")"
done
check "files are named frame<N> with the format's extension" \
    test "$(listing "$out")" = "frame120.bmp frame120.jpg frame120.png frame120.tiff frame120.webp frame121.bmp frame121.jpg frame121.png frame121.tiff frame121.webp"
for n in 120 121; do
    rgb "$out/frame$n.bmp" "$WORK/bmp.rgb"
    for f in png tiff webp; do
        rgb "$out/frame$n.$f" "$WORK/$f.rgb"
        check "frame$n.$f has exactly the pixels of frame$n.bmp" cmp -s "$WORK/bmp.rgb" "$WORK/$f.rgb"
    done
done
check "the files are what their names say" test \
    "$(for f in png tiff webp jpg; do probe stream=codec_name "$out/frame120.$f"; done | tr '\n' ' ')" = "png tiff webp mjpeg "
check "JPEG is 4:4:4 at full range" test "$(probe stream=pix_fmt "$out/frame120.jpg")" = yuvj444p
p95=$(psnr "$out/frame120.jpg" "$out/frame120.bmp")
check "JPEG at the default quality (95) is within 40 dB of the BMP: $p95 dB" above "$p95" 40
"$GRAB" "$MEDIA/h264.mp4" --out "$WORK/hd" --from 300 --to 300 --quiet > /dev/null
"$GRAB" "$MEDIA/h264.mp4" --out "$WORK/hd" --from 300 --to 300 --format jpg --quiet > /dev/null
p=$(psnr "$WORK/hd/frame300.jpg" "$WORK/hd/frame300.bmp")
check "1080p JPEG at quality 95 is within 40 dB of the BMP: $p dB" above "$p" 40
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/q30" --from 120 --to 120 --format jpg --quality 30 --quiet > /dev/null
p30=$(psnr "$WORK/q30/frame120.jpg" "$out/frame120.bmp")
check "--quality 30 gives a smaller, coarser JPEG ($p30 dB, $(stat -c %s "$WORK/q30/frame120.jpg") bytes)" \
    test "$(stat -c %s "$WORK/q30/frame120.jpg")" -lt "$(stat -c %s "$out/frame120.jpg")" -a \
    "$(awk -v a="$p30" -v b="$p95" 'BEGIN {print (a < b - 3)}')" = 1
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/lossy" --from 120 --to 120 --format webp --quality 80 --quiet > /dev/null
rgb "$WORK/lossy/frame120.webp" "$WORK/lossy.rgb"
rgb "$out/frame120.bmp" "$WORK/bmp.rgb"
p=$(psnr "$WORK/lossy/frame120.webp" "$out/frame120.bmp")
if ! cmp -s "$WORK/lossy.rgb" "$WORK/bmp.rgb" && above "$p" 30; then
    ok "WebP with --quality 80 is lossy and close ($p dB)"
else
    bad "WebP with --quality 80: $p dB"
fi
check "no temporary files are left" no_leftovers "$out"

# 16 bits per channel: a 10-bit video's PNG is ffmpeg's own conversion to 48-bit RGB.
"$GRAB" "$CLIPS/pq.mp4" --out "$WORK/deep" --from 5 --to 5 --format png --depth 16 --quiet > /dev/null 2> "$WORK/err"
"${FF[@]}" -i "$CLIPS/pq.mp4" -vf "select=eq(n\,5)" -frames:v 1 -f rawvideo -pix_fmt rgb48be "$WORK/want48"
"${FF[@]}" -i "$WORK/deep/frame5.png" -f rawvideo -pix_fmt rgb48be "$WORK/got48"
check "--depth 16 writes 16-bit PNG" test "$(probe stream=pix_fmt "$WORK/deep/frame5.png")" = rgb48be
check "--depth 16 PNG has ffmpeg's 48-bit RGB pixels" cmp -s "$WORK/want48" "$WORK/got48"
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/deep8" --from 3 --to 3 --format png --depth 16 --quiet > /dev/null 2> "$WORK/err"
check "--depth 16 on an 8-bit video writes 8-bit PNG and says so" test \
    "$(probe stream=pix_fmt "$WORK/deep8/frame3.png")" = rgb24 -a -n "$(grep '8 bits' "$WORK/err")"

# 2. --every: from, from+N, ... up to --to, each the right picture.
out=$WORK/every
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$out" --from 3 --to 40 --every 7 --quiet > /dev/null
check "--every 7 --from 3 --to 40 writes frames 3 10 17 24 31 38" \
    test "$(listing "$out")" = "frame3.bmp frame10.bmp frame17.bmp frame24.bmp frame31.bmp frame38.bmp"
check "--every: each file shows its own frame" test "$(numbers "$out")" = "3 10 17 24 31 38"
"$GRAB" "$MEDIA/mpeg4.avi" --out "$WORK/every2" --every 50 --format png --quiet > /dev/null
check "--every 50 over a whole AVI writes 0 50 100 150 200" test \
    "$(numbers "$WORK/every2")" = "0 50 100 150 200"

# 3. --keyframes: exactly the frames ffprobe marks as keyframes.
for c in mpeg2.mpg h264.mp4 mpeg4.avi; do
    out=$WORK/keys-$c
    "$GRAB" "$MEDIA/$c" --out "$out" --keyframes --quiet > /dev/null 2> "$WORK/err"
    want=$(ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of flat "$MEDIA/$c" |
        sed -n 's/^frames\.frame\.\([0-9]*\)\.key_frame=1$/\1/p' | tr '\n' ' ' | sed 's/ $//')
    got=$(listing "$out" | sed 's/frame\([0-9]*\)\.bmp/\1/g')
    if [ -n "$want" ] && [ "$got" = "$want" ] && [ "$(numbers "$out")" = "$want" ]; then
        ok "--keyframes $c: frames $want"
    else
        bad "--keyframes $c wrote '$got' (pictures $(numbers "$out")), ffprobe's keyframes '$want'; $(cat "$WORK/err")"
    fi
done

# 4. --scenes: the first frame and every cut, nothing else.
scenes() { # expected frames, then options
    local want=$1 out=$WORK/scenes$RANDOM
    shift
    "$GRAB" "$CLIPS/cuts.mp4" --out "$out" "$@" --quiet > /dev/null 2> "$WORK/err"
    local got
    got=$(listing "$out" | sed 's/frame\([0-9]*\)\.bmp/\1/g')
    [ "$got" = "$want" ] && ok "$* finds frames $want" || bad "$* found '$got', expected '$want': $(cat "$WORK/err")"
}
scenes "0 30 50 70 95" --scenes
scenes "0 30 50 70 95" --scenes 0.5
scenes "0 95" --scenes 0.7
scenes "40 50 70 95" --scenes --from 40 --to 110

# 5. --csv: a line per file written, times, timestamps, keyframes and picture types as
# ffprobe sees them.
for c in h264.mp4 mpeg2.mpg; do
    out=$WORK/csv-$c
    "$GRAB" "$MEDIA/$c" --out "$out" --every 23 --csv "$WORK/$c.csv" --quiet > /dev/null 2> "$WORK/err"
    check "--csv $c: the header" test "$(head -1 "$WORK/$c.csv")" = "frame,time,pts,keyframe,type,file"
    check "--csv $c: one line per file, naming it" test \
        "$(tail -n +2 "$WORK/$c.csv" | cut -d, -f6 | tr '\n' ' ' | sed 's/ $//')" = "$(listing "$out")"
    check "--csv $c: frame numbers match the files" test \
        "$(tail -n +2 "$WORK/$c.csv" | awk -F, '$6 != "frame" $1 ".bmp" {bad++} END {print bad + 0}')" = 0
    probe_frames "$MEDIA/$c" > "$WORK/probe.csv"
    diffs=$(tail -n +2 "$WORK/$c.csv" | cut -d, -f1-5 | while IFS= read -r line; do
        grep -qx "$line" "$WORK/probe.csv" || echo "$line (ffprobe: $(grep "^${line%%,*}," "$WORK/probe.csv"))"
    done)
    rows=$(($(wc -l < "$WORK/$c.csv") - 1))
    [ -z "$diffs" ] && [ "$rows" -gt 10 ] && ok "--csv $c: $rows rows agree with ffprobe" ||
        bad "--csv $c differs from ffprobe ($rows rows): $(echo "$diffs" | head -3)"
done
"$GRAB" "$MEDIA/h264.mp4" --out "$WORK/csv-keys" --keyframes --csv "$WORK/keys.csv" --quiet > /dev/null
check "--csv with --keyframes: keyframes marked 1, I pictures" test "$(cut -d, -f1,4,5,6 "$WORK/keys.csv" | tr '\n' ' ')" = \
    "frame,keyframe,type,file 0,1,I,frame0.bmp 250,1,I,frame250.bmp "
"$GRAB" "$CLIPS/cuts.mp4" --out "$WORK/csv-scenes" --scenes --csv "$WORK/scenes.csv" --format jpg --quiet > /dev/null
check "--csv with --scenes lists the scene starts" test \
    "$(tail -n +2 "$WORK/scenes.csv" | cut -d, -f1,6 | tr '\n' ' ')" = "0,frame0.jpg 30,frame30.jpg 50,frame50.jpg 70,frame70.jpg 95,frame95.jpg "

# 6. --name: padding, the video's name, the time.
out=$WORK/names
"$GRAB" "$MEDIA/h264.mp4" --out "$out" --from 98 --to 101 --name 'shot_{frame:05}_{name}_{time}' --format png --quiet > /dev/null
check "--name with {frame:05}, {name} and {time}" test "$(listing "$out")" = \
    "shot_00098_h264_00-00-03.920.png shot_00099_h264_00-00-03.960.png shot_00100_h264_00-00-04.000.png shot_00101_h264_00-00-04.040.png"
check "--name: the files show their frames" test "$(numbers "$out")" = "98 99 100 101"
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/times" --from 30 --to 30 --name '{time}' --quiet > /dev/null
t=$(probe_frames "$MEDIA/mpeg2.mpg" | awk -F, '$1 == 30 {s = $2; h = int(s / 3600); m = int(s / 60) % 60;
    printf "%02d-%02d-%06.3f", h, m, s - 60 * int(s / 60)}')
check "{time} is the frame's time as ffprobe gives it ($t)" test "$(listing "$WORK/times")" = "$t.bmp"
for template in 'same' 'frame{number}' 'a/{frame}' '{frame:0}' '{frame'; do
    "$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/badname" --name "$template" > /dev/null 2> "$WORK/err"
    rc=$?
    [ $rc -eq 2 ] && [ -s "$WORK/err" ] && [ ! -e "$WORK/badname" ] &&
        ok "--name '$template' is refused (exit 2): $(head -1 "$WORK/err")" ||
        bad "--name '$template': exit $rc, '$(cat "$WORK/err")'"
done

# 7. --display-shape: 720x576 at 16:9 (pixels 64:45) becomes 1024x576, ffmpeg's scaling of
# the stored picture.
out=$WORK/shape
"$GRAB" "$CLIPS/pal169.mpg" --out "$out" --from 4 --to 4 --display-shape --format png --quiet > /dev/null 2> "$WORK/err"
"$GRAB" "$CLIPS/pal169.mpg" --out "$out" --from 4 --to 4 --quiet > /dev/null
check "--display-shape turns 720x576 16:9 into 1024x576" test "$(probe stream=width,height "$out/frame4.png")" = "1024,576"
check "without it the stored 720x576 is written" test "$(probe stream=width,height "$out/frame4.bmp")" = "720,576"
"${FF[@]}" -i "$out/frame4.bmp" -vf scale=1024:576 "$WORK/scaled.png"
p=$(psnr "$out/frame4.png" "$WORK/scaled.png")
check "--display-shape pixels are ffmpeg's scaling of the frame ($p dB)" above "$p" 45

# 8. --tonemap: a PQ frame comes out as bright as ffmpeg's zscale+tonemap makes it.
out=$WORK/tonemap
"$GRAB" "$CLIPS/pq.mp4" --out "$out" --from 5 --to 5 --tonemap --format png --quiet > /dev/null 2> "$WORK/err"
"$GRAB" "$CLIPS/pq.mp4" --out "$out" --from 5 --to 5 --quiet > /dev/null
rgb "$out/frame5.png" "$WORK/mapped.rgb"
rgb "$out/frame5.bmp" "$WORK/plain.rgb"
want=$(tonemapped_mean "$CLIPS/pq.mp4" 5 "$WORK/want.rgb")
got=$(mean "$WORK/mapped.rgb")
plain=$(mean "$WORK/plain.rgb")
check "--tonemap mean brightness $got is within 10% of ffmpeg's $want" within "$got" "$want" 0.10
check "(without --tonemap the same frame's mean is $plain, more than 10% off)" bash -c "! awk 'BEGIN {exit !($(off "$plain" "$want") <= 0.10)}'"
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/sdr" --from 7 --to 7 --tonemap --format png --quiet > /dev/null 2> "$WORK/err"
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/sdr" --from 7 --to 7 --quiet > /dev/null
rgb "$WORK/sdr/frame7.png" "$WORK/a.rgb"
rgb "$WORK/sdr/frame7.bmp" "$WORK/b.rgb"
check "--tonemap leaves SDR frames as they are, and says so" test \
    "$(cmp -s "$WORK/a.rgb" "$WORK/b.rgb" && echo same)" = same -a -n "$(grep -i 'HDR' "$WORK/err")"

# 9. Wrong and conflicting options exit 2 with a message and write nothing.
usage() { # options
    "$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/usage" "$@" > /dev/null 2> "$WORK/err"
    local rc=$?
    [ $rc -eq 2 ] && [ -s "$WORK/err" ] && [ ! -e "$WORK/usage" ] &&
        ok "$* is refused (exit 2): $(head -1 "$WORK/err")" || bad "$*: exit $rc, '$(cat "$WORK/err")'"
}
usage --format gif
usage --every 2 --keyframes
usage --scenes --every 3
usage --keyframes --scenes 0.4
usage --every 0
usage --scenes 1.5
usage --quality 80
usage --format png --quality 80
usage --format jpg --quality 0
usage --format jpg --depth 16
usage --format png --depth 12
usage --format png --depth 16 --tonemap
usage --csv ""
usage --matrix bt2020
# A frame list never goes over the video being read (by any name), over one of the run's own
# pictures, or into something that is not a regular file: refused before any work.
cp "$MEDIA/mpeg2.mpg" "$WORK/input.mpg"
ln -s input.mpg "$WORK/link.mpg"
before=$(md5sum < "$WORK/input.mpg")
for csv in "$WORK/input.mpg" "$WORK/link.mpg" "$WORK/usage/frame3.bmp" /dev/null "$WORK"; do
    "$GRAB" "$WORK/input.mpg" --out "$WORK/usage" --from 0 --to 3 --csv "$csv" > /dev/null 2> "$WORK/err"
    rc=$?
    [ $rc -eq 2 ] && [ ! -e "$WORK/usage" ] && [ "$(md5sum < "$WORK/input.mpg")" = "$before" ] &&
        ok "--csv $csv is refused (exit 2): $(head -1 "$WORK/err")" || bad "--csv $csv: exit $rc"
done
# Nor through a folder the run would make first: new/../input.mpg is the video itself.
"$GRAB" "$WORK/input.mpg" --out "$WORK/new" --from 0 --to 2 --csv "$WORK/new/../input.mpg" > /dev/null 2> "$WORK/err"
rc=$?
[ $rc -eq 2 ] && [ ! -e "$WORK/new" ] && [ "$(md5sum < "$WORK/input.mpg")" = "$before" ] &&
    ok "--csv through a folder still to be made, back to the video, is refused (exit 2)" ||
    bad "--csv new/../input.mpg: exit $rc, $(cat "$WORK/err")"
# A file whose name is not valid UTF-8 (an old archive's, a disk written under another code
# page) opens as any other, and gives the same pictures.
odd=$WORK/$'\xff\xfe\xe9'.mpg
cp "$MEDIA/mpeg2.mpg" "$odd"
"$GRAB" "$odd" --out "$WORK/odd" --from 5 --to 6 > /dev/null 2> "$WORK/err" &&
    "$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/plain" --from 5 --to 6 > /dev/null 2>&1 &&
    cmp -s "$WORK/odd/frame5.bmp" "$WORK/plain/frame5.bmp" &&
    ok "a name that is not UTF-8 opens and gives the same frames" ||
    bad "a name that is not UTF-8: $(cat "$WORK/err")"
mkdir -p "$WORK/named"
cp "$MEDIA/mpeg2.mpg" "$WORK/named/frame7.bmp"
"$GRAB" "$WORK/named/frame7.bmp" --out "$WORK/named" --from 0 --to 9 > /dev/null 2> "$WORK/err"
[ $? -eq 2 ] && cmp -s "$WORK/named/frame7.bmp" "$MEDIA/mpeg2.mpg" &&
    ok "a picture is never written over the input under its name" || bad "the input was overwritten"
"$GRAB" "$MEDIA/mpeg2.mpg" --framemd5 --format png > /dev/null 2> "$WORK/err"
[ $? -eq 2 ] && ok "--framemd5 with --format png is refused: $(head -1 "$WORK/err")" ||
    bad "--framemd5 --format png accepted"
"$GRAB" --help > "$WORK/help"
missing=
for o in --format --quality --depth --every --keyframes --scenes --csv --name --display-shape --tonemap --stream --no-autorotate --matrix BT.709 '{frame:0N}' '{name}' '{time}' Examples; do
    grep -q -- "$o" "$WORK/help" || missing="$missing $o"
done
[ -z "$missing" ] && ok "--help documents every option, with examples" || bad "--help lacks:$missing"

echo "$pass passed, $failed failed"
[ "$failed" -eq 0 ]
