# shellcheck shell=bash
# Step runner of the demo (sourced by demo.sh).
#
#   step TITLE EXPECTED READER COMMAND [ARGS...]
#
# runs COMMAND in the output directory, shows its output, and compares what
# READER makes of it (a function below, given the captured output) with
# EXPECTED. The table of all steps is printed by print_summary. A COMMAND that
# is a shell function of the demo shows the commands it runs itself (show).
# must_step is the same for the steps that everything after them needs: it
# ends the demo when the result is not the expected one.

STEP_TITLES=()
STEP_EXPECTED=()
STEP_GOT=()
STEP_OK=()
STEP_STATUS=0
STEP_LOG=

# The command line as it could be typed again: arguments with characters
# the shell would take apart are single-quoted.
command_line() {
  local arg line=
  for arg in "$@"; do
    if [[ $arg =~ ^[A-Za-z0-9_./=:,@%+-]+$ ]]; then
      line+=" $arg"
    else
      line+=" '${arg//\'/\'\\\'\'}'"
    fi
  done
  printf '$%s\n' "$line"
}

# show COMMAND [ARGS...]: prints the command line, then runs it.
show() {
  command_line "$@"
  "$@"
}

# explain TEXT: what the next step shows, printed above it.
explain() {
  printf '\n%s\n' "$*" | fold -s -w 78 | sed 's/ *$//'
}

step() {
  local title=$1 expected=$2 reader=$3
  shift 3
  local n=$((${#STEP_TITLES[@]} + 1))
  STEP_LOG=$OUT/steps/$(printf '%02d' "$n").txt
  printf '\n[%d] %s\n' "$n" "$title"
  if [ "$(type -t "$1")" = function ]; then
    "$@" >"$STEP_LOG" 2>&1
  else
    show "$@" >"$STEP_LOG" 2>&1
  fi
  STEP_STATUS=$?
  sed 's/^/    /' "$STEP_LOG"
  local got ok=yes
  got=$("$reader")
  [ "$got" = "$expected" ] || ok=NO
  printf '    => %s (expected %s): %s\n' "$got" "$expected" "$ok"
  STEP_TITLES+=("$title")
  STEP_EXPECTED+=("$expected")
  STEP_GOT+=("$got")
  STEP_OK+=("$ok")
  [ "$ok" = yes ]
}

must_step() {
  step "$@" && return 0
  printf '\nThe demo cannot go on without this step.\n'
  exit 1
}

all_ok() {
  local ok
  for ok in "${STEP_OK[@]}"; do [ "$ok" = yes ] || return 1; done
  return 0
}

# widest TEXT...: the length of the longest TEXT (at least 4).
widest() {
  local width=4 text
  for text in "$@"; do ((${#text} > width)) && width=${#text}; done
  echo "$width"
}

print_summary() {
  local i w1 w2 w3
  w1=$(widest "${STEP_TITLES[@]}")
  w2=$(widest "${STEP_EXPECTED[@]}")
  w3=$(widest "${STEP_GOT[@]}")
  printf '\n%-3s %-*s  %-*s  %-*s  %s\n' '#' "$w1" step "$w2" expected "$w3" got ok
  for i in "${!STEP_TITLES[@]}"; do
    printf '%-3s %-*s  %-*s  %-*s  %s\n' "$((i + 1))" "$w1" "${STEP_TITLES[$i]}" \
      "$w2" "${STEP_EXPECTED[$i]}" "$w3" "${STEP_GOT[$i]}" "${STEP_OK[$i]}"
  done
}

# Readers: what a step's command gave, as the text the table compares.

# The exit status of the command.
exit_status() { echo "exit $STEP_STATUS"; }

# The provider's result code that oes-reader reports: 0 on success, else the
# code of "OES_... returned CODE".
provider_result() {
  local code
  case $STEP_STATUS in
    0) echo "result 0" ;;
    1)
      code=$(sed -n 's/.*OES_[A-Za-z]* returned \(-\{0,1\}[0-9]*\).*/\1/p' "$STEP_LOG" | tail -n 1)
      echo "result ${code:-unknown}"
      ;;
    *) echo "exit $STEP_STATUS" ;;
  esac
}

# What verify-ofd found: the number of whole signatures, or the first
# reference it names as changed or missing.
ofd_verdict() {
  case $STEP_STATUS in
    0) echo "$(grep -c ': whole$' "$STEP_LOG") whole" ;;
    1)
      local named
      named=$(sed -n 's/.*problem: reference \(.*\) \(changed\|missing\)$/\2 \1/p' "$STEP_LOG" | head -n 1)
      echo "${named:-not whole}"
      ;;
    *) echo "exit $STEP_STATUS" ;;
  esac
}

