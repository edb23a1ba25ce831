// inspect SIGNATURE [PICTURE]: the fields of a stored signature (DER in
// SIGNATURE) through OES_GetSignInfo, and the picture of its seal through
// OES_GetSignImage, written to PICTURE when given.
#include "commands.h"
#include "seal_files.h"
#include "sign_info.h"

namespace reader {

namespace {

using ImageFn = int (*)(unsigned char*, int, int, unsigned char*, int*, int*, int*);

}  // namespace

int runInspect(Context& ctx) {
  auto info = ctx.function<InfoFn>("OES_GetSignInfo");
  auto image = ctx.function<ImageFn>("OES_GetSignImage");
  if (!info || !image) return kNoProvider;
  if (ctx.args.size() != 1 && ctx.args.size() != 2) {
    ctx.out.error("usage: inspect SIGNATURE [PICTURE]");
    return kUsage;
  }
  Bytes signature;
  if (!readWholeFile(ctx.out, ctx.args[0], &signature)) return kUsage;

  Bytes fields[kFields];
  int rc = readSignInfo(info, signature, fields);
  if (rc != 0) return ctx.providerFailure("OES_GetSignInfo", rc);
  ctx.out.field("version", utf8Text(fields[kVersion]));
  ctx.out.field("time", utf8Text(fields[kTime]));
  ctx.out.field("method", utf8Text(fields[kMethod]));
  ctx.out.field("property", utf8Text(fields[kProperty]));
  ctx.out.field("digest", hexText(fields[kDigest]));
  ctx.out.field("signature-value", hexText(fields[kValue]));
  ctx.out.field("seal-bytes", qint64(fields[kSeal].size()));
  ctx.out.field("certificate-bytes", qint64(fields[kCert].size()));

  int width = 0, height = 0;
  Bytes picture;
  auto call = [&](unsigned char* buffer, int* length) {
    return image(signature.data(), int(signature.size()), 0, buffer, length, &width, &height);
  };
  if (!measureAndCopy(call, &picture, &rc)) return ctx.providerFailure("OES_GetSignImage", rc);
  ctx.out.field("picture-bytes", qint64(picture.size()));
  ctx.out.field("width", qint64(width));
  ctx.out.field("height", qint64(height));
  if (ctx.args.size() == 2) {
    if (!writeWholeFile(ctx.out, ctx.args[1], picture)) return kUsage;
    ctx.out.field("picture", QString::fromLocal8Bit(ctx.args[1].c_str()));
  }
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
