// The provider calls of the OFD commands, each as a reader makes it (a
// measuring call, then a copying call), with the provider's code kept for
// the report.
#pragma once

#include <QByteArray>

#include <optional>

#include "reader.h"

namespace reader {

inline QByteArray arrayOf(const Bytes& b) {
  return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
}
inline Bytes bytesOf(const QByteArray& b) {
  return Bytes(b.begin(), b.end());
}

class OfdCalls {
 public:
  explicit OfdCalls(Context& ctx) : ctx_(ctx) {}

  // The SM3 of the bytes through OES_Digest; nullopt after reporting.
  std::optional<Bytes> sm3(const QByteArray& bytes);
  // OES_GetSeal of the seal id.
  std::optional<Bytes> seal(const std::string& sealId);
  // The seal picture's width and height (OES_GetSealImage).
  bool sealPictureSize(Bytes& seal, int* width, int* height);
  // OES_GetProviderInfo's name, company and version.
  bool providerInfo(QString* name, QString* company, QString* version);
  std::optional<Bytes> signMethod();
  std::optional<Bytes> signTime();
  // OES_Sign of the digest with the property, method and time; the
  // signature's DER.
  std::optional<Bytes> sign(const std::string& sealId, const Bytes& property, const Bytes& digest,
                            const Bytes& method, const Bytes& time);
  // OES_Verify's code for the seal, digest and signature.
  int verify(Bytes& seal, Bytes& digest, Bytes& signature);

  // The exit status of the last call's failure, reported: the provider's
  // code and text, or kNoProvider when the function is missing.
  int failure() {
    if (missing_) return kNoProvider;
    return ctx_.providerFailure(call_, code_);
  }

 private:
  template <class Fn>
  Fn fn(const char* name) {
    call_ = name;
    code_ = 0;
    Fn f = ctx_.function<Fn>(name);
    missing_ = !f;
    return f;
  }
  template <class Call>
  std::optional<Bytes> fetch(Call call) {
    Bytes out;
    if (!measureAndCopy(call, &out, &code_)) return std::nullopt;
    return out;
  }

  Context& ctx_;
  int code_ = 0;
  const char* call_ = "";
  bool missing_ = false;
};

}  // namespace reader
