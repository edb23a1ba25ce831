// The parts of a seal and of a seal signature that the trust checks need,
// read with the seal maker's bounded DER reader (independent of the codec).
// Lengths written in more octets than needed are accepted here: the
// encoding check reports them, and the other checks still judge the value.
#pragma once

#include <string>
#include <vector>

#include "varo/byte_span.h"

namespace varo::trust {

struct SealParts {
  ByteSpan sealInfo;              // esealInfo, tag to end
  ByteSpan makerCertElement;      // signInfo's cert, tag to end
  ByteSpan algorithmElement;      // signInfo's signatureAlgorithm, tag to end
  ByteSpan makerCert;             // the maker certificate (DER)
  ByteSpan algorithm;             // the algorithm's object identifier octets
  ByteSpan signData;              // the signature BIT STRING's content
  std::vector<ByteSpan> holders;  // certList entries
  ByteSpan validStart, validEnd;  // UTCTime texts
};

struct SignatureParts {
  ByteSpan seal;        // eseal, tag to end
  ByteSpan time;        // timeInfo's octets
  ByteSpan signerCert;  // cert
};

// False, with *why, when the bytes do not have the structure's layout.
bool readSeal(ByteSpan der, SealParts* out, std::string* why);
bool readSignature(ByteSpan der, SignatureParts* out, std::string* why);

// Empty when der is exactly one DER value whose every length, down through
// its constructed elements, is definite and minimal; else the first fault.
std::string encodingFault(ByteSpan der);

}  // namespace varo::trust
