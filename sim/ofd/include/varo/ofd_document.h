// The parts of an OFD package that signing and verification need: the
// first document of OFD.xml, its pages, and its signature list. Locations
// are resolved to entry names of the package ("/" separated, no leading
// "/"): one that starts with "/" from the package root, any other from the
// directory of the file that gives it. A location that would leave the
// package is refused.
#pragma once

#include <QString>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "varo/ofd_package.h"

namespace varo::ofd {

inline constexpr const char* kOfdXml = "OFD.xml";

struct Page {
  QString id;           // the page's ID in Document.xml
  std::string content;  // its content entry
};

struct DocumentLayout {
  std::string documentXml;                // e.g. "Doc_0/Document.xml"
  std::string documentDir;                // e.g. "Doc_0"
  std::optional<std::string> signatures;  // the signature list named in DocBody
  std::vector<Page> pages;
};

struct SignatureEntry {
  QString id;
  QString type;
  std::string signatureXml;  // the entry of its Signature.xml
};

struct SignatureList {
  qint64 maxSignId = 0;
  std::vector<SignatureEntry> signatures;
};

// The directory of an entry ("Doc_0" for "Doc_0/Document.xml"; empty at
// the package root), and the entry's absolute location ("/Doc_0/...").
std::string entryDirectory(const std::string& entry);
inline QString absoluteLocation(const std::string& entry) {
  return QStringLiteral("/") + QString::fromStdString(entry);
}

// The entry name of loc given in the file at entry `from`; nullopt when it
// is empty or would leave the package.
std::optional<std::string> resolveLocation(const std::string& from, const QString& loc);

// OFD.xml's first DocBody and its document's pages.
std::optional<DocumentLayout> readLayout(const Package& package, std::string* why);

// The signature list at entry path.
std::optional<SignatureList> readSignatureList(const Package& package, const std::string& path,
                                               std::string* why);

// The files of a small valid OFD document: OFD.xml, Doc_0/Document.xml with
// its common data, a font in Doc_0/PublicRes.xml, and `pages` pages, each
// with one line of text.
std::map<std::string, QByteArray> minimalDocument(int pages, const QString& text);

}  // namespace varo::ofd
