// The message lookup and OES_GetErrMessage.
#include "oes_messages.h"

#include <algorithm>
#include <iterator>

#include "oes_api.h"
#include "oes_helpers.h"

namespace varo::oes {

namespace {
constexpr bool ascending() {
  for (size_t i = 1; i < std::size(kMessages); ++i)
    if (kMessages[i - 1].code >= kMessages[i].code) return false;
  return true;
}
static_assert(ascending(), "the lookup searches the message table by code");
}  // namespace

std::string_view messageFor(uint64_t code) {
  auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                             [](const Message& m, uint64_t c) { return m.code < c; });
  return it != std::end(kMessages) && it->code == code ? it->text : kUnknownMessage;
}

}  // namespace varo::oes

int OES_GetErrMessage(unsigned long code, unsigned char* message, int* messageLength) {
  if (!messageLength) return varo::oes::kBadArgument;
  const std::string_view text = varo::oes::messageFor(code);
  // A too-small buffer is left untouched, and that is still a success.
  CopyToEx(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()),
           message, messageLength);
  return varo::oes::kOk;
}
