#!/usr/bin/env bash
# The first access to a file never opened before, across encoder settings drawn with a seed:
# frame rate, GOP length, B-frames, length, picture size and FourCC, for every codec and
# container whose frame index is read from the headers rather than decoded. Each clip is
# asked, each time with an empty index cache, for single frames, a range, --keyframes,
# --every and --csv at places drawn with the same seed, and every picture written must be
# ffmpeg's frame of that number.
# usage: cold_sweep_test.sh FRAMIX_GRAB WORK_DIR [SEED [CLIPS]]
#   (or FRAMIX_SWEEP_SEED and FRAMIX_SWEEP_CLIPS; the seed is printed so a failure can be
#   run again)
set -uo pipefail
GRAB=$1
DIR=$2
SEED=${3:-${FRAMIX_SWEEP_SEED:-$(date +%Y%m%d)}}
CLIPS=${4:-${FRAMIX_SWEEP_CLIPS:-17}}
. "$(dirname "$0")/checks.sh"
mkdir -p "$DIR"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
echo "seed $SEED, $CLIPS clips"
RANDOM=$SEED
draw() { echo $(($1 + RANDOM % ($2 - $1 + 1))); } # LOW HIGH

# codec settings for: mpeg4 in AVI under four FourCCs, in MP4; Xvid; MPEG-1 and MPEG-2 in
# program and transport streams; H.264 in AVI (no timestamps), TS, MKV and MP4; HEVC;
# codecs that never reorder (WMV2 in ASF, MS-MPEG4 in AVI, MJPEG).
kinds=(mpeg4.avi:FMP4 mpeg4.avi:XVID mpeg4.avi:DIVX mpeg4.avi:DX50 mpeg4.mp4 xvid.avi
    mpeg2.mpg mpeg1.mpg mpeg2.ts h264.avi h264.ts h264.mkv h264.mp4 hevc.mkv wmv2.wmv
    msmpeg4.avi mjpeg.avi)
widths=(322 330 346 306)
heights=(186 242 198 170)

encode() { # KIND RATE GOP BF SECONDS W H OUT
    local kind=$1 r=$2 g=$3 bf=$4 t=$5 w=$6 h=$7 out=$8
    local src=(-f lavfi -i "testsrc2=size=${w}x$h:rate=$r" -t "$t" -pix_fmt yuv420p)
    case $kind in
    mpeg4.avi:*) "${FF[@]}" "${src[@]}" -c:v mpeg4 -q:v "$(draw 2 8)" -bf "$bf" -g "$g" -vtag "${kind#*:}" "$out" ;;
    mpeg4.mp4) "${FF[@]}" "${src[@]}" -c:v mpeg4 -q:v 4 -bf "$bf" -g "$g" "$out" ;;
    xvid.avi) "${FF[@]}" "${src[@]}" -c:v libxvid -q:v 4 -bf "$bf" -g "$g" "$out" ;;
    mpeg2.mpg) "${FF[@]}" "${src[@]}" -c:v mpeg2video -q:v 4 -bf "$bf" -g "$g" -f vob "$out" ;;
    mpeg1.mpg) "${FF[@]}" "${src[@]}" -c:v mpeg1video -q:v 4 -bf "$bf" -g "$g" -f mpeg "$out" ;;
    mpeg2.ts) "${FF[@]}" "${src[@]}" -c:v mpeg2video -q:v 4 -bf "$bf" -g "$g" -f mpegts "$out" ;;
    h264.*) "${FF[@]}" "${src[@]}" -c:v libx264 -preset ultrafast -bf "$bf" -g "$g" \
        $([ "${kind#*.}" = avi ] && echo -bsf:v h264_mp4toannexb) "$out" ;;
    hevc.mkv) "${FF[@]}" "${src[@]}" -c:v libx265 -preset ultrafast \
        -x265-params "log-level=error:bframes=$bf:keyint=$g:min-keyint=$g" "$out" ;;
    wmv2.wmv) "${FF[@]}" "${src[@]}" -c:v wmv2 -q:v 4 -g "$g" "$out" ;;
    msmpeg4.avi) "${FF[@]}" "${src[@]}" -c:v msmpeg4 -q:v 4 -g "$g" "$out" ;;
    mjpeg.avi) "${FF[@]}" "${src[@]}" -c:v mjpeg -q:v 4 -pix_fmt yuvj420p "$out" ;;
    esac
}

# framix-grab with an index cache of its own, made empty first: a file never opened before.
cold() { # CLIP OUT, then options
    local clip=$1 out=$2
    shift 2
    rm -rf "$WORK/cache" "$out"
    XDG_CACHE_HOME=$WORK/cache "$GRAB" "$clip" --out "$out" --quiet "$@" > /dev/null 2> "$WORK/err"
}

