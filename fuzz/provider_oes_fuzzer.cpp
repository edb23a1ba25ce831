// The provider's OES exports on fuzzed signatures and seals, called as a
// reader calls them: a measuring call, then a copying call into buffers of
// exactly the measured sizes, or with one buffer a byte short (the call must
// refuse and write nothing), or with small fixed buffers. OES_Verify on a
// signature with a seal and digest of its own and with the seal and digest
// it embeds; a signature that holds must fail for any other digest.
//
// The provider loads the tool library and the codec from the installed tree
// on every call; the target keeps both loaded for the whole run, so that each
// call only takes another reference (and the fuzzer's coverage counters of
// the codec are never unloaded). Verification asks the signing service on
// port 9990 once a signature holds: the target moves itself into a network
// namespace of its own when it may, where nothing listens and nobody else's
// service is reached.
#include <sched.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "fuzz_resident.h"
#include "oes_api.h"

using varo::fuzz::ExactBuffer;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr int kBadArgument = 4371;
constexpr int kBadSignatureData = 4370;
constexpr int kBadSealData = 4373;
constexpr int kSignatureInvalid = 4386;
// Room of every buffer in the small fixed variant.
constexpr size_t kSmallBuffer = 32;

bool untouched(const ExactBuffer& b) {
  for (size_t i = 0; i < b.size(); ++i)
    if (b.data()[i] != 0xA5) return false;
  return true;
}

// The reader's way with N output pairs. variant picks the copying call:
// below N, that output's buffer a byte short (when it has two bytes or
// more); N, exact buffers; N + 1, small fixed buffers. The bytes copied by
// a successful copying call go to copied. Returns the measuring call's
// result, or that of the copying call.
template <size_t N, class Call>
int measureAndCopy(Call call, unsigned variant, std::vector<std::string>* copied = nullptr) {
  unsigned char* buffers[N] = {};
  int lengths[N] = {};
  int rc = call(buffers, lengths);
  if (rc != 0) return rc;
  int measured[N];
  for (size_t i = 0; i < N; ++i) {
    check(lengths[i] >= 0);
    measured[i] = lengths[i];
  }

  const size_t pick = variant % (N + 2);
  const bool small = pick == N + 1;
  bool shortened = false;
  std::vector<ExactBuffer> room;
  room.reserve(N);
  for (size_t i = 0; i < N; ++i) {
    size_t size = small ? kSmallBuffer : size_t(measured[i]);
    if (pick == i && size >= 2) {
      --size;
      shortened = true;
    }
    room.emplace_back(size);
    buffers[i] = size ? room[i].data() : nullptr;
    lengths[i] = int(size);
  }
  rc = call(buffers, lengths);
  const bool mayRefuse = shortened || small;
  check(rc == 0 || (mayRefuse && rc == kBadArgument));
  if (rc != 0) {
    // Refused: nothing written, no length changed.
    for (size_t i = 0; i < N; ++i) check(untouched(room[i]) && lengths[i] == room[i].length());
    return rc;
  }
  check(!shortened);
  for (size_t i = 0; i < N; ++i) check(lengths[i] == measured[i]);
  if (copied) {
    copied->clear();
    for (size_t i = 0; i < N; ++i) copied->emplace_back(room[i].text(), size_t(measured[i]));
  }
  return 0;
}

// The eight outputs of OES_GetSignInfo.
enum SignField { kVersion, kSeal, kTime, kDigest, kProperty, kCert, kMethod, kValue, kSignFields };

int signInfo(ExactBuffer& signature, unsigned variant, std::vector<std::string>* fields) {
  return measureAndCopy<kSignFields>(
      [&](unsigned char** b, int* l) {
        return OES_GetSignInfo(signature.data(), signature.length(), b[0], &l[0], b[1], &l[1], b[2],
                               &l[2], b[3], &l[3], b[4], &l[4], b[5], &l[5], b[6], &l[6], b[7],
                               &l[7]);
      },
      variant, fields);
}

int signImage(ExactBuffer& signature, unsigned variant) {
  int width = -1, height = -1;
  return measureAndCopy<1>(
      [&](unsigned char** b, int* l) {
        return OES_GetSignImage(signature.data(), signature.length(), 0, b[0], &l[0], &width,
                                &height);
      },
      variant);
}

int sealInfo(ExactBuffer& seal, unsigned variant) {
  return measureAndCopy<11>(
      [&](unsigned char** b, int* l) {
        return OES_GetSealInfo(seal.data(), seal.length(), b[0], &l[0], b[1], &l[1], b[2], &l[2],
                               b[3], &l[3], b[4], &l[4], b[5], &l[5], b[6], &l[6], b[7], &l[7],
                               b[8], &l[8], b[9], &l[9], b[10], &l[10]);
      },
      variant);
}

int verify(ExactBuffer& seal, ExactBuffer& digest, ExactBuffer& signature) {
  // The reader's own property, method and time, which the provider ignores.
  static unsigned char property[] = "property", method[] = "1.2.156.10197.1.501",
                       time[] = "250304050607Z";
  const int rc = OES_Verify(seal.data(), seal.length(), property, int(sizeof property - 1),
                            digest.data(), digest.length(), method, int(sizeof method - 1), time,
                            int(sizeof time - 1), signature.data(), signature.length());
  check(rc == 0 || rc == kBadSignatureData || rc == kBadSealData || rc == kSignatureInvalid ||
        rc == 4384 || rc == 4387 || rc == 4419);
  return rc;
}

ExactBuffer exact(const std::string& bytes) {
  return ExactBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A signature checked against the seal and digest it embeds; when it
// holds, the same call with the digest's last byte changed must not.
void verifyOwn(ExactBuffer& signature, unsigned variant) {
  std::vector<std::string> fields;
  if (signInfo(signature, kSignFields, &fields) != 0) return;
  ExactBuffer seal = exact(fields[kSeal]);
  ExactBuffer digest = exact(fields[kDigest]);
  if (verify(seal, digest, signature) != 0 || digest.size() == 0) return;
  digest.data()[digest.size() - 1] ^= uint8_t(1 + variant % 255);
  check(verify(seal, digest, signature) == kSignatureInvalid);
}

// Moves the process into a network namespace of its own: as root directly,
// else inside a user namespace of its own. Neither may be allowed; then
// nothing listening on port 9990 is what keeps verification local.
void privateNetwork() {
  if (::unshare(CLONE_NEWNET) == 0) return;
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0) return;
  std::fprintf(stderr, "provider_oes: no network namespace of its own; port 9990 must be free\n");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  privateNetwork();
  varo::fuzz::keepResident({varo::kToolLibraryPath, "/sealstruct/libSesSealStru.so"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the export, the second the reader's buffers.
  const varo::fuzz::Choice choice = varo::fuzz::choose(data, size, 5);
  const varo::fuzz::Choice variant = varo::fuzz::choose(choice.data, choice.size, 256);
  ExactBuffer input(variant.data, variant.size);
  switch (choice.which) {
    case 0:
      signInfo(input, variant.which, nullptr);
      break;
    case 1:
      signImage(input, variant.which);
      break;
    case 2:
      sealInfo(input, variant.which);
      break;
    case 3: {
      // Parts: signature, seal, digest.
      const std::vector<std::string> parts = varo::fuzz::splitParts(variant.data, variant.size, 3);
      ExactBuffer signature = exact(parts[0]), seal = exact(parts[1]), digest = exact(parts[2]);
      verify(seal, digest, signature);
      break;
    }
    default:
      verifyOwn(input, variant.which);
      break;
  }
  return 0;
}
