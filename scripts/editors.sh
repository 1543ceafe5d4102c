#!/usr/bin/env bash
# The editor set-ups of editors/, in the editors themselves. Builds the
# assembler and the debug adapter into build/, installs the packager and
# code-server from npm into build-editors/ (big, never committed) and packages
# the VS Code extension into build-editors/lumacor.vsix, which must pack
# without a warning. With --test it also runs the dap-mode set-up in
# `emacs --batch`, the nvim-dap set-up in headless Neovim (against a
# stand-in for nvim-dap, which Debian does not package), and drives the
# packaged extension in code-server under headless Chromium. Only where code-server cannot be installed is the
# VS Code part skipped, and then with a loud line.
#   bash scripts/editors.sh [--test]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-editors
jobs=${JOBS:-2}
then=${1:-}
started=$SECONDS

# Debian's emacs and dap-mode for the Emacs test; neovim for the Neovim one;
# chromium for code-server's
# page; Kerberos and libsecret headers for the native modules code-server
# builds; ripgrep, which stands in for the one code-server would download.
bash scripts/deps.sh test emacs-nox elpa-dap-mode neovim chromium libkrb5-dev libsecret-1-dev ripgrep

[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target lumacor-debug lumacor-asm rom_demo
asm=$root/build/tools/asm/lumacor-asm
adapter=$root/build/tools/debug/lumacor-debug
# The demo as a user has it: its sources beside the includes its pictures
# and sounds and its map were converted into.
demo=$out/demo-sources
rm -rf "$demo"
mkdir -p "$demo/art"
cp roms/demo/*.asm "$demo/"
cp build/roms/demo/art/*.inc "$demo/art/"
cp build/roms/demo/*.inc "$demo/"

if [ "$then" = --test ]; then
  echo "== Emacs: dap-mode =="
  home=$(mktemp -d)
  HOME=$home PATH="$(dirname "$asm"):$(dirname "$adapter"):$PATH" \
    emacs --batch -l "$root/tests/editors/dap-lumacor-test.el" "$demo"
  rm -rf "$home"
  echo "== Neovim: nvim-dap set-up =="
  LUMACOR_ASM=$asm LUMACOR_DEBUG=$adapter LUMACOR_DEMO=$demo \
    nvim --headless -u NONE -i NONE -c "luafile $root/tests/editors/nvim-dap-test.lua"
fi

# code-server's copy of VS Code fetches a ripgrep build from the network
# while it installs, unless the archive is already in its cache (in TMPDIR):
# Debian's rg is put there under the name it looks for.
export TMPDIR=$out/tmp
rg_cache=$TMPDIR/vscode-ripgrep-cache-1.15.11
rg_archive=$rg_cache/ripgrep-v13.0.0-10-$(uname -m)-unknown-linux-musl.tar.gz
mkdir -p "$rg_cache"
[ -f "$rg_archive" ] || tar czf "$rg_archive" -C "$(dirname "$(command -v rg)")" rg

echo "== VS Code: the extension's package and code-server =="
if [ ! -x "$out/node_modules/.bin/code-server" ] || [ tests/editors/package-lock.json -nt "$out/node_modules" ]; then
  cp tests/editors/package.json tests/editors/package-lock.json "$out/"
  # code-server builds native modules against the installed node's headers,
  # asks no questions, and as root runs its own install scripts only when
  # told it may; puppeteer-core drives Debian's chromium.
  if ! (cd "$out" && npm_config_yes=true npm_config_unsafe_perm=true PUPPETEER_SKIP_DOWNLOAD=1 \
        npm ci --nodedir=/usr --no-audit --no-fund --loglevel=error); then
    echo "!!!!!!!! editors.sh: code-server could not be installed from npm: the VS Code extension was NOT tested !!!!!!!!"
    exit 0
  fi
  touch "$out/node_modules"
fi

(cd editors/vscode && "$out/node_modules/.bin/vsce" package --out "$out/lumacor.vsix" </dev/null) 2>&1 | tee "$out/vsce.log"
if grep -q "WARNING" "$out/vsce.log"; then
  echo "editors.sh: the extension packs with warnings" >&2
  exit 1
fi

if [ "$then" = --test ]; then
  NODE_PATH=$out/node_modules node tests/editors/vscode.test.js "$out/node_modules/.bin/code-server" \
    "$out/lumacor.vsix" "$demo" "$root/editors/vscode/examples" "$adapter" "$asm" "$out/vscode-test"
fi
echo "editors.sh: done in $((SECONDS - started)) s"
