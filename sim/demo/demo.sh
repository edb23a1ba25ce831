#!/usr/bin/env bash
# The end-to-end demonstration on a staged installation tree.
# Usage: demo.sh INSTALL_ROOT
set -euo pipefail
ROOT=${1:?usage: demo.sh INSTALL_ROOT}
BIN=$ROOT/bin
OUT=${VARO_DEMO_DIR:-$(mktemp -d /tmp/varo-demo.XXXXXX)}
step() { printf '\n-- %s\n' "$*"; }

step "provider information (oes-reader info)"
"$BIN/oes-reader" info

step "SM3 digest of a sample document (oes-reader digest)"
printf 'A sample document for the seal provider demonstration.\n' >"$OUT/sample.txt"
"$BIN/oes-reader" digest "$OUT/sample.txt"

step "message text of result code 4371 (oes-reader error 4371)"
"$BIN/oes-reader" error 4371

printf '\nDemo outputs are in %s\n' "$OUT"
