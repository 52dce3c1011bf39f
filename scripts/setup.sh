#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what Tessaly needs to build and test on Debian 12, when it is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libcdio-dev libcdio-paranoia-dev libmp3lame-dev libsoxr-dev
  qt6-base-dev fonts-liberation
  libgtest-dev clang libclang-rt-14-dev
  mpg123 cd-paranoia lame id3v2
  libpulse-dev pulseaudio pulseaudio-utils
  xvfb xdotool xauth desktop-file-utils appstream
  openbox x11-utils qt6-qpa-plugins
  libdiscid-dev libcurl4-openssl-dev nlohmann-json3-dev libtag1-dev libflac++-dev zlib1g-dev libssl-dev
  flac python3-mutagen python3
  libsndfile1
  xdg-utils qt6-wayland man-db groff-base bsdextrautils librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
