#!/usr/bin/env bash
# The manual pages render without a warning from groff, their NAME lines are ones whatis and
# apropos can index, and framix-grab's page describes each option the program's --help
# lists, and only those, so the page cannot drift from the code in either direction. Both
# pages name the version the programs print.
# usage: man_pages_test.sh MAN_DIR FRAMIX_GRAB
set -uo pipefail
MAN=$1
GRAB=$2
command -v groff > /dev/null || { echo "skipped: groff is not installed"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

version=$("$GRAB" --version | sed -n 's/^framix-grab //p')
[ -n "$version" ] || fail "framix-grab --version gave no version"
for page in "$MAN/framix.1" "$MAN/framix-grab.1"; do
    [ -f "$page" ] || fail "no page $page"
    grep -q "^\.TH .*\"Framix $version\"" "$page" || fail "$page is not the page of version $version"
    # -ww: every warning groff has; -z: format without output. Table and character
    # warnings, bad macros and requests all end up on stderr.
    groff -t -man -ww -z -Tutf8 "$page" 2> "$WORK/warnings" || fail "groff failed on $page"
    [ ! -s "$WORK/warnings" ] || { cat "$WORK/warnings"; fail "groff warns about $page"; }
    if command -v lexgrog > /dev/null; then
        lexgrog "$page" > "$WORK/name" 2>&1 || { cat "$WORK/name"; fail "no NAME line whatis can read in $page"; }
    fi
    # Hyphenation off and plain text, so every option stays one word.
    groff -t -man -Tascii -P-cbu -rHY=0 "$page" > "$WORK/$(basename "$page").txt" 2> /dev/null
done
echo "both pages, of version $version, render without warnings"

"$GRAB" --help > "$WORK/help" || fail "framix-grab --help failed"
# The options column of --help: "  -h, --help   ..." or "  --out <DIR>   ...".
sed -n 's/^  \(-[a-zA-Z], \)\{0,1\}\(--[a-z0-9-]*\).*/\2/p' "$WORK/help" | sort -u > "$WORK/options"
[ "$(wc -l < "$WORK/options")" -ge 10 ] || { cat "$WORK/help"; fail "read only $(wc -l < "$WORK/options") options from --help"; }
# The options the page describes: the tags of its OPTIONS section.
sed -n '/^OPTIONS/,/^[A-Z]/p' "$WORK/framix-grab.1.txt" | grep '^       -' \
    | grep -o -e '--[a-z0-9-]*[a-z0-9]' | sort -u > "$WORK/described"
missing=$(comm -23 "$WORK/options" "$WORK/described" | tr "\n" " ")
[ -z "$missing" ] || fail "the OPTIONS of framix-grab.1 do not describe" "$missing"
unknown=$(comm -13 "$WORK/options" "$WORK/described" | tr "\n" " ")
[ -z "$unknown" ] || fail "framix-grab.1 describes options framix-grab does not have:" "$unknown"
echo "framix-grab.1 describes the $(wc -l < "$WORK/options") options of framix-grab --help and no others"
echo "1 passed, 0 failed"
