#!/usr/bin/env bash
# Installs the Debian packages that building, playing and testing need, if
# any is missing. Run as root, or with sudo available.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  libsdl2-dev libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
  xvfb xauth x11-utils xdotool imagemagick libgl1-mesa-dri
  clang libclang-rt-14-dev valgrind libx11-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
