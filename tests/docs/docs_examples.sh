#!/usr/bin/env bash
# Tries every example of README.md and docs/*.md with the built tools:
#   ```asm [NAME.asm] [fragment]  assembled without a warning (a fragment after a
#                                 `.start` line), to the bytes its comments show
#                                 ("; 10 00 12"); a whole program also run for
#                                 60 frames, ending by itself or at the limit;
#   ```snd NAME.snd               converted with lumacor-sound to NAME.inc beside it,
#                                 for the examples after it to include;
#   ```console                    "$ COMMAND" lines run in order, from a folder
#                                 holding that page's named examples and `build`;
#                                 the lines under a command must appear, in
#                                 order, in what it prints (both streams).
# usage: docs_examples.sh SOURCE_DIR BUILD_DIR
set -u
src=$1 build=$2
asm=$build/tools/asm/lumacor-asm run=$build/tools/run/lumacor-run sound=$build/tools/sound/lumacor-sound
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 examples=0
fail() { echo "FAIL $1"; failures=$((failures + 1)); }

# The lines of file $1, in order, among those of file $2.
holds_in_order() {
  awk 'FILENAME == ARGV[1] { want[n++] = $0; next } i + 0 < n && $0 == want[i + 0] { i++ } END { exit i < n }' "$1" "$2"
}

try_asm() { # doc:line, file, "fragment" or ""
  local rom=${2%.asm}.rom shift=0
  if [[ $3 == fragment ]]; then printf '.start\n' | cat - "$2" > "$2.tmp" && mv "$2.tmp" "$2" && shift=1; fi
  if ! "$asm" "$2" -o "$rom" -l "$2.lst" > "$2.log" 2>&1 || [[ -s $2.log ]]; then
    fail "$1: does not assemble cleanly:"; cat "$2.log"; return
  fi
  # The listing: bytes in columns 15-41, the source line in 43-47.
  awk -v at="${1##*:}" -v shift=$shift '
    NR == FNR { b = substr($0, 15, 27); sub(/ +$/, "", b); if (b != "") bytes[substr($0, 43, 5) + 0] = b; next }
    match($0, /; [0-9A-F][0-9A-F]( [0-9A-F][0-9A-F])*( |$)/) {
      want = substr($0, RSTART + 2, RLENGTH - 2); sub(/ $/, "", want)
      if (bytes[FNR] != want) { print "line " at + FNR - shift ": shown " want ", assembled " bytes[FNR]; bad = 1 }
    }
    END { exit bad }' "$2.lst" "$2" || fail "$1: bytes differ"
  [[ $3 == fragment ]] && return
  "$run" "$rom" --frames 60 --no-save --quiet < /dev/null > "$2.log" 2>&1
  local status=$?
  ((status == 0 || status == 3)) || { fail "$1: lumacor-run ended with status $status:"; cat "$2.log"; }
}

try_snd() { # doc:line, file
  "$sound" "$2" -o "${2%.snd}.inc" > "$2.log" 2>&1 || { fail "$1: does not convert:"; cat "$2.log"; }
}

try_console() { # doc:line, file
  local k=0 line dir=${2%/*}
  : > "$2.sh"
  while IFS= read -r line; do
    if [[ $line == '$ '* ]]; then
      k=$((k + 1))
      printf '{ %s\n} > %s.out%d 2>&1\n' "${line#\$ }" "$2" $k >> "$2.sh"
      : > "$2.want$k"
    elif ((k > 0)); then
      printf '%s\n' "$line" >> "$2.want$k"
    fi
  done < "$2"
  (cd "$dir" && bash "$2.sh" < /dev/null)
  for ((i = 1; i <= k; i++)); do
    holds_in_order "$2.want$i" "$2.out$i" && continue
    fail "$1: command $i printed:"; cat "$2.out$i"
  done
}

for doc in "$src"/README.md "$src"/docs/*.md; do
  name=${doc#"$src"/} dir=$work/${name//\//_}
  mkdir -p "$dir" && ln -s "$build" "$dir/build"
  # One line per block: its kind, its first line, its file, its marker.
  while read -r kind at file marker; do
    examples=$((examples + 1))
    "try_$kind" "$name:$at" "$dir/$file" "$marker"
  done < <(awk -v dir="$dir" '
    out == "" && /^```(asm|console|snd)( |$)/ {
      kind = substr($1, 4); file = kind "-" NR (kind == "console" ? ".txt" : "." kind); marker = ""
      for (i = 2; i <= NF; i++) if ($i ~ /\.(asm|snd)$/) file = $i; else marker = $i
      out = dir "/" file; printf "" > out; print kind, NR, file, marker; next
    }
    out != "" && /^```/ { close(out); out = ""; next }
    out != "" { print > out }' "$doc")
done
echo "$examples examples tried, $failures failed"
((examples > 0 && failures == 0))
