#!/usr/bin/env bash
# The system as an installation uses it, on a staged installation tree: the
# seals live on software keys, varo-signd serves them in its default mode
# (offline seal-list plug-in and key driver), and oes-reader lists, signs,
# verifies, inspects and asks for cancelling as a document reader does; then
# the online seal list of a token from varo-sealserver.
#
# Two keys: DEMOKEY01 holds its seal in the seal index that the driver
# writes; DEMOKEY02 is an older key with its seal in the old three-file form,
# which the driver converts into its local store when it first lists the
# keys. (One key cannot show both: a key with an index is listed from the
# index alone.)
#
# Usage: demo.sh INSTALL_ROOT
# VARO_DEMO_DIR names the output directory (default: a new /tmp/varo-demo.*).
# Exit status 0 when every step gave the result it should, 1 otherwise, 2 for
# a wrong command line.
set -u -o pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -ne 1 ] || [ ! -x "$1/bin/oes-reader" ]; then
  echo "usage: demo.sh INSTALL_ROOT (a staged installation tree with bin/oes-reader)" >&2
  exit 2
fi
ROOT=$(cd "$1" && pwd)
OUT=${VARO_DEMO_DIR:-$(mktemp -d /tmp/varo-demo.XXXXXX)}
mkdir -p "$OUT" && OUT=$(cd "$OUT" && pwd) || exit 2

# shellcheck source=steps.sh
. "$HERE/steps.sh"
# shellcheck source=services.sh
. "$HERE/services.sh"
# shellcheck source=provision.sh
. "$HERE/provision.sh"

CA_NAME="Varo Demo CA"
PIN=12345678
MODULE=/VaroSupport/TokenSign_LM
COMPANY_DEVICE=DEMOKEY01 COMPANY_SERIAL=VARODEMO00000001
COMPANY_ID=demoCompanySeal COMPANY_NAME="Demo Company"
PERSONAL_DEVICE=DEMOKEY02 PERSONAL_SERIAL=VARODEMO00000002
PERSONAL_ID=demoPersonalSeal PERSONAL_NAME="Demo Person"
COMPANY_SEAL="$COMPANY_ID@LM_GM3000&$COMPANY_DEVICE@$MODULE"
PERSONAL_SEAL="$PERSONAL_ID@LM_GM3000&$PERSONAL_DEVICE@$MODULE"
TOKEN_ID=DEMOTOKEN

# Everything is written in the output directory: the key store (read by the
# installed key library through VARO_SOFTKEY_DIR), and the programs'
# temporary directory, whose varolog/ receives the seal-list plug-ins'
# client log.
cd "$OUT" || exit 2
rm -rf keys pki maker outsider rogue-maker seals online services local-store tmp steps \
  summary.txt contract*.txt contract*.sig contract*.ofd signature-seal.png
mkdir -p pki seals services steps tmp/varolog
export PATH="$ROOT/bin:$PATH" VARO_SOFTKEY_DIR=$OUT/keys TMPDIR=$OUT/tmp
remove_local_store_files # left by an interrupted run, they would stand for the new keys
touch .started

report() {
  print_summary | tee summary.txt
  printf '\nOutputs in %s:\n' "$OUT"
  local entry
  for entry in \
    "keys/|software key store (two keys)" \
    "pki/|demo CA and the signers' certificates" \
    "maker/|seal maker key and certificate (issued by the demo CA)" \
    "outsider/|an outsider's key and certificate (demo CA), in no seal" \
    "rogue-maker/|a seal maker the demo CA never issued" \
    "seals/|the seals as made, and as fetched through the provider" \
    "local-store/|what the driver wrote to $ROOT/sealData (copied; removed there)" \
    "contract.txt|sample document" \
    "contract-company.sig|its signature with the company seal" \
    "contract-personal.sig|its signature with the personal seal" \
    "contract-tampered.txt|the document changed after signing" \
    "contract-outsider.sig|the outsider's signature with the company seal" \
    "contract-rogue.sig|the outsider's signature with the rogue maker's seal" \
    "contract-signed.ofd|an OFD document with the company and the personal seal" \
    "contract-tampered.ofd|the same with one byte of its first page changed" \
    "signature-seal.png|the seal picture taken from the signature" \
    "online/|the seal server's seals and index" \
    "services/|PIN file, logs and output of varo-signd and varo-sealserver" \
    "tmp/varolog/clientlog.txt|client log of the seal-list plug-ins" \
    "steps/|the output of every step" \
    "summary.txt|the table above"; do
    [ -e "${entry%%|*}" ] && printf '  %-26s %s\n' "${entry%%|*}" "${entry#*|}"
  done
}

