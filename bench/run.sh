#!/usr/bin/env bash
# Builds the project in the reference configuration (RelWithDebInfo: -O2 -g)
# and runs every Google Benchmark program under bench/. Arguments after the
# build directory go to each program, for example
#   bench/run.sh build --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#   bench/run.sh build --benchmark_min_time=0.01      (a quick check that they run)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/stage.sh
need cmake readelf
dir=${1:-build}
shift $(($# > 0 ? 1 : 0))
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"${JOBS:-2}"

# A benchmark program is an executable in a bench/ subdirectory that links
# Google Benchmark; the window baseline and helpers beside them do not.
found=0
while IFS= read -r program; do
  readelf -d "$program" 2>/dev/null | grep -q 'libbenchmark' || continue
  echo "== ${program#"$dir"/} =="
  "$program" "$@"
  found=$((found + 1))
done < <(find "$dir/bench" -mindepth 2 -maxdepth 2 -type f -perm -u+x | sort)
if [ "$found" -eq 0 ]; then
  echo "no benchmark programs under $dir/bench" >&2
  exit 1
fi
