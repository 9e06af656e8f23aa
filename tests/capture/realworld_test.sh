#!/usr/bin/env bash
# framix-grab over recordings from real cameras, phones, encoders and broadcast equipment,
# against ffmpeg's decoder: a whole run writes every frame ffmpeg decodes, each with
# ffmpeg's exact pixels (its rotation, the stream chosen by default, the colour matrix of
# untagged pictures), a single frame reached by seeking is the same file as in the whole
# run (with the index made for the run and with the cached one), and damaged files end
# with a message, never a crash.
# usage: realworld_test.sh FRAMIX_GRAB REAL_DIR WORK_DIR [files|damaged]
#   REAL_DIR holds the recordings and MANIFEST.tsv (the test skips when it is missing);
#   "files" checks the readable recordings, "damaged" the ones in REAL_DIR/damaged.
set -uo pipefail
GRAB=$1
REAL=$2
WORK=$3
MODE=${4:-files}
if [ ! -s "$REAL/MANIFEST.tsv" ]; then
    echo "skipped: no recordings in $REAL"
    exit 77
fi
. "$(dirname "$0")/checks.sh"
rm -rf "$WORK"
mkdir -p "$WORK"
trap 'rm -rf "$WORK"/run-* "$WORK"/one-*' EXIT
# An index cache of the test's own, empty at the start.
export XDG_CACHE_HOME=$WORK/cache

