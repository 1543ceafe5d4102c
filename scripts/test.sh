#!/usr/bin/env bash
# Installs what is missing, then checks the code's layout, builds and runs
# every test: the plain build,
# then the same suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the audio tests (the one place two threads share state: the window
# program's sound stream and its machine) under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=${JOBS:-2}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" ${targets:+--target $targets}
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" ${tests:+-R "$tests"}
}

echo "== layout: clang-format =="
bash scripts/format.sh --check
echo "== plain build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMACOR_SANITIZE=ON -DLUMACOR_BENCH=OFF
echo "== ThreadSanitizer: audio =="
TSAN_OPTIONS=halt_on_error=1 \
targets="lumacor_machine_tests lumacor_program_tests" \
tests='^(Synth\.|Lumacor\.PlaysTheVoice)' \
  run_suite build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMACOR_TSAN=ON -DLUMACOR_BENCH=OFF
echo "== benchmarks, briefly: each builds and runs; no time is checked =="
bash bench/run.sh build --benchmark_min_time=0.01
