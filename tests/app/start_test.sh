#!/usr/bin/env bash
# The real program under Xvfb: it starts on the demo clip beside it, shows moving pictures
# and keeps running. Leaves a screenshot in SHOT_DIR for a person to look at.
# usage: start_test.sh FRAMIX SHOT_DIR
set -uo pipefail
FRAMIX=$1
SHOTS=$2
mkdir -p "$SHOTS"
command -v xvfb-run > /dev/null || { echo "skipped: xvfb-run is not installed"; exit 0; }
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" & pid=$!
    sleep 4
    import -window root "$2/start-1.png"
    sleep 1
    import -window root "$2/start-2.png"
    kill -0 $pid || { echo "FAILED: framix is not running"; exit 1; }
    kill $pid; wait $pid 2> /dev/null; exit 0
' _ "$FRAMIX" "$SHOTS" || exit 1
colours=$(identify -format %k "$SHOTS/start-1.png")
echo "screenshot has $colours colours"
[ "$colours" -gt 100 ] || { echo "FAILED: no picture on screen"; exit 1; }
# Playing: the picture changes between the two screenshots.
diff=$(compare -metric AE "$SHOTS/start-1.png" "$SHOTS/start-2.png" null: 2>&1 | sed 's/ .*//')
echo "pixels changed while playing: $diff"
[ "${diff%.*}" -gt 1000 ] || { echo "FAILED: the picture does not move"; exit 1; }
echo "1 passed, 0 failed"