# What MANIFEST.tsv says of a file: COLUMN NAME.
manifest() {
    awk -F'\t' -v col="$1" -v name="$2" 'NR == 1 {for (i = 1; i <= NF; i++) if ($i == col) c = i; next}
        $1 == name && c {print $c}' "$REAL/MANIFEST.tsv"
}
# The video stream a player shows by default: the one the container marks as the default,
# else the lowest-numbered one; cover pictures are not video.
default_stream() {
    ffprobe -v error -show_entries stream=index,codec_type:stream_disposition=default,attached_pic \
        -of flat "$1" 2> /dev/null | awk -F= '/^streams\.stream\./ {
            split($1, k, "."); i = k[3]; v = $2; gsub(/"/, "", v)
            if (k[4] == "codec_type") type[i] = v; else if (k[5] == "default") def[i] = v
            else if (k[5] == "attached_pic") pic[i] = v; if (i + 1 > n) n = i + 1 }
            END { for (i = 0; i < n; i++) if (type[i] == "video" && pic[i] != 1) {
                    if (first == "") first = i; if (def[i] == 1 && chosen == "") chosen = i }
                print chosen != "" ? chosen : first }'
}
stream_info() { # FILE INDEX ENTRY
    ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of flat "$1" 2> /dev/null |
        sed -n "s/^streams\.stream\.[0-9]*\.$3=\"\{0,1\}\([^\"]*\)\"\{0,1\}\$/\1/p" | head -1
}
# The colour conversion of a stream's pictures, as scale filter options: the matrix the
# stream is tagged with, or for untagged pictures BT.709 from 1280 pixels wide or more than
# 576 lines up (of the stored size) and BT.601 below; full range for JPEG-range pictures.
conversion() { # FILE INDEX
    local space w h fmt range matrix in_range=tv
    space=$(stream_info "$1" "$2" color_space)
    w=$(stream_info "$1" "$2" width)
    h=$(stream_info "$1" "$2" height)
    fmt=$(stream_info "$1" "$2" pix_fmt)
    range=$(stream_info "$1" "$2" color_range)
    case $space in
    bt709) matrix=bt709 ;;
    fcc) matrix=fcc ;;
    smpte240m) matrix=smpte240m ;;
    bt470bg | smpte170m) matrix=bt601 ;;
    bt2020nc | bt2020c) matrix=bt2020 ;;
    *) if [ "$w" -ge 1280 ] || [ "$h" -gt 576 ]; then matrix=bt709; else matrix=bt601; fi ;;
    esac
    case $fmt in yuvj*) in_range=pc ;; esac
    [ "$range" = pc ] && in_range=pc
    echo "scale=in_color_matrix=$matrix:in_range=$in_range:out_range=pc,format=bgr24"
}
# Size and hash of every frame: ffmpeg's 24-bit pictures of the stream (rotated as a
# player shows it), in decoding output order with nothing dropped or repeated.
reference_hashes() { # FILE INDEX FILTER
    "${FF[@]}" -i "$1" -map "0:$2" -fps_mode passthrough -vf "$3" -f framemd5 - |
        grep -v '^#' | awk -F', *' '{print $5, $6}'
}
reference_picture() { # FILE INDEX FILTER N OUT
    "${FF[@]}" -i "$1" -map "0:$2" -fps_mode passthrough -vf "select=eq(n\,$4),$3" -frames:v 1 "$5"
}
# The same of a folder of frame<N>.bmp files, from frame0 on.
bmp_hashes() {
    "${FF[@]}" -f image2 -start_number 0 -i "$1/frame%d.bmp" -f framemd5 - |
        grep -v '^#' | awk -F', *' '{print $5, $6}'
}
# How two pictures differ: their sizes, how many pixels and by how much at most.
how_different() {
    local a b
    a=$(identify -format '%wx%h' "$1" 2>&1)
    b=$(identify -format '%wx%h' "$2" 2>&1)
    if [ "$a" != "$b" ]; then
        echo "framix's picture is $a, ffmpeg's $b"
        return
    fi
    echo "$(compare -metric AE "$1" "$2" null: 2>&1) of the $a pixels differ, by up to" \
        "$(compare -metric PAE "$1" "$2" null: 2>&1 | sed 's/ .*//' | awk '{printf "%d", ($1 + 128) / 257}') levels"
}
# The frames to reach by seeking: the first and the last, the ones right after the first
# keyframes after the start, and some in the middle.
seek_targets() { # FILE INDEX COUNT
    local n=$3
    {
        echo 0
        echo $((n - 1))
        ffprobe -v error -select_streams "$2" -show_entries frame=key_frame -of csv=p=0 "$1" |
            awk -F, -v n="$n" '$1 == 1 && NR > 1 && NR < n {print NR; if (++k == 2) exit}'
        echo $((n / 2))
        echo $((n / 3))
    } | awk -v n="$n" '$1 >= 0 && $1 < n && !seen[$1]++' | head -6 | sort -n | tr '\n' ' ' | sed 's/ $//'
}
# A run that must not crash, and says what went wrong when it fails.
sane_exit() { # WHAT RC STDERR
    local what=$1 rc=$2 err=$3
    if grep -qE 'AddressSanitizer|LeakSanitizer|runtime error:' "$err"; then
        bad "$what: a sanitizer report: $(grep -m1 -E 'ERROR|runtime error' "$err")"
        return 1
    fi
    if [ "$rc" -ge 128 ]; then
        bad "$what: ended by signal $((rc - 128))"
        return 1
    fi
    if [ "$rc" -ne 0 ] && ! head -1 "$err" | grep -q '^framix-grab: '; then
        bad "$what: exit $rc without a message of its own: '$(head -c 300 "$err")'"
        return 1
    fi
    return 0
}

