#!/usr/bin/env bash
# Builds the web player into build-web/: installs what is missing (Debian's
# emscripten, chromium and firefox-esr, the browser tests' node packages),
# builds the desktop tools and ROMs into build/ that the web build uses, then
# the web build itself. With --test it also runs the browser tests; with --measure it
# prints the figures docs/web.md reports (sizes, first frame, runFrames(600)).
#   bash scripts/web.sh [--test | --measure]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
then=${1:-}

# Debian's emscripten asks for a nodejs package. A node that came from
# another package named nodejs satisfies it, and one installed outside the
# package manager stays first on PATH, so an existing node keeps working.
bash scripts/deps.sh test emscripten chromium firefox-esr
source scripts/lib/stage.sh
need cmake node npm

# emscripten's tools are node programs that need Debian's node modules, and
# its cache must be writable: the package's prebuilt system libraries are
# linked into a cache folder of the build tree.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
export EM_CACHE=$PWD/build-web/em-cache
mkdir -p "$EM_CACHE"
[ -e "$EM_CACHE/sysroot" ] || ln -s /usr/share/emscripten/cache/sysroot "$EM_CACHE/sysroot"
cp -p /usr/share/emscripten/cache/sysroot_install.stamp "$EM_CACHE/"

# The browser tests' packages; puppeteer-core drives the system's chromium
# and downloads no browser of its own.
if [ ! -d tests/web/node_modules ] || [ tests/web/package-lock.json -nt tests/web/node_modules ]; then
  PUPPETEER_SKIP_DOWNLOAD=1 npm ci --prefix tests/web --no-audit --no-fund
fi
# The studio's packages (CodeMirror, the zip library, the bundler).
if [ ! -d web/studio/node_modules ] || [ web/studio/package-lock.json -nt web/studio/node_modules ]; then
  npm ci --prefix web/studio --no-audit --no-fund
fi

# The desktop tools and ROMs the web build needs.
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target lumacor-asm lumacor-run lumacor-sound rom_demo test_roms

emcmake cmake -S web -B build-web -DLUMACOR_DESKTOP_BUILD="$PWD/build" >/dev/null
cmake --build build-web -j"$jobs"
ls -l build-web/lumacor.wasm build-web/lumacor.html build-web/demo.html build-web/studio.html

case "$then" in
  --test) ctest --test-dir build-web --output-on-failure ;;
  --measure)
    LUMACOR_WEB_BUILD=$PWD/build-web LUMACOR_DESKTOP_BUILD=$PWD/build LUMACOR_TEST_ROMS=$PWD/build-web/tests \
      node web/measure.mjs
    LUMACOR_WEB_BUILD=$PWD/build-web node web/studio/measure.mjs ;;
esac
