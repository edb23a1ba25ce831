#include "seal_list_exchange.h"

#include <QString>

#include "varo/json_value.h"

namespace online_list {
namespace {

constexpr const char* kNoList = "ERROR:未能查询到可用列表";
constexpr const char* kWrongCommand = "ERROR:错误的返回值1";
constexpr const char* kNoData = "ERROR:错误的返回值2";
constexpr const char* kSealListCommand = "6";

}  // namespace

QByteArray sealListRequest(const QByteArray& tokenId, const QByteArray& ip, const QByteArray& mac) {
  QByteArray request =
      "{\"COM\":\"" + QByteArray(kSealListCommand) + "\",\"TOKENID\":\"" + tokenId + "\"";
  if (!ip.isEmpty()) request += ",\"IP\":\"" + ip + "\"";
  if (!mac.isEmpty()) request += ",\"MAC\":\"" + mac + "\"";
  return request + "}";
}

QByteArray answerToReply(const QByteArray& reply) {
  if (reply.isEmpty()) return kNoList;
  // Not JSON, not an object, or COM given as a number: COM reads as empty.
  const QString json = QString::fromUtf8(reply);
  if (varo::GetJsonValue(json, "COM") != QLatin1String(kSealListCommand)) return kWrongCommand;
  const QString data = varo::GetJsonValue(json, "DATA");
  if (data.isEmpty()) return kNoData;
  // Characters outside the Base64 alphabet (line breaks, for example) are
  // skipped.
  QByteArray list = QByteArray::fromBase64(data.toLatin1());
  const int zero = list.indexOf('\0');
  if (zero >= 0) list.truncate(zero);
  // A DATA with nothing decodable carries no list either; an empty answer
  // would pass for a list.
  if (list.isEmpty()) return kNoData;
  return list;
}

}  // namespace online_list
