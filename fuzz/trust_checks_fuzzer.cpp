// The strict checks of a signature and its seal from outside: the input is
// the signature DER, a separator, the seal DER and, after a second
// separator, a signing time text. Every check runs, the chain check against
// a trust store of one CA made at the start, so that OpenSSL's certificate
// parsing and verification see what the DER walk hands them. Each check
// must give a verdict; nothing may crash or read out of bounds.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_input.h"
#include "fuzz_temp_dir.h"
#include "varo/pki.h"
#include "varo/trust_checks.h"

namespace {

const varo::trust::TrustStore* trustStore() {
  static varo::fuzz::TempDir dir("trust-fuzz");
  static std::unique_ptr<varo::trust::TrustStore> store = [] {
    std::unique_ptr<varo::trust::TrustStore> made;
    auto key = varo::pki::generateSm2Key();
    auto ca =
        key ? varo::pki::issueCertificate(key.get(), "CN=Fuzz CA", nullptr, nullptr, 3650, 1, true)
            : nullptr;
    if (!dir.ok() || !ca) return made;
    const std::string path = dir.file("ca.cert.der");
    const varo::pki::Bytes der = varo::pki::toDer(ca.get());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return made;
    const bool written = std::fwrite(der.data(), 1, der.size(), f) == der.size();
    if (std::fclose(f) != 0 || !written) return made;
    std::string error;
    made = varo::trust::TrustStore::load({path}, &error);
    return made;
  }();
  return store.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = varo::fuzz::splitParts(data, size, 3);
  varo::fuzz::ExactBuffer signature(reinterpret_cast<const uint8_t*>(parts[0].data()),
                                    parts[0].size());
  varo::fuzz::ExactBuffer seal(reinterpret_cast<const uint8_t*>(parts[1].data()), parts[1].size());
  varo::trust::CheckOptions options;
  options.trust = trustStore();
  if (!parts[2].empty()) options.at = varo::trust::parseTime(parts[2]);
  const auto results =
      varo::trust::runChecks(varo::ByteSpan(seal.data(), seal.size()),
                             varo::ByteSpan(signature.data(), signature.size()), options);
  varo::fuzz::expect(results.size() == 6, "every check gives a verdict");
  for (const auto& r : results) varo::fuzz::expect(r.name != nullptr, "every check has a name");
  return 0;
}
