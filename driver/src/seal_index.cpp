#include "seal_index.h"

#include <QByteArray>

#include <cstring>

#include "VaroDeviceBase_LM_GM3000.h"

QString GetJsonValue(QString text, QString key, bool base64) {
  if (base64) {
    QByteArray decoded = QByteArray::fromBase64(text.toLatin1());
    const int end = decoded.indexOf('\0');
    if (end >= 0) decoded.truncate(end);
    text = QString::fromUtf8(decoded);
  }
  const int at = text.indexOf(key);
  if (key.isEmpty() || at < 0) return QString();
  const int open = text.indexOf(QStringLiteral(":\""), at);
  if (open < 0) return QString();
  const int start = open + 2;
  const int close = text.indexOf(QLatin1Char('"'), start);
  if (close < 0) return QString();
  return text.mid(start, close - start);
}

namespace gm3000 {

namespace {
const QString kEntrySeparator = QStringLiteral("},{");
}

QStringList indexEntries(const QString& indexText) {
  if (indexText.size() < 3 || !indexText.startsWith(QLatin1Char('[')) ||
      !indexText.endsWith(QLatin1Char(']')))
    return {};
  QStringList parts = indexText.mid(1, indexText.size() - 2).split(kEntrySeparator);
  // Splitting took the braces between the entries; give them back. A
  // single entry kept its own.
  for (int i = 0; parts.size() > 1 && i < parts.size(); ++i) {
    if (i > 0) parts[i].prepend(QLatin1Char('{'));
    if (i < parts.size() - 1) parts[i].append(QLatin1Char('}'));
  }
  return parts;
}

QString entriesWithLocator(const QString& inner, const QString& locator) {
  const QString pair = QStringLiteral("\"DEVICEURL\":\"") + locator + QLatin1Char('"');
  const QStringList parts = inner.split(kEntrySeparator);
  if (parts.size() == 1) return inner.left(inner.size() - 1) + QLatin1Char(',') + pair + "},";
  QString out;
  for (int i = 0; i < parts.size(); ++i) {
    if (i == 0)
      out += parts[i] + QLatin1Char(',') + pair + QLatin1Char('}');
    else if (i == parts.size() - 1)
      out += QLatin1Char('{') + pair + QLatin1Char(',') + parts[i];
    else
      out += QLatin1Char('{') + pair + QLatin1Char(',') + parts[i] + QLatin1Char('}');
    out += QLatin1Char(',');
  }
  return out;
}

QStringList listedIdentifiers(const QString& list) {
  QStringList ids;
  const QString key = QStringLiteral("\"ID\"");
  int from = 0;
  for (;;) {
    const int at = list.indexOf(key, from);
    if (at < 0) break;
    int end = list.indexOf(QLatin1Char(','), at + 4);
    if (end < 0) end = list.indexOf(QLatin1Char('}'), at + 4);
    if (end < 0) break;
    // The value between its quotation marks: from after "ID":" to before
    // the quotation mark that precedes the delimiter.
    const int start = at + 6;
    if (end - 1 > start) ids << list.mid(start, end - 1 - start);
    from = end + 1;
  }
  return ids;
}

}  // namespace gm3000

QString VaroDeviceBase_LM_GM3000::GetSealFileName(QString sealId, QString indexText) {
  for (const QString& entry : gm3000::indexEntries(indexText)) {
    const QString id = GetJsonValue(entry, QStringLiteral("ID"), false);
    if (!id.isEmpty() && id == sealId) return GetJsonValue(entry, QStringLiteral("FILENAME"), false);
  }
  return QString();
}

QString VaroDeviceBase_LM_GM3000::DeleteFromJson(QString sealId, QString indexText) {
  if (indexText.size() < 4 || !indexText.startsWith(QLatin1Char('[')) ||
      !indexText.endsWith(QLatin1Char(']')))
    return QString();
  QStringList kept;
  for (const QString& entry : gm3000::indexEntries(indexText)) {
    const QString id = GetJsonValue(entry, QStringLiteral("ID"), false);
    // An entry without an identifier goes too.
    if (!id.isEmpty() && id != sealId) kept << entry;
  }
  return QLatin1Char('[') + kept.join(QLatin1Char(',')) + QLatin1Char(']');
}
