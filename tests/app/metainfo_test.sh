#!/usr/bin/env bash
# The AppStream file passes appstreamcli's validation, names a .desktop file that exists and
# passes desktop-file-validate, lists both programs, and its newest release is the version
# the programs say they are, with a date.
# usage: metainfo_test.sh METAINFO DATA_DIR FRAMIX_GRAB
set -uo pipefail
METAINFO=$1
DATA=$2
GRAB=$3
command -v appstreamcli > /dev/null || { echo "skipped: appstreamcli is not installed (package appstream)"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

appstreamcli validate --no-net --explain "$METAINFO" || fail "appstreamcli rejects $METAINFO"

desktop=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$METAINFO")
[ -n "$desktop" ] || fail "no desktop-id launchable"
[ -f "$DATA/$desktop" ] || fail "the launchable $desktop is not in $DATA"
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$DATA/$desktop" || fail "desktop-file-validate rejects $desktop"
fi
for program in framix framix-grab; do
    grep -q "<binary>$program</binary>" "$METAINFO" || fail "$program is not among the binaries"
done

version=$("$GRAB" --version | sed -n 's/^framix-grab //p')
[ -n "$version" ] || fail "framix-grab --version gave no version"
# Releases are listed newest first.
newest=$(grep -o '<release [^>]*>' "$METAINFO" | head -n 1)
echo "$newest" | grep -q "version=\"$version\"" || fail "the newest release is $newest, the programs are $version"
echo "$newest" | grep -q 'date="[0-9]\{4\}-[0-9]\{2\}-[0-9]\{2\}"' || fail "release $version has no date: $newest"
echo "$(basename "$METAINFO") is valid, launches $desktop and lists release $version"
echo "1 passed, 0 failed"
