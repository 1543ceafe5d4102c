#!/usr/bin/env bash
# The README's Quick start on a fresh machine: builds a minimal Debian 12
# (debootstrap's minbase, nothing else) from this machine's own apt mirror,
# copies the project's committed state into it, and runs the two commands in
# order, as root: `bash scripts/play.sh`, whose window must show on a private
# X server (it is then closed, as a user would), and `bash scripts/test.sh`.
# Then the README's Install: the Debian package made there (`cpack -G DEB`,
# checked by lintian) is installed with apt into a second new Debian 12, a
# copy of the first as debootstrap left it, where the installed programs
# assemble and run a program and a ROM opens in lumacor.
# Fails if any step fails. Run as root; needs debootstrap, Xvfb and xdotool.
#   bash scripts/fresh.sh [ROOT]     (default build-fresh/root, made anew;
#                                     the second system is ROOT-install)
# FRESH_KEEP_LISTS=1 keeps apt's package lists of the last run (only those);
# FRESH_PLAY_ONLY=1 stops after the first command, to time a first play.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/stage.sh
need debootstrap Xvfb xdotool git chroot mount
[ "$(id -u)" -eq 0 ] || { echo "fresh.sh: run as root (debootstrap and chroot need it)" >&2; exit 1; }
root=$(realpath -m "${1:-build-fresh/root}")
second=$root-install
lists=$(realpath -m build-fresh/lists)
play_limit=${FRESH_PLAY_LIMIT:-900} # s until the demo's window shows, downloads included

# The Debian mirror and its suites from this machine's apt sources, in both
# the one-line and the deb822 format: lines "URI SUITE".
sources() {
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" { uri = $2; if (uri ~ /^\[/) uri = $3; for (i = 1; i <= NF; i++) if ($i ~ /^bookworm/) print uri, $i }' || true
  cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk 'BEGIN { RS = ""; FS = "\n" }
         { uris = ""; suites = ""
           for (i = 1; i <= NF; i++) {
             if ($i ~ /^URIs:/) uris = substr($i, 6)
             if ($i ~ /^Suites:/) suites = substr($i, 8)
           }
           n = split(uris, u, " "); m = split(suites, s, " ")
           for (a = 1; a <= n; a++) for (b = 1; b <= m; b++) print u[a], s[b] }' || true
}
mapfile -t entries < <(sources | awk '$2 ~ /^bookworm(-updates|-security)?$/' | sort -u)
mirror=$(printf '%s\n' "${entries[@]}" | awk '$2 == "bookworm" { print $1; exit }')
[ -n "$mirror" ] || { echo "fresh.sh: no Debian 12 (bookworm) mirror in /etc/apt/sources.list*" >&2; exit 1; }

# Everything mounted inside the systems, innermost first.
unmount_all() {
  local m
  for m in $(grep -oE " ($root|$second)/[^ ]*" /proc/mounts | sort -r); do umount -l "$m" 2>/dev/null || true; done
}

# What a system needs mounted to run programs and apt.
mount_system() { # ROOT
  mount -t proc proc "$1/proc"
  mount -t sysfs sys "$1/sys"
  mount -t tmpfs shm "$1/dev/shm"
  cp /etc/resolv.conf "$1/etc/resolv.conf"
}
trap unmount_all EXIT

make_system() {
  unmount_all # what a last run left, before its files go
  if grep -qE " ($root|$second)/" /proc/mounts; then
    echo "fresh.sh: something is still mounted under $root or $second; not removing it"
    return 1
  fi
  rm -rf --one-file-system "$root" "$second"
  note "debootstrap --variant=minbase bookworm from $mirror (output in the log)"
  quietly debootstrap --variant=minbase bookworm "$root" "$mirror"
  printf '%s\n' "${entries[@]}" | awk '{ print "deb", $1, $2, "main" }' >"$root/etc/apt/sources.list"
  if [ "${FRESH_KEEP_LISTS:-}" = 1 ] && [ -d "$lists" ]; then
    cp -a "$lists/." "$root/var/lib/apt/lists/"
  fi
  # The second system, for the installed package: this one as it is now,
  # copied rather than bootstrapped again.
  cp -a --one-file-system "$root" "$second"
  # debootstrap made the device nodes; the rest is mounted for the run.
  mount_system "$root"
  mkdir -p /tmp/.X11-unix "$root/tmp/.X11-unix"
  mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
  # The committed project, as a clone would give it.
  git clone -q --no-hardlinks "$PWD" "$root/root/lumacor"
  git -C "$root/root/lumacor" checkout -q --detach "$(git rev-parse HEAD)"
  echo "a Debian 12 minbase system in ${root#"$PWD"/}: $(chroot "$root" dpkg-query -W | wc -l) packages"
}

in_system() {
  in_root "$root" "$@"
}

