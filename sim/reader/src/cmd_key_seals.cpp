// key-seals: the seals on the attached keys through the installed offline
// seal-list plug-in; the provider is not used.
#include <vector>

#include "commands.h"
#include "key_drivers.h"
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
  int count = 0;
  const int status = printSealList(ctx, answerText(buffer),
                                   "the offline seal-list plug-in answered no seal list", &count);
  // The plug-in does not pass on why a driver listed nothing: the drivers are asked.
  return status == kSuccess && count == 0 ? reportEmptyList(ctx, false) : status;
}

}  // namespace reader
