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
