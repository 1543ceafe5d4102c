#!/usr/bin/env bash
# install_test.sh BUILD_DIR DESKTOP_FILE_VALIDATE
set -euo pipefail
build=$1
validate=$2
[ -n "$validate" ] || { echo "desktop-file-validate is needed (scripts/deps.sh installs it)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
fail() { echo "install: $*"; exit 1; }

programs=(lumacor lumacor-asm lumacor-dis lumacor-run lumacor-gfx)
[ ! -e "$build/tools/debug/lumacor-debug" ] || programs+=(lumacor-debug)
for program in "${programs[@]}"; do
  [ -x "$prefix/bin/$program" ] && [ -s "$prefix/share/man/man1/$program.1.gz" ] || fail "$program or its page missing"
done

# The installed assembler finds the shipped include from its own place,
# with the build tree out of reach.
mkdir "$work/game"
cat >"$work/game/game.asm" <<'ASM'
        .include "lumacor.inc"
        .start
        LDW   p8, RAM_FIRST
        ST    [p8], 7
        LD    r0, [p8]
        OUT   TEST_PORT, r0
        HALT
ASM
(cd "$work/game" && "$prefix/bin/lumacor-asm" game.asm -o game.rom) || fail "the installed assembler failed"
out=$("$prefix/bin/lumacor-run" "$work/game/game.rom" --no-save) || fail "the installed runner failed"
grep -q 'out\[0x80\] <- 0x7' <<<"$out" || fail "the program did not run: $out"

"$validate" "$prefix/share/applications/lumacor.desktop" || fail "the desktop entry is not valid"
grep -q '^MimeType=application/x-lumacor-rom;$' "$prefix/share/applications/lumacor.desktop" ||
  fail "the desktop entry does not open ROMs"
tr -d '\n ' <"$prefix/share/mime/packages/lumacor.xml" | grep -q 'type="application/x-lumacor-rom">.*<globpattern="\*.rom"/>' ||
  fail "no ROM file type for *.rom"
[ -s "$prefix/share/icons/hicolor/scalable/apps/lumacor.svg" ] && [ -f "$prefix/share/lumacor/editors/emacs/dap-lumacor.el" ] ||
  fail "no icon, or no editor set-ups"
echo "installed and used from $prefix"
