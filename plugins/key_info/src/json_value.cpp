// The plug-in's exported JSON helper: the shared reader of one text member.
#include "varo/json_value.h"
#include "VaroGetUKInfo.h"

QString GetJsonValue(QString json, QString key) {
  return varo::GetJsonValue(json, key);
}
