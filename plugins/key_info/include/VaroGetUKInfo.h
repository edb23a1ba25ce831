// The key-info plug-in: the identifier and the signing certificate of the USB
// key attached now, for a given key type and seal standard. Its one entry is
// DoIt, resolved by name by a caller outside the system.
#pragma once

#include <QString>

#define VAROGETUKINFO_EXPORT __attribute__((visibility("default")))

class VAROGETUKINFO_EXPORT VaroGetUKInfo {
 public:
  VaroGetUKInfo();
};

// The text value of member key of the JSON object text json; the empty text
// when json does not parse, is not an object, lacks the key, or the value is
// not a string.
VAROGETUKINFO_EXPORT QString GetJsonValue(QString json, QString key);

// input: {"UKTYPE":"<key type>","STANDARD":"<1, 2, 4 or 7>"}.
// output, zero-terminated: {"UKID":"<identifier>","CERT":"<Base64 DER>"}
// (Latin-1), or a UTF-8 text that begins with "ERROR:". The output is
// written without a bound: the caller's buffer must hold a Base64
// certificate of up to 5120 bytes. Null pointers: nothing is done.
extern "C" VAROGETUKINFO_EXPORT void DoIt(const char* input, char* output);
