#include "varo/ofd_document.h"

#include "ofd_failure.h"

#include "varo/ofd_xml.h"

namespace varo::ofd {

namespace {

constexpr QLatin1String kDocBody("DocBody", 7);
constexpr QLatin1String kDocRoot("DocRoot", 7);
constexpr QLatin1String kSignatures("Signatures", 10);
constexpr QLatin1String kPages("Pages", 5);
constexpr QLatin1String kPage("Page", 4);
constexpr QLatin1String kSignature("Signature", 9);

std::optional<Element> readXml(const Package& package, const std::string& entry, std::string* why) {
  std::string problem;
  const auto bytes = package.read(entry, &problem);
  if (!bytes) {
    fail(why, problem);
    return std::nullopt;
  }
  auto root = parseXml(*bytes, &problem);
  if (!root) fail(why, entry + ": " + problem);
  return root;
}

}  // namespace

std::string entryDirectory(const std::string& entry) {
  const size_t slash = entry.rfind('/');
  return slash == std::string::npos ? std::string() : entry.substr(0, slash);
}

std::optional<std::string> resolveLocation(const std::string& from, const QString& loc) {
  const std::string text = loc.trimmed().toStdString();
  if (text.empty()) return std::nullopt;
  std::string name;
  if (text.front() == '/')
    name = text.substr(1);
  else
    name = entryDirectory(from).empty() ? text : entryDirectory(from) + "/" + text;
  if (!isSafeEntryName(name) || name.back() == '/') return std::nullopt;
  return name;
}

std::optional<DocumentLayout> readLayout(const Package& package, std::string* why) {
  const auto ofd = readXml(package, kOfdXml, why);
  if (!ofd) return std::nullopt;
  const Element* body = ofd->isOfd(QLatin1String("OFD")) ? ofd->child(kDocBody) : nullptr;
  const Element* docRoot = body ? body->child(kDocRoot) : nullptr;
  DocumentLayout layout;
  const auto documentXml = docRoot ? resolveLocation(kOfdXml, docRoot->text) : std::nullopt;
  if (!documentXml) {
    fail(why, "OFD.xml names no document (ofd:OFD/ofd:DocBody/ofd:DocRoot)");
    return std::nullopt;
  }
  layout.documentXml = *documentXml;
  layout.documentDir = entryDirectory(*documentXml);
  if (const Element* list = body->child(kSignatures)) {
    layout.signatures = resolveLocation(kOfdXml, list->text);
    if (!layout.signatures) {
      fail(why,
           "OFD.xml names its signature list at an unusable location: " + list->text.toStdString());
      return std::nullopt;
    }
  }
  const auto document = readXml(package, layout.documentXml, why);
  if (!document) return std::nullopt;
  const Element* pages = document->child(kPages);
  for (const Element* page : pages ? pages->childrenNamed(kPage) : std::vector<const Element*>{}) {
    const auto content =
        resolveLocation(layout.documentXml, page->attribute(QLatin1String("BaseLoc")));
    if (page->attribute(QLatin1String("ID")).isEmpty() || !content) {
      fail(why, layout.documentXml + ": a page without ID or with an unusable BaseLoc");
      return std::nullopt;
    }
    layout.pages.push_back({page->attribute(QLatin1String("ID")), *content});
  }
  if (layout.pages.empty()) {
    fail(why, layout.documentXml + " lists no page");
    return std::nullopt;
  }
  return layout;
}

std::optional<SignatureList> readSignatureList(const Package& package, const std::string& path,
                                               std::string* why) {
  const auto root = readXml(package, path, why);
  if (!root) return std::nullopt;
  if (!root->isOfd(kSignatures)) {
    fail(why, path + " is not a signature list (ofd:Signatures)");
    return std::nullopt;
  }
  SignatureList list;
  if (const Element* max = root->child(QLatin1String("MaxSignId")))
    list.maxSignId = max->text.toLongLong();
  for (const Element* s : root->childrenNamed(kSignature)) {
    const auto xml = resolveLocation(path, s->attribute(QLatin1String("BaseLoc")));
    if (!xml) {
      fail(why, path + ": signature " + s->attribute(QLatin1String("ID")).toStdString() +
                    " has an unusable BaseLoc");
      return std::nullopt;
    }
    list.signatures.push_back(
        {s->attribute(QLatin1String("ID")), s->attribute(QLatin1String("Type")), *xml});
  }
  return list;
}

std::map<std::string, QByteArray> minimalDocument(int pages, const QString& text) {
  std::map<std::string, QByteArray> files;
  {
    OfdWriter w;
    w.start("OFD");
    w.xml().writeAttribute(QStringLiteral("Version"), QStringLiteral("1.0"));
    w.xml().writeAttribute(QStringLiteral("DocType"), QStringLiteral("OFD"));
    w.start("DocBody");
    w.start("DocInfo");
    w.text("DocID", QStringLiteral("6f0d3c5a1e2b4f7a9c8d0e1f2a3b4c5d"));
    w.text("Creator", QStringLiteral("oes-reader make-ofd"));
    w.end();
    w.text("DocRoot", QStringLiteral("Doc_0/Document.xml"));
    w.end();
    w.end();
    files[kOfdXml] = w.finish();
  }
  // Object IDs: 1 the font, then for each page its own, its layer's and
  // its text's.
  const int maxUnitId = 1 + 3 * pages;
  {
    OfdWriter w;
    w.start("Document");
    w.start("CommonData");
    w.text("MaxUnitID", QString::number(maxUnitId));
    w.start("PageArea");
    w.text("PhysicalBox", QStringLiteral("0 0 210 297"));
    w.end();
    w.text("PublicRes", QStringLiteral("PublicRes.xml"));
    w.end();
    w.start("Pages");
    for (int i = 0; i < pages; ++i) {
      w.start("Page");
      w.xml().writeAttribute(QStringLiteral("ID"), QString::number(2 + 3 * i));
      w.xml().writeAttribute(QStringLiteral("BaseLoc"),
                             QStringLiteral("Pages/Page_%1/Content.xml").arg(i));
      w.end();
    }
    w.end();
    w.end();
    files["Doc_0/Document.xml"] = w.finish();
  }
  {
    OfdWriter w;
    w.start("Res");
    w.xml().writeAttribute(QStringLiteral("BaseLoc"), QStringLiteral("Res"));
    w.start("Fonts");
    w.start("Font");
    w.xml().writeAttribute(QStringLiteral("ID"), QStringLiteral("1"));
    w.xml().writeAttribute(QStringLiteral("FontName"), QStringLiteral("SimSun"));
    w.xml().writeAttribute(QStringLiteral("FamilyName"), QStringLiteral("SimSun"));
    w.end();
    w.end();
    w.end();
    files["Doc_0/PublicRes.xml"] = w.finish();
  }
  for (int i = 0; i < pages; ++i) {
    OfdWriter w;
    w.start("Page");
    w.start("Content");
    w.start("Layer");
    w.xml().writeAttribute(QStringLiteral("ID"), QString::number(3 + 3 * i));
    w.start("TextObject");
    w.xml().writeAttribute(QStringLiteral("ID"), QString::number(4 + 3 * i));
    w.xml().writeAttribute(QStringLiteral("Boundary"), QStringLiteral("20 20 170 10"));
    w.xml().writeAttribute(QStringLiteral("Font"), QStringLiteral("1"));
    w.xml().writeAttribute(QStringLiteral("Size"), QStringLiteral("5"));
    w.start("TextCode");
    w.xml().writeAttribute(QStringLiteral("X"), QStringLiteral("0"));
    w.xml().writeAttribute(QStringLiteral("Y"), QStringLiteral("5"));
    w.xml().writeCharacters(text + QStringLiteral(" (%1/%2)").arg(i + 1).arg(pages));
    w.end();
    w.end();
    w.end();
    w.end();
    w.end();
    files["Doc_0/Pages/Page_" + std::to_string(i) + "/Content.xml"] = w.finish();
  }
  return files;
}

}  // namespace varo::ofd
