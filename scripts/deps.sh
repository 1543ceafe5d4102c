#!/usr/bin/env bash
# Installs the Debian packages that are missing: `deps.sh play` only what
# building and playing need, `deps.sh` (or `deps.sh test`) also what the tests,
# benchmarks, fuzzers and leak checks need. Run as root, or with sudo available.
set -euo pipefail
# libpng writes the screenshots and reads the pictures the ROMs are drawn in.
packages=(cmake g++ make libsdl2-dev libpng-dev pkg-config)
if [ "${1:-test}" != play ]; then
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth x11-utils xdotool imagemagick libgl1-mesa-dri openbox
    clang clang-format libclang-rt-14-dev valgrind libx11-dev nlohmann-json3-dev
  )
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