summary=()
check_file() { # FILE
    local f=$1 name started=$SECONDS
    name=$(basename "$f")
    local stream filter count want
    stream=$(default_stream "$f")
    if [ -z "$stream" ]; then
        bad "$name: ffprobe finds no video stream"
        summary+=("$name: no video stream")
        return
    fi
    filter=$(conversion "$f" "$stream")
    reference_hashes "$f" "$stream" "$filter" > "$WORK/want"
    count=$(wc -l < "$WORK/want")
    want=$(manifest ffmpeg_frames "$name")
    if [ -n "$want" ]; then
        check "$name: ffmpeg decodes $count frames, as the manifest says ($want)" test "$count" = "$want"
    fi
    local line="$name: $count frames, stream $stream, ${filter%%,*}:"

    # The whole file, read straight through.
    local out=$WORK/run-$name
    rm -rf "$out"
    "$GRAB" "$f" --out "$out" --quiet > /dev/null 2> "$WORK/err"
    local rc=$?
    if ! sane_exit "$name whole run" "$rc" "$WORK/err"; then
        summary+=("$line whole run failed (exit $rc)")
        return
    elif [ "$rc" -ne 0 ]; then
        bad "$name whole run: exit $rc: $(head -c 300 "$WORK/err")"
        summary+=("$line whole run failed (exit $rc)")
        return
    fi
    local names
    names=$(ls -A "$out" | sort -V | tr '\n' ' ')
    if [ "$names" = "$(seq 0 $((count - 1)) | sed 's/.*/frame&.bmp/' | tr '\n' ' ')" ]; then
        ok "$name: the whole run writes frame0..frame$((count - 1)), as many as ffmpeg decodes"
    else
        bad "$name: the whole run wrote $(ls -A "$out" | wc -l) files ($(echo "$names" | cut -c1-120)...), ffmpeg decodes $count frames"
    fi
    bmp_hashes "$out" > "$WORK/got"
    local first
    first=$(diff <(cat -n "$WORK/got") <(cat -n "$WORK/want") | awk '/^[<>]/ {print $2 - 1; exit}')
    if [ -z "$first" ]; then
        ok "$name: all $count frames have ffmpeg's pixels"
        line+=" whole run ok"
    else
        local differing
        differing=$(paste -d' ' <(cut -d' ' -f2 "$WORK/want") <(cut -d' ' -f2 "$WORK/got") |
            awk '$1 != $2' | wc -l)
        local detail="no file"
        if [ -e "$out/frame$first.bmp" ]; then
            reference_picture "$f" "$stream" "$filter" "$first" "$WORK/ref.bmp"
            detail=$(how_different "$out/frame$first.bmp" "$WORK/ref.bmp")
        fi
        bad "$name: frame$first.bmp differs from ffmpeg's frame $first ($detail); $differing frames differ"
        line+=" whole run MISMATCH at frame $first ($detail; $differing frames differ)"
    fi

    # Single frames reached by seeking: with no index (made for the run) and with the
    # cached one, the same files as the whole run's.
    local targets n state wrong
    targets=$(seek_targets "$f" "$stream" "$count")
    for state in cold warm; do
        wrong=""
        for n in $targets; do
            [ "$state" = cold ] && rm -rf "$XDG_CACHE_HOME"
            rm -rf "$WORK/one-$name"
            "$GRAB" "$f" --out "$WORK/one-$name" --from "$n" --to "$n" --quiet > /dev/null 2> "$WORK/err"
            rc=$?
            sane_exit "$name frame $n ($state index)" "$rc" "$WORK/err" || { wrong+=" $n"; continue; }
            if [ "$rc" -ne 0 ]; then
                wrong+=" $n(exit $rc: $(head -c 200 "$WORK/err"))"
            elif [ "$(ls -A "$WORK/one-$name")" != "frame$n.bmp" ]; then
                wrong+=" $n(wrote $(ls -A "$WORK/one-$name" | tr '\n' ' '))"
            elif ! cmp -s "$WORK/one-$name/frame$n.bmp" "$out/frame$n.bmp"; then
                wrong+=" $n($(how_different "$WORK/one-$name/frame$n.bmp" "$out/frame$n.bmp" | sed 's/ffmpeg/the whole run/'))"
            fi
        done
        if [ -z "$wrong" ]; then
            ok "$name: frames $targets reached by seeking ($state index) are the whole run's files"
            line+=" $state seeks ok"
        else
            bad "$name: frames reached by seeking ($state index) differ from the whole run's:$wrong"
            line+=" $state seeks MISMATCH at$wrong"
        fi
        # An index made by reading the packets alone is cached only once a decoding pass
        # has confirmed it, which a single-frame run does not wait for: with nothing cached,
        # a second round would only repeat the first.
        if [ "$state" = cold ] && [ -z "$(find "$XDG_CACHE_HOME" -type f 2> /dev/null)" ]; then
            echo "  note: $name: no index was cached by the single-frame runs (scanned index)"
            line+=" (no index cached, so no warm round)"
            break
        fi
    done
    rm -rf "$out" "$WORK/one-$name"
    summary+=("$line ($((SECONDS - started)) s)")
}

