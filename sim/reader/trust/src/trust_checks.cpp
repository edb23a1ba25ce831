// The six trust checks over a signature and its seal.
#include "varo/trust_checks.h"

#include <openssl/x509v3.h>

#include "ses_parts.h"
#include "trust_internal.h"
#include "varo/der.h"
#include "varo/pki.h"

namespace varo::trust {

namespace {

using Bytes = std::vector<uint8_t>;

// 1.2.156.10197.1.501, SM2 signature with SM3.
constexpr uint8_t kSm2WithSm3[] = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75};

Bytes bytesOf(ByteSpan s) {
  return Bytes(s.data(), s.data() + s.size());
}

CheckResult held(const char* name, std::string reason) {
  return {name, Verdict::kHeld, std::move(reason)};
}
CheckResult failed(const char* name, std::string reason) {
  return {name, Verdict::kFailed, std::move(reason)};
}
CheckResult undecided(const char* name, std::string reason) {
  return {name, Verdict::kUndecided, std::move(reason)};
}

// What every check but the encoding one judges: the signature's parts and
// the parts of the seal inside it, the signing time, both certificates.
struct Subject {
  SignatureParts signature;
  SealParts seal;
  std::string unreadable;  // why the parts could not be read, else empty
  std::optional<int64_t> time;
  std::string timeSource;
  X509Ptr signer, maker;
};

CheckResult encoding(ByteSpan seal, ByteSpan signature) {
  const std::string s = encodingFault(signature), e = encodingFault(seal);
  if (s.empty() && e.empty())
    return held("encoding",
                "the signature and the seal are each one DER value with minimal lengths");
  std::string why = s.empty() ? "" : "signature: " + s;
  if (!e.empty()) why += (why.empty() ? "seal: " : "; seal: ") + e;
  return failed("encoding", why);
}

CheckResult maker(const Subject& x) {
  const char* name = "maker";
  if (!x.maker) return failed(name, "the maker certificate in the seal is not a certificate");
  if (!x.seal.algorithm.equals(ByteSpan(kSm2WithSm3, sizeof kSm2WithSm3)))
    return undecided(name, "the maker's signature algorithm is not SM2 with SM3");
  // signData: a BIT STRING of whole octets holding r || s, or their DER form.
  ByteSpan value = x.seal.signData;
  Bytes rs;
  if (!value.empty() && value[0] == 0) {
    value = value.from(1);
    rs = value.size() == 64 ? bytesOf(value) : pki::rsFromDer(value);
  }
  const Bytes content = der::sequence({bytesOf(x.seal.sealInfo), bytesOf(x.seal.makerCertElement),
                                       bytesOf(x.seal.algorithmElement)});
  const std::string who = "the maker certificate (" + subjectText(x.maker.get()) + ")";
  if (rs.size() != 64) return failed(name, "the maker's signature value is not an SM2 signature");
  if (!pki::verifyMessage(x.maker.get(), ByteSpan(content.data(), content.size()),
                          ByteSpan(rs.data(), rs.size())))
    return failed(name,
                  "the maker's signature over the seal information does not verify with " + who);
  return held(name, "the maker's signature over the seal information verifies with " + who);
}

CheckResult holder(const Subject& x) {
  const char* name = "holder";
  const size_t n = x.seal.holders.size();
  const Bytes digest = pki::sm3(x.signature.signerCert);
  for (size_t k = 0; k < n; ++k) {
    const ByteSpan entry = x.seal.holders[k];
    const std::string which = std::to_string(k + 1) + " of " + std::to_string(n);
    if (entry.equals(x.signature.signerCert))
      return held(name, "the signer certificate is the seal's holder certificate " + which);
    if (entry.size() == 32 && entry.equals(ByteSpan(digest.data(), digest.size())))
      return held(name, "the signer certificate's SM3 is the seal's holder entry " + which);
  }
  const std::string who =
      x.signer ? "the signer certificate (" + subjectText(x.signer.get()) + ")" : "the signer";
  return failed(name, who + " is none of the seal's " + std::to_string(n) + " holder certificates");
}

CheckResult sealValidity(const Subject& x) {
  const char* name = "seal-validity";
  if (!x.time) return undecided(name, x.timeSource);
  const auto start = parseTime(x.seal.validStart.view()), end = parseTime(x.seal.validEnd.view());
  if (!start || !end) return undecided(name, "the seal's validity period is not readable");
  const std::string period = timeText(*start) + " to " + timeText(*end);
  const std::string when = x.timeSource + " " + timeText(*x.time);
  if (*x.time < *start) return failed(name, when + " is before the seal's validity, " + period);
  if (*x.time > *end) return failed(name, when + " is after the seal's validity, " + period);
  return held(name, when + " lies in the seal's validity, " + period);
}

// Faults of one certificate at the time (when known); empty when none.
std::string certificateFaults(const char* role, X509* cert, std::optional<int64_t> t) {
  if (!cert) return std::string("the ") + role + " certificate is not a certificate";
  std::string faults;
  auto add = [&](const std::string& f) { faults += (faults.empty() ? "" : "; ") + f; };
  const std::string who = std::string("the ") + role + " certificate";
  if (t) {
    const auto from = timeOf(X509_get0_notBefore(cert)), to = timeOf(X509_get0_notAfter(cert));
    if (!from || !to)
      add(who + "'s validity is not readable");
    else if (*t < *from)
      add(who + " was not yet valid (from " + timeText(*from) + ")");
    else if (*t > *to)
      add(who + " had expired (on " + timeText(*to) + ")");
  }
  if ((X509_get_extension_flags(cert) & EXFLAG_KUSAGE) &&
      !(X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE))
    add(who + "'s key usage does not allow digital signatures");
  return faults;
}

CheckResult certificateValidity(const Subject& x) {
  const char* name = "certificate-validity";
  std::string faults = certificateFaults("signer", x.signer.get(), x.time);
  const std::string makerFaults = certificateFaults("maker", x.maker.get(), x.time);
  if (!makerFaults.empty()) faults += (faults.empty() ? "" : "; ") + makerFaults;
  if (!faults.empty()) return failed(name, faults);
  if (!x.time) return undecided(name, x.timeSource);
  return held(name, "the signer and maker certificates were valid at " + timeText(*x.time) +
                        " and allow digital signatures");
}

CheckResult chain(const Subject& x, const TrustStore* trust) {
  const char* name = "chain";
  if (!trust) return undecided(name, "no trust store given");
  std::string signer, maker;
  const bool signerChains = trust->chains(x.signature.signerCert, x.time, &signer);
  const bool makerChains = trust->chains(x.seal.makerCert, x.time, &maker);
  const std::string reason = std::string("the signer certificate ") +
                             (signerChains ? "chains to " : "does not chain: ") + signer +
                             "; the maker certificate " +
                             (makerChains ? "chains to " : "does not chain: ") + maker;
  return signerChains && makerChains ? held(name, reason) : failed(name, reason);
}

}  // namespace

