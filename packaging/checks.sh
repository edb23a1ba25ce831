# Shared by the package tests: each check prints one line and appends its
# result to the file named by RESULTS, which the caller counts at the end.

pass() {
  printf 'ok    %s\n' "$1"
  echo "pass $1" >>"$RESULTS"
}
fail() {
  printf 'FAIL  %s\n' "$1"
  echo "fail $1" >>"$RESULTS"
}
# check NAME COMMAND...: one check, passed when the command succeeds.
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}
# summary LABEL: the counts of the results; true when none failed and
# something was checked.
summary() {
  local passed failed
  passed=$(grep -c '^pass' "$RESULTS" || true)
  failed=$(grep -c '^fail' "$RESULTS" || true)
  echo
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
}
