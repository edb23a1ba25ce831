// DoIt: opens the driver of the requested key type, reads the key's signing
// certificate and identifier, and answers both in one JSON text.
#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "VaroDeviceBase.h"
#include "VaroGetUKInfo.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/tool_library.h"

namespace {

// Zero-filled buffers handed to the tool library and the driver.
constexpr size_t kHomeDirCapacity = 1000;
constexpr size_t kMessageCapacity = 1024;
constexpr size_t kIdentifierCapacity = 50;
// The certificate length is preset to 5120; the buffer has room for all of
// it, although the driver writes at most 4096 bytes.
constexpr int kCertificateLength = 5120;

// Certificate kinds: the container types of the key.
constexpr int kRsaCertificate = 1;
constexpr int kEccCertificate = 2;
// The one seal standard whose certificate is the RSA one.
constexpr int kRsaStandard = 4;

constexpr const char* kWrongKeyType = "ERROR:错误的印章类型";
constexpr const char* kNoStandard = "ERROR:缺少印章标准";
constexpr const char* kWrongStandard = "ERROR:错误的印章标准";
constexpr const char* kNoToolLibrary = "ERROR:加载工具库失败";
constexpr const char* kLoadFailure = "ERROR:Load Library ";
constexpr const char* kFailure = "ERROR:";

bool isKnownStandard(int standard) {
  return standard == 1 || standard == 2 || standard == 4 || standard == 7;
}

// The key type becomes part of a file name in the driver directory; one that
// could lead the path out of that directory ("/", "..") or cut it short (a
// zero character) names no driver.
bool isFileNamePart(const QString& keyType) {
  return !keyType.contains(QLatin1Char('/')) && !keyType.contains(QLatin1String("..")) &&
         !keyType.contains(QChar(0));
}

// The text in a zero-filled buffer that the callee may have filled to its end.
QByteArray textIn(const std::vector<char>& buffer) {
  return QByteArray(buffer.data(), int(strnlen(buffer.data(), buffer.size())));
}

// "ERROR:" and the driver's message for one of its result codes.
QByteArray driverFailure(VaroDeviceBase* driver, int code) {
  std::vector<char> message(kMessageCapacity, 0);
  driver->GetErrorMsg(code, message.data());
  return kFailure + textIn(message);
}

QByteArray keyInfo(const QString& keyType, const QString& standardText) {
  if (keyType.isEmpty()) return kWrongKeyType;
  if (standardText.isEmpty()) return kNoStandard;
  const int standard = standardText.toInt(nullptr, 10);  // 0 when not a number
  if (!isKnownStandard(standard)) return kWrongStandard;

  // The tool library is unloaded again before the driver is opened.
  const std::optional<std::string> home = varo::homeDirFromToolLibrary(kHomeDirCapacity);
  if (!home) return kNoToolLibrary;

  const QString path = QString::fromLocal8Bit(home->c_str()) + varo::kDriverDirectory +
                       "VaroDeviceBase_" + keyType + ".so";
  const QByteArray loadFailure = kLoadFailure + path.toUtf8();
  if (!isFileNamePart(keyType)) return loadFailure;
  varo::LoadedLibrary library(path.toLocal8Bit().toStdString());
  if (!library.isLoaded()) return loadFailure;

  QByteArray failure;
  QByteArray identifier, certificate;
  {
    varo::PluginObject<VaroDeviceBase> driver(library);
    // A library without the driver factory, or whose factory makes no
    // object, is no driver.
    if (!driver) return loadFailure;

    std::vector<unsigned char> cert(kCertificateLength, 0);
    int certLength = kCertificateLength;
    const int kind = standard == kRsaStandard ? kRsaCertificate : kEccCertificate;
    int rc = driver->ReadCert(kind, cert.data(), &certLength);
    if (rc != 0) {
      failure = driverFailure(driver.get(), rc);
    } else {
      // A reported length beyond the buffer never reads past it.
      const int length = certLength < 0 ? 0 : std::min(certLength, kCertificateLength);
      certificate = QByteArray(reinterpret_cast<const char*>(cert.data()), length).toBase64();
    }

    // Asked also after a certificate failure; its message then replaces
    // the certificate's.
    std::vector<char> id(kIdentifierCapacity, 0);
    rc = driver->GetUKID(id.data());
    if (rc != 0)
      failure = driverFailure(driver.get(), rc);
    else
      identifier = textIn(id);
  }
  if (!failure.isEmpty()) return failure;
  // The identifier's bytes pass through unchanged (Latin-1 both ways).
  return "{\"UKID\":\"" + identifier + "\",\"CERT\":\"" + certificate + "\"}";
}

}  // namespace

VaroGetUKInfo::VaroGetUKInfo() {}

void DoIt(const char* input, char* output) {
  if (!input || !output) return;
  const QString json = QString::fromUtf8(input);
  const QByteArray answer = keyInfo(GetJsonValue(json, "UKTYPE"), GetJsonValue(json, "STANDARD"));
  // constData() is zero-terminated; the terminator goes along.
  std::memcpy(output, answer.constData(), size_t(answer.size()) + 1);
}
