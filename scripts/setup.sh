#!/usr/bin/env bash
# Installs every Debian package the engine, its tests and its tools need.
# Idempotent and quick when everything is present. Run as root (or through sudo).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git python3
  libsdl2-dev libx11-dev libxext-dev libxss-dev libfreetype-dev libfontconfig-dev zlib1g-dev libpng-dev libjpeg62-turbo-dev
  libwebp-dev libsnappy-dev libogg-dev libvorbis-dev libtheora-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libgtest-dev libbenchmark-dev libpixman-1-dev
  fonts-ipafont-gothic fonts-ipafont-mincho
  xvfb xauth xdg-user-dirs openbox xdotool wmctrl x11-apps x11-utils trayer
  zenity xdg-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
echo "setup: updating the package lists" >&2
$SUDO apt-get update -qq
echo "setup: installing ${#missing[@]} packages (on a fresh system this takes a few minutes)" >&2
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done" >&2
