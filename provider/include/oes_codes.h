// The result codes of the OES interface, one name per code. Their message
// texts are the table in oes_messages.h.
#pragma once

namespace varo::oes {

enum Code : int {
  kOk = 0,
  kCancelled = 16,               // the user cancelled the PIN dialog
  kBadSignatureData = 4370,      // not a seal signature
  kBadArgument = 4371,           // bad argument, or an output that does not fit
  kBadSealData = 4373,           // not a seal, or the seal does not match
  kUnsupportedAlgorithm = 4375,  // digest method other than SM3
  kInternalError = 4376,         // also an unexpected answer of the service
  kSignFailed = 4379,
  kBadPin = 4383,           // no usable PIN from the PIN dialog
  kOutsideValidity = 4384,  // signing time outside the seal's validity
  kSignatureInvalid = 4386,
  kSignerNotTrusted = 4387,
  kPinOrDevice = 4396,  // wrong PIN, or the key cannot be used
  kNoSealList = 4398,   // the service's reply names no seal list
  kNoReply = 4399,      // the service answered nothing usable
  kNoSeal = 4400,
  kLibraryMissing = 4402,  // a library the flow needs does not load
  kCertNotOnKey = 4405,
  kSealStateAbnormal = 4407,
  kServerError = 4408,
  kNeedLocalCheck = 4409,  // the service asks for a local certificate check
  kServiceUnreachable = 4410,
  kNotRegistered = 4411,
  kMakerNotTrusted = 4419,
};

}  // namespace varo::oes
