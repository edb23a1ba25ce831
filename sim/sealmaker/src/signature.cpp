// makeSignature: a seal signature written element by element, signed with a
// given key.
#include "varo/der.h"
#include "varo/pki.h"
#include "varo/sealmaker.h"

namespace varo::sealmaker {

namespace {

ByteSpan span(const Bytes& b) {
  return ByteSpan(b.data(), b.size());
}

}  // namespace

Bytes makeSignature(const SignatureSpec& spec, std::string* error) {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return Bytes();
  };
  if (!spec.signerKey) return fail("no signer key");
  if (spec.seal.empty() || spec.signerCert.empty()) return fail("no seal or no signer certificate");
  const std::string time = spec.time.empty() ? utcTimeText() : spec.time;
  auto content = [&](const Bytes& cert) {
    return der::sequence({
        der::integer(2),
        spec.seal,
        der::bitString(ByteSpan(time)),
        der::bitString(span(spec.digest)),
        der::text(der::kIa5String, spec.property),
        der::octets(span(cert)),
        der::objectId("1.2.156.10197.1.501"),
    });
  };
  const Bytes stored = content(spec.signerCert);
  const Bytes value = pki::signMessage(
      spec.signerKey, span(spec.contentCert.empty() ? stored : content(spec.contentCert)));
  if (value.empty()) return fail("the signing failed");
  return der::sequence({stored, der::bitString(span(value))});
}

}  // namespace varo::sealmaker
