// The derived texts the codec reports: decimal numbers, object identifiers
// and the seal type.
#pragma once

#include <openssl/asn1.h>

#include <string>

namespace ses {

// Longest texts, terminator included, as the callers size their buffers.
inline constexpr size_t kDecimalTextSize = 10;
inline constexpr size_t kObjectTextSize = 100;

// Decimal text of a value; a value whose text would not fit kDecimalTextSize
// bytes with its terminator is reported as "-1", the text of a value that
// cannot be converted.
std::string decimalText(long value);

// Dotted numeric form of an object identifier, cut to kObjectTextSize - 1
// characters.
std::string objectText(const ASN1_OBJECT* object);

// "单位公章" for 1, "个人印章" for 2, "未知类型" otherwise (UTF-8).
const char* sealTypeText(long type);

// The signature algorithm the codec writes: SM2 signature with SM3.
inline constexpr const char* kSm2WithSm3Oid = "1.2.156.10197.1.501";

}  // namespace ses
