#!/usr/bin/env bash
# The real program as a new user meets it: under Xvfb with a window manager (openbox),
# every run from empty settings, so the Tip of the Day comes up first. Driven by keys only.
#  1. For clips of awkward sizes (426x240, 854x480): Enter closes the tip, F3 plays, F4
#     pauses, F5 goes to the start, F8 ten times, F9, a typed name, Enter: the file holds
#     exactly ffmpeg's pixels of frame 10.
#  2. Ctrl+B, the bulk dialog closed again, F8 three times, F9: the file is frame 3.
#  3. Five runs alternating two picture sizes, each ended with File > Exit: the stored
#     Left and Top of the video window never move.
#  4. Full screen, then Normal Size (once, and after full screen twice): the window is
#     back where it was, in the normal state, showing the whole picture.
#  5. Ctrl+G to a frame typed as a number, and to one typed as a time, each followed by
#     Ctrl+Shift+C: the clipboard holds exactly ffmpeg's pixels of that frame.
#  6. F9 with a name typed as .png; then Bulk Capture set up from the keyboard (folder, PNG,
#     every 10th frame, the frame list): the files hold exactly ffmpeg's pixels.
#  7. A 720x576 16:9 clip is shown 1024x576; F9 saves the stored 720x576 pixels, and after
#     Tools > Capture in Display Shape a 1024x576 picture.
#  8. A 318x178 phone clip stored with a display rotation of 90 degrees is shown upright,
#     178x318: F9 after Ctrl+G saves and Ctrl+Shift+C copies exactly ffmpeg's turned pixels;
#     Bulk Capture of the whole 20 frame clip writes frame0 to frame20 (the slider ends at
#     the length), frames 0 to 19 exactly as ffmpeg turns them. Copies turned 270 and 180
#     degrees are shown 178x318 and 318x178, and F9 saves each exactly as ffmpeg turns it.
#  9. A field-coded 1080i camcorder recording (AVCHD, two field packets a frame, leading B
#     pictures): Ctrl+G to frames 1, 3, 5, 8 and 11, each saved with F9, holds exactly
#     ffmpeg's frame, converted as HD (BT.709) since the stream is untagged. Skipped when the
#     real recordings next to the project are absent.
# usage: e2e_test.sh FRAMIX SIZES_DIR
set -uo pipefail
FRAMIX=$1
SIZES=$2
if [ -z "${FRAMIX_E2E_IN_X:-}" ]; then
    for tool in xvfb-run xdotool openbox xwininfo xprop xclip; do
        command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    FRAMIX_E2E_IN_X=1 exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi

WORK=$(mktemp -d)
# shellcheck source=xsession.sh
source "$(dirname "$0")/xsession.sh"

# 1. Play, pause, step and capture at awkward sizes.
for clip in long-426x240.mp4 long-854x480.mkv; do
    if start "keys-$clip" "$SIZES/$clip"; then
        keys "$MAIN" F3
        sleep 1
        keys "$MAIN" F4 F5 F8 F8 F8 F8 F8 F8 F8 F8 F8 F8
        sleep 0.5
        shot=$WORK/shot-${clip%.*}
        capture "$shot"
        reference "$SIZES/$clip" 10 "$WORK/ref-$clip.bmp"
        if same_picture "$shot.bmp" "$WORK/ref-$clip.bmp"; then
            ok "$clip: tip, play, pause, first, F8 x10, F9: frame 10, exactly ffmpeg's pixels"
        else
            bad "$clip: the captured file is not frame 10" \
                "($(compare -metric AE "$shot.bmp" "$WORK/ref-$clip.bmp" null: 2>&1))"
        fi
        exit_by_menu || bad "$clip: File > Exit did not end the program"
    else
        bad "$clip: the program did not come up: $(tail -3 "$WORK/log")"
        stop
    fi
done

# 2. The keys still work after the bulk dialog was open.
clip=long-426x240.mp4
if start bulk "$SIZES/$clip"; then
    keys "$MAIN" ctrl+b
    if bulk=$(wait_window "Framix (Bulk Capture)"); then
        keys "$bulk" alt+F4
        wait_gone "Framix (Bulk Capture)" || bad "the bulk dialog did not close"
        sleep 0.3
        keys "$MAIN" F8 F8 F8
        sleep 0.5
        capture "$WORK/after-bulk"
        reference "$SIZES/$clip" 3 "$WORK/ref3.bmp"
        same_picture "$WORK/after-bulk.bmp" "$WORK/ref3.bmp" &&
            ok "after the bulk dialog closed, F8 x3 and F9 saved frame 3" ||
            bad "after the bulk dialog closed, F8 did not step to frame 3"
    else
        bad "Ctrl+B opened no bulk dialog"
    fi
    stop
