# shellcheck shell=bash
# Provisioning of the demo (sourced by demo.sh): a demo CA, software keys
# with an SM2 container whose certificate the CA issues, a seal maker, and
# the seals.

make_ca() {
  show softkey make-ca --key-out pki/demo-ca.key.der --cert-out pki/demo-ca.cert.der \
    --subject "CN=$CA_NAME,O=Varo Demo"
}

# make_key DEVICE SERIAL LABEL SUBJECT CERT_OUT: a key with the container
# "Seal"; the signer certificate is also written to CERT_OUT.
make_key() {
  STEP_CERT=$5
  show softkey create "$1" --serial "$2" --label "$3" &&
    show softkey add-container "$1" Seal --subject "$4" \
      --ca-key pki/demo-ca.key.der --ca-cert pki/demo-ca.cert.der --cert-out "$5"
}

# The seal maker's key, and its certificate from the demo CA.
make_maker() {
  show sealmaker --new-maker maker --maker-name "Demo Seal Maker" \
    --ca-key pki/demo-ca.key.der --ca-cert pki/demo-ca.cert.der
}

# make_seal OUT ID TYPE NAME SIGNER_CERT [STORE OPTIONS...]
make_seal() {
  show sealmaker --name "$4" --id "$2" --type "$3" --vid DEMO --signer-cert "$5" \
    --maker-cert maker/maker.cert.der --maker-key maker/maker.key.der -o "$1" "${@:6}"
}

make_company_seal() {
  make_maker &&
    make_seal seals/company.der "$COMPANY_ID" 1 "$COMPANY_NAME" pki/company-signer.cert.der
}

# The personal seal, made and stored on its key in the old three-file form
# in one go.
store_personal_seal() {
  make_seal seals/personal.der "$PERSONAL_ID" 2 "$PERSONAL_NAME" pki/personal-signer.cert.der \
    --store-old "$PERSONAL_DEVICE" --key-store keys && show softkey list-files "$PERSONAL_DEVICE"
}

# The company seal, stored on its key through the installed driver: a seal
# record in the key's seal index.
store_company_seal() {
  show sealmaker --seal seals/company.der --store "$COMPANY_DEVICE" --key-store keys &&
    show softkey list-files "$COMPANY_DEVICE"
}

# The seal server's directory: both seals, under their full seal ids.
make_online_index() {
  mkdir -p online
  cp seals/company.der seals/personal.der online/
  printf '%s\t%s\t%s\n' company.der "$COMPANY_SEAL" "$COMPANY_NAME" \
    personal.der "$PERSONAL_SEAL" "$PERSONAL_NAME" >online/index.txt
}

attach_keys() {
  show softkey attach "$COMPANY_DEVICE" && show softkey attach "$PERSONAL_DEVICE"
}

# An outsider: an SM2 key and a certificate from the demo CA, on no key and
# in no seal's holder list.
make_outsider() {
  show sealmaker --new-maker outsider --maker-name "Demo Outsider" \
    --ca-key pki/demo-ca.key.der --ca-cert pki/demo-ca.cert.der
}

# The outsider signs the contract with a copy of the company seal, made by
# sealmaker rather than through the provider.
sign_as_outsider() {
  show sealmaker --sign contract.txt --seal seals/fetched-company.der \
    --signer-cert outsider/maker.cert.der --signer-key outsider/maker.key.der \
    -o contract-outsider.sig
}

# A maker the demo CA never issued (its certificate is its own) makes a seal
# for the outsider, who signs the contract with it.
rogue_seal_signature() {
  show sealmaker --new-maker rogue-maker --maker-name "Rogue Seal Maker" &&
    show sealmaker --name "Rogue Seal" --id demoRogueSeal --type 1 --vid ROGUE \
      --signer-cert outsider/maker.cert.der --maker-cert rogue-maker/maker.cert.der \
      --maker-key rogue-maker/maker.key.der -o seals/rogue.der &&
    show sealmaker --sign contract.txt --seal seals/rogue.der \
      --signer-cert outsider/maker.cert.der --signer-key outsider/maker.key.der \
      -o contract-rogue.sig
}
