// The tool object of ToolBench.so and its getObj/freeObj factory.
#include <climits>
#include <cstring>
#include <new>

#include "record_cipher.h"
#include "tcp_exchange.h"
#include "token.h"
#include "varo/byte_span.h"
#include "varo/install_root.h"
#include "varo/tool_object.h"

namespace toolbench {
namespace {

// Callers offer reply buffers of 10240 bytes: the text and its zero fit.
constexpr size_t kReplyBufferSize = 10240;
// Callers offer 300-byte buffers for GetHomeDir and GetSignModuleName.
constexpr size_t kNameBufferSize = 300;

struct SignModule {
  const char* keyType;
  const char* moduleName;
};
constexpr SignModule kSignModules[] = {
    {"LM_GM3000", "/VaroSupport/TokenSign_LM"},
};

// Writes text with its terminator into a buffer of size bytes, or an empty
// text when it does not fit. True when the whole text was written.
bool putName(char* out, size_t size, const char* text) {
  const size_t n = std::strlen(text);
  if (n + 1 > size) {
    out[0] = 0;
    return false;
  }
  std::memcpy(out, text, n + 1);
  return true;
}

// True when text is zero-terminated within its buffer of size bytes.
bool terminatedWithin(const char* text, size_t size) {
  return text && strnlen(text, size) < size;
}

class ToolBench final : public ToolObject {
 public:
  int Reserved0() override { return 0; }
  int Reserved2() override { return 0; }
  int Reserved3() override { return 0; }
  int Reserved4() override { return 0; }
  int Reserved5() override { return 0; }
  int Reserved7() override { return 0; }

  int GetHomeDir(char* out) override {
    if (!out) return -1;
    std::string root = varo::kInstallRoot;
    while (!root.empty() && root.back() == '/') root.pop_back();
    return putName(out, kNameBufferSize, root.c_str()) ? 0 : -1;
  }

  int SendToServer(char* tokenId, char* address, char* port, char* request, char* reply,
                   char* tokenField4) override {
    (void)tokenId, (void)tokenField4;  // the token travels inside the request text
    if (!reply) return -1;
    reply[0] = 0;
    if (!request || !terminatedWithin(address, kAddressSize) || !terminatedWithin(port, kPortSize))
      return -1;
    const int portNumber = parsePort(port);
    if (portNumber == 0) return -1;
    ExchangeLimits limits;
    limits.maxReply = kReplyBufferSize - 1;
    auto answer =
        exchange(address, portNumber, varo::ByteSpan(request, std::strlen(request)), limits);
    if (!answer) return -1;
    std::memcpy(reply, answer->data(), answer->size());
    reply[answer->size()] = 0;
    return 0;
  }

  int EncryptData(unsigned char* in, int inCount, unsigned char* out, int* outLength,
                  char* key) override {
    if (!outLength) return -1;
    const int capacity = *outLength;
    *outLength = 0;
    if ((!in && inCount != 0) || inCount < 0 || capacity <= 0 ||
        static_cast<long long>(inCount) + static_cast<long long>(kRecordOverhead) > INT_MAX)
      return -1;
    size_t n = sealRecord(varo::ByteSpan(in, static_cast<size_t>(inCount)), key, out,
                          static_cast<size_t>(capacity));
    *outLength = static_cast<int>(n);
    return n ? 0 : -1;
  }

  int DecryptData(unsigned char* in, int inCount, unsigned char* out, int* outLength,
                  char* key) override {
    if (!outLength) return -1;
    const int capacity = *outLength;
    *outLength = 0;
    if (!in || inCount <= 0 || capacity < 0) return -1;
    size_t n = openRecord(varo::ByteSpan(in, static_cast<size_t>(inCount)), key, out,
                          static_cast<size_t>(capacity));
    *outLength = static_cast<int>(n);
    return n ? 0 : -1;
  }

  bool ParseToken(char* token, char* address, char* port, char* reserved, char* tokenId,
                  char* tokenField4) override {
    (void)reserved;
    if (!address || !port || !tokenId || !tokenField4) return false;
    auto parsed = parseToken(token);
    if (!parsed) return false;
    // Every field is shorter than its buffer (checked by parseToken).
    putName(address, kAddressSize, parsed->address.c_str());
    putName(port, kPortSize, parsed->port.c_str());
    putName(tokenId, kTokenIdSize, parsed->tokenId.c_str());
    putName(tokenField4, kField4Size, parsed->field4.c_str());
    return true;
  }

  int GetSignModuleName(char* keyType, char* standard, char* out) override {
    (void)standard;  // one module serves every seal standard of a key type
    if (!out) return -1;
    out[0] = 0;
    if (!terminatedWithin(keyType, kNameBufferSize)) return -1;
    for (const auto& module : kSignModules)
      if (std::strcmp(keyType, module.keyType) == 0)
        return putName(out, kNameBufferSize, module.moduleName) ? 0 : -1;
    return -1;
  }
};

}  // namespace
}  // namespace toolbench

extern "C" {
__attribute__((visibility("default"))) ToolObject* getObj() {
  return new (std::nothrow) toolbench::ToolBench();
}
__attribute__((visibility("default"))) void freeObj(ToolObject* obj) {
  delete static_cast<toolbench::ToolBench*>(obj);
}
}
