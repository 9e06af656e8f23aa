#!/usr/bin/env bash
# framix-grab end to end: checksums against ffmpeg's decoder, BMP files against an
# independent reader and ffmpeg's own RGB conversion, and refusals of bad input.
# usage: grab_test.sh FRAMIX_GRAB MEDIA_DIR [quick]
set -uo pipefail
GRAB=$1
MEDIA=$2
MODE=${3:-full}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
pass=0
failed=0
ok() { pass=$((pass + 1)); echo "ok: $*"; }
bad() { failed=$((failed + 1)); echo "FAILED: $*"; }

# Size and hash columns of a framemd5 listing.
columns() { grep -v '^#' "$1" | awk -F', *' '{print $5, $6}'; }

clips="mpeg1.mpg mpeg2.mpg mpeg4.avi wmv2.wmv h264.mp4 vfr.mkv"
[ "$MODE" = quick ] && clips="mpeg2.mpg mpeg4.avi"

# 1. Checksums equal the oracle line for line.
for c in $clips; do
    if "$GRAB" --framemd5 "$MEDIA/$c" > "$WORK/$c.md5" 2> "$WORK/err" &&
        diff <(columns "$WORK/$c.md5") <(columns "$MEDIA/$c.framemd5") > /dev/null; then
        ok "framemd5 $c ($(columns "$WORK/$c.md5" | wc -l) frames)"
    else
        bad "framemd5 $c differs from ffmpeg's: $(head -c 300 "$WORK/err")"
    fi
done

# Largest per-channel difference of two pictures, in 8-bit levels.
peak() { compare -metric PAE "$1" "$2" null: 2>&1 | sed 's/ .*//' | awk '{printf "%d", ($1 + 128) / 257}'; }