in_root() { # ROOT COMMAND...
  local at=$1
  shift
  chroot "$at" env -i HOME=/root TERM=dumb LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    "$@"
}

play() {
  xvfb_pid= play_pid= # seen by the stage's exit trap
  trap '[ -z "$play_pid" ] || kill "$play_pid"; [ -z "$xvfb_pid" ] || kill "$xvfb_pid"' EXIT
  mkdir -p /tmp/.X11-unix
  local display_file
  display_file=$(mktemp)
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  local started=$SECONDS
  until [ -s "$display_file" ]; do
    [ $((SECONDS - started)) -lt 30 ] || { echo "fresh.sh: Xvfb did not start within 30 s"; return 1; }
    sleep 0.1
  done
  local display=":$(cat "$display_file")"
  rm -f "$display_file"
  note "bash scripts/play.sh, its window on $display; waiting up to $play_limit s for the demo to show"
  started=$SECONDS
  in_system env DISPLAY="$display" SDL_AUDIODRIVER=dummy bash -c 'cd /root/lumacor && bash scripts/play.sh' &
  play_pid=$!
  local window=
  while [ -z "$window" ]; do
    kill -0 "$play_pid" 2>/dev/null || { wait "$play_pid" || true; play_pid=; echo "play.sh ended before its window showed"; return 1; }
    [ $((SECONDS - started)) -lt "$play_limit" ] || { echo "the demo's window did not show within $play_limit s"; return 1; }
    sleep 0.5
    window=$(DISPLAY=$display xdotool search --onlyvisible --name '^lumacor' 2>/dev/null | head -n 1 || true)
  done
  echo "the demo showed $((SECONDS - started)) s after play.sh started; closing its window"
  sleep 2 # a moment of play
  DISPLAY=$display xdotool windowclose "$window"
  local status=0
  wait "$play_pid" || status=$?
  play_pid=
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
  [ "$status" -eq 0 ] || { echo "play.sh exited with $status"; return 1; }
  echo "play.sh ended with status 0 when its window closed"
}

test_all() {
  note "bash scripts/test.sh (it installs the test packages first)"
  in_system bash -c 'cd /root/lumacor && LUMACOR_LOGS=/root/lumacor/logs bash scripts/test.sh'
}

# The README's Install, in the first system: the package from the build that
# the tests used, checked by lintian.
package() {
  note "cpack -G DEB in build/, then lintian"
  in_system bash -c 'cd /root/lumacor/build && rm -f lumacor_*.deb && cpack -G DEB >cpack.log 2>&1 || { tail -n 30 cpack.log; exit 1; }'
  in_system bash -c 'cd /root/lumacor/build && ls lumacor_*.deb && dpkg-deb -f lumacor_*.deb Depends'
  # Errors fail the stage; warnings are shown.
  in_system bash -c 'cd /root/lumacor/build && lintian --fail-on error --tag-display-limit 0 lumacor_*.deb'
}

# The package on the second system, as a user installs it, and then used.
install_package() {
  mount_system "$second"
  cp "$root"/root/lumacor/build/lumacor_*.deb "$second/tmp/"
  note "apt install ./lumacor_*.deb (and xdg-utils to ask which program opens a ROM)"
  quietly in_root "$second" bash -c 'apt-get update && cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ./lumacor_*.deb xdg-utils desktop-file-utils'
  in_root "$second" bash -c 'set -e
    lumacor --version
    mkdir -p /tmp/game && cd /tmp/game
    printf "%s\n" "        .include \"lumacor.inc\"" "        .start" "        LD    r0, 42" \
      "        OUT   TEST_PORT, r0" "        HALT" >game.asm
    lumacor-asm game.asm -o game.rom
    lumacor-run game.rom --no-save | grep -x "out\[0x80\] <- 0x2A"
    man -w lumacor-run 2>/dev/null || test -f /usr/share/man/man1/lumacor-run.1.gz
    opener=$(xdg-mime query default application/x-lumacor-rom)
    echo "a ROM opens in: $opener"
    test "$opener" = lumacor.desktop'
}

# Each stage needs the one before it.
stage fresh-system make_system
[ "$stage_status" -ne 0 ] || stage fresh-play play
[ "$stage_status" -ne 0 ] || [ "${FRESH_PLAY_ONLY:-}" = 1 ] || stage fresh-test test_all
[ "$stage_status" -ne 0 ] || [ "${FRESH_PLAY_ONLY:-}" = 1 ] || stage fresh-package package
[ "$stage_status" -ne 0 ] || [ "${FRESH_PLAY_ONLY:-}" = 1 ] || stage fresh-install install_package
if [ -d "$root/var/lib/apt/lists" ]; then
  rm -rf "$lists" && mkdir -p "$lists" && cp -a "$root/var/lib/apt/lists/." "$lists/"
fi
stage_summary