else
    bad "the program did not come up for the bulk run"
    stop
fi

# 3. The window's place survives runs with pictures of other sizes.
placement() { grep -E "^(Left|Top)=" "$WORK/config-place/Framix/Framix.ini" 2> /dev/null | sort | tr '\n' ' '; }
first=
moved=
for run in 1 2 3 4 5; do
    clip=long-854x480.mkv
    [ $((run % 2)) -eq 0 ] && clip=long-352x288.mpg
    if start place "$SIZES/$clip"; then
        exit_by_menu || bad "run $run: File > Exit did not end the program"
    else
        stop
    fi
    now=$(placement)
    echo "run $run ($clip): $now"
    [ -z "$first" ] && first=$now
    [ "$now" = "$first" ] || moved=1
done
if [ -n "$first" ] && [ -z "$moved" ]; then
    ok "five runs of two picture sizes left the window where it was: $first"
else
    bad "the video window moved between runs"
fi
[ "$first" = "Left=1000 Top=1000 " ] && ok "a first run puts the window's frame at 1000, 1000 twips" ||
    bad "a first run stored $first, not the default place"

# 4. Full screen and back.
where() { xwininfo -id "$VIDEO" | awk '/Absolute upper-left|Width:|Height:/ {printf "%s ", $NF}'; }
state() { xprop -id "$VIDEO" _NET_WM_STATE | sed 's/.*= *//'; }
if start view "$SIZES/long-854x480.mkv"; then
    # The window is fitted around the picture once the media is loaded.
    for _ in $(seq 1 30); do
        before=$(where)
        [ "${before#* * }" = "854 480 " ] && break
        sleep 0.1
    done
    keys "$MAIN" ctrl+f
    sleep 1
    full=$(where)
    keys "$MAIN" ctrl+n
    sleep 1
    after=$(where)
    keys "$MAIN" ctrl+f
    sleep 0.7
    keys "$MAIN" ctrl+f ctrl+n
    sleep 1
    after2=$(where)
    echo "window (x y width height): before $before, full screen $full, after $after, after twice $after2"
    [ "${before#* * }" = "854 480 " ] || bad "the window does not show the whole 854x480 picture: $before"
    [ "$full" != "$before" ] && [ "$after" = "$before" ] && [ "$after2" = "$before" ] &&
        [ -z "$(state)" ] &&
        ok "full screen and back (also after full screen twice) returns the window to its place" ||
        bad "after full screen the window is at $after / $after2 (was $before), state $(state)"
    stop
else
    bad "the program did not come up for the view run"
    stop
fi

