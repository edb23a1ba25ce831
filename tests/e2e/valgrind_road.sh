#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR disable=SC2317 # (vg and finish are called through step and trap)
# The reader's whole road with the reader process under valgrind's memcheck:
# list the seals, fetch one, sign, verify (and a tampered copy), the
# signature's fields and picture, the seal's fields and picture, cancel (with
# and without the key), and the three plug-ins (offline list, key info, online
# list). The services
# (varo-signd, varo-sealserver) run normally; only oes-reader, which loads the
# provider, codec, signing module, driver and plug-ins, is checked. A step
# fails when its result is not the expected one or valgrind reports an
# invalid access or a definite leak (its log is then printed).
#
# Usage: valgrind_road.sh INSTALL_ROOT OUTPUT_DIR
# Exit status 0 when every step passed, 1 otherwise, 77 when valgrind is not
# installed (the test is then skipped).
set -u -o pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEMO=$HERE/../../sim/demo
if [ $# -ne 2 ] || [ ! -x "$1/bin/oes-reader" ]; then
  echo "usage: valgrind_road.sh INSTALL_ROOT OUTPUT_DIR" >&2
  exit 2
fi
if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed: skipping the valgrind road (apt-get install valgrind)"
  exit 77
fi
ROOT=$(cd "$1" && pwd)
mkdir -p "$2" && OUT=$(cd "$2" && pwd) || exit 2

# The demo's provisioning, services and step runner, on keys and seals of
# this road's own.
# shellcheck source=../../sim/demo/steps.sh
. "$DEMO/steps.sh"
# shellcheck source=../../sim/demo/services.sh
. "$DEMO/services.sh"
# shellcheck source=../../sim/demo/provision.sh
. "$DEMO/provision.sh"
CA_NAME="Varo Valgrind CA"
PIN=12345678
MODULE=/VaroSupport/TokenSign_LM
COMPANY_DEVICE=VGKEY01 COMPANY_SERIAL=VAROVGROAD000001
COMPANY_ID=vgCompanySeal COMPANY_NAME="Valgrind Company"
PERSONAL_DEVICE=VGKEY02 PERSONAL_SERIAL=VAROVGROAD000002
PERSONAL_ID=vgPersonalSeal PERSONAL_NAME="Valgrind Person"
COMPANY_SEAL="$COMPANY_ID@LM_GM3000&$COMPANY_DEVICE@$MODULE"
PERSONAL_SEAL="$PERSONAL_ID@LM_GM3000&$PERSONAL_DEVICE@$MODULE"
TOKEN_ID=VGTOKEN

cd "$OUT" || exit 2
rm -rf keys pki maker seals online services steps valgrind tmp ./*.txt ./*.sig ./*.png
mkdir -p pki seals services steps valgrind tmp/varolog
export PATH="$ROOT/bin:$PATH" VARO_SOFTKEY_DIR=$OUT/keys TMPDIR=$OUT/tmp
remove_local_store_files
touch .started

# vg oes-reader ARGS...: the reader under memcheck. Its exit status, or 99
# when valgrind found an error (invalid access, uninitialised use, definite
# leak); valgrind's report goes to valgrind/NN.log.
VG_RUN=0
vg() {
  VG_RUN=$((VG_RUN + 1))
  local log status
  log=valgrind/$(printf '%02d' "$VG_RUN").log
  command_line valgrind "$@"
  valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
    --keep-debuginfo=yes --num-callers=30 --log-file="$log" "$@"
  status=$?
  if ! grep -q "ERROR SUMMARY: 0 errors" "$log"; then
    echo "valgrind found errors ($OUT/$log):"
    cat "$log"
    return 99
  fi
  return "$status"
}

finish() {
  local status=$?
  cleanup
  print_summary
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

# --- Two keys, one seal on each (indexed form, old three-file form)
must_step "CA" "exit 0" exit_status make_ca
must_step "key $COMPANY_DEVICE" "issued by $CA_NAME" cert_issuer make_key "$COMPANY_DEVICE" \
  "$COMPANY_SERIAL" "Company key" "CN=$COMPANY_NAME,O=Varo Test" pki/company-signer.cert.der
must_step "company seal" "exit 0" exit_status make_company_seal
must_step "company seal on the key" "SEALINDEX" key_files store_company_seal
must_step "key $PERSONAL_DEVICE" "issued by $CA_NAME" cert_issuer make_key "$PERSONAL_DEVICE" \
  "$PERSONAL_SERIAL" "Personal key" "CN=$PERSONAL_NAME,O=Varo Test" pki/personal-signer.cert.der
must_step "personal seal, old form" "PIC1 PIC2 PIC3" key_files store_personal_seal
must_step "varo-signd" listening listening start_signd

# --- The reader's road
step "seals" "2 seals" seal_count vg oes-reader seals
step "fetch" "result 0" provider_result vg oes-reader seal "$COMPANY_SEAL" seals/fetched.der
printf 'A contract checked under valgrind.\n' >contract.txt
step "sign" "result 0" provider_result vg oes-reader sign "$COMPANY_SEAL" contract.txt contract.sig
step "verify" "result 0" provider_result vg oes-reader verify seals/fetched.der contract.txt \
  contract.sig
printf 'Changed.\n' >tampered.txt
step "verify tampered" "result 4386" provider_result vg oes-reader verify seals/fetched.der \
  tampered.txt contract.sig
STEP_PICTURE=signature.png
step "sign info and image" "result 0, PNG" result_and_png vg oes-reader inspect contract.sig \
  signature.png
step "seal info" "result 0" provider_result vg oes-reader seal-info seals/fetched.der
STEP_PICTURE=seal.png
step "seal image" "result 0, PNG" result_and_png vg oes-reader seal-image seals/fetched.der seal.png
step "offline list plug-in" "2 seals" seal_count vg oes-reader key-seals
step "detach $PERSONAL_DEVICE" "exit 0" exit_status softkey detach "$PERSONAL_DEVICE"
step "key info plug-in" "$COMPANY_SERIAL CN=$COMPANY_NAME" key_identity vg oes-reader key-info
step "cancel" "result 0" provider_result vg oes-reader cancel contract.sig
# The failure roads with no key attached.
step "detach $COMPANY_DEVICE" "exit 0" exit_status softkey detach "$COMPANY_DEVICE"
step "cancel, no key" "result 4405" provider_result vg oes-reader cancel contract.sig
step "key info, no key" "exit 1" exit_status vg oes-reader key-info
step "attach both keys" "exit 0" exit_status attach_keys
make_online_index
step "varo-sealserver" listening listening start_sealserver
TOKEN=$(varo-sealserver --make-token 127.0.0.1 "${SEALSERVER_PORT:-0}" "$TOKEN_ID" 2>/dev/null)
step "online list plug-in" "2 seals" seal_count vg oes-reader online-seals "$TOKEN"
step "stop varo-sealserver" "exit 0" exit_status stop_sealserver
step "stop varo-signd" "exit 0" exit_status stop_signd

all_ok && exit 0
exit 1
