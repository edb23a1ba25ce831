// The fields of a stored signature through OES_GetSignInfo.
#pragma once

#include "reader.h"

namespace reader {

using InfoFn = int (*)(unsigned char*, int, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*, unsigned char*, int*, unsigned char*, int*);

// The eight outputs of OES_GetSignInfo, in argument order.
enum Field { kVersion, kSeal, kTime, kDigest, kProperty, kCert, kMethod, kValue, kFields };

// copy false: measures every field (out[i] sized to it); copy true: fills
// the buffers sized by the measuring call. The provider's code.
int signInfo(InfoFn info, Bytes& signature, Bytes (&out)[kFields], bool copy);

// Both calls; the provider's code.
inline int readSignInfo(InfoFn info, Bytes& signature, Bytes (&out)[kFields]) {
  int rc = signInfo(info, signature, out, false);
  return rc == 0 ? signInfo(info, signature, out, true) : rc;
}

}  // namespace reader
