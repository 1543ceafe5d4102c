#!/usr/bin/env bash
# Writes docs/tools.md, the reference of every program's options, from the
# programs' own --help: the same text as their manual pages.
#   bash scripts/tools-doc.sh [BUILD_DIR] [OUT]   (defaults: build, docs/tools.md)
# lumacor-export is the web build's; its help comes from web/export.js run
# with node. Without node its section is kept as OUT has it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/tools.md}
programs=(src/lumacor tools/asm/lumacor-asm tools/dis/lumacor-dis tools/run/lumacor-run
  tools/gfx/lumacor-gfx tools/sound/lumacor-sound tools/map/lumacor-map tools/debug/lumacor-debug)

section() { # NAME, then the help text on standard input
  printf '\n## %s\n\n```text\n' "$1"
  cat
  printf '```\n'
}

text=$(
  printf '# The programs and their options\n\n'
  printf 'Every program prints this with `--help`, its version and commit with `--version`, and\n'
  printf 'its manual page (`man lumacor-asm`) holds the same text. A wrong option or a missing\n'
  printf 'value ends a program with status 2 and a line that says what was wrong.\n'
  printf '(Written by scripts/tools-doc.sh from the programs themselves: change the programs, then run it.)\n'
  for program in "${programs[@]}"; do
    [ -x "$build/$program" ] || { echo "tools-doc.sh: $build/$program is not built" >&2; exit 1; }
    "$build/$program" --help | section "$(basename "$program")"
  done
  if command -v node >/dev/null; then
    node web/export.js --help | section lumacor-export
  elif [ -f "$out" ]; then
    awk '/^## lumacor-export$/ { keep = 1; print "" } keep' "$out"
  fi
)
printf '%s\n' "$text" >"$out.tmp"
mv "$out.tmp" "$out"
