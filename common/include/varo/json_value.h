// Reading one text member of a small JSON object text, as the plug-ins read
// their inputs and the seal server's replies.
#pragma once

#include <QString>

namespace varo {

// The text value of member key of the JSON object text json; the empty text
// when json does not parse, is not an object, lacks the key, or the value is
// not a string (a JSON number, for example).
QString GetJsonValue(const QString& json, const QString& key);

}  // namespace varo
