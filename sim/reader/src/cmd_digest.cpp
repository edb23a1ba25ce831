// digest FILE: the provider's digest method and the SM3 digest of a file.
#include <QFile>

#include "commands.h"

namespace reader {

int runDigest(Context& ctx) {
  using MethodFn = int (*)(unsigned char*, int*);
  using DigestFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int*);
  auto getMethod = ctx.function<MethodFn>("OES_GetDigestMethod");
  auto digest = ctx.function<DigestFn>("OES_Digest");
  if (!getMethod || !digest) return kNoProvider;
  if (ctx.args.size() != 1) {
    ctx.out.error("usage: digest FILE");
    return kUsage;
  }
  QFile file(QString::fromLocal8Bit(ctx.args[0].c_str()));
  if (!file.open(QIODevice::ReadOnly)) {
    ctx.out.error(QString("cannot read %1: %2").arg(file.fileName(), file.errorString()));
    return kUsage;
  }
  QByteArray data = file.readAll();
  if (data.size() != file.size()) {
    ctx.out.error(QString("cannot read all of %1").arg(file.fileName()));
    return kUsage;
  }

  Bytes method;
  int rc = 0;
  if (!measureAndCopy(getMethod, &method, &rc))
    return ctx.providerFailure("OES_GetDigestMethod", rc);
  Bytes value;
  auto call = [&](unsigned char* buffer, int* length) {
    return digest(reinterpret_cast<unsigned char*>(data.data()), data.size(), method.data(),
                  int(method.size()), buffer, length);
  };
  if (!measureAndCopy(call, &value, &rc)) return ctx.providerFailure("OES_Digest", rc);

  ctx.out.field("file", file.fileName());
  ctx.out.field("bytes", qint64(data.size()));
  ctx.out.field("method", utf8Text(method));
  ctx.out.field("digest", hexText(value));
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
