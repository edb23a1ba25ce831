// key-seals: the seals on the attached keys through the installed offline
// seal-list plug-in; the provider is not used.
#include <vector>

#include "commands.h"
#include "plugin_call.h"

namespace reader {

namespace {
// The plug-in writes its list without a bound; this holds thousands of seals.
constexpr size_t kAnswerCapacity = 1 << 20;
}  // namespace

int runKeySeals(Context& ctx) {
  if (!ctx.args.empty()) {
    ctx.out.error("usage: key-seals");
    return kUsage;
  }
  InstalledPlugin plugin("/VaroSupport/plugins/libVaroGetSealListOfficeLine.so");
  auto doIt = plugin.doIt<void (*)(const char*, char*)>(ctx, "offline seal-list");
  if (!doIt) return kNoProvider;
  std::vector<char> buffer(kAnswerCapacity, 0);
  doIt("", buffer.data());
  return printSealList(ctx, answerText(buffer), "the offline seal-list plug-in answered no seal list");
}

}  // namespace reader
