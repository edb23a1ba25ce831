// The XML of an OFD package, read into a small element tree. Elements are
// found by their local name in the OFD namespace, whatever prefix the file
// gives it. A document type declaration (and so any entity of its own) is
// refused, and so is nesting beyond a bound: a package's XML cannot make
// the reader expand or recurse without limit.
#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QXmlStreamWriter>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varo::ofd {

inline constexpr QLatin1String kOfdNamespace("http://www.ofdspec.org/2016", 27);
inline constexpr int kMaxXmlDepth = 64;

struct Element {
  QString name;  // local name
  QString qualifiedName;
  QString namespaceUri;
  std::vector<std::pair<QString, QString>> attributes;  // local name, value
  QString text;                                         // the text directly inside, trimmed
  std::vector<Element> children;
  qint64 afterEnd = 0;  // the character offset just after its end tag (or "/>")

  bool isOfd(QLatin1String local) const { return namespaceUri == kOfdNamespace && name == local; }
  QString attribute(QLatin1String local) const;
  // The first child, and all children, with that local name in the OFD namespace.
  const Element* child(QLatin1String local) const;
  std::vector<const Element*> childrenNamed(QLatin1String local) const;
};

// The root element of the document; nullopt with *why when it is not
// well-formed XML, declares a document type, or nests too deep.
std::optional<Element> parseXml(const QByteArray& bytes, std::string* why);

// The byte position in bytes of the character offset that parseXml reports
// (offsets count UTF-16 characters of the decoded text).
int byteOffset(const QByteArray& bytes, qint64 characterOffset);

// An XML file written with the ofd: prefix for the OFD namespace.
class OfdWriter {
 public:
  OfdWriter();
  QXmlStreamWriter& xml() { return xml_; }
  void start(const char* name) { xml_.writeStartElement(kOfdNamespace, QLatin1String(name)); }
  void attribute(const char* name, const QString& value) {
    xml_.writeAttribute(QLatin1String(name), value);
  }
  void end() { xml_.writeEndElement(); }
  void text(const char* name, const QString& value) {
    xml_.writeTextElement(kOfdNamespace, QLatin1String(name), value);
  }
  // The bytes, once every element is closed.
  QByteArray finish();

 private:
  QByteArray bytes_;
  QXmlStreamWriter xml_;
};

}  // namespace varo::ofd
