// Signatures and seals as a hostile document can carry them: broken DER
// (cut short, wrong tags, lengths of gigabytes) and well-formed structures
// whose fields are far larger than any working buffer. Every export refuses
// or carries them whole, and no output is written past what the reader said
// its buffer holds.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <functional>
#include <string>
#include <vector>

#include "oes_api.h"
#include "varo/pki.h"
#include "varo/test_seals.h"

namespace {

using varo::testing::Bytes;

constexpr unsigned char kFill = 0xA5;
constexpr size_t kGuard = 16;

// DER of one value: tag, definite length, content.
Bytes tlv(unsigned char tag, const Bytes& content) {
  Bytes out{tag};
  if (content.size() < 0x80) {
    out.push_back(static_cast<unsigned char>(content.size()));
  } else {
    Bytes length;
    for (size_t n = content.size(); n; n >>= 8) length.insert(length.begin(), n & 0xFF);
    out.push_back(static_cast<unsigned char>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes bits(const Bytes& octets) {
  return tlv(0x03, cat({Bytes{0}, octets}));
}

// The fields of a seal signature, assembled by hand so that each can be as
// large as a document makes it.
struct SignatureParts {
  Bytes seal;
  Bytes digest = Bytes(32, 0x11);
  std::string property = "document property";
  std::string time = "250601120000Z";
  Bytes cert;
  Bytes value;  // empty: the signer's SM2 signature over the signed content
};

Bytes signedContentOf(const SignatureParts& p) {
  const Bytes sm2WithSm3 = {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75};
  return tlv(0x30, cat({tlv(0x02, {2}), p.seal, bits(bytes(p.time)), bits(p.digest),
                        tlv(0x16, bytes(p.property)), tlv(0x04, p.cert), sm2WithSm3}));
}

Bytes signatureOf(const SignatureParts& p, EVP_PKEY* signer) {
  const Bytes content = signedContentOf(p);
  const Bytes value = p.value.empty() ? varo::pki::signMessage(
                                            signer, varo::ByteSpan(content.data(), content.size()))
                                      : p.value;
  return tlv(0x30, cat({content, bits(value)}));
}

// Where each value of a DER encoding starts and how long its header is, for
// the values inside constructed ones (string contents are not walked).
struct Header {
  size_t at, size;
};

void walk(const Bytes& der, size_t from, size_t to, std::vector<Header>* out) {
  while (from + 2 <= to) {
    const unsigned char tag = der[from], first = der[from + 1];
    size_t size = 2, length = first;
    if (first & 0x80) {
      size += first & 0x7F;
      length = 0;
      for (size_t i = from + 2; i < from + size && i < to; ++i) length = length << 8 | der[i];
    }
    if (from + size + length > to) return;
    out->push_back({from, size});
    if (tag & 0x20) walk(der, from + size, from + size + length, out);
    from += size + length;
  }
}

// Broken forms of a DER value: cut at many points, every header's tag
// changed and its length replaced by one of four gigabytes or two.
std::vector<std::pair<std::string, Bytes>> brokenForms(const Bytes& der) {
  std::vector<std::pair<std::string, Bytes>> out;
  const size_t step = der.size() / 60 + 1;
  for (size_t cut = 0; cut < der.size(); cut += (cut < 48 || cut + 16 > der.size()) ? 1 : step)
    out.emplace_back("cut at " + std::to_string(cut), Bytes(der.begin(), der.begin() + long(cut)));
  std::vector<Header> headers;
  walk(der, 0, der.size(), &headers);
  for (const Header& h : headers) {
    const std::string where = " at " + std::to_string(h.at);
    Bytes tag = der;
    tag[h.at] ^= 0x20;  // constructed <-> primitive
    out.emplace_back("constructed bit flipped" + where, tag);
    tag[h.at] = der[h.at] == 0x30 ? 0x31 : 0x30;
    out.emplace_back("other tag" + where, tag);
    for (const Bytes& length : {Bytes{0x84, 0xFF, 0xFF, 0xFF, 0xFF}, Bytes{0x84, 0x80, 0, 0, 0}}) {
      Bytes huge(der.begin(), der.begin() + long(h.at + 1));
      huge.insert(huge.end(), length.begin(), length.end());
      huge.insert(huge.end(), der.begin() + long(h.at + h.size), der.end());
      out.emplace_back("length " + std::to_string(length[1]) + where, huge);
    }
  }
  return out;
}

// An export with `count` output pairs, called with the given buffers and
// lengths.
using PairsCall = std::function<int(unsigned char** buffers, int* lengths)>;

struct Outputs {
  explicit Outputs(size_t n) : buffers(n), lengths(n), pointers(n) {}
  // Every buffer of sizes[i] + kGuard fill bytes, its length stated as
  // sizes[i] (one less for output `shortOne`).
  void allocate(const std::vector<int>& sizes, long shortOne = -1) {
    for (size_t i = 0; i < buffers.size(); ++i) {
      buffers[i].assign(size_t(sizes[i]) + kGuard, kFill);
      lengths[i] = sizes[i] - (long(i) == shortOne ? 1 : 0);
      pointers[i] = buffers[i].data();
    }
  }
  int call(const PairsCall& f) { return f(pointers.data(), lengths.data()); }
  // True when nothing was written at or past byte `from` of buffer i.
  bool clean(size_t i, size_t from) const {
    for (size_t k = from; k < buffers[i].size(); ++k)
      if (buffers[i][k] != kFill) return false;
    return true;
  }
  std::vector<Bytes> buffers;
  std::vector<int> lengths;
  std::vector<unsigned char*> pointers;
};

// Measures every output, copies them into buffers of exactly that size with
// guard bytes behind, then states each buffer in turn one byte short (where
// the output has two bytes or more: a stated length of 0 means "no size
// given"), which must refuse the call and leave every output alone. The
// whole outputs are returned.
std::vector<Bytes> checkOutputs(size_t count, const PairsCall& call) {
  std::vector<unsigned char*> none(count, nullptr);
  std::vector<int> sizes(count, -9);
  EXPECT_EQ(call(none.data(), sizes.data()), 0);
  for (int s : sizes)
    if (s < 0) return {};
  Outputs exact(count);
  exact.allocate(sizes);
  EXPECT_EQ(exact.call(call), 0);
  std::vector<Bytes> whole(count);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(exact.lengths[i], sizes[i]) << "output " << i;
    EXPECT_TRUE(exact.clean(i, size_t(sizes[i]))) << "output " << i << " ran past its buffer";
    whole[i].assign(exact.buffers[i].begin(), exact.buffers[i].begin() + sizes[i]);
  }
  for (size_t i = 0; i < count; ++i) {
    if (sizes[i] < 2) continue;
    Outputs tight(count);
    tight.allocate(sizes, long(i));
    EXPECT_EQ(tight.call(call), 4371) << "output " << i << " one byte short";
    for (size_t k = 0; k < count; ++k) {
      EXPECT_TRUE(tight.clean(k, 0)) << "output " << k << " written with output " << i << " short";
      EXPECT_EQ(tight.lengths[k], sizes[k] - (k == i ? 1 : 0));
    }
  }
  return whole;
}

PairsCall signInfo(Bytes& sig) {
  return [&sig](unsigned char** b, int* l) {
    return OES_GetSignInfo(sig.data(), int(sig.size()), b[0], &l[0], b[1], &l[1], b[2], &l[2], b[3],
                           &l[3], b[4], &l[4], b[5], &l[5], b[6], &l[6], b[7], &l[7]);
  };
}

PairsCall signImage(Bytes& sig) {
  return [&sig](unsigned char** b, int* l) {
    int width = 0, height = 0;
    return OES_GetSignImage(sig.data(), int(sig.size()), 0, b[0], &l[0], &width, &height);
  };
}

PairsCall sealInfo(Bytes& seal) {
  return [&seal](unsigned char** b, int* l) {
    return OES_GetSealInfo(seal.data(), int(seal.size()), b[0], &l[0], b[1], &l[1], b[2], &l[2],
                           b[3], &l[3], b[4], &l[4], b[5], &l[5], b[6], &l[6], b[7], &l[7], b[8],
                           &l[8], b[9], &l[9], b[10], &l[10]);
  };
}

int verify(Bytes seal, Bytes digest, Bytes signature) {
  return OES_Verify(seal.data(), int(seal.size()), nullptr, 0, digest.data(), int(digest.size()),
                    nullptr, 0, nullptr, 0, signature.data(), int(signature.size()));
}

// Calls an export with buffers that say they hold 64 bytes; true when it
// returned `expected` and left every buffer and length as it was.
bool refusedUntouched(size_t count, const PairsCall& call, int expected) {
  Outputs out(count);
  out.allocate(std::vector<int>(count, 64));
  const int rc = out.call(call);
  bool untouched = rc == expected;
  for (size_t i = 0; i < count; ++i)
    untouched = untouched && out.clean(i, 0) && out.lengths[i] == 64;
  return untouched;
}

class HostileDocument : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new varo::testing::TestPki;
    seal_ = new Bytes(varo::testing::makeTestSeal(varo::testing::sealSpec(*pki_, "H5-HOSTILE")));
  }
  static void TearDownTestSuite() {
    delete seal_;
    delete pki_;
  }
  void SetUp() override { ASSERT_FALSE(seal_->empty()); }
  SignatureParts parts() const {
    SignatureParts p;
    p.seal = *seal_;
    p.cert = pki_->signer.certDer;
    return p;
  }
  static varo::testing::TestPki* pki_;
  static Bytes* seal_;
};

varo::testing::TestPki* HostileDocument::pki_ = nullptr;
Bytes* HostileDocument::seal_ = nullptr;

TEST_F(HostileDocument, BrokenDerIsRefusedByEveryExportWithoutTouchingAnOutput) {
  const SignatureParts good = parts();
  const Bytes signature = signatureOf(good, pki_->signer.key.get());
  ASSERT_EQ(verify(good.seal, good.digest, signature), 0);  // the intact form is good
  for (auto& [what, broken] : brokenForms(signature)) {
    SCOPED_TRACE("signature, " + what);
    EXPECT_NE(verify(good.seal, good.digest, broken), 0);
    EXPECT_TRUE(refusedUntouched(8, signInfo(broken), 4370));
    EXPECT_TRUE(refusedUntouched(1, signImage(broken), 4370));
  }
  for (auto& [what, broken] : brokenForms(good.seal)) {
    SCOPED_TRACE("seal, " + what);
    EXPECT_TRUE(refusedUntouched(11, sealInfo(broken), broken.empty() ? 4371 : 4373));
    EXPECT_NE(verify(broken, good.digest, signature), 0);
  }
}

TEST_F(HostileDocument, FieldsBeyondEveryWorkingSizeAreCarriedWholeOrRefused) {
  varo::sealmaker::SealSpec bigSpec = varo::testing::sealSpec(*pki_, "H5-BIG-SEAL");
  bigSpec.picture = varo::testing::Bytes(200 * 1024, 0x42);
  varo::sealmaker::SealSpec hugeSpec = bigSpec;
  hugeSpec.picture.resize(310 * 1024, 0x43);  // the seal alone is over 300 KiB
  varo::sealmaker::SealSpec longSpec =
      varo::testing::sealSpec(*pki_, std::string(300, 'I'), std::string(3000, 'N'));
  longSpec.signerCerts = {Bytes(6000, 0x30)};  // first certificate over 4096 bytes

  struct Case {
    const char* name;
    std::function<void(SignatureParts&)> change;
    int verified;
  };
  const Case cases[] = {
      {"the usual sizes", [](SignatureParts&) {}, 0},
      {"property of 5000 bytes", [](SignatureParts& p) { p.property.assign(5000, 'p'); }, 4370},
      {"signer certificate of 6000 bytes", [](SignatureParts& p) { p.cert.assign(6000, 0x30); },
       4370},
      {"digest of 400 bytes", [](SignatureParts& p) { p.digest.assign(400, 0x22); }, 4370},
      {"signature value of 400 bytes", [](SignatureParts& p) { p.value.assign(400, 0x33); }, 4370},
      {"signing time of 100 characters", [](SignatureParts& p) { p.time.assign(100, '9'); }, 4370},
      {"seal of 200 KiB", [&](SignatureParts& p) { p.seal = varo::testing::makeTestSeal(bigSpec); },
       0},
      {"seal over 300 KiB",
       [&](SignatureParts& p) { p.seal = varo::testing::makeTestSeal(hugeSpec); }, 4370},
      {"seal whose first certificate is over 4096 bytes",
       [&](SignatureParts& p) { p.seal = varo::testing::makeTestSeal(longSpec); }, 4373},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignatureParts p = parts();
    c.change(p);
    ASSERT_FALSE(p.seal.empty());
    Bytes signature = signatureOf(p, pki_->signer.key.get());
    EXPECT_EQ(verify(p.seal, p.digest, signature), c.verified);
    const std::vector<Bytes> info = checkOutputs(8, signInfo(signature));
    ASSERT_EQ(info.size(), 8u);
    EXPECT_EQ(info[1], p.seal);
    EXPECT_EQ(info[2], bytes(p.time));
    EXPECT_EQ(info[3], p.digest);
    EXPECT_EQ(info[4], bytes(p.property));
    EXPECT_EQ(info[5], p.cert);
    EXPECT_EQ(checkOutputs(1, signImage(signature)).size(), 1u);
  }
}

TEST_F(HostileDocument, SealFieldsBeyondTheirWorkingBuffersAreCarriedWhole) {
  // A maker whose subject has no common name and a one-line form far over
  // its working buffers.
  std::string subject;
  for (int i = 0; i < 12; ++i)
    subject += (i ? "," : "") + std::string("OU=") + std::string(60, 'a' + i);
  varo::testing::TestParty maker = varo::testing::makeParty(subject);
  ASSERT_FALSE(maker.certDer.empty());
  varo::sealmaker::SealSpec spec =
      varo::testing::sealSpec(*pki_, std::string(300, 'I'), std::string(1000, 'N') + "印章");
  spec.vid = std::string(500, 'V');
  spec.pictureType = std::string(300, 'T');
  spec.signerCerts = {Bytes(6000, 0x30)};
  spec.makerCert = maker.certDer;
  spec.makerKey = maker.key.get();
  Bytes seal = varo::testing::makeTestSeal(spec);
  ASSERT_FALSE(seal.empty());
  const std::vector<Bytes> info = checkOutputs(11, sealInfo(seal));
  ASSERT_EQ(info.size(), 11u);
  EXPECT_EQ(info[0], bytes(spec.esID));
  EXPECT_EQ(info[2], bytes(spec.vid));
  EXPECT_EQ(info[4], bytes(spec.name));
  EXPECT_EQ(info[5], spec.signerCerts[0]);
  // The signer name is the one-line subject, cut within its working buffer.
  EXPECT_GT(info[9].size(), 200u);
  EXPECT_LT(info[9].size(), 300u);
  EXPECT_EQ(std::string(info[9].begin(), info[9].begin() + 8), "/OU=aaaa");
}

}  // namespace
