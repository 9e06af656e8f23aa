#!/usr/bin/env bash
# A fresh installation into a temporary prefix: the programs, the tip file, the help page
# and the demo clip in one folder with links in bin, a .desktop file that
# desktop-file-validate accepts and the icon it names, the manual pages where man finds
# them, an AppStream file appstreamcli accepts with the rest of the tree (when it is
# installed), and framix-grab's bash completion. The installed program is then
# started through its bin link under Xvfb with a configuration of its own: the Tip of the
# Day comes up with a tip from the installed file (its log names the tip's number and the
# count of tips in the file), and after OK, F1 hands the installed help page to the desktop,
# here a stand-in xdg-open that writes down what it was given.
# usage: install_test.sh BUILD_DIR
set -uo pipefail
BUILD=$(cd "$1" && pwd)
for tool in xvfb-run xdotool desktop-file-validate; do
    command -v $tool > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# Under root/usr, as a package's files are: appstreamcli checks such a tree.
PREFIX=$WORK/root/usr
fail() { echo "FAILED: $*"; exit 1; }

cmake --install "$BUILD" --prefix "$PREFIX" > "$WORK/install.log" || { cat "$WORK/install.log"; fail "cmake --install"; }
PKG=$PREFIX/lib/framix
for f in framix framix-grab TIPOFDAY.TXT index.htm demo.mpg; do
    [ -f "$PKG/$f" ] || fail "$PKG/$f is missing"
done
for p in framix framix-grab; do
    [ "$(readlink -f "$PREFIX/bin/$p")" = "$(readlink -f "$PKG/$p")" ] || fail "bin/$p does not lead to $PKG/$p"
done
DESKTOP=$PREFIX/share/applications/framix.desktop
desktop-file-validate "$DESKTOP" || fail "desktop-file-validate rejects $DESKTOP"
icon=$(sed -n 's/^Icon=//p' "$DESKTOP")
[ -f "$PREFIX/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon $icon.svg"
grep -q '^MimeType=.*video/mpeg;' "$DESKTOP" || fail "the .desktop file names no video types"
echo "installed into $PREFIX; desktop-file-validate accepts framix.desktop"

for page in framix framix-grab; do
    file=$PREFIX/share/man/man1/$page.1.gz
    [ -f "$file" ] || file=$PREFIX/share/man/man1/$page.1
    [ -f "$file" ] || fail "no manual page $page.1"
    if command -v man > /dev/null; then
        [ "$(MANPATH=$PREFIX/share/man man -w "$page")" = "$file" ] || fail "man does not find $file"
        MANPATH=$PREFIX/share/man MANWIDTH=80 man "$page" 2> /dev/null | grep -q "^NAME" \
            || fail "man does not show $page"
    fi
done
METAINFO=$PREFIX/share/metainfo/org.example.framix.metainfo.xml
[ -f "$METAINFO" ] || fail "$METAINFO is missing"
if command -v appstreamcli > /dev/null; then
    appstreamcli validate-tree --no-net "$WORK/root" || fail "appstreamcli rejects the installed tree"
fi
COMPLETION=$PREFIX/share/bash-completion/completions/framix-grab
[ -f "$COMPLETION" ] || fail "$COMPLETION is missing"
bash -c 'source "$1" && complete -p framix-grab' bash "$COMPLETION" > /dev/null \
    || fail "the installed completion does not set up framix-grab"
echo "the manual pages, the AppStream file and the bash completion are installed"

# framix-grab through its link: the demo clip's first frame as a bitmap.
"$PREFIX/bin/framix-grab" "$PKG/demo.mpg" --out "$WORK/frames" --from 0 --to 0 --quiet > /dev/null \
    || fail "framix-grab did not run"
[ "$(head -c 2 "$WORK/frames/frame0.bmp")" = BM ] || fail "framix-grab wrote no bitmap"

mkdir -p "$WORK/bin" "$WORK/config" "$WORK/cache"
cat > "$WORK/bin/xdg-open" << 'OPEN'
#!/bin/sh
echo "$@" >> "$OPENED"
OPEN
chmod +x "$WORK/bin/xdg-open"
tips=$(wc -l < "$PKG/TIPOFDAY.TXT")
export PREFIX WORK
export OPENED=$WORK/opened PATH=$WORK/bin:$PATH
export XDG_CONFIG_HOME=$WORK/config XDG_CACHE_HOME=$WORK/cache
export QT_LOGGING_RULES="framix.dialogs.info=true"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    set -u
    "$PREFIX/bin/framix" 2> "$WORK/framix.log" & pid=$!
    window() { xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n 1; }
    tip= main=
    for _ in $(seq 1 80); do
        tip=$(window "Tip of the Day"); main=$(window Framix)
        [ -n "$tip" ] && [ -n "$main" ] && break
        sleep 0.25
    done
    [ -n "$main" ] || { echo "FAILED: no main window"; kill $pid; exit 1; }
    [ -n "$tip" ] || { echo "FAILED: no Tip of the Day window"; kill $pid; exit 1; }
    # OK has the focus: Enter closes the tip window and enables the main window again.
    xdotool windowfocus --sync "$tip" key Return 2> /dev/null
    for _ in $(seq 1 40); do [ -z "$(window "Tip of the Day")" ] && break; sleep 0.1; done
    [ -z "$(window "Tip of the Day")" ] || { echo "FAILED: Enter did not close the tips"; kill $pid; exit 1; }
    sleep 0.3
    xdotool windowfocus --sync "$main" key F1 2> /dev/null
    for _ in $(seq 1 40); do [ -s "$OPENED" ] && break; sleep 0.1; done
    kill -0 $pid || { echo "FAILED: framix is not running"; exit 1; }
    kill $pid; wait $pid 2> /dev/null; exit 0
' || { cat "$WORK/framix.log"; exit 1; }

shown=$(sed -n 's/.*tip \([0-9]*\) of \([0-9]*\).*/\1 \2/p' "$WORK/framix.log" | head -n 1)
[ -n "$shown" ] || { cat "$WORK/framix.log"; fail "the Tip of the Day showed no tip from the file"; }
set -- $shown
[ "$2" -eq "$tips" ] || fail "the tip window read $2 tips, the installed file has $tips"
echo "the installed program started and showed tip $1 of the $tips in its TIPOFDAY.TXT"
[ -s "$WORK/opened" ] || fail "F1 opened nothing"
grep -q "$PKG/index.htm" "$WORK/opened" || fail "F1 opened $(cat "$WORK/opened"), not $PKG/index.htm"
echo "F1 asked the desktop to open $(cat "$WORK/opened")"
echo "1 passed, 0 failed"
