#!/usr/bin/env bash
# The Debian package made by `cpack -G DEB` from the build folder: its control fields (name,
# the programs' version, section, maintainer, the shared libraries' packages in Depends) and
# its contents, which must be what `cmake --install` puts in place, under /usr, with the
# programs stripped. Then, as root with dpkg, the package is installed for real: the
# installed framix-grab and framix report their version, framix-grab saves a frame of a
# small clip, man finds the pages; and `dpkg -r` must leave none of the package's files.
# Whatever happens, a package this script installed is purged again on the way out. A framix
# package or files that are there before the test are never touched: the test is skipped.
# usage: deb_test.sh BUILD_DIR
set -uo pipefail
BUILD=$(cd "$1" && pwd)
for tool in cpack dpkg-deb ffmpeg readelf; do
    command -v $tool > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
WORK=$(mktemp -d)
installed=0
cleanup() {
    if [ $installed = 1 ] && ! dpkg --purge framix > "$WORK/purge.log" 2>&1; then
        cat "$WORK/purge.log"
        echo "FAILED: could not purge the framix package this test installed"
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
fail() { echo "FAILED: $*"; exit 1; }
export XDG_CONFIG_HOME=$WORK/config XDG_CACHE_HOME=$WORK/cache

version=$("$BUILD/src/app/framix-grab" --version | sed -n 's/^framix-grab //p')
[ -n "$version" ] || fail "the built framix-grab gives no version"
(cd "$BUILD" && cpack -G DEB -B "$WORK/pkg") > "$WORK/cpack.log" 2>&1 \
    || { cat "$WORK/cpack.log"; fail "cpack -G DEB"; }
debs=("$WORK"/pkg/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made ${debs[*]}, not one .deb"
DEB=${debs[0]}
field() { dpkg-deb -f "$DEB" "$1"; }
[ "$(field Package)" = framix ] || fail "the package is called '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "package version $(field Version), programs $version"
[ "$(field Section)" = video ] || fail "section '$(field Section)'"
field Maintainer | grep -q '^[^<]\+ <[^@ ]\+@[^> ]\+>$' || fail "maintainer '$(field Maintainer)'"
[ "$(field Description | wc -l)" -ge 3 ] || fail "no long description: $(field Description)"
depends=$(field Depends)
# From dpkg-shlibdeps: the packages of the libraries the programs link, with versions.
for lib in 'libc6 (>= ' 'libavcodec[0-9]* (>= ' 'libavformat[0-9]* (>= ' 'libswscale[0-9]* (>= ' \
    'libqt6core6 (>= '; do
    echo "$depends" | grep -q "\(^\|, \)$lib" || fail "Depends has no ${lib%% *}: $depends"
done
if [ -x "$BUILD/src/app/framix" ]; then
    for dep in 'libqt6widgets6 (>= ' 'qt6-qpa-plugins'; do
        echo "$depends" | grep -q "\(^\|, \)$dep" || fail "Depends has no ${dep%% *}: $depends"
    done
fi
echo "$(basename "$DEB"): Depends: $depends"

# The same files as a plain installation, under /usr, the links leading to the same places;
# the data files are the same bytes, the programs stripped copies.
dpkg-deb -x "$DEB" "$WORK/root" || fail "dpkg-deb -x"
cmake --install "$BUILD" --prefix "$WORK/stage" > "$WORK/install.log" 2>&1 \
    || { cat "$WORK/install.log"; fail "cmake --install"; }
ls "$WORK/root" > "$WORK/top"
[ "$(cat "$WORK/top")" = usr ] || fail "the package installs outside /usr: $(tr '\n' ' ' < "$WORK/top")"
tree() { (cd "$1" && find . \( -type f -o -type l \) -printf '%p %y %l\n' | sort); }
tree "$WORK/root/usr" > "$WORK/packaged"
tree "$WORK/stage" > "$WORK/installed"
diff "$WORK/installed" "$WORK/packaged" > "$WORK/diff" \
    || { cat "$WORK/diff"; fail "the package's files differ from cmake --install's (< install, > package)"; }
while read -r path type _; do
    [ "$type" = f ] || continue
    if readelf -h "$WORK/stage/$path" > /dev/null 2>&1; then
        readelf -S "$WORK/root/usr/$path" | grep -q '\.symtab\|\.debug_info' && fail "$path is not stripped"
    else
        cmp -s "$WORK/stage/$path" "$WORK/root/usr/$path" || fail "$path differs from the installed one"
    fi
done < "$WORK/packaged"
[ "$("$WORK/root/usr/bin/framix-grab" --version)" = "framix-grab $version" ] \
    || fail "the packaged framix-grab does not run"
echo "the package holds the $(wc -l < "$WORK/packaged") files of cmake --install under /usr"

if [ "$(id -u)" -ne 0 ] || ! command -v dpkg > /dev/null; then
    echo "skipped: the package was built and checked; installing it needs root and dpkg"
    exit 77
fi
# One test run at a time installs it (other build folders run the same test).
exec 9> /tmp/framix-deb-test.lock
flock -w 300 9 || fail "another run of this test holds /tmp/framix-deb-test.lock"
status=$(dpkg-query -W -f='${db:Status-Status}' framix 2> /dev/null)
if [ -n "$status" ] && [ "$status" != not-installed ]; then
    echo "skipped: a framix package is on this machine already ($status); not replacing it"
    exit 77
fi
for path in /usr/bin/framix /usr/bin/framix-grab /usr/lib/framix; do
    if [ -e "$path" ] || [ -L "$path" ]; then
        echo "skipped: $path is there already, from outside the package manager; not replacing it"
        exit 77
    fi
done

installed=1
dpkg -i "$DEB" > "$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log"; fail "dpkg -i"; }
[ "$(dpkg-query -W -f='${db:Status-Status}' framix)" = installed ] || fail "dpkg -i left framix $(dpkg-query -W -f='${db:Status-Status}' framix)"
[ "$(/usr/bin/framix-grab --version)" = "framix-grab $version" ] || fail "the installed framix-grab --version"
ffmpeg -v error -f lavfi -i testsrc=size=98x61:rate=25 -frames:v 5 -c:v ffv1 -pix_fmt yuv420p \
    "$WORK/clip.mkv" || fail "ffmpeg could not make the clip"
/usr/bin/framix-grab "$WORK/clip.mkv" --out "$WORK/frames" --from 2 --to 2 --quiet > /dev/null \
    || fail "the installed framix-grab did not save frame 2"
[ "$(head -c 2 "$WORK/frames/frame2.bmp")" = BM ] || fail "no bitmap frame2.bmp"
size=$(od -A n -t d4 -j 18 -N 8 "$WORK/frames/frame2.bmp" | tr -s ' ' | sed 's/^ //; s/ -\{0,1\}/x/')
[ "$size" = 98x61 ] || fail "frame2.bmp is $size, the clip 98x61"
echo "the installed framix-grab saved frame 2 of a 98x61 clip as a bitmap"
if [ -x "$BUILD/src/app/framix" ]; then
    shown=$(QT_QPA_PLATFORM=offscreen timeout 20 /usr/bin/framix --version 2>&1)
    code=$?
    [ $code -eq 0 ] && [ "$shown" = "framix $version" ] \
        || fail "/usr/bin/framix --version exited $code and printed '$shown', not 'framix $version'"
    echo "the installed framix says $shown"
fi
if command -v man > /dev/null; then
    for page in framix-grab framix; do
        [ "$page" = framix ] && [ ! -x "$BUILD/src/app/framix" ] && continue
        where=$(man -w "$page" 2> /dev/null)
        [ "$where" = "/usr/share/man/man1/$page.1.gz" ] || fail "man finds '$where' for $page"
    done
    echo "man finds the installed pages"
fi

dpkg -L framix > "$WORK/files" || fail "dpkg -L"
dpkg -r framix > "$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log"; fail "dpkg -r"; }
status=$(dpkg-query -W -f='${db:Status-Status}' framix 2> /dev/null)
[ -z "$status" ] || [ "$status" = not-installed ] || [ "$status" = config-files ] \
    || fail "dpkg -r left framix $status"
dpkg --purge framix > /dev/null 2>&1
installed=0
left=()
while read -r path; do
    [ -d "$path" ] && [ ! -L "$path" ] && continue # folders other packages share
    [ -e "$path" ] || [ -L "$path" ] && left+=("$path")
done < "$WORK/files"
[ -e /usr/lib/framix ] && left+=(/usr/lib/framix)
[ ${#left[@]} -eq 0 ] || fail "dpkg -r left ${left[*]}"
echo "dpkg -r removed the $(grep -c . "$WORK/files") paths of the package"
echo "1 passed, 0 failed"
