#!/usr/bin/env bash
# Tools > Deinterlace Interlaced Video in the real program, as a new user meets it: under
# Xvfb with openbox, from empty settings (the Tip of the Day comes up first), keys only.
#  1. An interlaced MPEG-2 clip (350x286, woven fields of moving test pictures): Alt+T D
#     ticks the item; Ctrl+G 13, F9 saves exactly ffmpeg's bwdif picture of frame 13.
#  2. Alt+T D again: F9 saves frame 13 as decoded.
#  3. Ticked again and the program ended with File > Exit: the next run starts with the
#     item ticked (Framix.ini keeps it); Ctrl+G 29 (the last frame), F9, and Ctrl+G 0,
#     Ctrl+Shift+C, give bwdif's pictures of those frames.
# usage: deinterlace_e2e_test.sh FRAMIX CLIP_DIR
set -uo pipefail
FRAMIX=$1
CLIPS=$2
if [ -z "${FRAMIX_E2E_IN_X:-}" ]; then
    for tool in xvfb-run xdotool openbox xprop xclip; do
        command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    FRAMIX_E2E_IN_X=1 exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi

WORK=$(mktemp -d)
# shellcheck source=xsession.sh
source "$(dirname "$0")/xsession.sh"
# A picture file's pixels as 24-bit BGR rows, top row first.
bgr() { ffmpeg -v error -i "$1" -f rawvideo -pix_fmt bgr24 - 2> /dev/null; }
# ffmpeg's picture of frame N, deinterlaced by bwdif (which sees every frame) or as decoded.
reference() { # clip frame file [deinterlace]
    ffmpeg -v error -y -i "$1" -vf "${4:+bwdif=mode=send_frame:parity=auto:deint=interlaced,}select=eq(n\,$2)" \
        -fps_mode passthrough -frames:v 1 -pix_fmt bgr24 "$3"
}
same_picture() { [ -s "$1" ] && cmp -s <(bgr "$1") <(bgr "$2"); }

goto_frame() { # typed frame number, Enter; the dialog must close
    keys "$MAIN" ctrl+g
    local dialog
    dialog=$(wait_window "Go to Frame" 30) || { bad "Ctrl+G opened no Go to Frame dialog"; return 1; }
    sleep 0.3
    xdotool windowactivate --sync "$dialog" key ctrl+a type --delay 10 "$1"
    xdotool key Return
    wait_gone "Go to Frame" || { bad "the Go to Frame dialog did not close after $1"; return 1; }
    sleep 0.7
}
toggle() { keys "$MAIN" alt+t d; sleep 0.5; }
stored() { grep -s '^Deinterlace=' "$WORK/config-new/Framix/Framix.ini"; }

mkdir -p "$CLIPS"
clip=$CLIPS/interlaced.mpg
[ -s "$clip" ] || ffmpeg -v error -y -f lavfi -i testsrc2=s=350x286:r=50:d=1.2 \
    -vf tinterlace=interleave_top,fieldorder=tff,format=yuv420p \
    -c:v mpeg2video -flags +ildct+ilme -top 1 -q:v 4 -g 12 -bf 2 -f vob "$clip.part" &&
    mv "$clip.part" "$clip"
for n in 0 13 29; do reference "$clip" "$n" "$WORK/bwdif-$n.bmp" on; done
reference "$clip" 13 "$WORK/plain-13.bmp"
cmp -s <(bgr "$WORK/bwdif-13.bmp") <(bgr "$WORK/plain-13.bmp") &&
    bad "bwdif leaves frame 13 of the clip as it is: the checks below would prove nothing"

if start new "$clip"; then
    toggle
    [ "$(stored)" = Deinterlace=1 ] && ok "Alt+T D ticks the item, and it is stored" ||
        bad "after Alt+T D the settings say '$(stored)'"
    if goto_frame 13; then
        capture "$WORK/on-13"
        same_picture "$WORK/on-13.bmp" "$WORK/bwdif-13.bmp" &&
            ok "ticked: Ctrl+G 13, F9 saves exactly ffmpeg's bwdif frame 13" ||
            bad "ticked: F9 did not save bwdif's frame 13"
        toggle
        capture "$WORK/off-13"
        same_picture "$WORK/off-13.bmp" "$WORK/plain-13.bmp" &&
            ok "unticked: F9 saves frame 13 as decoded" ||
            bad "unticked: F9 did not save frame 13 as decoded"
    fi
    toggle
    exit_by_menu || bad "File > Exit did not end the program"
else
    bad "the program did not come up: $(tail -3 "$WORK/log")"
    stop
fi

if start new "$clip"; then
    if goto_frame 29; then
        capture "$WORK/again-29"
        same_picture "$WORK/again-29.bmp" "$WORK/bwdif-29.bmp" &&
            ok "the next run is deinterlacing: Ctrl+G 29 (the last frame), F9 saves bwdif's" ||
            bad "the next run: F9 at the last frame did not save bwdif's frame 29"
    fi
    if goto_frame 0; then
        keys "$MAIN" ctrl+shift+c
        sleep 0.5
        xclip -selection clipboard -t image/png -o > "$WORK/clip-0.png" 2> /dev/null
        same_picture "$WORK/clip-0.png" "$WORK/bwdif-0.bmp" &&
            ok "Ctrl+G 0, Ctrl+Shift+C: the clipboard holds bwdif's frame 0" ||
            bad "the clipboard does not hold bwdif's frame 0"
    fi
    exit_by_menu || bad "File > Exit did not end the program"
else
    bad "the program did not come up again: $(tail -3 "$WORK/log")"
    stop
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
