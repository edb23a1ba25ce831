// seals: the seal list the provider gets from the local service.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "commands.h"
#include "key_drivers.h"

namespace reader {

int runSeals(Context& ctx) {
  using ListFn = int (*)(unsigned char*, int*);
  auto getList = ctx.function<ListFn>("OES_GetSealList");
  if (!getList) return kNoProvider;
  if (!ctx.args.empty()) {
    ctx.out.error("usage: seals");
    return kUsage;
  }
  Bytes list;
  int rc = 0;
  if (!measureAndCopy(getList, &list, &rc)) return ctx.providerFailure("OES_GetSealList", rc);

  ctx.out.field("bytes", qint64(list.size()));
  // The list is handed on as the service wrote it; when it is the usual JSON
  // array, its seal ids are shown one by one as well.
  const QJsonDocument doc = QJsonDocument::fromJson(
      QByteArray(reinterpret_cast<const char*>(list.data()), int(list.size())));
  int n = 0;
  for (const QJsonValue& entry : doc.array()) {
    const QJsonObject seal = entry.toObject();
    if (!seal.contains("SEALID")) continue;
    ++n;
    QString line = seal.value("SEALID").toString();
    if (seal.contains("SEALNAME")) line += " (" + seal.value("SEALNAME").toString() + ")";
    ctx.out.field(QString("seal %1").arg(n), line);
  }
  ctx.out.field("seals", qint64(n));
  ctx.out.field("list", utf8Text(list));
  ctx.out.result(0);
  return n == 0 ? reportEmptyList(ctx, true) : kSuccess;
}

}  // namespace reader