const char* verdictText(Verdict v) {
  switch (v) {
    case Verdict::kHeld:
      return "held";
    case Verdict::kFailed:
      return "failed";
    default:
      return "undecided";
  }
}

std::vector<CheckResult> runChecks(ByteSpan seal, ByteSpan signature, const CheckOptions& options) {
  std::vector<CheckResult> out{encoding(seal, signature)};
  Subject x;
  if (readSignature(signature, &x.signature, &x.unreadable) &&
      readSeal(x.signature.seal, &x.seal, &x.unreadable)) {
    x.signer = sm2Certificate(x.signature.signerCert);
    x.maker = sm2Certificate(x.seal.makerCert);
    if (options.at) {
      x.time = options.at;
      x.timeSource = "the given time";
    } else {
      x.time = parseTime(x.signature.time.view());
      x.timeSource = x.time ? "signed at"
                            : "the signature's time \"" + x.signature.time.prefix(32).str() +
                                  "\" is not a time";
    }
  }
  if (!x.unreadable.empty()) {
    for (const char* name : {"maker", "holder", "seal-validity", "certificate-validity", "chain"})
      out.push_back(undecided(name, x.unreadable));
    return out;
  }
  out.push_back(maker(x));
  out.push_back(holder(x));
  out.push_back(sealValidity(x));
  out.push_back(certificateValidity(x));
  out.push_back(chain(x, options.trust));
  return out;
}

bool allHeld(const std::vector<CheckResult>& results) {
  for (const CheckResult& r : results)
    if (r.verdict != Verdict::kHeld) return false;
  return !results.empty();
}

}  // namespace varo::trust