for ((i = 0; i < CLIPS; ++i)); do
    kind=${kinds[$((i % ${#kinds[@]}))]}
    r=$(draw 15 50) g=$(draw 12 300) bf=$(draw 0 3) t=$(draw 7 31)
    w=${widths[$((RANDOM % 4))]} h=${heights[$((RANDOM % 4))]}
    [ "$kind" = hevc.mkv ] && t=$(draw 4 9) # the slowest to encode
    # MPEG-1 and MPEG-2 know a few frame rates only.
    case $kind in mpeg1.* | mpeg2.*) rates=(24 25 30 50) && r=${rates[$((RANDOM % 4))]} ;; esac
    ext=${kind%%:*}
    name="$i-${kind/:/-}-r$r-g$g-bf$bf-t$t-${w}x$h.${ext#*.}"
    clip=$DIR/$name
    [ -s "$clip" ] || encode "$kind" "$r" "$g" "$bf" "$t" "$w" "$h" "$clip.tmp.${ext#*.}" &&
        mv "$clip.tmp.${ext#*.}" "$clip" 2> /dev/null
    if [ ! -s "$clip" ]; then
        bad "$name: ffmpeg could not make it"
        continue
    fi
    probe_frames "$clip" > "$WORK/probe.csv"
    total=$(wc -l < "$WORK/probe.csv")
    # What each request wrote, as "query frame file" lines, checked below against ffmpeg.
    : > "$WORK/written"
    record() { # QUERY DIR
        local f
        for f in "$2"/*.bmp; do
            [ -e "$f" ] || continue
            local n=${f##*/frame}
            echo "$1 ${n%.bmp} $f" >> "$WORK/written"
        done
    }
    # Two frames anywhere, two a little after a keyframe, where a wrong count of the
    # pictures around the keyframe shows.
    keys=($(awk -F, '$4 == 1 {print $1}' "$WORK/probe.csv"))
    for q in 1 2 3 4; do
        n=$(draw 0 $((total - 1)))
        [ "$q" -gt 2 ] && n=$((${keys[$((RANDOM % ${#keys[@]}))]} + $(draw 0 12)))
        [ "$n" -ge "$total" ] && n=$((total - 1))
        cold "$clip" "$WORK/single$q" --from "$n" --to "$n" || bad "$name: frame $n: $(cat "$WORK/err")"
        [ -e "$WORK/single$q/frame$n.bmp" ] || bad "$name: frame $n not written"
        record "frame $n" "$WORK/single$q"
    done
    from=$(draw 0 $((total - 6)))
    to=$((from + $(draw 1 5)))
    cold "$clip" "$WORK/range" --from "$from" --to "$to" || bad "$name: range: $(cat "$WORK/err")"
    check "$name: --from $from --to $to writes $((to - from + 1)) frames" \
        test "$(ls "$WORK/range" | wc -l)" = $((to - from + 1))
    record "--from $from --to $to" "$WORK/range"

    from=$(draw 0 $((total / 2)))
    to=$(draw $((from + 1)) $((total - 1)))
    cold "$clip" "$WORK/keys" --from "$from" --to "$to" --keyframes
    want=$(awk -F, -v a="$from" -v b="$to" '$1 >= a && $1 <= b && $4 == 1 {print $1}' "$WORK/probe.csv" | tr '\n' ' ')
    got=$(ls "$WORK/keys" 2> /dev/null | sort -V | sed 's/frame\([0-9]*\)\.bmp/\1/' | tr '\n' ' ')
    if [ -z "$want" ]; then
        check "$name: --keyframes $from-$to, where there is none, is refused" grep -q "no keyframe" "$WORK/err"
    else
        check "$name: --keyframes $from-$to writes ffprobe's keyframes ($want)" test "$got" = "$want"
    fi
    record "--keyframes" "$WORK/keys"

    every=$(draw 7 60)
    from=$(draw 0 $((total / 3)))
    cold "$clip" "$WORK/every" --from "$from" --every "$every" --csv "$WORK/list.csv" ||
        bad "$name: --every: $(cat "$WORK/err")"
    want=$(seq "$from" "$every" $((total - 1)) | tr '\n' ' ')
    got=$(ls "$WORK/every" | sort -V | sed 's/frame\([0-9]*\)\.bmp/\1/' | tr '\n' ' ')
    check "$name: --every $every from $from" test "$got" = "$want"
    diffs=$(tail -n +2 "$WORK/list.csv" | cut -d, -f1,3,4 | while IFS= read -r line; do
        awk -F, -v l="$line" '{k = $1 "," $3 "," $4} k == l {found = 1} END {exit !found}' "$WORK/probe.csv" ||
            echo "$line"
    done)
    check "$name: --csv rows agree with ffprobe's frame, pts and keyframe${diffs:+ (not: $(echo $diffs | head -c 200))}" \
        test -z "$diffs"
    record "--every $every" "$WORK/every"

    # ffmpeg's pictures of every frame written, fifty to a decoding pass (its expressions
    # nest too deeply beyond that).
    rm -rf "$WORK/ref" && mkdir "$WORK/ref"
    declare -A ref=()
    awk '{print $(NF - 1)}' "$WORK/written" | sort -n -u | split -l 50 - "$WORK/ref/batch."
    for batch in "$WORK"/ref/batch.*; do
        expr=$(sed 's/.*/eq(n\\,&)/' "$batch" | paste -sd+)
        "${FF[@]}" -i "$clip" -vf "select='$expr'" -fps_mode passthrough -pix_fmt bgr24 "$batch-%d.bmp"
        k=0
        while read -r n; do
            k=$((k + 1))
            ref[$n]=$batch-$k.bmp
        done < "$batch"
    done
    wrong=""
    while read -r line; do
        f=${line##* }
        rest=${line% *}
        n=${rest##* }
        cmp -s <(tail -c +55 "$f") <(tail -c +55 "${ref[$n]}") || wrong="$wrong [$rest]"
    done < "$WORK/written"
    check "$name: every picture written ($(wc -l < "$WORK/written")) is ffmpeg's frame of its number${wrong:+; not:$wrong}" \
        test -z "$wrong"
    unset ref
done
echo "$pass passed, $failed failed (seed $SEED)"
[ "$failed" -eq 0 ]
