#!/usr/bin/env bash
# Formats the project's C++ with clang-format and .clang-format; with --check
# it changes nothing and fails, listing the files, when one is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/stage.sh
need git clang-format
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^build')
if [ ${#files[@]} -eq 0 ]; then
  echo "format.sh: git lists no C++ files: is this the project's git checkout?" >&2
  exit 1
fi
if [ "${1:-}" = --check ]; then
  bad=()
  for f in "${files[@]}"; do
    clang-format --style=file "$f" | cmp -s - "$f" || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    printf 'not formatted (run scripts/format.sh): %s\n' "${bad[@]}"
    exit 1
  fi
  echo "${#files[@]} files formatted"
  exit 0
fi
clang-format --style=file -i "${files[@]}"
