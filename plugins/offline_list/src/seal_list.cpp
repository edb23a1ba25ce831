#include "seal_list.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

namespace offline_list {

namespace {

QString textOf(const QJsonValue& value) {
  return value.toVariant().toString();
}

// A value as it stands between the quotes of a JSON string: UTF-8, with the
// quotation mark, the backslash and control characters escaped, so that the
// list stays JSON whatever the values hold. Other values are unchanged.
QByteArray jsonText(const QString& value) {
  static const char kHex[] = "0123456789abcdef";
  const QByteArray utf8 = value.toUtf8();
  QByteArray out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<QByteArray> sealObjects(const QByteArray& driverList, const SignModuleFn& signModule) {
  const QJsonDocument document = QJsonDocument::fromJson(driverList);
  if (document.isNull() || !document.isArray()) return {};
  std::vector<QByteArray> objects;
  for (const QJsonValue& element : document.array()) {
    const QJsonObject seal = element.toObject();  // empty for a non-object
    const QString type = textOf(seal.value("TYPE"));
    objects.push_back("{\"SEALID\":\"" + jsonText(textOf(seal.value("ID"))) + "\",\"SEALNAME\":\"" +
                      jsonText(textOf(seal.value("NAME"))) + "\",\"STANDARD\":\"" + jsonText(type) +
                      "\",\"DLLNAME\":\"" + jsonText(signModule(type)) + "\",\"DEVICEURL\":\"" +
                      jsonText(textOf(seal.value("DEVICEURL"))) + "\"}");
  }
  return objects;
}

QByteArray joinSealList(const std::vector<QByteArray>& objects, size_t capacity, size_t* omitted) {
  QByteArray list = "[";
  size_t joined = 0;
  for (; joined < objects.size(); ++joined) {
    // The object, its separator, the closing bracket and the terminator.
    const size_t needed =
        size_t(list.size()) + (joined ? 1 : 0) + size_t(objects[joined].size()) + 2;
    if (needed > capacity) break;
    if (joined) list += ',';
    list += objects[joined];
  }
  if (omitted) *omitted = objects.size() - joined;
  return list + "]";
}

}  // namespace offline_list
