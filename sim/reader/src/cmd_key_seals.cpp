// key-seals: the seals on the attached keys through the installed offline
// seal-list plug-in; the provider is not used.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstring>
#include <vector>

#include "commands.h"
#include "varo/install_root.h"

namespace reader {

namespace {

constexpr const char* kPluginPath = "/VaroSupport/plugins/libVaroGetSealListOfficeLine.so";
// The plug-in writes its list without a bound; this holds thousands of seals.
constexpr size_t kAnswerCapacity = 1 << 20;
constexpr const char* kKeys[] = {"SEALID", "SEALNAME", "STANDARD", "DLLNAME", "DEVICEURL"};

}  // namespace

int runKeySeals(Context& ctx) {
  if (!ctx.args.empty()) {
    ctx.out.error("usage: key-seals");
    return kUsage;
  }
  const std::string path = std::string(varo::kInstallRoot) + kPluginPath;
  varo::LoadedLibrary plugin(path);
  using DoItFn = void (*)(const char*, char*);
  auto doIt = plugin.resolve<DoItFn>("DoIt");
  if (!doIt) {
    ctx.out.error(QString("cannot use the offline seal-list plug-in %1: %2")
                      .arg(QString::fromStdString(path),
                           plugin.isLoaded() ? QString("no DoIt")
                                             : QString::fromStdString(plugin.errorString())));
    return kNoProvider;
  }
  std::vector<char> buffer(kAnswerCapacity, 0);
  doIt("", buffer.data());
  const QByteArray answer(buffer.data(), int(strnlen(buffer.data(), buffer.size())));
  if (answer.startsWith("ERROR:")) {
    ctx.out.error(QString::fromUtf8(answer));
    return kProviderError;
  }
  const QJsonDocument list = QJsonDocument::fromJson(answer);
  if (!list.isArray()) {
    ctx.out.error("the offline seal-list plug-in answered no seal list: " +
                  QString::fromUtf8(answer.left(200)));
    return kProviderError;
  }

  const QJsonArray seals = list.array();
  if (ctx.out.json()) {
    ctx.out.field("seals", seals);
  } else {
    int n = 0;
    for (const QJsonValue& seal : seals) {
      QStringList values;
      for (const char* key : kKeys) values << seal.toObject().value(key).toString();
      ctx.out.field(QString("seal %1").arg(++n), values.join('\t'));
    }
  }
  ctx.out.field("count", qint64(seals.size()));
  return kSuccess;
}

}  // namespace reader