# 2. A range: exactly the asked frames, standard 24-bit BMPs, the oracle's pixels.
check_range() { # clip from to matrix
    local c=$1 from=$2 to=$3 matrix=$4 out="$WORK/range-$1"
    if ! "$GRAB" "$MEDIA/$c" --out "$out" --from "$from" --to "$to" --quiet > /dev/null 2> "$WORK/err"; then
        bad "range $c: $(cat "$WORK/err")"; return
    fi
    local want got
    want=$(seq "$from" "$to" | sed 's/.*/frame&.bmp/' | sort)
    got=$(ls -A "$out" | sort)
    [ "$want" = "$got" ] && ok "range $c writes exactly frame$from..frame$to" || bad "range $c wrote: $got"
    local size
    size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$MEDIA/$c" | head -1 | cut -dx -f1,2)
    local info
    info=$(identify -format '%m %wx%h %z\n' "$out/frame$from.bmp" 2>&1)
    local bytes=$(stat -c %s "$out/frame$from.bmp") w=${size%x*} h=${size#*x}
    if [ "$info" = "BMP3 ${size} 8" ] && [ "$bytes" -eq $(( 54 + ((w * 3 + 3) / 4 * 4) * h )) ]; then
        ok "identify: $info, $bytes bytes (24-bit)"
    else
        bad "identify says '$info', $bytes bytes, for a ${size} frame"
    fi
    mkdir -p "$WORK/ref-$c"
    ffmpeg -v error -i "$MEDIA/$c" -map 0:v:0 -fps_mode passthrough \
        -vf "select=between(n\,$from\,$to),scale=in_color_matrix=$matrix:in_range=tv:out_range=pc" \
        -start_number "$from" -pix_fmt bgr24 "$WORK/ref-$c/frame%d.bmp"
    local worst=0 n p
    for n in $(seq "$from" "$to"); do
        p=$(peak "$out/frame$n.bmp" "$WORK/ref-$c/frame$n.bmp")
        [ -n "$p" ] || p=999
        [ "$p" -gt "$worst" ] && worst=$p
    done
    [ "$worst" -le 1 ] && ok "range $c pixels within $worst level of ffmpeg ($matrix)" ||
        bad "range $c pixels differ from ffmpeg by up to $worst levels"
}
check_range mpeg2.mpg 100 110 bt601
if [ "$MODE" != quick ]; then
    check_range h264.mp4 240 255 bt709
    # Indexed without decoding the whole file, across a GOP boundary with leading pictures:
    # H.264 in AVI and raw, interlaced (MBAFF), and recordings cut in the middle of a GOP.
    check_range pyramid.avi 95 105 bt601
    check_range raw.h264 145 155 bt601
    check_range interlaced.ts 95 105 bt601
    check_range cut-h264.ts 3 12 bt601
    check_range cut-interlaced.ts 45 55 bt601
    check_range cut-hevc.m2ts 0 8 bt601
fi

# 3. The whole file: frame0 .. frame<count-1>, nothing else.
out="$WORK/all"
if "$GRAB" "$MEDIA/mpeg4.avi" --out "$out" --quiet > /dev/null 2> "$WORK/err"; then
    n=$(columns "$MEDIA/mpeg4.avi.framemd5" | wc -l)
    [ "$(ls -A "$out" | sort)" = "$(seq 0 $((n - 1)) | sed 's/.*/frame&.bmp/' | sort)" ] &&
        ok "whole file writes frame0..frame$((n - 1))" || bad "whole file wrote $(ls -A "$out" | wc -l) files, expected $n"
else
    bad "whole file: $(cat "$WORK/err")"
fi

# 4. Bad input: a message naming the file and a non-zero exit, no pictures.
for f in empty.mpg text.mpg huge.y4m huge.avi unsupported.mkv folder.mpg; do
    out="$WORK/bad-$f"
    "$GRAB" "$MEDIA/$f" --out "$out" --quiet > /dev/null 2> "$WORK/err"
    rc=$?
    if [ $rc -ne 0 ] && grep -q "$f" "$WORK/err" && [ -z "$(ls -A "$out" 2> /dev/null)" ]; then
        ok "refuses $f (exit $rc): $(head -1 "$WORK/err")"
    else
        bad "$f: exit $rc, '$(cat "$WORK/err")'"
    fi
    "$GRAB" --framemd5 "$MEDIA/$f" > /dev/null 2>&1 && bad "--framemd5 accepted $f"
done
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/x" --from 10 --to 100000 --quiet > /dev/null 2>&1 &&
    bad "a range past the end was accepted" || ok "a range past the end is refused"
"$GRAB" "$MEDIA/mpeg2.mpg" --quiet > /dev/null 2>&1 && bad "no --out accepted" || ok "--out is required"
# Damaged media give the frames that decode.
if "$GRAB" "$MEDIA/truncated.mpg" --out "$WORK/trunc" --quiet > /dev/null 2> "$WORK/err"; then
    ok "truncated file gives $(ls "$WORK/trunc" | wc -l) frames"
else
    bad "truncated file: $(cat "$WORK/err")"
fi

# The command line: usage errors exit 2; messages are the user's, not FFmpeg's log lines;
# failures on the output side name the output.
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/u" --no-such-option > /dev/null 2> "$WORK/err"
rc=$?
[ $rc -eq 2 ] && ok "an unknown option exits 2: $(head -1 "$WORK/err")" || bad "an unknown option exits $rc"
"$GRAB" "$MEDIA/mpeg2.mpg" --out "" > /dev/null 2> "$WORK/err"
rc=$?
[ $rc -eq 2 ] && ok "an empty --out exits 2: $(head -1 "$WORK/err")" || bad "an empty --out exits $rc"
ffmpeg -v error -y -i "$MEDIA/vfr.mkv" -c copy "$WORK/moov-at-end.mp4"
head -c $(( $(stat -c %s "$WORK/moov-at-end.mp4") / 2 )) "$WORK/moov-at-end.mp4" > "$WORK/cut.mp4"
for mode in "--out $WORK/cut" "--framemd5"; do
    # shellcheck disable=SC2086
    "$GRAB" "$WORK/cut.mp4" $mode > /dev/null 2> "$WORK/err"
    rc=$?
    if [ $rc -ne 0 ] && grep -q "cut.mp4" "$WORK/err" && ! grep -qE '@ 0x|\[[a-z0-9,]+ @' "$WORK/err"; then
        ok "a truncated MP4 (${mode%% *}): $(head -1 "$WORK/err")"
    else
        bad "a truncated MP4 (${mode%% *}): exit $rc, '$(cat "$WORK/err")'"
    fi
done
ffmpeg -v error -y -f lavfi -i sine=d=2 -c:a aac "$WORK/sound.m4a"
for mode in "--out $WORK/sound" "--out $WORK/sound --from 1 --to 2" "--framemd5"; do
    # shellcheck disable=SC2086
    "$GRAB" "$WORK/sound.m4a" $mode > /dev/null 2> "$WORK/err"
    rc=$?
    [ $rc -ne 0 ] && grep -q "sound.m4a: the file has no video" "$WORK/err" &&
        ok "sound only ($mode): $(head -1 "$WORK/err")" ||
        bad "sound only ($mode): exit $rc, '$(cat "$WORK/err")'"
done
touch "$WORK/plainfile"
"$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/plainfile" --from 1 --to 2 > /dev/null 2> "$WORK/err"
rc=$?
[ $rc -ne 0 ] && grep -q "^framix-grab: $WORK/plainfile: not a folder" "$WORK/err" &&
    ok "--out naming a file: $(head -1 "$WORK/err")" || bad "--out naming a file: exit $rc, '$(cat "$WORK/err")'"
"$GRAB" --framemd5 "$MEDIA/mpeg2.mpg" --from 5 --to 7 > "$WORK/part.md5" 2> "$WORK/err"
[ "$(columns "$WORK/part.md5")" = "$(columns "$MEDIA/mpeg2.mpg.framemd5" | sed -n 6,8p)" ] &&
    ok "--framemd5 --from 5 --to 7 lists exactly frames 5 to 7" ||
    bad "--framemd5 --from 5 --to 7 listed $(columns "$WORK/part.md5" | wc -l) lines"
# A full disk: the message names the first frame that is missing.
mkdir -p "$WORK/small"
if mount -t tmpfs -o size=3m tmpfs "$WORK/small" 2> /dev/null; then
    "$GRAB" "$MEDIA/mpeg2.mpg" --out "$WORK/small" --from 0 --to 40 --quiet > /dev/null 2> "$WORK/err"
    rc=$?
    first_missing=0
    while [ -e "$WORK/small/frame$first_missing.bmp" ]; do first_missing=$((first_missing + 1)); done
    if [ $rc -ne 0 ] && grep -q "$WORK/small/frame$first_missing.bmp: No space left on device" "$WORK/err" &&
        [ -z "$(ls -A "$WORK/small" | grep -v '^frame[0-9]*\.bmp$')" ]; then
        ok "a full disk names the first missing frame: $(head -1 "$WORK/err")"
    else
        bad "a full disk: exit $rc, '$(cat "$WORK/err")', first missing frame$first_missing.bmp"
    fi
    umount "$WORK/small"
else
    echo "skipped: the full-disk check needs to mount a small tmpfs"
fi

# A file that blocks when opened (a FIFO nothing writes to): Ctrl+C and SIGTERM end the
# program within a second, with a non-zero exit and no frame written.
mkfifo "$WORK/blocking.mpg"
for sig in INT TERM; do
    "$GRAB" "$WORK/blocking.mpg" --out "$WORK/fifo-$sig" --quiet > /dev/null 2>&1 &
    pid=$!
    sleep 0.5
    kill -s "$sig" "$pid"
    ended=
    for _ in $(seq 1 10); do kill -0 "$pid" 2> /dev/null || { ended=1; break; }; sleep 0.1; done
    if [ -n "$ended" ]; then
        wait "$pid"; rc=$?
        [ "$rc" -ne 0 ] && [ -z "$(ls -A "$WORK/fifo-$sig" 2> /dev/null)" ] &&
            ok "SIG$sig ends a run blocked on a FIFO (exit $rc)" || bad "SIG$sig: exit $rc"
    else
        kill -9 "$pid" 2> /dev/null; wait "$pid" 2> /dev/null
        bad "SIG$sig did not end a run blocked on a FIFO within a second"
    fi
done

# 5. Permissions, checked as an unprivileged user (root reads and writes anything).
if [ "$(id -u)" = 0 ] && command -v setpriv > /dev/null; then
    as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
    chmod 755 "$WORK"
    cp "$MEDIA/mpeg4.avi" "$WORK/locked.avi"
    chmod 000 "$WORK/locked.avi"
    if as_nobody "$GRAB" "$WORK/locked.avi" --out "$WORK/lockout" --quiet 2> "$WORK/err" ||
        [ -e "$WORK/lockout" ]; then
        bad "an unreadable file was read"
    else
        grep -qi "permission denied" "$WORK/err" && ok "unreadable file: $(cat "$WORK/err")" ||
            bad "unreadable file: $(cat "$WORK/err")"
    fi
    mkdir "$WORK/readonly"
    chmod 555 "$WORK/readonly"
    cp "$MEDIA/mpeg4.avi" "$WORK/open.avi"
    chmod 644 "$WORK/open.avi"
    if as_nobody "$GRAB" "$WORK/open.avi" --out "$WORK/readonly" --from 3 --to 9 --quiet 2> "$WORK/err"; then
        bad "wrote into a read-only folder"
    else
        [ -z "$(ls -A "$WORK/readonly")" ] && grep -qE "frame[3-9]\.bmp" "$WORK/err" &&
            ok "read-only folder: $(cat "$WORK/err"), nothing left behind" ||
            bad "read-only folder: '$(cat "$WORK/err")', left: $(ls -A "$WORK/readonly")"
    fi
else
    echo "skipped: permission checks need root and setpriv"
fi

echo "$pass passed, $failed failed"
[ "$failed" -eq 0 ]