# Damaged files: every kind of run ends with an exit status and a message of its own, never
# a signal; frames that decode are ffmpeg's; a file with nothing decodable is refused.
check_damaged() { # FILE
    local f=$1 name
    name=$(basename "$f")
    local want
    want=$(manifest ffmpeg_frames "$name")
    local mode rc line="$name:"
    for mode in whole range framemd5; do
        local out=$WORK/run-$name-$mode
        rm -rf "$out"
        case $mode in
        whole) "$GRAB" "$f" --out "$out" --quiet > /dev/null 2> "$WORK/err" ;;
        range) "$GRAB" "$f" --out "$out" --from 0 --to 0 --quiet > /dev/null 2> "$WORK/err" ;;
        framemd5) "$GRAB" "$f" --framemd5 > "$WORK/md5" 2> "$WORK/err" ;;
        esac
        rc=$?
        sane_exit "$name ($mode)" "$rc" "$WORK/err" || { line+=" $mode BAD(exit $rc)"; continue; }
        if [ "$rc" -ne 0 ]; then
            ok "$name ($mode): exit $rc, $(head -1 "$WORK/err")"
            line+=" $mode exit $rc"
            [ "${want:-0}" = 0 ] || echo "  note: ffmpeg decodes $want frames of $name"
            continue
        fi
        # It read the file: then the frames must be the ones ffmpeg decodes.
        if [ "${want:-0}" = 0 ]; then
            bad "$name ($mode): accepted a file with no decodable picture"
            line+=" $mode accepted"
            continue
        fi
        local stream filter
        stream=$(default_stream "$f")
        filter=$(conversion "$f" "$stream")
        case $mode in
        whole)
            reference_hashes "$f" "$stream" "$filter" > "$WORK/want"
            bmp_hashes "$out" > "$WORK/got"
            check "$name (whole): the $(wc -l < "$WORK/want") frames ffmpeg decodes, with its pixels" \
                test "$(ls -A "$out" | wc -l)" = "$(wc -l < "$WORK/want")" -a -z "$(diff "$WORK/got" "$WORK/want")" ;;
        range)
            reference_picture "$f" "$stream" "$filter" 0 "$WORK/ref.bmp"
            check "$name (frame 0): ffmpeg's pixels" cmp -s <(bmp_hashes "$out") <(bmp_hashes_one "$WORK/ref.bmp") ;;
        framemd5)
            "${FF[@]}" -i "$f" -map "0:$stream" -fps_mode passthrough -f framemd5 - > "$WORK/ffmd5"
            check "$name (framemd5): ffmpeg's checksums" \
                test "$(grep -v '^#' "$WORK/md5" | awk -F', *' '{print $5, $6}')" = \
                "$(grep -v '^#' "$WORK/ffmd5" | awk -F', *' '{print $5, $6}')" ;;
        esac
        line+=" $mode ok ($want frames)"
        rm -rf "$out"
    done
    summary+=("$line")
}
bmp_hashes_one() { "${FF[@]}" -i "$1" -f framemd5 - | grep -v '^#' | awk -F', *' '{print $5, $6}'; }

if [ "$MODE" = damaged ]; then
    for f in "$REAL"/damaged/*; do
        [ -f "$f" ] && check_damaged "$f"
    done
else
    for f in "$REAL"/*; do
        [ -f "$f" ] || continue
        case $(basename "$f") in MANIFEST.tsv | README.md | *.txt) continue ;; esac
        check_file "$f"
    done
fi
echo "--- per file"
printf '%s\n' "${summary[@]}"
echo "$pass passed, $failed failed"
[ "$failed" -eq 0 ]