# 5. Go to a frame, copy it, compare the clipboard's picture.
rgb() { ffmpeg -v error -i "$1" -f rawvideo -pix_fmt rgb24 -; }
clip=long-854x480.mkv
if start goto "$SIZES/$clip"; then
    for target in "37:37" "0:02.000:50"; do
        typed=${target%:*}
        frame=${target##*:}
        keys "$MAIN" ctrl+g
        if dialog=$(wait_window "Go to Frame" 30); then
            sleep 0.3
            xdotool windowactivate --sync "$dialog" key ctrl+a type --delay 10 "$typed"
            xdotool key Return
            wait_gone "Go to Frame" || bad "the Go to Frame dialog did not close after $typed"
            sleep 0.7
            keys "$MAIN" ctrl+shift+c
            sleep 0.5
            xclip -selection clipboard -t image/png -o > "$WORK/clip-$frame.png" 2> /dev/null
            reference "$SIZES/$clip" "$frame" "$WORK/ref-goto-$frame.bmp"
            if [ -s "$WORK/clip-$frame.png" ] &&
                cmp -s <(rgb "$WORK/clip-$frame.png") <(rgb "$WORK/ref-goto-$frame.bmp"); then
                ok "Ctrl+G $typed, Ctrl+Shift+C: the clipboard holds frame $frame exactly"
            else
                bad "after Ctrl+G $typed the clipboard does not hold frame $frame" \
                    "($(compare -metric AE "$WORK/clip-$frame.png" "$WORK/ref-goto-$frame.bmp" null: 2>&1))"
            fi
        else
            bad "Ctrl+G opened no Go to Frame dialog"
        fi
    done

    # 6. The frame on screen (50) saved as PNG by its typed name, then a bulk run as PNG.
    keys "$MAIN" F9
    if dialog=$(wait_window "Save Frame As..."); then
        sleep 0.3
        xdotool windowactivate --sync "$dialog" type --delay 10 "$WORK/shot.png"
        xdotool key Return
        for _ in $(seq 1 50); do [ -s "$WORK/shot.png" ] && break; sleep 0.1; done
        [ "$(head -c 8 "$WORK/shot.png" 2> /dev/null | od -An -c | tr -d ' ')" = "211PNG\r\n032\n" ] &&
            cmp -s <(rgb "$WORK/shot.png") <(rgb "$WORK/ref-goto-50.bmp") &&
            ok "F9 with a name typed as .png saves frame 50 as a PNG file, exactly" ||
            bad "F9 as .png: $(file "$WORK/shot.png" 2>&1)"
    else
        bad "F9 opened no save dialog"
    fi
    keys "$MAIN" ctrl+b
    if bulk=$(wait_window "Framix (Bulk Capture)"); then
        sleep 0.3
        keys "$bulk" alt+d ctrl+a
        xdotool type --delay 10 "$WORK/bulk6"
        # The type list, one down from BMP to PNG; every 10th frame; the frame list; begin.
        keys "$bulk" alt+t Down alt+e alt+l alt+b
        if done=$(wait_window "Tavrino" 300); then
            keys "$done" Return
            want="frame0.png frame10.png frame20.png frame30.png frame40.png frame50.png frame60.png frame70.png frame80.png frame90.png frame100.png frames.csv"
            got=$(ls -A "$WORK/bulk6" 2> /dev/null | sort -V | tr '\n' ' ' | sed 's/ $//')
            [ "$got" = "$want" ] && ok "Bulk Capture as PNG, every 10th frame, with the list: $got" ||
                bad "Bulk Capture as PNG every 10th wrote '$got'"
            exact=0
            for n in 0 30 90; do
                reference "$SIZES/$clip" "$n" "$WORK/ref-bulk.bmp"
                cmp -s <(rgb "$WORK/bulk6/frame$n.png") <(rgb "$WORK/ref-bulk.bmp") && exact=$((exact + 1))
            done
            [ "$exact" -eq 3 ] && ok "bulk PNG frames 0, 30, 90 hold exactly ffmpeg's pixels" ||
                bad "bulk PNG: $exact of 3 files exact"
            [ "$(wc -l < "$WORK/bulk6/frames.csv")" -eq 12 ] && ok "frames.csv lists the 11 files" ||
                bad "frames.csv: $(head -3 "$WORK/bulk6/frames.csv" 2>&1)"
        else
            bad "the bulk run did not end with its message"
        fi
    else
        bad "Ctrl+B opened no bulk dialog"
    fi
    stop
else
    bad "the program did not come up for the go-to run"
    stop
fi

# 7. Non-square pixels: shown in their shape, saved as stored unless the setting says so.
clip=720x576.mpg
if start shape "$SIZES/$clip"; then
    for _ in $(seq 1 30); do
        size=$(xwininfo -id "$VIDEO" | awk '/Width:|Height:/ {printf "%s ", $NF}')
        [ "$size" = "1024 576 " ] && break
        sleep 0.1
    done
    [ "$size" = "1024 576 " ] && ok "720x576 16:9 is shown 1024x576" || bad "720x576 16:9 is shown $size"
    capture "$WORK/stored"
    reference "$SIZES/$clip" 0 "$WORK/ref-stored.bmp"
    same_picture "$WORK/stored.bmp" "$WORK/ref-stored.bmp" &&
        ok "F9 saves the stored 720x576 pixels of frame 0" || bad "F9 did not save the stored frame 0"
    keys "$MAIN" alt+t h
    sleep 0.3
    capture "$WORK/shaped"
    [ "$(identify -format '%wx%h' "$WORK/shaped.bmp" 2> /dev/null)" = 1024x576 ] &&
        ok "after Tools > Capture in Display Shape, F9 saves 1024x576" ||
        bad "with the display shape setting F9 saved $(identify -format '%wx%h' "$WORK/shaped.bmp" 2>&1)"
    grep -q "^CaptureDisplayShape=1" "$WORK/config-shape/Framix/Framix.ini" &&
        ok "the setting is kept in Framix.ini" || bad "the display shape setting was not stored"
    stop
else
    bad "the program did not come up for the 16:9 clip"
    stop
fi

# 8. Phone video stored turned: shown, saved, copied and bulk captured upright.
shown() { xwininfo -id "$VIDEO" | awk '/Width:|Height:/ {printf "%s ", $NF}'; }
wait_shown() { # "width height ": the size the video window's picture comes to
    for _ in $(seq 1 30); do
        size=$(shown)
        [ "$size" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}
goto_frame() { # typed frame number or time, Enter; the dialog must close
    keys "$MAIN" ctrl+g
    local dialog
    dialog=$(wait_window "Go to Frame" 30) || { bad "Ctrl+G opened no Go to Frame dialog"; return 1; }
    sleep 0.3
    xdotool windowactivate --sync "$dialog" key ctrl+a type --delay 10 "$1"
    xdotool key Return
    wait_gone "Go to Frame" || { bad "the Go to Frame dialog did not close after $1"; return 1; }
    sleep 0.7
}
ffmpeg -v error -y -f lavfi -i testsrc2=size=318x178:rate=10:duration=2 -c:v libx264 \
    -pix_fmt yuv420p -g 10 "$WORK/phone.mp4"
for turn in 90 270 180; do
    ffmpeg -v error -y -i "$WORK/phone.mp4" -c copy -metadata:s:v:0 rotate=$turn "$WORK/rot$turn.mp4"
done
clip=$WORK/rot90.mp4
if start rot90 "$clip"; then
    wait_shown "178 318 " && ok "a 318x178 clip turned 90 degrees is shown upright, 178x318" ||
        bad "a 318x178 clip turned 90 degrees is shown $size, not 178x318"
    if goto_frame 7; then
        capture "$WORK/rot90-7"
        reference "$clip" 7 "$WORK/ref-rot90-7.bmp"
        if same_picture "$WORK/rot90-7.bmp" "$WORK/ref-rot90-7.bmp"; then
            ok "turned 90: Ctrl+G 7, F9 saves frame 7 exactly as ffmpeg turns it (178x318)"
        else
            bad "turned 90: F9 saved $(identify -format '%wx%h' "$WORK/rot90-7.bmp" 2>&1)," \
                "not ffmpeg's turned frame 7" \
                "($(compare -metric AE "$WORK/rot90-7.bmp" "$WORK/ref-rot90-7.bmp" null: 2>&1))"
        fi
        keys "$MAIN" ctrl+shift+c
        sleep 0.5
        xclip -selection clipboard -t image/png -o > "$WORK/clip-rot90.png" 2> /dev/null
        if [ -s "$WORK/clip-rot90.png" ] &&
            [ "$(identify -format '%wx%h' "$WORK/clip-rot90.png" 2> /dev/null)" = 178x318 ] &&
            cmp -s <(rgb "$WORK/clip-rot90.png") <(rgb "$WORK/ref-rot90-7.bmp"); then
            ok "turned 90: Ctrl+Shift+C puts the turned frame 7 on the clipboard exactly"
        else
            bad "turned 90: the clipboard holds" \
                "$(identify -format '%wx%h' "$WORK/clip-rot90.png" 2>&1), not the turned frame 7" \
                "($(compare -metric AE "$WORK/clip-rot90.png" "$WORK/ref-rot90-7.bmp" null: 2>&1))"
        fi
    fi
    keys "$MAIN" ctrl+b
    if bulk=$(wait_window "Framix (Bulk Capture)"); then
        sleep 0.3
        # The whole media, all frames, as BMP: the dialog's choices from a first run.
        keys "$bulk" alt+d ctrl+a
        xdotool type --delay 10 "$WORK/bulk8"
        keys "$bulk" alt+a alt+b
        if done=$(wait_window "Tavrino" 300); then
            keys "$done" Return
            # A full run ends at the position slider's maximum, the length (20), as the
            # 100 frame clip above writes frame0 to frame100.
            want=$(for n in $(seq 0 20); do printf 'frame%d.bmp ' "$n"; done | sed 's/ $//')
            got=$(ls -A "$WORK/bulk8" 2> /dev/null | sort -V | tr '\n' ' ' | sed 's/ $//')
            [ "$got" = "$want" ] && ok "turned 90: Bulk Capture of the whole clip wrote frame0 to frame20" ||
                bad "turned 90: Bulk Capture of the whole 20 frame clip wrote '$got'"
            mkdir -p "$WORK/ref8"
            ffmpeg -v error -y -i "$clip" -fps_mode passthrough -pix_fmt bgr24 -start_number 0 \
                "$WORK/ref8/frame%d.bmp"
            exact=0 differ=
            for n in $(seq 0 19); do
                if same_picture "$WORK/bulk8/frame$n.bmp" "$WORK/ref8/frame$n.bmp"; then
                    exact=$((exact + 1))
                else
                    differ="$differ $n"
                fi
            done
            same_picture "$WORK/bulk8/frame20.bmp" "$WORK/ref8/frame19.bmp" &&
                echo "frame20.bmp, at the length, holds the last frame (19)"
            [ "$exact" -eq 20 ] && ok "turned 90: all 20 bulk files hold exactly ffmpeg's turned pixels" ||
                bad "turned 90: $exact of 20 bulk files exact; differing frames:$differ" \
                    "(frame0.bmp is $(identify -format '%wx%h' "$WORK/bulk8/frame0.bmp" 2>&1))"
        else
            bad "turned 90: the bulk run did not end with its message"
        fi
    else
        bad "turned 90: Ctrl+B opened no bulk dialog"
    fi
    stop
else
    bad "the program did not come up for the clip turned 90 degrees"
    stop
fi
for turned in "270:178 318 :12" "180:318 178 :4"; do
    turn=${turned%%:*}
    want=${turned#*:}; want=${want%:*}
    frame=${turned##*:}
    clip=$WORK/rot$turn.mp4
    if start "rot$turn" "$clip"; then
        wait_shown "$want" && ok "a 318x178 clip turned $turn degrees is shown $want" ||
            bad "a 318x178 clip turned $turn degrees is shown $size, not $want"
        if goto_frame "$frame"; then
            capture "$WORK/rot$turn-$frame"
            reference "$clip" "$frame" "$WORK/ref-rot$turn.bmp"
            same_picture "$WORK/rot$turn-$frame.bmp" "$WORK/ref-rot$turn.bmp" &&
                ok "turned $turn: Ctrl+G $frame, F9 saves frame $frame exactly as ffmpeg turns it" ||
                bad "turned $turn: F9 saved" \
                    "$(identify -format '%wx%h' "$WORK/rot$turn-$frame.bmp" 2>&1), not ffmpeg's" \
                    "turned frame $frame" \
                    "($(compare -metric AE "$WORK/rot$turn-$frame.bmp" "$WORK/ref-rot$turn.bmp" null: 2>&1))"
        fi
        stop
    else
        bad "the program did not come up for the clip turned $turn degrees"
        stop
    fi
done

# 9. A field-coded camcorder recording: any frame reached by number is ffmpeg's frame.
REAL=$(cd "$(dirname "$0")/../.." && pwd)/../shared/realworld
avchd=$REAL/h264i_metadata-extractor-images_SonyA7M3_avchd.mts
if [ ! -f "$avchd" ]; then
    echo "skipped: the field-coded AVCHD recording ($avchd is absent)"
elif start avchd "$avchd"; then
    # An untagged HD picture is converted as BT.709; a tagged one as its tags say.
    hd=scale=in_color_matrix=bt709:in_range=tv:out_range=pc
    [ -n "$(ffprobe -v error -select_streams v:0 -show_entries stream=color_space -of csv=p=0 \
        "$avchd" | grep -v unknown)" ] && hd=
    for frame in 1 3 5 8 11; do
        goto_frame "$frame" || continue
        capture "$WORK/avchd-$frame"
        reference "$avchd" "$frame" "$WORK/ref-avchd-$frame.bmp" "$hd"
        if same_picture "$WORK/avchd-$frame.bmp" "$WORK/ref-avchd-$frame.bmp"; then
            ok "field-coded AVCHD: Ctrl+G $frame, F9 saves frame $frame exactly"
        else
            near=
            for n in $(seq 0 12); do
                reference "$avchd" "$n" "$WORK/ref-avchd-any.bmp" "$hd"
                same_picture "$WORK/avchd-$frame.bmp" "$WORK/ref-avchd-any.bmp" && near=" (it is frame $n)"
            done
            bad "field-coded AVCHD: after Ctrl+G $frame, F9 did not save frame $frame$near" \
                "($(compare -metric AE "$WORK/avchd-$frame.bmp" "$WORK/ref-avchd-$frame.bmp" null: 2>&1))"
        fi
    done
    stop
else
    bad "the program did not come up for the field-coded AVCHD recording"
    stop
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
