// The trust checks a reader makes beyond OES_Verify, which by its contract
// accepts any signer: that the signature and the seal are strict DER, that
// the seal's maker signed it, that the signer is one of the seal's holders,
// that the signing time lies in the seal's and the certificates' validity,
// and that both certificates chain to a CA the reader trusts. Each check
// gives its own verdict and reason.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "varo/byte_span.h"

namespace varo::trust {

enum class Verdict { kHeld, kFailed, kUndecided };
const char* verdictText(Verdict v);  // "held", "failed", "undecided"

struct CheckResult {
  const char* name;  // "encoding", "maker", "holder", "seal-validity", ...
  Verdict verdict;
  std::string reason;
};

// The CAs a reader trusts: certificates from PEM or DER files, or from
// every file of a directory that holds certificates. A chain must end at a
// self-signed certificate of the store; intermediate CAs may be in it too.
class TrustStore {
 public:
  // Null, with *error set, when a file cannot be read, a file given by name
  // holds no certificate, or the store would be empty.
  static std::unique_ptr<TrustStore> load(const std::vector<std::string>& paths,
                                          std::string* error);
  ~TrustStore();
  size_t size() const;

  // Whether cert (DER) chains to a trusted CA, verified by OpenSSL's X.509
  // verification at time `at` (any time when absent). The certificate's own
  // validity is left to the validity check. *detail: the CA reached, or why
  // not.
  bool chains(ByteSpan cert, std::optional<int64_t> at, std::string* detail) const;

 private:
  struct State;
  explicit TrustStore(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

struct CheckOptions {
  std::optional<int64_t> at;          // the signing time to judge by, instead of the signature's
  const TrustStore* trust = nullptr;  // none given: the chain is not decided
};

// The checks in their fixed order, for a signature (its DER) and the seal
// it is verified with (DER as given). The seal inside the signature is the
// one judged, and it is also held to strict DER.
std::vector<CheckResult> runChecks(ByteSpan seal, ByteSpan signature, const CheckOptions& options);

bool allHeld(const std::vector<CheckResult>& results);

// A time as UTC seconds from "YYMMDDhhmmssZ", "YYYYMMDDhhmmssZ" or
// "YYYY-MM-DDThh:mm:ssZ"; nullopt when the text is none of these.
std::optional<int64_t> parseTime(std::string_view text);
// "YYYY-MM-DD hh:mm:ss UTC".
std::string timeText(int64_t t);

}  // namespace varo::trust
