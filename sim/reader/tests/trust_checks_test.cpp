// The trust checks over crafted seals and signatures: each case breaks one
// thing and must fail exactly its check, every other check holding.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <ctime>
#include <functional>

#include "varo/pki.h"
#include "varo/sealmaker.h"
#include "varo/trust_checks.h"

namespace {

namespace pki = varo::pki;
namespace trust = varo::trust;
using Bytes = std::vector<uint8_t>;

constexpr long kDay = 24 * 3600, kYear = 365 * kDay;

struct Party {
  varo::EvpPkeyPtr key = pki::generateSm2Key();
  varo::X509Ptr cert;
  Bytes der;
};

Party party(const std::string& cn, const Party* issuer, pki::CertificateProfile profile = {}) {
  Party p;
  p.cert = pki::issueCertificate(p.key.get(), "CN=" + cn + ",O=Varo Test",
                                 issuer ? issuer->key.get() : nullptr,
                                 issuer ? issuer->cert.get() : nullptr, profile);
  p.der = pki::toDer(p.cert.get());
  return p;
}

pki::CertificateProfile caProfile() {
  pki::CertificateProfile p;
  p.ca = true;
  return p;
}

std::string utc(long fromNow) {
  const std::time_t t = std::time(nullptr) + fromNow;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[16] = {};
  std::strftime(text, sizeof text, "%y%m%d%H%M%SZ", &tm);
  return text;
}

const Party& root() {
  static const Party p = party("Root CA", nullptr, caProfile());
  return p;
}
const Party& intermediate() {
  static const Party p = party("Intermediate CA", &root(), caProfile());
  return p;
}

// What a case may change before the seal and the signature are made.
struct Material {
  Party signer = party("Signer", &root());
  Party maker = party("Maker", &root());
  std::vector<Bytes> holders;  // empty: the signer's certificate
  std::string validStart = utc(-kDay), validEnd = utc(kYear);
  std::vector<const Party*> trusted{&root()};
  std::optional<int64_t> at;
  bool forgeMaker = false;
  std::function<void(Bytes& seal, Bytes& signature)> after;
};

TEST(TrustChecks, EachCraftedFaultFailsExactlyItsCheck) {
  struct Case {
    const char* what;
    std::function<void(Material&)> change;
    const char* check = "";  // the one check that does not hold
    trust::Verdict verdict = trust::Verdict::kFailed;
  } cases[] = {
      {"a good signature", [](Material&) {}},
      {"a chain through an intermediate CA",
       [](Material& m) {
         m.signer = party("Signer", &intermediate());
         m.trusted.push_back(&intermediate());
       }},
      {"holders stored as SM3 digests",
       [](Material& m) {
         m.holders = {pki::sm3(varo::ByteSpan(m.signer.der.data(), m.signer.der.size()))};
       }},
      {"two bytes after the signature",
       [](Material& m) { m.after = [](Bytes&, Bytes& s) {
                           s.insert(s.end(), {0, 0});
                         }; },
       "encoding"},
      {"a second element after the signature",
       [](Material& m) { m.after = [](Bytes&, Bytes& s) {
                           s.insert(s.end(), {0x04, 1, 7});
                         }; },
       "encoding"},
      {"bytes after the seal",
       [](Material& m) { m.after = [](Bytes& seal, Bytes&) { seal.push_back(0); }; }, "encoding"},
      {"a length in more octets than needed",
       [](Material& m) {
         m.after = [](Bytes&, Bytes& s) {  // 30 82 HH LL becomes 30 83 00 HH LL
           ASSERT_EQ(s[1], 0x82);
           s[1] = 0x83;
           s.insert(s.begin() + 2, 0);
         };
       },
       "encoding"},
      {"a forged maker signature", [](Material& m) { m.forgeMaker = true; }, "maker"},
      {"a signer outside the holder list",
       [](Material& m) { m.holders = {party("Someone Else", &root()).der}; }, "holder"},
      {"signed before the seal's validity",
       [](Material& m) { m.validStart = utc(kYear), m.validEnd = utc(2 * kYear); },
       "seal-validity"},
      {"signed after the seal's validity",
       [](Material& m) { m.validStart = utc(-2 * kDay), m.validEnd = utc(-kDay); },
       "seal-validity"},
      {"a given time after the seal's validity",
       [](Material& m) { m.at = std::time(nullptr) + 2 * kYear; }, "seal-validity"},
      {"an expired signer certificate",
       [](Material& m) {
         pki::CertificateProfile p;
         p.notBefore = -2 * kYear, p.notAfter = -kYear;
         m.signer = party("Signer", &root(), p);
       },
       "certificate-validity"},
      {"a maker certificate without digital signature usage",
       [](Material& m) {
         pki::CertificateProfile p;
         p.keyUsage = "critical,nonRepudiation";
         m.maker = party("Maker", &root(), p);
       },
       "certificate-validity"},
      {"a signer issued by an untrusted CA",
       [](Material& m) {
         static const Party other = party("Other CA", nullptr, caProfile());
         m.signer = party("Signer", &other);
       },
       "chain"},
      {"a maker the CA never issued",
       [](Material& m) { m.maker = party("Maker", nullptr, caProfile()); }, "chain"},
      {"an intermediate CA not in the trust store",
       [](Material& m) { m.signer = party("Signer", &intermediate()); }, "chain"},
      {"no trust store", [](Material& m) { m.trusted.clear(); }, "chain",
       trust::Verdict::kUndecided},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Material m;
    c.change(m);
    varo::sealmaker::SealSpec spec;
    spec.name = "Test Seal";
    spec.esID = "trustChecks";
    spec.vid = "TEST";
    spec.validStart = m.validStart;
    spec.validEnd = m.validEnd;
    spec.signerCerts = m.holders.empty() ? std::vector<Bytes>{m.signer.der} : m.holders;
    spec.makerCert = m.maker.der;
    spec.makerKey = m.maker.key.get();
    Bytes seal = varo::sealmaker::makeSeal(spec);
    ASSERT_FALSE(seal.empty());
    if (m.forgeMaker) seal.back() ^= 1;  // the last octet of the maker's s
    Bytes signature = varo::sealmaker::makeSignature(
        {seal, Bytes(32, 0x5A), "property", "", m.signer.der, m.signer.key.get(), {}});
    ASSERT_FALSE(signature.empty());
    if (m.after) m.after(seal, signature);
    if (HasFatalFailure()) return;

    std::vector<std::string> paths;
    for (const Party* p : m.trusted) {
      paths.push_back(dir.filePath(QString::number(paths.size()) + ".der").toStdString());
      QFile f(QString::fromStdString(paths.back()));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(reinterpret_cast<const char*>(p->der.data()), qint64(p->der.size()));
    }
    std::string why;
    auto store = paths.empty() ? nullptr : trust::TrustStore::load(paths, &why);
    ASSERT_TRUE(paths.empty() || store) << why;
    const auto results =
        trust::runChecks(varo::ByteSpan(seal.data(), seal.size()),
                         varo::ByteSpan(signature.data(), signature.size()), {m.at, store.get()});
    ASSERT_EQ(results.size(), 6u);
    for (const trust::CheckResult& r : results) {
      EXPECT_EQ(r.verdict, r.name == std::string(c.check) ? c.verdict : trust::Verdict::kHeld)
          << r.name << ": " << r.reason;
    }
  }
}

}  // namespace
