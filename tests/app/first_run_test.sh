#!/usr/bin/env bash
# A new user's first minutes with the real program, under Xvfb on a 4:3 screen with a window
# manager (openbox), every run from empty settings. Only keys and the mouse: the test never
# activates a window itself, so the keys go where the program and the window manager put
# the keyboard.
#  0. Without a display: --help and --version answer on stdout, an unknown option is refused.
#  1. `framix clip` (1280x720): the Tip of the Day is in front with the keyboard; Enter
#     closes it and gives the keyboard to the main window, in front of the picture; F8 and
#     F9 then save frame 1.
#  2. A middle click on the position slider jumps, and after F3, F4, F5 the thumb is back at
#     the start (the slider looks as before the click); a left click on the middle of the
#     groove goes to the middle frame, not ten frames on.
#  3. Full screen (4:3 screen, 854x480 picture) keeps the picture's shape: black bars above
#     and below. A double click on the picture leaves full screen and another enters it.
#     Closed in full screen and opened again (a 16:9 clip of 720x576 pixels), the window comes
#     up in its own size; in full screen that clip has bars too, as 16:9 on 4:3 must.
#  4. The keyboard: Play clicked, Space on the Pause button that replaced it, Tab reaches the
#     position slider, Home and Right step it, F9 saves frame 3; Shift+Tab back to Move to
#     First and Enter, F9 saves frame 0. Both exactly ffmpeg's pixels.
# usage: first_run_test.sh FRAMIX SIZES_DIR
set -uo pipefail
FRAMIX=$1
SIZES=$(cd "$2" && pwd)

if [ -z "${FRAMIX_E2E_IN_X:-}" ]; then
    # 0. The command line, with no display at all.
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$FRAMIX" --help 2> /dev/null); rc=$?
    [ $rc -eq 0 ] && [[ $out == Usage:\ framix* ]] && [[ $out == *--version* ]] ||
        { echo "FAILED: framix --help gave $rc: $out"; exit 1; }
    out=$(env -u DISPLAY QT_QPA_PLATFORM= "$FRAMIX" --version 2> /dev/null); rc=$?
    [ $rc -eq 0 ] && [ "$out" = "framix 1.11" ] || { echo "FAILED: framix --version gave $rc: $out"; exit 1; }
    err=$(env -u DISPLAY QT_QPA_PLATFORM= "$FRAMIX" --frobnicate 2>&1 > /dev/null); rc=$?
    [ $rc -eq 2 ] && [[ $err == *"unknown option --frobnicate"* ]] ||
        { echo "FAILED: an unknown option gave $rc: $err"; exit 1; }
    echo "ok: --help and --version without a display, exit 2 for an unknown option"
    for tool in xvfb-run xdotool openbox xwininfo xprop import; do
        command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    FRAMIX_E2E_IN_X=1 exec xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$@"
fi

