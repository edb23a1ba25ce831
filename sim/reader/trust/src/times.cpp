// Times of the trust checks: UTC seconds from the texts seals, signatures,
// certificates and the command line use.
#include <openssl/asn1.h>

#include <cctype>
#include <ctime>

#include "trust_internal.h"
#include "varo/trust_checks.h"

namespace varo::trust {

namespace {

using Asn1TimePtr = OpenSslPtr<ASN1_TIME, ASN1_TIME_free>;

bool digitsAndZ(std::string_view t) {
  if (t.empty() || t.back() != 'Z') return false;
  for (size_t i = 0; i + 1 < t.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
  return true;
}

}  // namespace

std::optional<int64_t> timeOf(const ASN1_TIME* t) {
  std::tm tm{};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return std::nullopt;
  return int64_t(timegm(&tm));
}

std::optional<int64_t> parseTime(std::string_view text) {
  std::string compact;
  if (text.size() == 20 && text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' &&
      text[16] == ':') {
    for (char c : text)
      if (c != '-' && c != ':' && c != 'T') compact += c;
  } else {
    compact = std::string(text);
  }
  // UTCTime (two-digit year, 1950 to 2049) or GeneralizedTime, as in X.509.
  if ((compact.size() != 13 && compact.size() != 15) || !digitsAndZ(compact)) return std::nullopt;
  Asn1TimePtr t(ASN1_TIME_new());
  if (!t || ASN1_TIME_set_string_X509(t.get(), compact.c_str()) != 1) return std::nullopt;
  return timeOf(t.get());
}

std::string timeText(int64_t t) {
  const std::time_t tt = std::time_t(t);
  std::tm tm{};
  char text[32] = {};
  if (!gmtime_r(&tt, &tm) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm))
    return "?";
  return text;
}

}  // namespace varo::trust
