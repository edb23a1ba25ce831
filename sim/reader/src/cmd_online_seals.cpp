// online-seals TOKEN [IP] [MAC]: the seals a seal server offers for a token,
// through the installed online seal-list plug-in; the provider is not used.
#include <string>
#include <vector>

#include "commands.h"
#include "plugin_call.h"

namespace reader {

namespace {
// The plug-in writes its list without a bound; the server's reply it decodes
// is at most 10239 bytes, far below this.
constexpr size_t kAnswerCapacity = 1 << 20;
}  // namespace

int runOnlineSeals(Context& ctx) {
  if (ctx.args.empty() || ctx.args.size() > 3) {
    ctx.out.error("usage: online-seals TOKEN [IP] [MAC]");
    return kUsage;
  }
  InstalledPlugin plugin("/VaroSupport/plugins/libVaroGetSealListOnLine.so");
  auto doIt = plugin.doIt<void (*)(char*, const char*, const char*, char*)>(ctx, "online seal-list");
  if (!doIt) return kNoProvider;
  std::string token = ctx.args[0];  // DoIt takes a writable text
  const char* ip = ctx.args.size() > 1 ? ctx.args[1].c_str() : nullptr;
  const char* mac = ctx.args.size() > 2 ? ctx.args[2].c_str() : nullptr;
  std::vector<char> buffer(kAnswerCapacity, 0);
  doIt(token.data(), ip, mac, buffer.data());
  return printSealList(ctx, answerText(buffer), "the seal server sent no seal list");
}

}  // namespace reader
