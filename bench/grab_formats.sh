#!/usr/bin/env bash
# Bulk writing of every frame of a 1080p H.264 clip as PNG and as JPEG files: framix-grab
# against ffmpeg writing the same format, in the same run. Prints frames per second and the
# ratio framix-grab / ffmpeg (target >= 1.0).
#
# PNG: both use FFmpeg's png encoder on the same pixels; ffmpeg with its defaults (no row
# prediction, deflate level 6), framix-grab predicting each row from the one above at
# level 3, which on video frames gives smaller files in less time. For reference it is also
# timed against ffmpeg with those very settings.
# JPEG: framix-grab writes 4:4:4 at quality 95 (the IJG tables). It is timed against
# ffmpeg writing JPEG with exactly those settings (4:4:4, the same tables), and, for
# reference, against ffmpeg's defaults, which write 4:2:0 pictures rate-controlled to
# 200 kb/s: several times smaller and much coarser, so cheaper to encode.
# usage: bench/grab_formats.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
GRAB=$BUILD/src/app/framix-grab
[ -x "$GRAB" ] || { echo "build framix-grab first"; exit 1; }
MEDIA=$BUILD/bench-media
# Tagged BT.709, so ffmpeg converts it to RGB with the same matrix as framix-grab and both
# compress the same pixels.
CLIP=$MEDIA/clip1080-bt709.mp4
mkdir -p "$MEDIA"
if [ ! -s "$CLIP" ]; then
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=1920x1080:r=25:d=10 -c:v libx264 -preset veryfast \
        -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 "$CLIP.tmp.mp4"
    mv "$CLIP.tmp.mp4" "$CLIP"
fi
OUT=$(mktemp -d -p /dev/shm 2> /dev/null || mktemp -d)
export XDG_CACHE_HOME=$OUT/cache
trap 'rm -rf "$OUT"' EXIT
N=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$CLIP" | tr -dc 0-9)

# The IJG library's tables at quality 95, in row order, as framix-grab uses them.
ijg95() {
    echo "$1" | tr ',' '\n' | awk '{v = int(($1 * 10 + 50) / 100); if (v < 1) v = 1; printf "%s%d", (NR > 1 ? "," : ""), v}'
}
LUMA=$(ijg95 16,11,10,16,24,40,51,61,12,12,14,19,26,58,60,55,14,13,16,24,40,57,69,56,14,17,22,29,51,87,80,62,18,22,37,56,68,109,103,77,24,35,55,64,81,104,113,92,49,64,78,87,103,121,120,101,72,92,95,98,112,100,103,99)
CHROMA=$(ijg95 17,18,24,47,99,99,99,99,18,21,26,66,99,99,99,99,24,26,56,99,99,99,99,99,47,66,99,99,99,99,99,99"$(printf ',99%.0s' {1..32})")

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" > /dev/null 2>&1; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ROUNDS=${ROUNDS:-5}
run() { # tool: one full write of every frame into $OUT/<tool>, timed
    local tool=$1 dir=$OUT/$1
    rm -rf "$dir"
    mkdir -p "$dir"
    case $tool in
    ff_png) seconds ffmpeg -nostdin -v error -i "$CLIP" -f image2 "$dir/%d.png" ;;
    ff_pngup) seconds ffmpeg -nostdin -v error -i "$CLIP" -pred up -compression_level 3 -f image2 "$dir/%d.png" ;;
    fx_png) seconds "$GRAB" "$CLIP" --out "$dir" --format png --quiet ;;
    ff_jpg) seconds ffmpeg -nostdin -v error -i "$CLIP" -pix_fmt yuvj444p -q:v 8 \
        -intra_matrix "$LUMA" -chroma_intra_matrix "$CHROMA" -f image2 "$dir/%d.jpg" ;;
    ff_jpgdef) seconds ffmpeg -nostdin -v error -i "$CLIP" -f image2 "$dir/%d.jpg" ;;
    fx_jpg) seconds "$GRAB" "$CLIP" --out "$dir" --format jpg --quiet ;;
    esac
    local files
    files=$(ls "$dir" | wc -l)
    [ "$files" -eq "$N" ] || { echo "$tool wrote $files files for $N frames" >&2; exit 1; }
    du -sb "$dir" | cut -f1 > "$OUT/$tool.bytes"
    rm -rf "$dir"
}
tools=(ff_png fx_png ff_pngup ff_jpg fx_jpg ff_jpgdef)
for t in "${tools[@]}"; do : > "$OUT/$t.t"; done
for round in $(seq "$ROUNDS"); do
    # The order turns from round to round, so no tool always follows the same one.
    for i in $(seq 0 $((${#tools[@]} - 1))); do
        t=${tools[$(((i + round) % ${#tools[@]}))]}
        run "$t" >> "$OUT/$t.t"
    done
done
[ -z "${BENCH_VERBOSE:-}" ] || (cd "$OUT" && echo "${tools[*]}" && paste "${tools[@]/%/.t}") >&2
fps() { echo "$N / $(median < "$OUT/$1.t")" | bc -l; }
# The ratio is the median of each round's own ratio: the runs of a round are seconds apart,
# so a machine that is slower for a while slows both.
ratio() { paste "$OUT/$2.t" "$OUT/$1.t" | awk '{print $1 / $2}' | median; }
kb() { echo "$(cat "$OUT/$1.bytes") / $N / 1024" | bc; }
echo "== every frame of $(basename "$CLIP") (1920x1080, $N frames) into $(dirname "$OUT"), median of $ROUNDS rounds"
printf 'PNG                   framix-grab %6.1f f/s, ffmpeg %6.1f f/s: ratio %.2f (target >= 1.0); %d / %d KB a frame\n' \
    "$(fps fx_png)" "$(fps ff_png)" "$(ratio fx_png ff_png)" "$(kb fx_png)" "$(kb ff_png)"
printf 'PNG same settings     framix-grab %6.1f f/s, ffmpeg %6.1f f/s: ratio %.2f (row prediction up, level 3); %d / %d KB a frame\n' \
    "$(fps fx_png)" "$(fps ff_pngup)" "$(ratio fx_png ff_pngup)" "$(kb fx_png)" "$(kb ff_pngup)"
printf 'JPEG same settings    framix-grab %6.1f f/s, ffmpeg %6.1f f/s: ratio %.2f (target >= 1.0); %d / %d KB a frame\n' \
    "$(fps fx_jpg)" "$(fps ff_jpg)" "$(ratio fx_jpg ff_jpg)" "$(kb fx_jpg)" "$(kb ff_jpg)"
printf 'JPEG ffmpeg defaults  framix-grab %6.1f f/s, ffmpeg %6.1f f/s: ratio %.2f (4:2:0 at 200 kb/s); %d / %d KB a frame\n' \
    "$(fps fx_jpg)" "$(fps ff_jpgdef)" "$(ratio fx_jpg ff_jpgdef)" "$(kb fx_jpg)" "$(kb ff_jpgdef)"
