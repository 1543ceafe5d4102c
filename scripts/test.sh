#!/usr/bin/env bash
# Installs what is missing, then checks the code's layout, builds and runs
# every test: the plain build, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the audio tests (the one place two threads share
# state: the window program's sound stream and its machine) under
# ThreadSanitizer, and each benchmark briefly. Every stage runs whatever the
# others gave; the end is a table of the stages, and the script fails if one
# failed. Each stage's output is kept in logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/stage.sh
jobs=${JOBS:-2}

# Configures and builds DIR quietly (the output goes to the stage's log), then
# runs its tests; a build with no tests fails.
run_suite() {
  local dir=$1
  shift
  need cmake ctest
  note "configuring $dir"
  quietly cmake -S . -B "$dir" -DLUMACOR_TESTS=ON "$@"
  note "building $dir${targets:+ ($targets)}"
  quietly cmake --build "$dir" -j"$jobs" ${targets:+--target $targets}
  note "running the tests${tests:+ matching $tests}; ${slow:-the window tests take about a minute}"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" ${tests:+-R "$tests"}
}

stage packages bash scripts/deps.sh
stage layout bash scripts/format.sh --check
stage plain run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMACOR_BENCH=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  slow="the demo's test and the window tests take a few minutes under the sanitizers" \
  stage asan+ubsan run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMACOR_SANITIZE=ON -DLUMACOR_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1 \
  targets="lumacor_machine_tests lumacor_program_tests" \
  tests='^(Synth\.|Lumacor\.PlaysTheVoice)' slow="about half a minute" \
  stage tsan-audio run_suite build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMACOR_TSAN=ON -DLUMACOR_BENCH=OFF
stage benchmarks bash bench/run.sh build --benchmark_min_time=0.01
stage_summary
