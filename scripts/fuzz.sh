#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time from a copy of
# its seed corpus. Fails on the first crash, leak, sanitizer report or
# time-out; the input that caused it is kept in the build directory.
# FUZZ_SECONDS sets the time per target (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/stage.sh
need cmake clang clang++
jobs=${JOBS:-2}
seconds=${FUZZ_SECONDS:-30}
dir=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMACOR_SANITIZE=ON -DLUMACOR_FUZZ=ON -DLUMACOR_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$jobs" --target fuzz_machine fuzz_asm fuzz_dis fuzz_snapshot fuzz_png fuzz_map fuzz_dap fuzz_sound_text fuzz_midi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$dir/fuzz/crashes"
status=0
for target in machine asm dis snapshot png map dap sound_text midi; do
  cp -r "fuzz/corpus/$target" "$work/$target"
  echo "== fuzz_$target: ${seconds} s =="
  if ! UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$dir/fuzz/fuzz_$target" "$work/$target" -max_total_time="$seconds" -max_len=70000 \
      -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/fuzz/crashes/$target-" >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log"
    echo "fuzz_$target FAILED; the input is in $dir/fuzz/crashes/"
    status=1
  else
    grep -E "^(Done|stat::number_of_executed_units|stat::new_units_added)" "$work/$target.log" || true
  fi
done
exit $status
