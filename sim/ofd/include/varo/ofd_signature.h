// The signature files of an OFD document: the signature list, each
// signature's Signature.xml with its references (every file it protects and
// that file's SM3, in Base64), its stamp annotation and the places of its
// seal and signed value, and the entry that names the list in OFD.xml.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "varo/ofd_document.h"

namespace varo::ofd {

inline constexpr const char* kSm3CheckMethod = "1.2.156.10197.1.401";

struct Reference {
  QString fileRef;     // as written: an absolute location, "/OFD.xml"
  QString checkValue;  // Base64 of the file's SM3
};

struct SignatureFile {
  QString providerName, providerVersion, providerCompany;
  QString signatureMethod, signatureDateTime;
  QString checkMethod = QLatin1String(kSm3CheckMethod);
  std::vector<Reference> references;
  QString stampId, pageRef, boundary;  // boundary "x y w h" in millimetres
  QString sealLoc;                     // the place of Seal.esl, absolute
  QString signedValueLoc;              // the place of SignedValue.dat, absolute
};

// The XML of a signature list and of one signature, with the ofd: prefix.
QByteArray signatureListXml(const SignatureList& list);
QByteArray signatureXml(const SignatureFile& signature);

// Signature.xml at entry path; nullopt with *why when it is no signature.
std::optional<SignatureFile> readSignatureFile(const Package& package, const std::string& path,
                                               std::string* why);

// OFD.xml with an ofd:Signatures entry giving loc added at the end of its
// first DocBody; nullopt with *why when that place cannot be found.
std::optional<QByteArray> withSignatureList(const QByteArray& ofdXml, const QString& loc,
                                            std::string* why);

}  // namespace varo::ofd
