#!/usr/bin/env bash
# Installs the Debian packages that are missing: `deps.sh play` only what
# building and playing need, `deps.sh` (or `deps.sh test`) also what the tests,
# benchmarks, fuzzers, leak checks and the scripts themselves call; names
# after that are further packages a script needs (`deps.sh test chromium`).
# Run as root, or with sudo available. apt's output goes to logs/apt.log.
set -euo pipefail
cd "$(dirname "$0")/.."
# Playing: a compiler, CMake, SDL2, libpng (with pkg-config to find it)
# for screenshots and the demo's art, CLI11 for every program's options, and
# pugixml, zlib and nlohmann-json for the demo's levels, drawn in Tiled.
packages=(cmake g++ make libsdl2-dev libpng-dev pkg-config libcli11-dev libpugixml-dev zlib1g-dev nlohmann-json3-dev)
if [ "${1:-test}" != play ]; then
  packages+=(
    git libgtest-dev libgmock-dev libbenchmark-dev tiled
    xvfb xauth x11-utils xdotool imagemagick libgl1-mesa-dri openbox
    clang clang-format libclang-rt-14-dev valgrind libx11-dev debootstrap
    libsmf-dev musescore3
    sox python3 help2man desktop-file-utils dpkg-dev fakeroot lintian xdg-utils
  )
fi
packages+=("${@:2}")
for tool in dpkg-query apt-get; do
  command -v "$tool" >/dev/null || { echo "deps.sh: '$tool' is needed and missing (a Debian system has it)" >&2; exit 1; }
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps.sh: run as root, or install sudo: '${missing[*]}' are missing" >&2; exit 1; }
  sudo=(sudo)
fi
mkdir -p logs
log=logs/apt.log
echo "   .. installing ${#missing[@]} packages with apt (${missing[*]}); its output is in $log"
started=$SECONDS
# unsafe-io: dpkg unpacks without syncing each file, the slowest part of a
# first install; a crash midway is mended by running this again.
if ! { "${sudo[@]}" apt-get update && DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y \
    --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "${missing[@]}"; } >>"$log" 2>&1; then
  tail -n 20 "$log"
  echo "deps.sh: apt could not install the packages; its output is in $log" >&2
  exit 1
fi
echo "   .. installed in $((SECONDS - started)) s"
