#include "ofd_calls.h"

namespace reader {

namespace {

using TextFn = int (*)(unsigned char*, int*);
using DigestFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int*);
using SealFn = int (*)(unsigned char*, int, unsigned char*, int*);
using ImageFn = int (*)(unsigned char*, int, int, unsigned char*, int*, int*, int*);
using InfoFn = int (*)(unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*);
using SignFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int,
                       unsigned char*, int, unsigned char*, int, unsigned char*, int*);
using VerifyFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int,
                         unsigned char*, int, unsigned char*, int, unsigned char*, int);

unsigned char* bytesOf(std::string& s) {
  return reinterpret_cast<unsigned char*>(s.data());
}

}  // namespace

std::optional<Bytes> OfdCalls::sm3(const QByteArray& bytes) {
  auto digest = fn<DigestFn>("OES_Digest");
  if (!digest) return std::nullopt;
  std::string method = "1.2.156.10197.1.401";
  QByteArray data = bytes;
  return fetch([&](unsigned char* buffer, int* length) {
    return digest(reinterpret_cast<unsigned char*>(data.data()), data.size(), bytesOf(method),
                  int(method.size()), buffer, length);
  });
}

std::optional<Bytes> OfdCalls::seal(const std::string& sealId) {
  auto get = fn<SealFn>("OES_GetSeal");
  if (!get) return std::nullopt;
  std::string id = sealId;
  return fetch([&](unsigned char* buffer, int* length) {
    return get(bytesOf(id), int(id.size()), buffer, length);
  });
}

bool OfdCalls::sealPictureSize(Bytes& seal, int* width, int* height) {
  auto image = fn<ImageFn>("OES_GetSealImage");
  if (!image) return false;
  int length = 0;
  code_ = image(seal.data(), int(seal.size()), 0, nullptr, &length, width, height);
  return code_ == 0;
}

bool OfdCalls::providerInfo(QString* name, QString* company, QString* version) {
  auto info = fn<InfoFn>("OES_GetProviderInfo");
  if (!info) return false;
  int lengths[4] = {};
  code_ =
      info(nullptr, &lengths[0], nullptr, &lengths[1], nullptr, &lengths[2], nullptr, &lengths[3]);
  if (code_ != 0) return false;
  Bytes fields[4];
  for (int i = 0; i < 4; ++i) fields[i].assign(size_t(lengths[i] > 0 ? lengths[i] : 0) + 1, 0);
  code_ = info(fields[0].data(), &lengths[0], fields[1].data(), &lengths[1], fields[2].data(),
               &lengths[2], fields[3].data(), &lengths[3]);
  if (code_ != 0) return false;
  auto text = [&](int i) {
    const size_t n = std::min(fields[i].size(), size_t(lengths[i] > 0 ? lengths[i] : 0));
    return QString::fromUtf8(reinterpret_cast<const char*>(fields[i].data()), int(n));
  };
  *name = text(0);
  *company = text(1);
  *version = text(2);
  return true;
}

std::optional<Bytes> OfdCalls::signMethod() {
  auto method = fn<TextFn>("OES_GetSignMethod");
  if (!method) return std::nullopt;
  return fetch(method);
}

std::optional<Bytes> OfdCalls::signTime() {
  auto time = fn<TextFn>("OES_GetSignDateTime");
  if (!time) return std::nullopt;
  return fetch(time);
}

std::optional<Bytes> OfdCalls::sign(const std::string& sealId, const Bytes& property,
                                    const Bytes& digest, const Bytes& method, const Bytes& time) {
  auto sign = fn<SignFn>("OES_Sign");
  if (!sign) return std::nullopt;
  std::string id = sealId;
  Bytes p = property, d = digest, m = method, t = time;
  return fetch([&](unsigned char* buffer, int* length) {
    return sign(bytesOf(id), int(id.size()), p.data(), int(p.size()), d.data(), int(d.size()),
                m.data(), int(m.size()), t.data(), int(t.size()), buffer, length);
  });
}

int OfdCalls::verify(Bytes& seal, Bytes& digest, Bytes& signature) {
  auto verify = fn<VerifyFn>("OES_Verify");
  if (!verify) return code_ = -1;
  return code_ =
             verify(seal.data(), int(seal.size()), nullptr, 0, digest.data(), int(digest.size()),
                    nullptr, 0, nullptr, 0, signature.data(), int(signature.size()));
}

}  // namespace reader
