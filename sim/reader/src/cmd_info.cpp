// info: the provider's four metadata texts, fetched as a reader does.
#include "commands.h"

namespace reader {

int runInfo(Context& ctx) {
  using Fn = int (*)(unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                     unsigned char*, int*);
  auto getInfo = ctx.function<Fn>("OES_GetProviderInfo");
  if (!getInfo) return kNoProvider;
  if (!ctx.args.empty()) {
    ctx.out.error("info takes no arguments");
    return kUsage;
  }
  int length[4] = {};
  int rc =
      getInfo(nullptr, &length[0], nullptr, &length[1], nullptr, &length[2], nullptr, &length[3]);
  if (rc != 0) return ctx.providerFailure("OES_GetProviderInfo", rc);
  Bytes text[4];
  // Buffers of exactly the measured sizes: the provider leaves the
  // terminator out when it would not fit.
  for (int i = 0; i < 4; ++i) text[i].assign(size_t(length[i] > 0 ? length[i] : 1), 0);
  rc = getInfo(text[0].data(), &length[0], text[1].data(), &length[1], text[2].data(), &length[2],
               text[3].data(), &length[3]);
  if (rc != 0) return ctx.providerFailure("OES_GetProviderInfo", rc);
  const char* keys[4] = {"name", "company", "version", "extend"};
  for (int i = 0; i < 4; ++i) {
    text[i].resize(size_t(length[i] > 0 ? length[i] : 0));
    ctx.out.field(keys[i], utf8Text(text[i]));
  }
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
