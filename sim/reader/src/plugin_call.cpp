#include "plugin_call.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstring>

#include "commands.h"

namespace reader {

namespace {
constexpr const char* kSealKeys[] = {"SEALID", "SEALNAME", "STANDARD", "DLLNAME", "DEVICEURL"};
}  // namespace

void InstalledPlugin::reportMissing(Context& ctx, const char* what) const {
  ctx.out.error(QString("cannot use the %1 plug-in %2: %3")
                    .arg(what, QString::fromStdString(path_),
                         lib_.isLoaded() ? QString("no DoIt")
                                         : QString::fromStdString(lib_.errorString())));
}

QByteArray answerText(const std::vector<char>& buffer) {
  return QByteArray(buffer.data(), int(strnlen(buffer.data(), buffer.size())));
}

int printSealList(Context& ctx, const QByteArray& answer, const QString& noList, int* count) {
  if (count) *count = 0;
  if (answer.startsWith("ERROR:")) {
    ctx.out.error(QString::fromUtf8(answer));
    return kProviderError;
  }
  const QJsonDocument list = QJsonDocument::fromJson(answer);
  if (!list.isArray()) {
    ctx.out.error(noList + ": " + QString::fromUtf8(answer.left(200)));
    return kProviderError;
  }
  const QJsonArray seals = list.array();
  if (ctx.out.json()) {
    ctx.out.field("seals", seals);
  } else {
    int n = 0;
    for (const QJsonValue& seal : seals) {
      QStringList values;
      for (const char* key : kSealKeys) values << seal.toObject().value(key).toString();
      ctx.out.field(QString("seal %1").arg(++n), values.join('\t'));
    }
  }
  ctx.out.field("count", qint64(seals.size()));
  if (count) *count = int(seals.size());
  return kSuccess;
}

}  // namespace reader