# The trust checks of a --strict step that did not hold ("holder failed"),
# or "every check held".
strict_checks() {
  local names
  names=$(sed -n 's/^ *check \([a-z-]*\): \(failed\|undecided\): .*/\1 \2/p' "$STEP_LOG" |
    sort -u | paste -sd, -)
  echo "${names:-every check held}"
}

# verify --strict: OES_Verify's result and the checks (exit 4: a check did
# not hold, OES_Verify gave 0).
strict_verdict() {
  case $STEP_STATUS in
    0 | 4) echo "result 0, $(strict_checks)" ;;
    *) provider_result ;;
  esac
}

# verify-ofd --strict: the whole signatures and the checks.
ofd_strict_verdict() {
  case $STEP_STATUS in
    0 | 4) echo "$(grep -c ': whole$' "$STEP_LOG") whole, $(strict_checks)" ;;
    *) ofd_verdict ;;
  esac
}

# Copies the OFD package IN to OUT with one byte of its entry ENTRY changed.
tamper_ofd() {
  local in=$1 out=$2 entry=$3 dir
  dir=$(mktemp -d "$OUT/tmp/ofd.XXXXXX")
  (cd "$dir" && unzip -q "$OUT/$in" && sed -i '0,/Demo/s//Dumo/' "$entry" && zip -q -X -r "$OUT/$out" .)
  rm -rf "$dir"
}

# The number of seals that oes-reader listed ("seals: N" from the provider,
# "count: N" from a seal-list plug-in), and the demo's seals it missed.
seal_count() {
  [ "$STEP_STATUS" -eq 0 ] || { exit_status; return; }
  local count id missing=
  count=$(sed -n 's/^\(seals\|count\): \([0-9]*\)$/\2/p' "$STEP_LOG" | tail -n 1)
  for id in "$COMPANY_ID" "$PERSONAL_ID"; do
    grep -q "$id" "$STEP_LOG" || missing="$missing, no $id"
  done
  echo "${count:-no} seals$missing"
}

# The issuer of the certificate a container step wrote ($STEP_CERT).
cert_issuer() {
  [ "$STEP_STATUS" -eq 0 ] || { exit_status; return; }
  if grep -qa "$CA_NAME" "$STEP_CERT"; then echo "issued by $CA_NAME"; else echo "not by $CA_NAME"; fi
}

# The files on a software key, as a list-files step printed them, for the
# names that tell a seal store ("SEALINDEX", "PIC1" to "PIC3").
key_files() {
  [ "$STEP_STATUS" -eq 0 ] || { exit_status; return; }
  local names
  names=$(grep -Ex "SEALINDEX|PIC[123]" "$STEP_LOG" | sort -u | tr '\n' ' ')
  echo "${names% }"
}

# Provider result, and whether the picture named in $STEP_PICTURE is a PNG.
result_and_png() {
  local result
  result=$(provider_result)
  if [ "$(od -An -tx1 -N8 "$STEP_PICTURE" 2>/dev/null | tr -d ' \n')" = 89504e470d0a1a0a ]; then
    echo "$result, PNG"
  else
    echo "$result, no PNG"
  fi
}

# The key id and the common name of the subject from oes-reader key-info.
key_identity() {
  [ "$STEP_STATUS" -eq 0 ] || { exit_status; return; }
  local id subject
  id=$(sed -n 's/^key id: //p' "$STEP_LOG")
  subject=$(sed -n 's/^subject: .*\(CN=[^,]*\).*/\1/p' "$STEP_LOG")
  echo "$id $subject"
}

# Whether a service printed its "listening" line.
listening() {
  [ "$STEP_STATUS" -eq 0 ] && grep -q "listening on" "$STEP_LOG" && echo listening && return
  echo "not started"
}
