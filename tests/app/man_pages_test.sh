#!/usr/bin/env bash
# The manual pages render without a warning from groff, their NAME lines are ones whatis and
# apropos can index, and each page describes every long option its program's --help lists,
# and only those, so the pages cannot drift from the code in either direction. Both name
# the version the programs print.
# usage: man_pages_test.sh MAN_DIR FRAMIX_GRAB FRAMIX
set -uo pipefail
MAN=$1
GRAB=$2
FRAMIX=$3
command -v groff > /dev/null || { echo "skipped: groff is not installed"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

version=$("$GRAB" --version | sed -n 's/^framix-grab //p')
[ -n "$version" ] || fail "framix-grab --version gave no version"
[ "$("$FRAMIX" --version)" = "framix $version" ] || fail "framix --version is not 'framix $version'"
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

# The long options in the options column of --help ("  -h, --help   ..." or
# "  --out <DIR>   ...") against the tags of the page's OPTIONS section.
same_options() {
    local program=$1 page=$2 name
    name=$(basename "$program")
    "$program" --help > "$WORK/help" || fail "$name --help failed"
    sed -n 's/^  \(-[a-zA-Z], \)\{0,1\}\(--[a-z][a-z0-9-]*\).*/\2/p' "$WORK/help" | sort -u > "$WORK/options"
    [ "$(wc -l < "$WORK/options")" -ge 2 ] || { cat "$WORK/help"; fail "read only $(wc -l < "$WORK/options") options from $name --help"; }
    sed -n '/^OPTIONS/,/^[A-Z]/p' "$WORK/$page.txt" | grep '^       -' \
        | grep -o -e '--[a-z][a-z0-9-]*[a-z0-9]' | sort -u > "$WORK/described"
    local missing unknown
    missing=$(comm -23 "$WORK/options" "$WORK/described" | tr "\n" " ")
    [ -z "$missing" ] || fail "the OPTIONS of $page do not describe" "$missing"
    unknown=$(comm -13 "$WORK/options" "$WORK/described" | tr "\n" " ")
    [ -z "$unknown" ] || fail "$page describes options $name does not have:" "$unknown"
    echo "$page describes the $(wc -l < "$WORK/options") long options of $name --help and no others"
}
same_options "$GRAB" framix-grab.1
same_options "$FRAMIX" framix.1
echo "1 passed, 0 failed"
