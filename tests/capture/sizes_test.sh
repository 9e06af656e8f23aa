#!/usr/bin/env bash
# framix-grab at every size and pixel format of the picture-size clips: the file written
# for the frame must hold, byte for byte, the pixel rows of ffmpeg's own BMP of it.
# usage: sizes_test.sh FRAMIX_GRAB SIZES_DIR
set -uo pipefail
GRAB=$1
SIZES=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
pass=0
failed=0

# The pixel rows of a 24-bit BMP: everything after the offset its header gives.
rows() { tail -c +$(( $(od -An -tu4 -j10 -N4 "$1") + 1 )) "$1"; }

[ -s "$SIZES/cases.txt" ] || { echo "FAILED: no clips in $SIZES"; exit 1; }
while read -r clip frame ref what; do
    out="$WORK/${clip%.*}"
    if ! "$GRAB" "$SIZES/$clip" --out "$out" --from "$frame" --to "$frame" --quiet \
        > /dev/null 2> "$WORK/err"; then
        failed=$((failed + 1)); echo "FAILED: $what: $(head -c 300 "$WORK/err")"; continue
    fi
    if cmp -s <(rows "$out/frame$frame.bmp") <(rows "$SIZES/$ref"); then
        pass=$((pass + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what: frame $frame differs from ffmpeg's" \
             "($(compare -metric AE "$out/frame$frame.bmp" "$SIZES/$ref" null: 2>&1) pixels)"
    fi
done < "$SIZES/cases.txt"
echo "$pass passed, $failed failed"
[ "$failed" -eq 0 ]
