#include "varo/ofd_xml.h"

#include <QXmlStreamReader>

namespace varo::ofd {

QString Element::attribute(QLatin1String local) const {
  for (const auto& [name, value] : attributes)
    if (name == local) return value;
  return QString();
}

const Element* Element::child(QLatin1String local) const {
  for (const Element& c : children)
    if (c.isOfd(local)) return &c;
  return nullptr;
}

std::vector<const Element*> Element::childrenNamed(QLatin1String local) const {
  std::vector<const Element*> out;
  for (const Element& c : children)
    if (c.isOfd(local)) out.push_back(&c);
  return out;
}

std::optional<Element> parseXml(const QByteArray& bytes, std::string* why) {
  QXmlStreamReader reader(bytes);
  std::vector<Element> open;  // the elements being read, outermost first
  std::optional<Element> root;
  auto refuse = [&](const QString& text) {
    if (why) *why = text.toStdString();
    return std::nullopt;
  };
  while (!reader.atEnd()) {
    const QXmlStreamReader::TokenType token = reader.readNext();
    switch (token) {
      case QXmlStreamReader::DTD:
        return refuse(QStringLiteral("the XML declares a document type, which is refused"));
      case QXmlStreamReader::EntityReference:
        return refuse(QStringLiteral("the XML refers to an entity, which is refused"));
      case QXmlStreamReader::StartElement: {
        if (open.size() >= size_t(kMaxXmlDepth))
          return refuse(QStringLiteral("the XML nests deeper than %1 elements").arg(kMaxXmlDepth));
        Element e;
        e.name = reader.name().toString();
        e.qualifiedName = reader.qualifiedName().toString();
        e.namespaceUri = reader.namespaceUri().toString();
        for (const QXmlStreamAttribute& a : reader.attributes())
          e.attributes.emplace_back(a.name().toString(), a.value().toString());
        open.push_back(std::move(e));
        break;
      }
      case QXmlStreamReader::Characters:
        if (!open.empty() && !reader.isWhitespace()) open.back().text += reader.text();
        break;
      case QXmlStreamReader::EndElement: {
        if (open.empty()) break;
        Element done = std::move(open.back());
        open.pop_back();
        done.text = done.text.trimmed();
        done.afterEnd = reader.characterOffset();
        if (open.empty())
          root = std::move(done);
        else
          open.back().children.push_back(std::move(done));
        break;
      }
      default:
        break;
    }
  }
  if (reader.hasError())
    return refuse(QStringLiteral("the XML is not well-formed (line %1): %2")
                      .arg(reader.lineNumber())
                      .arg(reader.errorString()));
  if (!root) return refuse(QStringLiteral("the XML holds no element"));
  return root;
}

OfdWriter::OfdWriter() : xml_(&bytes_) {
  xml_.setAutoFormatting(true);
  xml_.writeStartDocument();
  xml_.writeNamespace(kOfdNamespace, QStringLiteral("ofd"));
}

QByteArray OfdWriter::finish() {
  xml_.writeEndDocument();
  return bytes_;
}

int byteOffset(const QByteArray& bytes, qint64 characterOffset) {
  // Offsets are counted in the decoded text; count back in UTF-8.
  const QString text = QString::fromUtf8(bytes);
  if (characterOffset < 0 || characterOffset > text.size()) return -1;
  return text.left(int(characterOffset)).toUtf8().size();
}

}  // namespace varo::ofd
