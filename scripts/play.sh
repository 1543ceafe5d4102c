#!/usr/bin/env bash
# Installs what playing needs, builds the emulator and the demo cartridge (and
# nothing else), and plays the demo in a window. Close the window to quit.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
bash scripts/deps.sh play
source scripts/lib/stage.sh
need cmake c++ make
mkdir -p logs
STAGE_LOG=logs/play.log
: >"$STAGE_LOG"
step=$SECONDS
note "configuring build/ (output in $STAGE_LOG)"
quietly cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
note "configured in $((SECONDS - step)) s; building lumacor and the demo cartridge"
step=$SECONDS
quietly cmake --build build -j"${JOBS:-2}" --target lumacor rom_demo
note "built in $((SECONDS - step)) s"
echo "   .. ready in $((SECONDS - started)) s: playing build/roms/demo.rom (close the window to quit)"
exec build/src/lumacor build/roms/demo.rom
