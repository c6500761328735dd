#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing and packaging need
# (desktop-file-utils and appstream validate the installed desktop files; dpkg-dev
# gives the package its library dependencies, lintian checks it, help2man makes the man pages; a
# PulseAudio null sink gives the tests a sound output),
# but only those that are missing, so a second run costs nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libavformat-dev libavcodec-dev libavfilter-dev libavutil-dev libswresample-dev
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev
  libsimpleini-dev libcli11-dev nlohmann-json3-dev libebur128-dev libaubio-dev
  libgtest-dev libgmock-dev
  ffmpeg fonts-noto-cjk
  desktop-file-utils appstream
  pulseaudio pulseaudio-utils
  dpkg-dev lintian help2man
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
