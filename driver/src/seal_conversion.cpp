#include "seal_conversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QUuid>

#include <vector>

#include "BasicSealInfo.h"
#include "VaroDeviceBase_LM_GM3000.h"
#include "seal_index.h"
#include "varo/fd_io.h"
#include "varo/install_root.h"
#include "varo/tool_library.h"
#include "varo/unique_fd.h"

namespace gm3000 {

namespace {

// A seal larger than this does not fit on a key.
constexpr skf::ULONG kMaxSealSize = 8 * 1024 * 1024;
// The key under which seal records are encrypted.
char kRecordKey[] = "q8vtkz2#@#lmpwre73xc&bns";
// EncryptData's output is at most this much longer than its input.
constexpr int kRecordOverhead = 24;

}  // namespace

bool readThreeFileSeal(const skf::Api& api, skf::HANDLE application, QByteArray* der) {
  der->clear();
  const char* const files[] = {"PIC1", "PIC2", "PIC3"};
  for (int i = 0; i < 3; ++i) {
    QByteArray name(files[i]);
    unsigned char header[8] = {};
    skf::ULONG got = sizeof header;
    if (api.SKF_ReadFile(application, name.data(), 0, sizeof header, header, &got) != skf::SAR_OK)
      return false;
    const skf::ULONG n = skf::ULONG(header[0]) | skf::ULONG(header[1]) << 8 |
                         skf::ULONG(header[2]) << 16 | skf::ULONG(header[3]) << 24;
    if (n > kMaxSealSize - skf::ULONG(der->size())) return false;
    if (n > 0 || i == 0) {
      std::vector<unsigned char> part(n);
      got = n;
      // A failed read would make the seal of bytes that are not on the key.
      if (api.SKF_ReadFile(application, name.data(), 8, n, part.data(), &got) != skf::SAR_OK)
        return false;
      der->append(reinterpret_cast<const char*>(part.data()), int(got < n ? got : n));
    }
    writeLog(QStringLiteral("Read PIC%1 OVER").arg(i + 1));
  }
  return true;
}

TemporarySealCopy::TemporarySealCopy(const QByteArray& der)
    : path_(QDir::tempPath() + QStringLiteral("/Varo_") + QUuid::createUuid().toString()) {
  const QByteArray path = QFile::encodeName(path_);
  varo::UniqueFd fd(
      ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    writeLog(QString::fromUtf8("写临时ASN1文件失败"));
    return;
  }
  ok_ = true;
  writeLog(QStringLiteral("TEMP ASN FILE IS:") + path_);
  varo::writeAll(fd.get(), der.constData(), size_t(der.size()));
}

TemporarySealCopy::~TemporarySealCopy() {
  if (ok_) ::unlink(QFile::encodeName(path_).constData());
}

QString codecPath() {
  return QString::fromUtf8(varo::kInstallRoot) + QString::fromLatin1(varo::kCodecLibraryPath);
}

DecodeResult decodeSealIdentity(const QByteArray& der, SealIdentity* identity) {
  varo::LoadedLibrary lib(codecPath().toStdString());
  varo::PluginObject<BasicSealInfo> codec(lib);
  if (!codec) return DecodeResult::CodecMissing;
  writeLog(QStringLiteral("LOAD ASN DLL OK"));
  // The codec writes without a bound; a decoded field is never longer than
  // the DER it came from, so buffers of that size cannot be overrun.
  std::vector<char> id(size_t(der.size()) + 1, 0), name(size_t(der.size()) + 1, 0);
  const bool decoded = codec->DecodeSeal(
      reinterpret_cast<const unsigned char*>(der.constData()), der.size(), id.data(), name.data(),
      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!decoded) return DecodeResult::NotASeal;
  identity->id = QByteArray(id.data());
  identity->name = QByteArray(name.data());
  if (identity->id.size() > kMaxIdentityLength || identity->name.size() > kMaxIdentityLength)
    return DecodeResult::NotASeal;
  return DecodeResult::Decoded;
}

EncryptResult encryptSealRecord(const QByteArray& der, QByteArray* record) {
  QByteArray text = "{\"COM\":\"5\",\"ASN1\":\"" + der.toBase64() + "\",\"STANDARD\":\"1\"}";
  varo::LoadedLibrary lib(varo::toolLibraryPath());
  varo::PluginObject<ToolObject> tool(lib);
  if (!tool) return EncryptResult::ToolMissing;
  const int capacity = text.size() + kRecordOverhead;
  std::vector<unsigned char> out(size_t(capacity), 0);
  int length = capacity;
  tool->EncryptData(reinterpret_cast<unsigned char*>(text.data()), text.size(), out.data(), &length,
                    kRecordKey);
  if (length <= 0 || length > capacity) return EncryptResult::Failed;
  *record = QByteArray(reinterpret_cast<const char*>(out.data()), length);
  return EncryptResult::Encrypted;
}

OldFormResult convertOldFormSeal(const skf::Api& api, skf::HANDLE application, bool reportCodecPath,
                                 SealIdentity* identity, QByteArray* record) {
  QByteArray der;
  if (!readThreeFileSeal(api, application, &der)) return OldFormResult::Unreadable;
  TemporarySealCopy copy(der);
  switch (decodeSealIdentity(der, identity)) {
    case DecodeResult::Decoded:
      writeLog(QStringLiteral("Decode ASN OK"));
      break;
    case DecodeResult::CodecMissing:
      if (reportCodecPath) {
        writeLog(codecPath());
        writeLog(QString::fromUtf8("动态库加载失败"));
      }
      return OldFormResult::LibraryMissing;
    case DecodeResult::NotASeal:
      writeLog(QStringLiteral("Decode ASN Fail"));
      return OldFormResult::NotASeal;
  }
  // The index and the local list are JSON texts that older readers search
  // as plain text: a value that would not read back exactly is refused.
  if (!isStorableValue(QString::fromUtf8(identity->id)) ||
      !isStorableValue(QString::fromUtf8(identity->name)) || identity->id.isEmpty())
    return OldFormResult::NotStorable;
  switch (encryptSealRecord(der, record)) {
    case EncryptResult::Encrypted:
      return OldFormResult::Converted;
    case EncryptResult::ToolMissing:
      writeLog(QStringLiteral("LOAD COMMON DLL Fail"));
      return OldFormResult::LibraryMissing;
    case EncryptResult::Failed:
      writeLog(QString::fromUtf8("加密失败"));
      return OldFormResult::LibraryMissing;
  }
  return OldFormResult::LibraryMissing;
}

QString describe(OldFormResult result) {
  switch (result) {
    case OldFormResult::Converted:
      return QStringLiteral("converted");
    case OldFormResult::Unreadable:
      return QStringLiteral("its old seal files PIC1 to PIC3 cannot be read");
    case OldFormResult::NotASeal:
      return QStringLiteral("its old seal files hold no seal the codec decodes");
    case OldFormResult::NotStorable:
      return QStringLiteral(
          "the identifier or name of its old-form seal holds a character an index cannot store");
    case OldFormResult::LibraryMissing:
      return QStringLiteral("the codec ") + codecPath() +
             " or the tool library cannot be used to convert its old-form seal";
  }
  return QString();
}

}  // namespace gm3000
