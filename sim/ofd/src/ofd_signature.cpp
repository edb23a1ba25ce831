#include "varo/ofd_signature.h"

#include "ofd_failure.h"

#include "varo/ofd_xml.h"

namespace varo::ofd {

namespace {

QString textOf(const Element* e) {
  return e ? e->text : QString();
}

}  // namespace

QByteArray signatureListXml(const SignatureList& list) {
  OfdWriter w;
  w.start("Signatures");
  w.text("MaxSignId", QString::number(list.maxSignId));
  for (const SignatureEntry& s : list.signatures) {
    w.start("Signature");
    w.attribute("ID", s.id);
    w.attribute("Type", s.type);
    w.attribute("BaseLoc", absoluteLocation(s.signatureXml));
    w.end();
  }
  w.end();
  return w.finish();
}

QByteArray signatureXml(const SignatureFile& s) {
  OfdWriter w;
  w.start("Signature");
  w.start("SignedInfo");
  w.start("Provider");
  w.attribute("ProviderName", s.providerName);
  w.attribute("Version", s.providerVersion);
  w.attribute("Company", s.providerCompany);
  w.end();
  w.text("SignatureMethod", s.signatureMethod);
  w.text("SignatureDateTime", s.signatureDateTime);
  w.start("References");
  w.attribute("CheckMethod", s.checkMethod);
  for (const Reference& r : s.references) {
    w.start("Reference");
    w.attribute("FileRef", r.fileRef);
    w.text("CheckValue", r.checkValue);
    w.end();
  }
  w.end();
  w.start("StampAnnot");
  w.attribute("ID", s.stampId);
  w.attribute("PageRef", s.pageRef);
  w.attribute("Boundary", s.boundary);
  w.end();
  w.start("Seal");
  w.text("BaseLoc", s.sealLoc);
  w.end();
  w.end();
  w.text("SignedValue", s.signedValueLoc);
  w.end();
  return w.finish();
}

std::optional<SignatureFile> readSignatureFile(const Package& package, const std::string& path,
                                               std::string* why) {
  std::string problem;
  const auto bytes = package.read(path, &problem);
  const auto root = bytes ? parseXml(*bytes, &problem) : std::nullopt;
  if (!root) {
    fail(why, bytes ? path + ": " + problem : problem);
    return std::nullopt;
  }
  const Element* info =
      root->isOfd(QLatin1String("Signature")) ? root->child(QLatin1String("SignedInfo")) : nullptr;
  if (!info) {
    fail(why, path + " is not a signature (ofd:Signature/ofd:SignedInfo)");
    return std::nullopt;
  }
  SignatureFile s;
  if (const Element* p = info->child(QLatin1String("Provider"))) {
    s.providerName = p->attribute(QLatin1String("ProviderName"));
    s.providerVersion = p->attribute(QLatin1String("Version"));
    s.providerCompany = p->attribute(QLatin1String("Company"));
  }
  s.signatureMethod = textOf(info->child(QLatin1String("SignatureMethod")));
  s.signatureDateTime = textOf(info->child(QLatin1String("SignatureDateTime")));
  if (const Element* refs = info->child(QLatin1String("References"))) {
    s.checkMethod = refs->attribute(QLatin1String("CheckMethod"));
    for (const Element* r : refs->childrenNamed(QLatin1String("Reference")))
      s.references.push_back(
          {r->attribute(QLatin1String("FileRef")), textOf(r->child(QLatin1String("CheckValue")))});
  }
  if (const Element* stamp = info->child(QLatin1String("StampAnnot"))) {
    s.stampId = stamp->attribute(QLatin1String("ID"));
    s.pageRef = stamp->attribute(QLatin1String("PageRef"));
    s.boundary = stamp->attribute(QLatin1String("Boundary"));
  }
  if (const Element* seal = info->child(QLatin1String("Seal")))
    s.sealLoc = textOf(seal->child(QLatin1String("BaseLoc")));
  s.signedValueLoc = textOf(root->child(QLatin1String("SignedValue")));
  return s;
}

std::optional<QByteArray> withSignatureList(const QByteArray& ofdXml, const QString& loc,
                                            std::string* why) {
  std::string problem;
  const auto root = parseXml(ofdXml, &problem);
  const Element* body = root ? root->child(QLatin1String("DocBody")) : nullptr;
  const QString text = QString::fromUtf8(ofdXml);
  if (!body || text.toUtf8() != ofdXml) {
    fail(why, root ? "OFD.xml has no DocBody, or is not UTF-8" : "OFD.xml: " + problem);
    return std::nullopt;
  }
  // The DocBody's end tag: the last "</" before the end of the element.
  const int at = text.lastIndexOf(QStringLiteral("</"), int(body->afterEnd) - 1);
  if (at < 0 || !text.midRef(at + 2).startsWith(body->qualifiedName)) {
    fail(why, "the end of DocBody cannot be found in OFD.xml");
    return std::nullopt;
  }
  QString entry = QStringLiteral("<ofd:Signatures");
  if (!body->qualifiedName.startsWith(QStringLiteral("ofd:")))
    entry += QStringLiteral(" xmlns:ofd=\"") + kOfdNamespace + QStringLiteral("\"");
  entry += QStringLiteral(">") + loc.toHtmlEscaped() + QStringLiteral("</ofd:Signatures>");
  return (text.left(at) + entry + text.mid(at)).toUtf8();
}

}  // namespace varo::ofd
