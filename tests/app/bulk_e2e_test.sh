#!/usr/bin/env bash
# Bulk Capture in the real program, as a new user drives it from the keyboard: under Xvfb
# with a window manager (openbox), from empty settings (the Tip of the Day comes up first).
#  1. Ctrl+B; the folder, PNG, a name template and a range typed as a frame number and as a
#     time; Begin: exactly the files the template names, the first one holding ffmpeg's
#     pixels of its frame, and no question before the completion message.
#  2. The dialog closed and opened again keeps the folder and the type: the same template
#     and range, Begin asks before replacing the files (nothing is written when the answer
#     is Cancel) and replaces them when it is Replace.
# usage: bulk_e2e_test.sh FRAMIX WORK_DIR
set -uo pipefail
FRAMIX=$1
WORK=$2
if [ -z "${FRAMIX_E2E_IN_X:-}" ]; then
    for tool in xvfb-run xdotool openbox xprop ffmpeg; do
        command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    FRAMIX_E2E_IN_X=1 exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi

rm -rf "$WORK"
mkdir -p "$WORK"
# shellcheck source=xsession.sh
source "$(dirname "$0")/xsession.sh"
trap 'kill $WM 2> /dev/null; [ -n "$PID" ] && kill "$PID" 2> /dev/null' EXIT
typed() { xdotool type --delay 10 "$1"; sleep 0.15; }
stamps() { stat -c '%n %y' "$OUT"/* 2> /dev/null; }
listing() { ls -A "$OUT" 2> /dev/null | sort | tr '\n' ' ' | sed 's/ $//'; }

# 30 frames at 10 frames/s of an awkward width: frame 15 is at 0:01.500.
clip=$WORK/walk.mp4
ffmpeg -v error -y -f lavfi -i testsrc2=size=318x178:rate=10:duration=3 -c:v libx264 \
    -pix_fmt yuv420p -g 10 "$clip"
OUT=$WORK/frames
start bulk "$clip" || { echo "the program did not come up: $(tail -3 "$WORK/log")"; exit 1; }

# The template and the range, typed: the radio button, then Tab to each box past its slider.
setup() {
    keys "$bulk" alt+n ctrl+a
    typed "{name}_{frame:03}"
    keys "$bulk" alt+f Tab Tab ctrl+a
    typed 12
    keys "$bulk" Tab Tab ctrl+a
    typed 0:01.500
    keys "$bulk" Tab
}
want="walk_012.png walk_013.png walk_014.png walk_015.png"

# 1. A first run.
keys "$MAIN" ctrl+b
if bulk=$(wait_window "Framix (Bulk Capture)"); then
    sleep 0.3
    keys "$bulk" alt+d ctrl+a
    typed "$OUT"
    keys "$bulk" alt+t Down
    setup
    keys "$bulk" alt+b
    if box=$(wait_window Tavrino 150); then
        # The first box of the run comes after the files: the completion message, no question.
        got=$(listing)
        keys "$box" Return
        [ "$got" = "$want" ] && ok "the first run wrote $got, then said it was done, asking nothing" ||
            bad "when the first box of the first run came up the folder held '$got', not '$want'"
        reference "$clip" 13 "$WORK/ref13.bmp"
        ffmpeg -v error -y -i "$OUT/walk_013.png" -pix_fmt bgr24 "$WORK/ours13.bmp"
        same_picture "$WORK/ours13.bmp" "$WORK/ref13.bmp" &&
            ok "walk_013.png holds exactly ffmpeg's pixels of frame 13" ||
            bad "walk_013.png is not ffmpeg's frame 13"
        wait_gone Tavrino || bad "the completion message did not close"
    else
        bad "the first run ended with no message (folder: '$(listing)')"
    fi
    grep -q "^BulkType=png$" "$XDG_CONFIG_HOME/Framix/Framix.ini" &&
        grep -q "^BulkFolder=$OUT$" "$XDG_CONFIG_HOME/Framix/Framix.ini" &&
        ok "the folder and the type are kept in Framix.ini" ||
        bad "Framix.ini: $(grep Bulk "$XDG_CONFIG_HOME/Framix/Framix.ini" 2>&1)"
    keys "$bulk" alt+F4
    wait_gone "Framix (Bulk Capture)" || bad "the bulk dialog did not close"
else
    bad "Ctrl+B opened no bulk dialog"
fi

# 2. Opened again: the kept folder and type, the same names, so Begin asks first.
sleep 0.3
before=$(stamps)
keys "$MAIN" ctrl+b
if bulk=$(wait_window "Framix (Bulk Capture)"); then
    sleep 0.3
    setup
    keys "$bulk" alt+b
    if box=$(wait_window Tavrino 150); then
        [ "$(stamps)" = "$before" ] && ok "Begin again asks before anything is written" ||
            bad "files changed before the question was answered"
        keys "$box" Escape
        sleep 1.5
        [ -z "$(window Tavrino)" ] && [ "$(stamps)" = "$before" ] && [ "$(listing)" = "$want" ] &&
            ok "Cancel writes nothing and starts no run" ||
            bad "after Cancel: '$(listing)', a box: '$(window Tavrino)'"
        keys "$bulk" alt+b
        if box=$(wait_window Tavrino 150); then
            keys "$box" alt+r
            # The completion message once the files are rewritten, not the question closing.
            done=
            for _ in $(seq 1 150); do
                [ "$(stamps)" != "$before" ] && done=$(window Tavrino) && [ -n "$done" ] && break
                done=
                sleep 0.1
            done
            if [ -n "$done" ]; then
                keys "$done" Return
                [ "$(listing)" = "$want" ] &&
                    ok "Replace wrote the same four files again into the kept folder as PNG" ||
                    bad "after Replace the folder holds '$(listing)'"
            else
                bad "Replace did not rewrite the files"
            fi
        else
            bad "the second Begin asked nothing"
        fi
    else
        bad "the run into the kept folder showed no box (folder: '$(listing)')"
    fi
else
    bad "Ctrl+B opened no bulk dialog the second time"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
