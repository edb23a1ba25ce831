# shellcheck shell=bash
# The two services of the demo and what they leave behind (sourced by
# demo.sh): varo-signd on the provider's fixed port 9990, varo-sealserver on a
# free port, and the clean-up of the files they and the driver write outside
# the output directory.

SIGND_PID=
SEALSERVER_PID=
SEALSERVER_PORT=

# wait_listening PID OUTFILE: until the service printed its "listening" line
# (at most 10 s), or ended.
wait_listening() {
  local _
  for _ in $(seq 100); do
    grep -q "listening on" "$2" 2>/dev/null && return 0
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "listening on" "$2" 2>/dev/null
}

# port_holder: what listens on 127.0.0.1:9990, as far as ss can tell.
port_holder() {
  local held
  if command -v ss >/dev/null && held=$(ss -Hltnp 'sport = :9990' 2>/dev/null) && [ -n "$held" ]; then
    printf '127.0.0.1:9990 is in use: %s\n' "$held"
  elif command -v ss >/dev/null; then
    echo "nothing else listens on 127.0.0.1:9990; see services/varo-signd.out"
  else
    echo "is port 9990 taken? (ss -ltnp 'sport = :9990' names what holds it)"
  fi
}

# varo-signd in its default mode: the seals of the attached keys, through
# the installed offline seal-list plug-in and key driver; the PIN from a file.
start_signd() {
  (umask 077 && printf '%s\n' "$PIN" >services/pin.txt)
  printf '$ varo-signd --pin-file services/pin.txt --log services/varo-signd.log &\n'
  varo-signd --pin-file services/pin.txt --log services/varo-signd.log \
    >services/varo-signd.out 2>&1 &
  SIGND_PID=$!
  wait_listening "$SIGND_PID" services/varo-signd.out
  local started=$?
  cat services/varo-signd.out
  if [ "$started" -ne 0 ]; then
    echo "varo-signd did not start"
    port_holder
  fi
  return "$started"
}

# stop PID: SIGTERM, then the service's exit status.
stop() {
  printf '$ kill -TERM %s\n' "$1"
  kill -TERM "$1" 2>/dev/null || return 1
  wait "$1"
}

stop_signd() {
  local status=0
  stop "$SIGND_PID" || status=$?
  SIGND_PID=
  printf 'signing reports logged: %s\n' "$(grep -c '"COM":"4"' services/varo-signd.log)"
  if grep -qF "$PIN" services/varo-signd.log; then
    echo "the PIN reached the service log"
    return 1
  fi
  return "$status"
}

# varo-sealserver on a free port, answering the demo's token for the seals
# of online/index.txt.
start_sealserver() {
  printf '$ varo-sealserver --seal-dir online --port 0 --token-id %s --log services/varo-sealserver.log &\n' \
    "$TOKEN_ID"
  varo-sealserver --seal-dir online --port 0 --token-id "$TOKEN_ID" \
    --log services/varo-sealserver.log >services/varo-sealserver.out 2>&1 &
  SEALSERVER_PID=$!
  wait_listening "$SEALSERVER_PID" services/varo-sealserver.out
  local started=$?
  cat services/varo-sealserver.out
  SEALSERVER_PORT=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' services/varo-sealserver.out)
  return "$started"
}

stop_sealserver() {
  local status=0
  stop "$SEALSERVER_PID" || status=$?
  SEALSERVER_PID=
  return "$status"
}

# The driver's local seal store under the installation root: the local list
# of a key without an index, the seal copies and the records of the keys
# that wrote them.
local_store_files() {
  local name
  for name in "$COMPANY_SERIAL.list" "$PERSONAL_SERIAL.list" "$COMPANY_ID.dat" "$PERSONAL_ID.dat" \
    "$COMPANY_ID.key" "$PERSONAL_ID.key"; do
    printf '%s\n' "$ROOT/sealData/$name"
  done
}

# Copies what the driver wrote to the local store into local-store/ and
# lists it.
show_local_store() {
  local file
  mkdir -p local-store
  printf 'in %s/sealData (copied to local-store/):\n' "$ROOT"
  while read -r file; do
    [ -f "$file" ] && cp "$file" local-store/ && printf '  %s\n' "${file##*/}"
  done < <(local_store_files)
  [ -f "$ROOT/sealData/$PERSONAL_SERIAL.list" ] && [ -f "$ROOT/sealData/$PERSONAL_ID.dat" ] &&
    printf 'local list of %s: %s\n' "$PERSONAL_DEVICE" "$(cat "$ROOT/sealData/$PERSONAL_SERIAL.list")"
}

converted() {
  if [ -f "local-store/$PERSONAL_SERIAL.list" ] && [ -f "local-store/$PERSONAL_ID.dat" ]; then
    echo converted
  else
    echo "not converted"
  fi
}

remove_local_store_files() {
  local file
  while read -r file; do rm -f "$file"; done < <(local_store_files)
}

# On every exit: the services stopped, the files under /tmp that the
# service wrote in this run (seal list, seal files, picture files) and the
# driver's local store entries of the demo's keys removed.
cleanup() {
  local pid
  for pid in "$SIGND_PID" "$SEALSERVER_PID"; do
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  find /tmp -maxdepth 1 -type f -user "$(id -u)" -newer "$OUT/.started" \
    \( -name 'varo.list' -o -name "$COMPANY_ID.seal" -o -name "$PERSONAL_ID.seal" -o -name '*.pic' \) \
    -delete 2>/dev/null
  remove_local_store_files
  return 0
}