finish() {
  local status=$?
  cleanup
  report
  case $status in
    0) printf '\nDemo finished: every step gave the expected result.\n' ;;
    130) printf '\nDEMO INTERRUPTED.\n' ;;
    *) printf '\nDEMO FAILED: a step gave another result than expected (see above).\n' ;;
  esac
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

printf 'Varo demo on the installation tree %s\nOutput directory %s\n' "$ROOT" "$OUT"

# --- Provisioning
explain "The provider that the reader loads by path, from the installation tree."
must_step "provider loads (oes-reader info)" "exit 0" exit_status oes-reader info
explain "A demo CA issues the signers' certificates; each key gets an SM2 key pair" \
  "in its container \"Seal\" and a certificate from that CA."
must_step "demo CA (softkey make-ca)" "exit 0" exit_status make_ca
must_step "key $COMPANY_DEVICE, SM2 container" "issued by $CA_NAME" cert_issuer \
  make_key "$COMPANY_DEVICE" "$COMPANY_SERIAL" "Demo company key" \
  "CN=$COMPANY_NAME,O=Varo Demo" pki/company-signer.cert.der
explain "A seal maker signs the company seal, which names the key's certificate;" \
  "the installed key driver writes it to the key as a seal record in the key's" \
  "seal index (the driver writes to the only attached key, so the second key" \
  "comes after it)."
must_step "seal maker, company seal (sealmaker)" "exit 0" exit_status make_company_seal
must_step "company seal via driver (--store)" "SEALINDEX" key_files store_company_seal
explain "An older key, $PERSONAL_DEVICE, keeps its personal seal in the old three-file" \
  "form. (One key cannot hold both forms: a key with a seal index is listed" \
  "from the index alone.)"
must_step "key $PERSONAL_DEVICE, SM2 container" "issued by $CA_NAME" cert_issuer \
  make_key "$PERSONAL_DEVICE" "$PERSONAL_SERIAL" "Demo personal key" \
  "CN=$PERSONAL_NAME,O=Varo Demo" pki/personal-signer.cert.der
must_step "personal seal, old form (--store-old)" "PIC1 PIC2 PIC3" key_files store_personal_seal

# --- The signing service and the reader
explain "varo-signd in its default mode serves the seals of the attached keys" \
  "through the installed offline seal-list plug-in and key driver, and answers" \
  "the PIN dialog from a file."
must_step "varo-signd, default mode, PIN file" listening listening start_signd
explain "The reader's seal list (OES_GetSealList): the service lists both keys."
step "seal list (oes-reader seals)" "2 seals" seal_count oes-reader seals
explain "That first listing made the driver convert $PERSONAL_DEVICE's old-form seal" \
  "into its local store: a local list for the key's serial number and a seal" \
  "copy (it also keeps a copy of every listed seal)."
step "old form converted on first listing" converted converted show_local_store
explain "Fetching, signing and verifying with the company seal, as a reader does."
step "fetch company seal (oes-reader seal)" "result 0" provider_result \
  oes-reader seal "$COMPANY_SEAL" seals/fetched-company.der
printf 'Contract between the demo parties, %s.\n' "$(date -u +%Y-%m-%d)" >contract.txt
step "sign, company seal (oes-reader sign)" "result 0" provider_result \
  oes-reader sign "$COMPANY_SEAL" contract.txt contract-company.sig
step "verify (oes-reader verify)" "result 0" provider_result \
  oes-reader verify seals/fetched-company.der contract.txt contract-company.sig
STEP_PICTURE=signature-seal.png
step "fields and picture (oes-reader inspect)" "result 0, PNG" result_and_png \
  oes-reader inspect contract-company.sig signature-seal.png
explain "The same signature over a document with one more line must not verify."
{ cat contract.txt && printf 'One more clause.\n'; } >contract-tampered.txt
step "verify tampered document" "result 4386" provider_result \
  oes-reader verify seals/fetched-company.der contract-tampered.txt contract-company.sig
explain "The converted personal seal signs on its own key."
step "sign, converted personal seal" "result 0" provider_result \
  oes-reader sign "$PERSONAL_SEAL" contract.txt contract-personal.sig
step "verify, converted personal seal" "result 0" provider_result \
  oes-reader verify seals/personal.der contract.txt contract-personal.sig

# --- An OFD document
explain "An OFD document sealed as a reader seals it: the company seal on page 1," \
  "then the personal seal on page 2 as a second signature. verify-ofd checks" \
  "every reference, seal and signature, and names the page changed in a copy."
