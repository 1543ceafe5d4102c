#!/usr/bin/env bash
# Installs what playing needs, builds the emulator and the demo cartridge, and
# plays the demo in a window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh play
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${JOBS:-2}" --target lumacor rom_demo
exec build/src/lumacor build/roms/demo.rom
