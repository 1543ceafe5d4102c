#!/usr/bin/env bash
# Runs the window program on the demo cartridge under valgrind's memcheck,
# in a private X server, lets it play a few seconds and closes its window as
# a user would. Fails on any memory error or definite leak, except what SDL's
# drivers keep for the life of the process (tests/valgrind/lumacor.supp).
# Usage: scripts/valgrind.sh [BUILD_DIR] (default: build, a build without
# sanitizers).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/stage.sh
need cmake Xvfb valgrind
dir=${1:-build}
jobs=${JOBS:-2}
source scripts/lib/stage.sh
need cmake Xvfb valgrind
cmake -S . -B "$dir" >/dev/null
cmake --build "$dir" -j"$jobs" --target lumacor rom_demo close-window

work=$(mktemp -d)
xvfb_pid=
lumacor_pid=
cleanup() {
  [ -n "$lumacor_pid" ] && kill "$lumacor_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number and writes it to fd 5.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# The save file is written beside the ROM, so the ROM goes to the work dir.
cp "$dir/roms/demo.rom" "$work/demo.rom"
SDL_AUDIODRIVER=dummy valgrind --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite --error-exitcode=99 --num-callers=40 --keep-debuginfo=yes \
  --suppressions=tests/valgrind/lumacor.supp \
  "$dir/src/lumacor" "$work/demo.rom" >"$work/out" 2>"$work/valgrind" &
lumacor_pid=$!

echo "   .. waiting up to 120 s for lumacor's window under valgrind"
"$dir/tests/programs/close-window" lumacor 120 >/dev/null 2>&1 || true # waits for the window
sleep 3 # a few seconds of play: slow under valgrind, but every part runs
if ! "$dir/tests/programs/close-window" lumacor 10; then
  cat "$work/out"
  echo "valgrind: lumacor's window did not show within 130 s"
  exit 1
fi
status=0
wait "$lumacor_pid" || status=$?
lumacor_pid=

grep -E "definitely lost|ERROR SUMMARY" "$work/valgrind" || true
if [ "$status" -ne 0 ]; then
  cat "$work/valgrind"
  echo "valgrind: lumacor exited with $status (99: memcheck found errors)"
  exit 1
fi
if ! grep -q "^Writing save to " "$work/out"; then
  cat "$work/out"
  echo "valgrind: the run did not end through closing the window"
  exit 1
fi
echo "valgrind: no errors and no definite leaks"
