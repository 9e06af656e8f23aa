#!/usr/bin/env bash
# Installs the Debian packages Framix needs to build, test and benchmark, when any is
# missing. Runs as root or through sudo. Safe to run again: it only installs what is absent.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
    qt6-base-dev qt6-multimedia-dev libgl-dev
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
    ffmpeg imagemagick xvfb xauth x11-utils xdotool xclip openbox pulseaudio time bc util-linux
    desktop-file-utils appstream groff-base man-db
    fonts-dejavu-core
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
