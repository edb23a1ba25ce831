// What the two conversions of a key's old three-file seal share: reading
// "PIC1" to "PIC3", a temporary copy of the seal DER, the seal's identifier
// and name from the codec, and the seal record encrypted by the tool
// library.
#pragma once

#include <QByteArray>
#include <QString>

#include "key_access.h"

namespace gm3000 {

// The seal DER: the payloads of "PIC1", "PIC2" and "PIC3" in order, each
// file an 8-byte little-endian length and the payload. False when a header
// cannot be read, a payload read fails, or the seal would be larger than a
// key can hold.
bool readThreeFileSeal(const skf::Api& api, skf::HANDLE application, QByteArray* der);

// A copy of the seal DER in the system's temporary directory, named "Varo_"
// and a braced random UUID, created exclusively with mode 0600 (no link
// followed) and removed when the object goes.
class TemporarySealCopy {
 public:
  explicit TemporarySealCopy(const QByteArray& der);
  ~TemporarySealCopy();
  TemporarySealCopy(const TemporarySealCopy&) = delete;
  TemporarySealCopy& operator=(const TemporarySealCopy&) = delete;
  bool ok() const { return ok_; }
  const QString& path() const { return path_; }

 private:
  QString path_;
  bool ok_ = false;
};

// The longest identifier and name a conversion accepts, in bytes.
inline constexpr int kMaxIdentityLength = 99;

struct SealIdentity {
  QByteArray id;    // esID as the codec gives it
  QByteArray name;  // the seal name
};

enum class DecodeResult { Decoded, CodecMissing, NotASeal };

// The codec library's path below the installation directory.
QString codecPath();

// Decodes der with the codec and takes its identifier and name. NotASeal
// also for an identifier or name longer than kMaxIdentityLength.
DecodeResult decodeSealIdentity(const QByteArray& der, SealIdentity* identity);

enum class EncryptResult { Encrypted, ToolMissing, Failed };

// The seal record of der: {"COM":"5","ASN1":"<base64>","STANDARD":"1"}
// encrypted with the tool library.
EncryptResult encryptSealRecord(const QByteArray& der, QByteArray* record);

enum class OldFormResult {
  Converted,       // identity and record filled
  Unreadable,      // "PIC1" to "PIC3" could not be read
  NotASeal,        // they hold no seal the codec decodes
  NotStorable,     // its identifier or name cannot be stored in an index
  LibraryMissing,  // the codec or the tool library does not load
};

// Every step of a conversion up to the seal record: reads the old
// three-file seal of the open application, keeps its temporary copy while
// it is decoded, takes its identifier and name and encrypts its record.
OldFormResult convertOldFormSeal(const skf::Api& api, skf::HANDLE application, bool reportCodecPath,
                                 SealIdentity* identity, QByteArray* record);

// The text of a report on a conversion that did not succeed.
QString describe(OldFormResult result);

}  // namespace gm3000
