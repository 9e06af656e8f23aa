#!/usr/bin/env bash
# The real program under Xvfb, started with a clip on its command line: the main window and
# the video window come up, and the video window shows the clip's picture. F3 (Play) then
# makes the picture move. Leaves screenshots in SHOT_DIR for a person to look at.
# usage: start_test.sh FRAMIX CLIP SHOT_DIR
set -uo pipefail
FRAMIX=$1
CLIP=$2
SHOTS=$3
mkdir -p "$SHOTS"
command -v xvfb-run > /dev/null || { echo "skipped: xvfb-run is not installed"; exit 77; }
# Tip of the Day would come up first and disable the main window, which the keys below go
# to: start with the tips turned off, in a configuration folder of this test's own.
export XDG_CONFIG_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
mkdir -p "$XDG_CONFIG_HOME/Framix"
printf '[Options]\nShow%%20Tips%%20at%%20Startup=0\n' > "$XDG_CONFIG_HOME/Framix/$(basename "$FRAMIX").ini"
export FRAMIX CLIP SHOTS
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    set -u
    "$FRAMIX" "$CLIP" & pid=$!
    # A top-level window is found by its caption: "Framix" and the clip'"'"'s file name.
    window() { xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n 1; }
    main= video=
    for _ in $(seq 1 80); do
        main=$(window Framix); video=$(window "$(basename "$CLIP")")
        [ -n "$main" ] && [ -n "$video" ] && break
        sleep 0.25
    done
    [ -n "$main" ] || { echo "FAILED: no main window"; exit 1; }
    [ -n "$video" ] || { echo "FAILED: no video window"; exit 1; }
    sleep 1
    import -window root "$SHOTS/start-screen.png"
    import -window "$video" "$SHOTS/start-video-1.png"
    # Play, from the keyboard, into whichever window has the focus.
    xdotool windowfocus --sync "$main" key F3 2> /dev/null
    sleep 1.5
    import -window "$video" "$SHOTS/start-video-2.png"
    kill -0 $pid || { echo "FAILED: framix is not running"; exit 1; }
    kill $pid; wait $pid 2> /dev/null; exit 0
' || exit 1
colours=$(identify -format %k "$SHOTS/start-video-1.png")
echo "video window has $colours colours"
[ "$colours" -gt 100 ] || { echo "FAILED: the video window is blank"; exit 1; }
diff=$(compare -metric AE "$SHOTS/start-video-1.png" "$SHOTS/start-video-2.png" null: 2>&1 | sed 's/ .*//')
echo "pixels changed after Play: $diff"
if command -v xdotool > /dev/null; then
    [ "${diff%.*}" -gt 1000 ] || { echo "FAILED: the picture does not move after F3"; exit 1; }
fi
echo "1 passed, 0 failed"
