// Seals for the codec tests: real SM2 certificates and seals made by the
// seal maker, whose DER writer is independent of the codec.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "varo/pki.h"
#include "varo/sealmaker.h"

namespace codec_test {

using Bytes = std::vector<uint8_t>;

// One maker and one signer, made once per test program.
struct Parties {
  varo::EvpPkeyPtr makerKey;
  Bytes makerCert;
  varo::EvpPkeyPtr signerKey;
  Bytes signerCert;
  Bytes secondCert;
};

inline const Parties& parties() {
  static const Parties p = [] {
    Parties out;
    out.makerKey = varo::pki::generateSm2Key();
    varo::X509Ptr maker = varo::pki::issueCertificate(out.makerKey.get(), "CN=Seal Maker,O=Varo",
                                                      nullptr, nullptr, 3650, 1, true);
    out.makerCert = varo::pki::toDer(maker.get());
    out.signerKey = varo::pki::generateSm2Key();
    out.signerCert =
        varo::pki::toDer(varo::pki::issueCertificate(out.signerKey.get(), "CN=Alice,O=Varo",
                                                     out.makerKey.get(), maker.get(), 3650, 7)
                             .get());
    auto other = varo::pki::generateSm2Key();
    out.secondCert =
        varo::pki::toDer(varo::pki::issueCertificate(other.get(), "CN=Bob,O=Varo").get());
    if (out.makerCert.empty() || out.signerCert.empty() || out.secondCert.empty()) std::abort();
    return out;
  }();
  return p;
}

inline varo::sealmaker::SealSpec sampleSpec() {
  varo::sealmaker::SealSpec spec;
  spec.name = "Varo 测试专用章";
  spec.esID = "11010800000001";
  spec.type = 1;
  spec.createTime = "240315083000Z";
  spec.validStart = "250101000000Z";
  spec.validEnd = "991231235959Z";
  spec.vid = "VARO";
  spec.version = 2;
  spec.pictureType = "png";
  spec.picture = {0x89, 'P', 'N', 'G', 1, 2, 3, 0};
  spec.width = 40;
  spec.height = 30;
  spec.signerCerts = {parties().signerCert, parties().secondCert};
  spec.makerCert = parties().makerCert;
  spec.makerKey = parties().makerKey.get();
  return spec;
}

inline Bytes sampleSeal() {
  return varo::sealmaker::makeSeal(sampleSpec());
}

}  // namespace codec_test
