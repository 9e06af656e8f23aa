#!/usr/bin/env bash
# Renders the help page in headless Chromium and saves a screenshot of it, for a person to
# look at and as a check that the page renders cleanly: Chromium must reach the end of the
# document, report no script or console errors, and draw a page that is not blank; every
# link inside the page must lead to an anchor that exists, and the page may refer to no
# other local file (it is installed on its own beside the program).
# usage: scripts/help-screenshot.sh [PAGE] [PNG]   (default: data/index.htm, help-page.png)
set -uo pipefail
PAGE=$(realpath "${1:-$(dirname "$0")/../data/index.htm}")
PNG=$(realpath -m "${2:-help-page.png}")
browser=
for b in chromium chromium-browser google-chrome; do
    command -v $b > /dev/null && { browser=$b; break; }
done
[ -n "$browser" ] || { echo "skipped: Chromium is not installed (Debian package chromium)"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
[ -f "$PAGE" ] || fail "no page $PAGE"
mkdir -p "$(dirname "$PNG")"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Links: "#name" must name an id of the page; anything else must be mail or the web.
for target in $(grep -o '\(href\|src\)="[^"]*"' "$PAGE" | sed 's/^[a-z]*="\(.*\)"$/\1/'); do
    case $target in
        \#*) grep -q "id=\"${target#\#}\"" "$PAGE" || fail "link $target leads nowhere" ;;
        mailto:* | https://*) ;;
        *) fail "the page refers to $target, which is not installed with it" ;;
    esac
done

run() {
    "$browser" --headless --disable-gpu --no-sandbox --user-data-dir="$WORK/profile" \
        --enable-logging=stderr --v=0 "$@" "file://$PAGE" 2> "$WORK/log"
}
run --dump-dom > "$WORK/dom.html" || fail "$browser could not load the page"
grep -q '</footer>' "$WORK/dom.html" || fail "the page did not load to its end"
run --hide-scrollbars --window-size=1100,5000 --screenshot="$PNG" > /dev/null \
    || fail "$browser could not render the page"
if grep 'CONSOLE' "$WORK/log"; then
    fail "the page reported the errors above"
fi
[ -s "$PNG" ] || fail "no screenshot was written"
if command -v identify > /dev/null; then
    colours=$(identify -format %k "$PNG")
    [ "$colours" -gt 50 ] || fail "the screenshot is blank ($colours colours)"
    echo "help page rendered by $($browser --version 2> /dev/null | head -n 1): $(identify -format '%wx%h' "$PNG"), $colours colours, no console errors"
fi
echo "screenshot: $PNG"
