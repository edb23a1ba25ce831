// Seals and seal signatures made inside a test: a signer key with its
// certificate, a maker key with its certificate, seals from the seal maker,
// and signatures built with the installed codec and OpenSSL's SM2, the way a
// signing would build them.
#pragma once

#include <string>
#include <vector>

#include "BasicSealInfo.h"
#include "varo/openssl_ptr.h"
#include "varo/sealmaker.h"

namespace varo::testing {

using Bytes = std::vector<uint8_t>;

struct TestParty {
  EvpPkeyPtr key;
  X509Ptr cert;
  Bytes certDer;
};

// A fresh SM2 key with a certificate for subjectDn ("CN=..,O=..").
TestParty makeParty(const std::string& subjectDn);

// The holders of the test seals: a signer and a seal maker.
struct TestPki {
  TestParty signer = makeParty("CN=Test Signer,O=Varo Test");
  TestParty maker = makeParty("CN=Test Maker,O=Varo Test");
};

// A seal spec with the signer and maker of pki filled in.
sealmaker::SealSpec sealSpec(const TestPki& pki, const std::string& esID,
                             const std::string& name = "Test Seal");

// The seal DER; empty on failure.
Bytes makeTestSeal(const sealmaker::SealSpec& spec);

// What goes into a signature.
struct SignatureInput {
  Bytes seal;
  std::string property = "document property";
  Bytes digest;  // 32 bytes unless a test wants another length
  std::string time = "250601120000Z";
};

// The signed content (MYTBS_Sign DER) built by the codec; empty on failure.
Bytes signedContent(BasicSealInfo* codec, const SignatureInput& in);

// A complete signature: the signed content, signed with the signer's key
// (SM2 with SM3, default identifier), wrapped by the codec. value, when not
// null, receives the 64-byte signature value; flipBit (>= 0) flips that bit
// of the value before wrapping. Empty on failure.
Bytes makeSignature(BasicSealInfo* codec, const SignatureInput& in, EVP_PKEY* signerKey,
                    Bytes* value = nullptr, int flipBit = -1);

// A signature wrapped around a given signed content and value.
Bytes wrapSignature(BasicSealInfo* codec, const Bytes& content, const Bytes& value);

// The text a seal record (as the driver stores it) decrypts into with the
// installed tool library; empty when it does not decrypt.
std::string decryptSealRecord(const std::string& record);

}  // namespace varo::testing
