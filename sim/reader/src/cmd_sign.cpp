// sign ID DOCUMENT OUT: signs DOCUMENT with the seal ID as a reader does:
// the SM3 digest of the document through the provider, the signing time and
// method from the provider, then the two OES_Sign calls (the first obtains
// the PIN through the local service and the buffer size, the second signs);
// the signature's DER is written to OUT. The document property is the
// document's file name.
#include <QFileInfo>

#include "commands.h"
#include "seal_files.h"

namespace reader {

namespace {

using TextFn = int (*)(unsigned char*, int*);
using DigestFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int*);
using SignFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int,
                       unsigned char*, int, unsigned char*, int, unsigned char*, int*);

Bytes bytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

}  // namespace

int runSign(Context& ctx) {
  auto digestMethod = ctx.function<TextFn>("OES_GetDigestMethod");
  auto digest = ctx.function<DigestFn>("OES_Digest");
  auto signTime = ctx.function<TextFn>("OES_GetSignDateTime");
  auto signMethod = ctx.function<TextFn>("OES_GetSignMethod");
  auto sign = ctx.function<SignFn>("OES_Sign");
  if (!digestMethod || !digest || !signTime || !signMethod || !sign) return kNoProvider;
  if (ctx.args.size() != 3) {
    ctx.out.error("usage: sign ID DOCUMENT OUT");
    return kUsage;
  }
  Bytes sealId = bytesOf(ctx.args[0]), document;
  if (!readWholeFile(ctx.out, ctx.args[1], &document)) return kUsage;

  int rc = 0;
  Bytes method, value, time, signingMethod;
  if (!measureAndCopy(digestMethod, &method, &rc))
    return ctx.providerFailure("OES_GetDigestMethod", rc);
  auto digestCall = [&](unsigned char* buffer, int* length) {
    return digest(document.data(), int(document.size()), method.data(), int(method.size()), buffer,
                  length);
  };
  if (!measureAndCopy(digestCall, &value, &rc)) return ctx.providerFailure("OES_Digest", rc);
  if (!measureAndCopy(signTime, &time, &rc)) return ctx.providerFailure("OES_GetSignDateTime", rc);
  if (!measureAndCopy(signMethod, &signingMethod, &rc))
    return ctx.providerFailure("OES_GetSignMethod", rc);
  Bytes property = bytesOf(
      QFileInfo(QString::fromLocal8Bit(ctx.args[1].c_str())).fileName().toUtf8().toStdString());

  auto signCall = [&](unsigned char* buffer, int* length) {
    return sign(sealId.data(), int(sealId.size()), property.data(), int(property.size()),
                value.data(), int(value.size()), signingMethod.data(), int(signingMethod.size()),
                time.data(), int(time.size()), buffer, length);
  };
  Bytes signature;
  if (!measureAndCopy(signCall, &signature, &rc)) return ctx.providerFailure("OES_Sign", rc);
  if (!writeWholeFile(ctx.out, ctx.args[2], signature)) return kUsage;

  ctx.out.field("seal", QString::fromUtf8(ctx.args[0].c_str()));
  ctx.out.field("digest", hexText(value));
  ctx.out.field("time", utf8Text(time));
  ctx.out.field("method", utf8Text(signingMethod));
  ctx.out.field("bytes", qint64(signature.size()));
  ctx.out.field("file", QString::fromLocal8Bit(ctx.args[2].c_str()));
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
