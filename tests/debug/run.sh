#!/usr/bin/env bash
# run.sh ADAPTER ROM_DIR: installs the test client on first use, then runs it.
set -euo pipefail
cd "$(dirname "$0")"
if [ ! -d node_modules ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
LUMACOR_DEBUG="$1" DEBUG_TEST_ROMS="$2" exec npx mocha --reporter dot adapter.test.js
