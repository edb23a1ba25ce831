// DoIt: lets the tool library take the token apart, sends the seal-list
// request to the token's server through it, and answers the list the server
// returns, logging each step to the client log.
#include <QByteArray>
#include <QString>

#include <cstring>
#include <vector>

#include "VaroGetSealListOnLine.h"
#include "seal_list_exchange.h"
#include "varo/client_log.h"
#include "varo/loaded_library.h"
#include "varo/tool_library.h"

namespace {

constexpr const char* kNoToolLibrary = "ERROR:加载工具库失败";
constexpr const char* kWrongToken = "ERROR:错误的口令数据";

// The reply buffer handed to the tool library, zero-filled.
constexpr size_t kReplyCapacity = 10240;

// The token's fields as the tool library's parser fills them: fixed buffers,
// zero-filled, each terminated within its size after the parse whatever the
// parser wrote.
struct TokenFields {
  char address[32] = {};
  char port[16] = {};
  char tokenId[64] = {};
  char field4[32] = {};

  void terminate() {
    address[sizeof(address) - 1] = 0;
    port[sizeof(port) - 1] = 0;
    tokenId[sizeof(tokenId) - 1] = 0;
    field4[sizeof(field4) - 1] = 0;
  }
};

// The text of a zero-terminated buffer; a null pointer is the empty text.
QByteArray textOf(const char* text) {
  return text ? QByteArray(text) : QByteArray();
}

void log(const QString& message) {
  varo::writeClientLog(message);
}

void answer(char* output, const QByteArray& text) {
  std::memcpy(output, text.constData(), size_t(text.size()) + 1);  // with the terminator
}

}  // namespace

VaroGetSealListOnLine::VaroGetSealListOnLine() {}

void DoIt(char* token, const char* ip, const char* mac, char* output) {
  if (!token || !output) return;
  const QByteArray tokenText(token);
  log("In VaroGetSealListOnLine");
  log("VaroGetSealListOnLine TOKEN:" + QString::fromLatin1(tokenText));

  varo::LoadedLibrary toolLibrary(varo::toolLibraryPath());
  varo::PluginObject<ToolObject> tool(toolLibrary);
  if (!tool) {  // not loaded, or without its factory
    answer(output, kNoToolLibrary);
    log("VaroGetSealListOnLine:加载工具库失败");
    return;
  }

  TokenFields fields;
  // The parser gets a copy: whatever it does to its argument stays there.
  QByteArray tokenArgument = tokenText;
  if (!tool->ParseToken(tokenArgument.data(), fields.address, fields.port, nullptr, fields.tokenId,
                        fields.field4)) {
    tool.release();
    toolLibrary.unload();
    answer(output, kWrongToken);
    log("VaroGetSealListOnLine:无法解析的TOKEN数据");
    return;
  }
  fields.terminate();
  log("VaroGetSealListOnLine:解析TOKEN成功");

  QByteArray request = online_list::sealListRequest(fields.tokenId, textOf(ip), textOf(mac));
  log("VaroGetSealListOnLine Send Com:" + QString::fromLatin1(request));
  log("服务器信息：" + QString::fromLatin1(fields.address) + ":" +
      QString::fromLatin1(fields.port));

  std::vector<char> reply(kReplyCapacity, 0);
  tool->SendToServer(fields.tokenId, fields.address, fields.port, request.data(), reply.data(),
                     fields.field4);
  tool.release();
  toolLibrary.unload();
  const QByteArray replyText(reply.data(), int(strnlen(reply.data(), reply.size())));
  log("VaroGetSealListOnLine Receive:" + QString::fromUtf8(replyText));

  answer(output, online_list::answerToReply(replyText));
}