step "make an OFD document (oes-reader make-ofd)" "exit 0" exit_status \
  oes-reader make-ofd contract.ofd --pages 3 --text "Demo contract"
step "seal it, company seal (oes-reader sign-ofd)" "result 0" provider_result \
  oes-reader sign-ofd contract.ofd "$COMPANY_SEAL" contract-company.ofd
step "seal it again, personal seal" "result 0" provider_result \
  oes-reader sign-ofd contract-company.ofd "$PERSONAL_SEAL" contract-signed.ofd --page 2
step "verify both seals (oes-reader verify-ofd)" "2 whole" ofd_verdict \
  oes-reader verify-ofd contract-signed.ofd
tamper_ofd contract-signed.ofd contract-tampered.ofd Doc_0/Pages/Page_0/Content.xml
step "verify a copy with a changed page" "changed /Doc_0/Pages/Page_0/Content.xml" ofd_verdict \
  oes-reader verify-ofd contract-tampered.ofd

# --- Strict verification
explain "OES_Verify accepts any signer whose signature holds. --strict adds the" \
  "trust checks: strict DER, the maker's signature on the seal, the signer among" \
  "the seal's holders, the seal's and the certificates' validity at the signing" \
  "time, and both certificates' chains to a trusted CA, here the demo CA."
step "strict verify (verify --strict --trust)" "result 0, every check held" strict_verdict \
  oes-reader verify seals/fetched-company.der contract.txt contract-company.sig \
  --strict --trust pki/demo-ca.cert.der
step "strict verify of the OFD document" "2 whole, every check held" ofd_strict_verdict \
  oes-reader verify-ofd contract-signed.ofd --strict --trust pki/demo-ca.cert.der
explain "An outsider with a certificate of the same CA, but in no seal's holder" \
  "list, signs the contract with a copy of the company seal (made by sealmaker," \
  "not through the provider): OES_Verify accepts it, the holder check does not."
step "outsider's key and certificate" "exit 0" exit_status make_outsider
step "outsider signs with the company seal" "exit 0" exit_status sign_as_outsider
step "strict verify, signer not a holder" "result 0, holder failed" strict_verdict \
  oes-reader verify seals/fetched-company.der contract.txt contract-outsider.sig \
  --strict --trust pki/demo-ca.cert.der
explain "A seal maker the demo CA never issued makes a seal for the outsider, who" \
  "signs with it: every check holds but the maker's chain."
step "rogue maker's seal and its holder's signature" "exit 0" exit_status rogue_seal_signature
step "strict verify, maker not issued by the CA" "result 0, chain failed" strict_verdict \
  oes-reader verify seals/rogue.der contract.txt contract-rogue.sig \
  --strict --trust pki/demo-ca.cert.der

# --- One key attached
explain "The key's identity and whether a signature may be removed are asked of" \
  "the only attached key, so $PERSONAL_DEVICE is unplugged first. A signature may" \
  "be removed while its signer's key is attached, not once it is unplugged."
step "unplug $PERSONAL_DEVICE (softkey detach)" "exit 0" exit_status softkey detach "$PERSONAL_DEVICE"
step "key identity (oes-reader key-info)" "$COMPANY_SERIAL CN=$COMPANY_NAME" key_identity \
  oes-reader key-info
step "cancel, key attached (oes-reader cancel)" "result 0" provider_result \
  oes-reader cancel contract-company.sig
step "unplug $COMPANY_DEVICE (softkey detach)" "exit 0" exit_status softkey detach "$COMPANY_DEVICE"
step "cancel, key detached" "result 4405" provider_result oes-reader cancel contract-company.sig
step "plug both keys in (softkey attach)" "exit 0" exit_status attach_keys

# --- The online seal list of a token
explain "A seal server answers the online seal list for the tokens it knows;" \
  "the installed online seal-list plug-in reaches it through the tool library."
make_online_index
step "varo-sealserver on a free port" listening listening start_sealserver
TOKEN=$(varo-sealserver --make-token 127.0.0.1 "${SEALSERVER_PORT:-0}" "$TOKEN_ID" 2>/dev/null)
step "token's seals (oes-reader online-seals)" "2 seals" seal_count \
  oes-reader online-seals "$TOKEN"

explain "Both services stop on SIGTERM; the PIN never reached the service log."
step "stop varo-sealserver (SIGTERM)" "exit 0" exit_status stop_sealserver
step "stop varo-signd (SIGTERM)" "exit 0" exit_status stop_signd

all_ok && exit 0
exit 1
