// OES_GetSealList: the seal list the local service gathers on request and
// leaves in /tmp/varo.list, handed to the reader unchanged.
#include "oes_api.h"
#include "oes_codes.h"
#include "service_client.h"
#include "service_files.h"
#include "varo/caller_buffer.h"

using namespace varo::oes;

namespace {

constexpr size_t kListReplyCapacity = 10240;

}  // namespace

int OES_GetSealList(unsigned char* list, int* listLength) {
  using namespace varo::service;
  varo::CallerBuffer out(list, listLength);
  if (!out.hasLength()) return kBadArgument;

  if (out.hasBuffer()) {
    // Second call: the list as the first call left it; the service is not
    // asked again.
    std::optional<std::string> bytes = readServiceFile(kListFile, kListReadLimit);
    if (!bytes) return kNoSeal;
    if (out.putSized(varo::ByteSpan(*bytes)) == varo::CallerBuffer::Result::TooSmall)
      return kBadArgument;
    return bytes->empty() ? kNoSeal : 0;
  }

  // First call: the service gathers the seals and rewrites the list file.
  std::string reply;
  if (exchange(buildCommand(1, nullptr, nullptr, nullptr), &reply, kListReplyCapacity) !=
      varo::service::kOk)
    return kServiceUnreachable;
  if (reply.find("SEALLIST") == std::string::npos) return kNoSealList;
  std::optional<std::string> bytes = readServiceFile(kListFile, kListReadLimit);
  if (!bytes) return kNoSeal;
  out.setLength(int(bytes->size()));
  return bytes->empty() ? kNoSeal : 0;
}
