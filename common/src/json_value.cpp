#include "varo/json_value.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace varo {

QString GetJsonValue(const QString& json, const QString& key) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return QString();
  const QJsonValue value = document.object().value(key);
  return value.isString() ? value.toString() : QString();
}

}  // namespace varo
