#!/usr/bin/env bash
# Installs what is missing, builds, and plays the demo cartridge in a window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${JOBS:-2}"
exec build/src/lumacor build/roms/demo.rom
