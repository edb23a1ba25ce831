#!/usr/bin/env bash
# The end-to-end demonstration on a staged installation tree: a software key
# with an SM2 container, two seals served by varo-signd, and oes-reader
# listing, fetching, signing, verifying and inspecting as a document reader
# does.
#
# Usage: demo.sh INSTALL_ROOT
# VARO_DEMO_DIR names the output directory (default: a new /tmp/varo-demo.*).
# Exit status 0 when every step gave the result it should, 1 otherwise.
set -euo pipefail
ROOT=$(cd "${1:?usage: demo.sh INSTALL_ROOT}" && pwd)
BIN=$ROOT/bin
OUT=${VARO_DEMO_DIR:-$(mktemp -d /tmp/varo-demo.XXXXXX)}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

DEVICE=DEMOKEY01
PIN=12345678
MODULE=/VaroSupport/TokenSign_LM
COMPANY_SEAL="demoCompanySeal@LM_GM3000&$DEVICE@$MODULE"
PERSONAL_SEAL="demoPersonalSeal@LM_GM3000&$DEVICE@$MODULE"

step() { printf '\n-- %s\n' "$*"; }
fail() {
  printf '\nDEMO FAILED: %s\n' "$*" >&2
  exit 1
}
reader() { "$BIN/oes-reader" "$@"; }

# The key store of this demo only; the provider's signing module reaches the
# key through the installed key library, which reads this variable.
export VARO_SOFTKEY_DIR=$OUT/keys
rm -rf "$VARO_SOFTKEY_DIR" "$OUT/maker" "$OUT/seals"
touch "$OUT/.started"

SIGND_PID=
cleanup() {
  if [ -n "$SIGND_PID" ] && kill -0 "$SIGND_PID" 2>/dev/null; then
    kill -TERM "$SIGND_PID" 2>/dev/null || true
    wait "$SIGND_PID" 2>/dev/null || true
  fi
  # The service's cache files of this run (seal list, seal and picture files).
  find /tmp -maxdepth 1 -type f -user "$(id -u)" -newer "$OUT/.started" \
    \( -name 'varo.list' -o -name 'demo*Seal.seal' -o -name '*.pic' \) -delete 2>/dev/null || true
}
trap cleanup EXIT

step "provider information (oes-reader info)"
reader info

step "software key $DEVICE with an SM2 container (softkey create, add-container)"
"$BIN/softkey" create "$DEVICE" --serial 0123456789ABCDEF --label "Demo key"
"$BIN/softkey" add-container "$DEVICE" Seal --subject "CN=Demo Signer,O=Varo Demo" \
  --cert-out "$OUT/signer.cert.der"
"$BIN/softkey" list

step "a seal maker and two seals for the key's certificate (sealmaker)"
mkdir -p "$OUT/seals"
"$BIN/sealmaker" --new-maker "$OUT/maker" --maker-name "Demo Seal Maker"
make_seal() { # FILE ID TYPE NAME
  "$BIN/sealmaker" --name "$4" --id "$2" --type "$3" --vid DEMO \
    --signer-cert "$OUT/signer.cert.der" \
    --maker-cert "$OUT/maker/maker.cert.der" --maker-key "$OUT/maker/maker.key.der" \
    -o "$OUT/seals/$1"
}
make_seal company.der demoCompanySeal 1 "Demo Company"
make_seal personal.der demoPersonalSeal 2 "Demo Person"
printf '%s\t%s\t%s\n' company.der "$COMPANY_SEAL" "Demo Company Seal" \
  personal.der "$PERSONAL_SEAL" "Demo Personal Seal" >"$OUT/seals/index.txt"
cat "$OUT/seals/index.txt"

step "varo-signd on 127.0.0.1:9990 with a PIN file"
(umask 077 && printf '%s\n' "$PIN" >"$OUT/pin.txt")
"$BIN/varo-signd" --seal-dir "$OUT/seals" --pin-file "$OUT/pin.txt" \
  --log "$OUT/varo-signd.log" >"$OUT/varo-signd.out" 2>&1 &
SIGND_PID=$!
for _ in $(seq 50); do
  grep -q "listening" "$OUT/varo-signd.out" 2>/dev/null && break
  kill -0 "$SIGND_PID" 2>/dev/null || break
  sleep 0.1
done
grep -q "listening" "$OUT/varo-signd.out" ||
  fail "varo-signd did not start (is port 9990 taken?): $(cat "$OUT/varo-signd.out")"
cat "$OUT/varo-signd.out"

step "the seal list (oes-reader seals)"
reader seals

step "the company seal, its fields and its picture (oes-reader seal, seal-info, seal-image)"
reader seal "$COMPANY_SEAL" "$OUT/company.seal.der"
reader seal-info "$OUT/company.seal.der"
reader seal-image "$OUT/company.seal.der" "$OUT/company-seal.png"

step "signing a sample document with the company seal (oes-reader sign)"
printf 'Contract between the demo parties, %s.\n' "$(date -u +%Y-%m-%d)" >"$OUT/contract.txt"
reader sign "$COMPANY_SEAL" "$OUT/contract.txt" "$OUT/contract.sig"

step "verifying the signature (oes-reader verify, expected result 0)"
reader verify "$OUT/company.seal.der" "$OUT/contract.txt" "$OUT/contract.sig"

step "the signature's fields and its seal picture (oes-reader inspect)"
reader inspect "$OUT/contract.sig" "$OUT/signature-seal.png"

step "verifying a tampered document (oes-reader verify, expected result 4386)"
{ cat "$OUT/contract.txt" && printf 'One more clause.\n'; } >"$OUT/contract-tampered.txt"
set +e
reader --json verify "$OUT/company.seal.der" "$OUT/contract-tampered.txt" "$OUT/contract.sig" \
  >"$OUT/tampered.json"
status=$?
set -e
cat "$OUT/tampered.json"
[ "$status" -eq 1 ] && grep -Eq '"result": *4386' "$OUT/tampered.json" ||
  fail "the tampered document did not give 4386"

step "stopping varo-signd (SIGTERM)"
kill -TERM "$SIGND_PID"
wait "$SIGND_PID" || fail "varo-signd did not stop cleanly"
SIGND_PID=
grep -c '"COM":"4"' "$OUT/varo-signd.log" | sed 's/^/signing reports logged: /'
! grep -q "$PIN" "$OUT/varo-signd.log" || fail "the PIN reached the service log"

printf '\nDemo finished. Outputs in %s:\n' "$OUT"
printf '  %s\n' "keys/ (software key store)" "seals/ (seal files and index.txt)" \
  "company.seal.der, company-seal.png (fetched seal and its picture)" \
  "contract.txt, contract.sig (document and its signature)" \
  "signature-seal.png (picture taken from the signature)" \
  "varo-signd.log (service log with the signing report)"
