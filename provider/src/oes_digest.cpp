// OES_Digest: the plain SM3 digest of the reader's data.
#include <cstring>

#include "mySM3.h"
#include "oes_api.h"
#include "oes_helpers.h"
#include "oes_messages.h"
#include "varo/caller_buffer.h"

namespace {
constexpr char kSm3Method[] = "1.2.156.10197.1.401";
constexpr int kSm3MethodLength = sizeof kSm3Method - 1;
}  // namespace

int OES_Digest(unsigned char* data, int dataLength, unsigned char* method, int methodLength,
               unsigned char* digest, int* digestLength) {
  writeLogEx(const_cast<char*>("inGetDiges1"));
  // The method text is compared on its first 19 bytes; a longer text that
  // starts with the identifier is accepted. The method length is not part of
  // the contract (readers pass 0 or anything else there); strncmp stops at
  // the text's terminating zero, so a shorter text differs without being
  // read past its end.
  (void)methodLength;
  if (!method ||
      std::strncmp(reinterpret_cast<const char*>(method), kSm3Method, kSm3MethodLength) != 0)
    return varo::oes::kUnsupportedAlgorithm;
  if (!digestLength || dataLength < 0 || (!data && dataLength > 0)) return varo::oes::kBadArgument;

  unsigned char value[32];
  int valueLength = 0;
  mySM3::getsm3DigestWithoutCert(data, static_cast<unsigned long>(dataLength), value, &valueLength);
  auto result = varo::CallerBuffer(digest, digestLength)
                    .putChecked(varo::ByteSpan(value, static_cast<size_t>(valueLength)));
  return result == varo::CallerBuffer::Result::TooSmall ? varo::oes::kBadArgument : varo::oes::kOk;
}
