#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's archive.
#   install-deps.sh linux     the Linux build and its tests
#   install-deps.sh windows   the mingw cross build and Wine as well
set -euo pipefail

want=${1:-linux}
sudo=""
if [ "$(id -u)" != 0 ]; then sudo=sudo; fi

packages=(cmake ninja-build g++ pkg-config libtag1-dev libboost-dev nlohmann-json3-dev zlib1g-dev
          libgtest-dev libbenchmark-dev util-linux time strace python3-mutagen
          dpkg-dev lintian man-db groff-base zsh ffmpeg flac vorbis-tools opus-tools)
if [ "$want" = windows ] || [ "$want" = all ]; then
  packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev dpkg-dev wine wine64 fonts-wine
             locales xvfb xdotool imagemagick)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
