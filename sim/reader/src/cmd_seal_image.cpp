// seal-image FILE OUT: the picture of a seal (DER in FILE) written to OUT.
#include "commands.h"
#include "seal_files.h"

namespace reader {

int runSealImage(Context& ctx) {
  using ImageFn = int (*)(unsigned char*, int, int, unsigned char*, int*, int*, int*);
  auto getImage = ctx.function<ImageFn>("OES_GetSealImage");
  if (!getImage) return kNoProvider;
  if (ctx.args.size() != 2) {
    ctx.out.error("usage: seal-image FILE OUT");
    return kUsage;
  }
  Bytes seal;
  if (!readWholeFile(ctx.out, ctx.args[0], &seal)) return kUsage;
  int width = 0, height = 0;
  Bytes picture;
  int rc = 0;
  auto call = [&](unsigned char* buffer, int* length) {
    return getImage(seal.data(), int(seal.size()), 0, buffer, length, &width, &height);
  };
  if (!measureAndCopy(call, &picture, &rc)) return ctx.providerFailure("OES_GetSealImage", rc);
  if (!writeWholeFile(ctx.out, ctx.args[1], picture)) return kUsage;
  ctx.out.field("width", qint64(width));
  ctx.out.field("height", qint64(height));
  ctx.out.field("bytes", qint64(picture.size()));
  ctx.out.field("file", QString::fromLocal8Bit(ctx.args[1].c_str()));
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