WORK=$(mktemp -d)
# shellcheck source=xsession.sh
source "$(dirname "$0")/xsession.sh"
press() { for k in "$@"; do xdotool key "$k"; sleep 0.2; done; }
hex() { printf '0x%x' "$1"; }
stacked_above() { # a b: a is higher than b in the window manager's stacking order
    local order
    order=$(xprop -root _NET_CLIENT_LIST_STACKING | grep -o '0x[0-9a-f]*' || true)
    local ia=-1 ib=-1 i=0
    for w in $order; do
        [ "$((w))" -eq "$1" ] && ia=$i
        [ "$((w))" -eq "$2" ] && ib=$i
        i=$((i + 1))
    done
    [ $ia -gt $ib ] && [ $ib -ge 0 ]
}
wait_active() { # window: it has the keyboard within three seconds
    for _ in $(seq 1 30); do
        [ "$(xdotool getactivewindow 2> /dev/null)" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}
close_tip() { # Enter to the Tip, once it has the keyboard; then the main window has it
    wait_active "$TIP" || bad "the Tip of the Day did not get the keyboard"
    press Return
    wait_gone "Tip of the Day" || bad "Enter did not close the Tip"
    wait_active "$MAIN" || bad "the main window did not get the keyboard after the Tip"
}
fullscreen() { xprop -id "$1" _NET_WM_STATE | grep -q FULLSCREEN; }
away() { xdotool mousemove 1599 1199; sleep 0.3; }
shot() { import -silent -window root "$1"; }
# The largest grey level in a band of rows of a screenshot: 0 when the band is black.
band_max() { # shot y height
    ffmpeg -v error -i "$1" -vf "crop=iw:$3:0:$2" -f rawvideo -pix_fmt gray - |
        od -An -tu1 -v | tr -s ' ' '\n' | sort -n | tail -n 1
}
# The number of the frame of CLIP a saved BMP shows, by comparing its pixels with every frame.
frame_of() { # clip bmp
    local want
    want=$(ffmpeg -v error -i "$2" -f rawvideo -pix_fmt rgb24 - | md5sum | cut -d' ' -f1)
    ffmpeg -v error -i "$1" -fps_mode passthrough -pix_fmt rgb24 -f framemd5 - |
        grep -v '^#' | awk -F', *' -v w="$want" '$6 == w { print NR - 1; exit }'
}
save_as() { # file (with .bmp): F9 to wherever the keyboard is, the name typed, Enter
    press F9
    wait_window "Save Frame As..." > /dev/null || return 1
    sleep 0.4
    xdotool type --delay 10 "$1"
    press Return
    for _ in $(seq 1 50); do [ -s "$1" ] && return 0; sleep 0.1; done
    return 1
}

PID=
start() { # name clip: a first run (no settings); the tip is waited for, not closed
    export XDG_CONFIG_HOME=$WORK/config-$1 XDG_CACHE_HOME=$WORK/cache
    "$FRAMIX" "$2" > "$WORK/log-$1" 2>&1 &
    PID=$!
    MAIN=$(wait_window Framix) && VIDEO=$(wait_window "$(basename "$2")") &&
        TIP=$(wait_window "Tip of the Day" 50) || return 1
    sleep 0.8
}
stop() { kill "$PID" 2> /dev/null; wait "$PID" 2> /dev/null; }
# Where the main window's position slider is on the screen: its client area starts below
# the menu bar; the slider is 4 pixels in, 34 down, 216 wide and 24 high.
geometry() { # window: X Y WIDTH HEIGHT of its picture area on the screen
    eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X/ {print "X=" $NF}
        /Absolute upper-left Y/ {print "Y=" $NF} /Width:/ {print "WIDTH=" $NF}
        /Height:/ {print "HEIGHT=" $NF}')"
}
slider_geometry() {
    geometry "$MAIN"
    SX=$((X + 4)) SW=216 SH=24
    SY=$((Y + HEIGHT - 94 + 34))
}

# 1. The Tip of the Day in front, with the keyboard.
clip=$SIZES/1280x720.mp4
if start tip "$clip"; then
    wait_active "$TIP" && ok "the Tip of the Day has the keyboard" ||
        bad "the active window is $(xdotool getwindowname "$(xdotool getactivewindow)" 2> /dev/null), not the Tip"
    stacked_above "$TIP" "$VIDEO" && stacked_above "$TIP" "$MAIN" &&
        ok "the Tip is in front of the video window and the main window" ||
        bad "the Tip is behind another window: $(xprop -root _NET_CLIENT_LIST_STACKING)"
    press Return
    wait_gone "Tip of the Day" || bad "Enter did not close the Tip"
    wait_active "$MAIN" && stacked_above "$MAIN" "$VIDEO" &&
        ok "after the Tip the main window is in front of the picture, with the keyboard" ||
        bad "after the Tip the main window is not in front with the keyboard"
    press F8
    sleep 0.5
    if save_as "$WORK/tip.bmp"; then
        reference "$clip" 1 "$WORK/ref-tip.bmp"
        same_picture "$WORK/tip.bmp" "$WORK/ref-tip.bmp" &&
            ok "after the Tip, F8 and F9 saved frame 1 exactly" || bad "F8, F9 did not save frame 1"
    else
        bad "F9 after the Tip brought no save dialog: the keys go nowhere"
    fi
    stop
else
    bad "the first run did not come up: $(tail -3 "$WORK/log-tip")"
    stop
fi

# 2. The position slider.
clip=$SIZES/long-854x480.mkv
if start slider "$clip"; then
    close_tip
    slider_geometry
    y=$((SY + SH / 2))
    # A middle click at the very start changes nothing but gives the slider the keyboard,
    # so both pictures of it below are of a focused slider.
    xdotool mousemove $((SX + 3)) $y click 2
    away
    shot "$WORK/before.png"
    xdotool mousemove $((SX + SW * 2 / 3)) $y click 2
    sleep 0.5
    press F3
    sleep 1.5
    press F4 F5
    sleep 0.8
    away
    shot "$WORK/after.png"
    crop="crop=$SW:$SH:$SX:$SY"
    if cmp -s <(ffmpeg -v error -i "$WORK/before.png" -vf "$crop" -f rawvideo -pix_fmt rgb24 -) \
        <(ffmpeg -v error -i "$WORK/after.png" -vf "$crop" -f rawvideo -pix_fmt rgb24 -); then
        ok "after a middle click, F3, F4 and F5 the slider's thumb is back at the start"
    else
        bad "the slider's thumb did not follow the player after a middle click"
    fi
    xdotool mousemove $((SX + SW / 2)) $y click 1
    sleep 0.6
    away
    if save_as "$WORK/middle.bmp"; then
        n=$(frame_of "$clip" "$WORK/middle.bmp")
        [ -n "$n" ] && [ "$n" -ge 40 ] && [ "$n" -le 60 ] &&
            ok "a left click on the middle of the groove went to frame $n of 100" ||
            bad "a left click on the middle of the groove went to frame '${n}'"
    else
        bad "no save dialog after the left click"
    fi
    stop
else
    bad "the slider run did not come up"
    stop
fi

# 3. Full screen keeps the shape; double clicks; a file opened after full screen.
clip=$SIZES/long-854x480.mkv
if start full "$clip"; then
    close_tip
    press ctrl+f
    sleep 1.5
    shot "$WORK/full.png"
    # 1600x1200 showing 854:480 is 1600x899: bars of 150 rows above and below.
    top=$(band_max "$WORK/full.png" 10 120)
    middle=$(band_max "$WORK/full.png" 560 80)
    fullscreen "$VIDEO" && [ "$top" = 0 ] && [ "$middle" -gt 0 ] &&
        ok "full screen shows the 854x480 picture with black bars on a 4:3 screen" ||
        bad "full screen: bar rows up to $top, picture rows up to $middle, state $(xprop -id "$VIDEO" _NET_WM_STATE)"
    xdotool mousemove 800 600 click --repeat 2 --delay 60 1
    sleep 1
    ! fullscreen "$VIDEO" && ok "a double click on the picture left full screen" ||
        bad "a double click did not leave full screen"
    geometry "$VIDEO"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click --repeat 2 --delay 60 1
    sleep 1.5
    fullscreen "$VIDEO" && ok "a double click on the picture went to full screen" ||
        bad "a double click did not enter full screen"
    # Close and open another file while full screen is on.
    press ctrl+c
    sleep 0.5
    press ctrl+o
    if wait_window "Open..." > /dev/null; then
        sleep 0.4
        xdotool type --delay 10 "$SIZES/720x576.mpg"
        press Return
        if VIDEO=$(wait_window 720x576.mpg); then
            sleep 1.2
            size=$(xwininfo -id "$VIDEO" | awk '/Width:|Height:/ {printf "%s ", $NF}')
            ! fullscreen "$VIDEO" && [ "$size" = "1024 576 " ] &&
                ok "opened after full screen, the 16:9 clip comes up in its own size, 1024x576" ||
                bad "opened after full screen: size $size, state $(xprop -id "$VIDEO" _NET_WM_STATE)"
            press ctrl+f
            sleep 1.5
            shot "$WORK/full169.png"
            top=$(band_max "$WORK/full169.png" 10 120)
            middle=$(band_max "$WORK/full169.png" 560 80)
            [ "$top" = 0 ] && [ "$middle" -gt 0 ] &&
                ok "the 16:9 clip of 720x576 pixels is shown 16:9 in full screen" ||
                bad "16:9 in full screen: bar rows up to $top, picture rows up to $middle"
        else
            bad "the file opened after full screen shows no window"
        fi
    else
        bad "Ctrl+O after full screen brought no Open dialog"
    fi
    stop
else
    bad "the full-screen run did not come up"
    stop
fi

# 4. The keyboard alone.
clip=$SIZES/long-426x240.mp4
if start keyboard "$clip"; then
    close_tip
    # Play clicked with the mouse (it takes the keyboard), then Space on the Pause button
    # that replaced it.
    geometry "$MAIN"
    xdotool mousemove $((X + 16)) $((Y + HEIGHT - 94 + 16)) click 1
    away
    sleep 0.7
    press space
    sleep 0.8
    press Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Home Right Right Right
    sleep 1.2
    if save_as "$WORK/key3.bmp"; then
        reference "$clip" 3 "$WORK/ref-key3.bmp"
        same_picture "$WORK/key3.bmp" "$WORK/ref-key3.bmp" &&
            ok "Space pauses, Tab to the position slider, Home, Right x3, F9: frame 3 exactly" ||
            bad "Space, Tab, Home, Right x3, F9 did not save frame 3 (got frame $(frame_of "$clip" "$WORK/key3.bmp"))"
    else
        bad "no save dialog after the keyboard steps"
    fi
    press Right
    sleep 0.3
    for _ in 1 2 3 4 5 6 7 8 9 10; do press shift+Tab; done
    press Return
    sleep 0.6
    if save_as "$WORK/key0.bmp"; then
        reference "$clip" 0 "$WORK/ref-key0.bmp"
        same_picture "$WORK/key0.bmp" "$WORK/ref-key0.bmp" &&
            ok "Shift+Tab to Move to First, Enter, F9: frame 0 exactly" ||
            bad "Shift+Tab to Move to First and Enter did not go to frame 0 (got frame $(frame_of "$clip" "$WORK/key0.bmp"))"
    else
        bad "no save dialog after Enter"
    fi
    stop
else
    bad "the keyboard run did not come up"
    stop
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
