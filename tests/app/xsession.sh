# Sourced by the end-to-end scripts: a window manager (openbox) on the X display the
# script runs under, and helpers to find windows, wait for them and compare pictures.
# The caller sets WORK (a scratch folder) before sourcing; the EXIT trap ends openbox and
# removes WORK.
openbox > /dev/null 2>&1 &
WM=$!
trap 'kill $WM 2> /dev/null; rm -rf "$WORK"' EXIT
# Openbox names itself on the root window early and lists the clients only once it has
# finished starting (fonts, theme): a window mapped before then is never given the keyboard.
for _ in $(seq 1 100); do
    xprop -root _NET_CLIENT_LIST_STACKING 2> /dev/null | grep -q WINDOW && break
    sleep 0.1
done
kill -0 $WM 2> /dev/null || echo "openbox is not running on $DISPLAY: the keys below will go nowhere"
passed=0 failed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAILED: $*"; failed=$((failed + 1)); }

window() { # a visible top-level window by its whole caption
    local pattern
    pattern=$(printf '%s' "$1" | sed 's/[][().*+?^$|\\]/\\&/g')
    xdotool search --onlyvisible --name "^$pattern\$" 2> /dev/null | head -n 1
}
wait_window() { # caption [tenths of a second]
    local w
    for _ in $(seq 1 "${2:-100}"); do
        w=$(window "$1"); [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}
wait_gone() { for _ in $(seq 1 50); do [ -z "$(window "$1")" ] && return 0; sleep 0.1; done; return 1; }
# The pixel rows of a 24-bit BMP.
rows() { tail -c +$(( $(od -An -tu4 -j10 -N4 "$1") + 1 )) "$1"; }
reference() { # clip frame file [filters after the frame's choice]
    ffmpeg -v error -y -i "$1" -vf "select=eq(n\,$2)${4:+,$4}" -fps_mode passthrough \
        -frames:v 1 -pix_fmt bgr24 "$3"
}
same_picture() { # ours reference
    [ -s "$1" ] && cmp -s <(rows "$1") <(rows "$2")
}

keys() { # window, then keys, each followed by a short pause as a person would type
    local w=$1; shift
    xdotool windowactivate --sync "$w" 2> /dev/null
    for k in "$@"; do xdotool key "$k"; sleep 0.15; done
}

PID=
# The program, from the settings in $WORK/config-NAME (none at first), on CLIP: MAIN and
# VIDEO are its windows; a Tip of the Day that comes up is closed with Enter.
start() { # NAME CLIP
    export XDG_CONFIG_HOME=$WORK/config-$1
    export XDG_CACHE_HOME=$WORK/cache
    "$FRAMIX" "$2" > "$WORK/log" 2>&1 &
    PID=$!
    MAIN=$(wait_window Framix) || { echo "no main window"; return 1; }
    VIDEO=$(wait_window "$(basename "$2")") || { echo "no video window"; return 1; }
    local tip
    tip=$(wait_window "Tip of the Day" 30) && { keys "$tip" Return; wait_gone "Tip of the Day"; }
    sleep 0.3
    return 0
}
stop() {
    kill "$PID" 2> /dev/null
    wait "$PID" 2> /dev/null
}
exit_by_menu() {
    keys "$MAIN" alt+f x
    for _ in $(seq 1 50); do kill -0 "$PID" 2> /dev/null || break; sleep 0.1; done
    kill -0 "$PID" 2> /dev/null && { stop; return 1; }
    wait "$PID" 2> /dev/null
    return 0
}
capture() { # file (without .bmp): F9, the name typed into the save dialog, Enter
    keys "$MAIN" F9
    local dialog
    dialog=$(wait_window "Save Frame As...") || return 1
    sleep 0.3
    xdotool windowactivate --sync "$dialog" type --delay 10 "$1"
    xdotool key Return
    for _ in $(seq 1 50); do [ -s "$1.bmp" ] && return 0; sleep 0.1; done
    return 1
}
