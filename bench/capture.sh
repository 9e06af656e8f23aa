#!/usr/bin/env bash
# Bulk capture of every frame through the real bulk dialog (headless), next to framix-grab
# and to ffmpeg writing the same BMP files, in the same run, on the 1080p H.264 and the
# MPEG-2 corpus clips. Prints frames per second and the ratios. FORMAT=png writes PNG files
# instead (ffmpeg with its png encoder's defaults).
# usage: [FORMAT=bmp|png] bench/capture.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
MEDIA=$BUILD/test-media
tests/media/make_corpus.sh "$MEDIA" > /dev/null
DRIVER=$BUILD/tests/capture/bulk_driver
GRAB=$BUILD/src/app/framix-grab
[ -x "$DRIVER" ] || { echo "build the tests first (bulk_driver)"; exit 1; }
OUT=$(mktemp -d -p /dev/shm 2> /dev/null || mktemp -d)
export XDG_CONFIG_HOME=$OUT/config
mkdir -p "$XDG_CONFIG_HOME/Framix"
printf '[Options]\nShow%%20Tips%%20at%%20Startup=0\n' > "$XDG_CONFIG_HOME/Framix/bulk_driver.ini"
trap 'rm -rf "$OUT"' EXIT
FORMAT=${FORMAT:-bmp}
case $FORMAT in bmp | png) ;; *) echo "FORMAT is bmp or png"; exit 2 ;; esac

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" > /dev/null 2>&1; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
# Each tool runs ROUNDS times: a single run on these machines can be off by 15 % either way.
ROUNDS=${ROUNDS:-9}
run() { # clip
    local clip=$MEDIA/$1 n ff fx dlg files round
    n=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$clip" | head -1 | tr -dc 0-9)
    : > "$OUT/ff.t"; : > "$OUT/fx.t"; : > "$OUT/dlg.t"
    for round in $(seq "$ROUNDS"); do
        # The order turns from round to round: whichever runs right after another big
        # write into the same memory would otherwise be favoured every time.
        local order=(ff fx dlg ff fx) tool
        for tool in "${order[@]:$((round % 3)):3}"; do
            rm -rf "${OUT:?}/$tool"; mkdir -p "$OUT/$tool"
            case $tool in
            ff) seconds ffmpeg -nostdin -v error -i "$clip" -map 0:v:0 -fps_mode passthrough -start_number 0 "$OUT/ff/frame%d.$FORMAT" >> "$OUT/ff.t" ;;
            fx) seconds "$GRAB" "$clip" --out "$OUT/fx" --format "$FORMAT" --quiet >> "$OUT/fx.t" ;;
            dlg)
                # The dialog's full run writes positions 0..Length: one file more than the
                # frames. The run itself, from Begin Capture to the completion message, as
                # the driver times it (the program's start and opening the clip come before
                # the user's click).
                env QT_QPA_PLATFORM=offscreen "$DRIVER" "$clip" "$OUT/dlg" "$FORMAT" 2> /dev/null |
                    sed -n 's/^bulk capture took \([0-9]*\) ms$/\1/p' | awk '{print $1 / 1000}' >> "$OUT/dlg.t"
                files=$(ls "$OUT/dlg" | wc -l)
                [ "$files" -eq $((n + 1)) ] || { echo "the dialog wrote $files files for $n frames"; exit 1; } ;;
            esac
            rm -rf "${OUT:?}/$tool"
        done
    done
    [ -z "${BENCH_VERBOSE:-}" ] || paste "$OUT/ff.t" "$OUT/fx.t" "$OUT/dlg.t" >&2
    ff=$(median < "$OUT/ff.t"); fx=$(median < "$OUT/fx.t"); dlg=$(median < "$OUT/dlg.t")
    # The ratios are the medians of each round's own ratio: the runs of one round are
    # seconds apart, so a machine that is slower for a while slows all three.
    vs() { paste "$OUT/$1.t" "$OUT/dlg.t" | awk -v f="$files" -v n="$n" '{print (f / $2) / (n / $1)}' | median; }
    local vs_grab vs_ff
    vs_grab=$(vs fx); vs_ff=$(vs ff)
    printf '%-9s %4d frames, median of %d rounds: ffmpeg %6.1f f/s, framix-grab %6.1f f/s, bulk dialog %6.1f f/s; dialog/grab %.2f, dialog/ffmpeg %.2f (targets >= 0.9)\n' \
        "$1" "$n" "$ROUNDS" "$(echo "$n / $ff" | bc -l)" "$(echo "$n / $fx" | bc -l)" "$(echo "$files / $dlg" | bc -l)" \
        "$vs_grab" "$vs_ff"
}
echo "== bulk capture of every frame as $FORMAT into $(dirname "$OUT")"
run mpeg2.mpg
run h264.mp4
