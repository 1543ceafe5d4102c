# Stages of a long script, sourced by the scripts that have them:
#
#   stage NAME command [args...]   runs one stage and goes on whatever it gives
#                                  (its exit status is left in $stage_status)
#   note TEXT                      says what a long, quiet step is waiting for
#   quietly command [args...]      runs a step with its output in the stage's log
#   stage_summary                  prints the table of stages; fails if one failed
#
# Each stage prints a line when it starts and one when it ends, with its tests
# passed and failed (counted from ctest's summaries) and its seconds. The whole
# output of a stage is kept in logs/NAME.log (LUMACOR_LOGS moves the folder);
# what `quietly` runs goes there alone, and is shown when it fails.

LUMACOR_LOGS=${LUMACOR_LOGS:-$PWD/logs}
mkdir -p "$LUMACOR_LOGS"
stage_rows=()
stage_failed=0
stage_status=0
STAGE_LOG=/dev/null

note() {
  printf '   .. %s\n' "$*"
}

quietly() {
  if ! "$@" >>"$STAGE_LOG" 2>&1; then
    echo "   failed: $*; the end of ${STAGE_LOG#"$PWD"/}:"
    tail -n 40 "$STAGE_LOG" | sed 's/^/   | /'
    return 1
  fi
}

# Sums ctest's "N% tests passed, F tests failed out of T" lines of a log.
stage_count_tests() {
  awk '/tests passed, [0-9]+ tests? failed out of [0-9]+/ {
         for (i = 1; i <= NF; i++) {
           if ($i == "failed") failed += $(i - 2)
           if ($i == "of") total += $(i + 1)
         }
         found = 1
       }
       END { if (found) print total - failed, failed; else print "-", "-" }' "$1"
}

stage() {
  local name=$1
  shift
  STAGE_LOG=$LUMACOR_LOGS/$name.log
  : >"$STAGE_LOG"
  local started=$SECONDS
  echo "== $name: started at $(date -u +%H:%M:%S) UTC (log: ${STAGE_LOG#"$PWD"/})"
  local status
  set +e
  # set -e holds inside the stage: its first failing step ends it.
  (
    set -e
    "$@"
  ) 2>&1 | tee -a "$STAGE_LOG"
  status=${PIPESTATUS[0]}
  stage_status=$status
  set -e
  local seconds=$((SECONDS - started)) passed failed result=ok
  read -r passed failed < <(stage_count_tests "$STAGE_LOG")
  if [ "$status" -ne 0 ]; then
    result="FAILED ($status)"
    stage_failed=1
  fi
  echo "== $name: $result, tests passed $passed, failed $failed, $seconds s"
  stage_rows+=("$(printf '%-24s %-12s %7s %7s %7s' "$name" "$result" "$passed" "$failed" "$seconds")")
  STAGE_LOG=/dev/null
  return 0
}

stage_summary() {
  echo
  printf '%-24s %-12s %7s %7s %7s\n' stage result passed failed seconds
  printf '%s\n' "${stage_rows[@]}"
  echo "logs: ${LUMACOR_LOGS#"$PWD"/}/"
  return "$stage_failed"
}

# Fails, naming it, when a tool a script calls is not installed.
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || {
      echo "${0##*/}: '$tool' is needed and missing (bash scripts/deps.sh installs the Debian packages the scripts call)" >&2
      return 1
    }
  done
}
