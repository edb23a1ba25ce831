// sign-ofd IN.ofd SEALID OUT.ofd [--page N] [--at X,Y] [--size W,H]: adds a
// seal signature to an OFD document as a reader does. The seal goes to
// Signs/Sign_N/Seal.esl of the document, the signature list gets the new
// signature, every other file of the package is referenced with its SM3,
// and the provider signs the SM3 of the new Signature.xml, with that file's
// place as the document property. IN is never changed; OUT is written whole
// or not at all.
#include "commands.h"
#include "ofd_calls.h"
#include "varo/ofd_signature.h"

namespace reader {

namespace {

namespace ofd = varo::ofd;

struct Placement {
  int page = 1;
  double x = 120, y = 220;  // the stamp's top left corner, in millimetres
  double w = 0, h = 0;      // 0: the seal picture's size
};

bool pairOf(const std::string& text, double* a, double* b) {
  const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
  bool okA = false, okB = false;
  if (parts.size() != 2) return false;
  *a = parts[0].toDouble(&okA);
  *b = parts[1].toDouble(&okB);
  return okA && okB && *a >= 0 && *b >= 0 && *a < 10000 && *b < 10000;
}

bool parseOptions(const std::vector<std::string>& args, Placement* p) {
  for (size_t i = 3; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return false;
    const std::string& value = args[i + 1];
    if (args[i] == "--page") {
      bool ok = false;
      p->page = QString::fromStdString(value).toInt(&ok);
      if (!ok || p->page < 1) return false;
    } else if (args[i] == "--at") {
      if (!pairOf(value, &p->x, &p->y)) return false;
    } else if (args[i] == "--size") {
      if (!pairOf(value, &p->w, &p->h) || p->w <= 0 || p->h <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

QString number(double v) {
  return QString::number(v, 'f', 2);
}

}  // namespace

int runSignOfd(Context& ctx) {
  Placement place;
  if (ctx.args.size() < 3 || !parseOptions(ctx.args, &place)) {
    ctx.out.error("usage: sign-ofd IN.ofd SEALID OUT.ofd [--page N] [--at X,Y] [--size W,H]");
    return kUsage;
  }
  const std::string& in = ctx.args[0];
  const std::string& sealId = ctx.args[1];
  const std::string& out = ctx.args[2];
  std::string why;
  auto package = ofd::Package::open(in, &why);
  auto layout = package ? ofd::readLayout(*package, &why) : std::nullopt;
  if (!layout) {
    ctx.out.error(QString::fromStdString(why));
    return kUsage;
  }
  if (size_t(place.page) > layout->pages.size()) {
    ctx.out.error(QString("the document has %1 pages").arg(layout->pages.size()));
    return kUsage;
  }

  // 1. The signature list: the one DocBody names, or a new one.
  std::map<std::string, QByteArray> changes;
  ofd::SignatureList list;
  std::string listEntry = layout->documentDir + "/Signs/Signatures.xml";
  if (layout->signatures) {
    listEntry = *layout->signatures;
    auto existing = ofd::readSignatureList(*package, listEntry, &why);
    if (!existing) {
      ctx.out.error(QString::fromStdString(why));
      return kUsage;
    }
    list = *existing;
    for (const ofd::SignatureEntry& s : list.signatures) {
      auto file = ofd::readSignatureFile(*package, s.signatureXml, &why);
      if (!file) {
        ctx.out.error(QString::fromStdString(why));
        return kUsage;
      }
      for (const ofd::Reference& r : file->references)
        if (ofd::resolveLocation(s.signatureXml, r.fileRef) == listEntry) {
          ctx.out.error(QString("signature %1 protects the signature list %2: a further "
                                "signature would break it")
                            .arg(s.id, ofd::absoluteLocation(listEntry)));
          return kUsage;
        }
    }
  } else {
    auto ofdXml = package->read(ofd::kOfdXml, &why);
    auto changed = ofdXml ? ofd::withSignatureList(*ofdXml, ofd::absoluteLocation(listEntry), &why)
                          : std::nullopt;
    if (!changed) {
      ctx.out.error(QString::fromStdString(why));
      return kUsage;
    }
    changes[ofd::kOfdXml] = *changed;
  }
  int n = 0;
  auto taken = [&](int k) {
    const std::string prefix = layout->documentDir + "/Signs/Sign_" + std::to_string(k) + "/";
    for (const ofd::PackageEntry& e : package->entries())
      if (e.name.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  };
  while (taken(n)) ++n;
  const std::string dir = layout->documentDir + "/Signs/Sign_" + std::to_string(n) + "/";
  const std::string signatureXml = dir + "Signature.xml", sealEsl = dir + "Seal.esl",
                    signedValue = dir + "SignedValue.dat";

  // 2. The seal, exactly as the provider gives it.
  OfdCalls calls(ctx);
  auto seal = calls.seal(sealId);
  if (!seal) return calls.failure();
  changes[sealEsl] = arrayOf(*seal);

  // 3. The list with the new signature.
  list.maxSignId += 1;
  list.signatures.push_back(
      {QString::number(list.maxSignId), QStringLiteral("Seal"), signatureXml});
  changes[listEntry] = ofd::signatureListXml(list);

  // 4. The references: every file but this signature's own two and the list.
  ofd::SignatureFile file;
  std::vector<std::string> files;
  for (const ofd::PackageEntry& e : package->entries())
    if (!e.directory) files.push_back(e.name);
  for (const auto& change : changes)
    if (!package->file(change.first)) files.push_back(change.first);
  for (const std::string& name : files) {
    if (name == listEntry || name == signatureXml || name == signedValue) continue;
    const auto changed = changes.find(name);
    auto bytes = changed != changes.end() ? std::optional<QByteArray>(changed->second)
                                          : package->read(name, &why);
    if (!bytes) {
      ctx.out.error(QString::fromStdString(why));
      return kUsage;
    }
    auto digest = calls.sm3(*bytes);
    if (!digest) return calls.failure();
    file.references.push_back(
        {ofd::absoluteLocation(name), QString::fromLatin1(arrayOf(*digest).toBase64())});
  }

  // 5. Signature.xml.
  auto method = calls.signMethod();
  auto time = method ? calls.signTime() : std::nullopt;
  if (!time ||
      !calls.providerInfo(&file.providerName, &file.providerCompany, &file.providerVersion))
    return calls.failure();
  file.signatureMethod = utf8Text(*method);
  file.signatureDateTime = utf8Text(*time);
  if (place.w <= 0) {
    int width = 0, height = 0;
    if (!calls.sealPictureSize(*seal, &width, &height)) return calls.failure();
    place.w = width > 0 ? width : 40;
    place.h = height > 0 ? height : 40;
  }
  file.stampId = QStringLiteral("1");
  file.pageRef = layout->pages[size_t(place.page - 1)].id;
  file.boundary =
      number(place.x) + " " + number(place.y) + " " + number(place.w) + " " + number(place.h);
  file.sealLoc = ofd::absoluteLocation(sealEsl);
  file.signedValueLoc = ofd::absoluteLocation(signedValue);
  const QByteArray signatureBytes = ofd::signatureXml(file);
  changes[signatureXml] = signatureBytes;

  // 6. The seal signs the SM3 of those bytes, with their place as property.
  auto digest = calls.sm3(signatureBytes);
  auto signature = digest
                       ? calls.sign(sealId, bytesOf(ofd::absoluteLocation(signatureXml).toUtf8()),
                                    *digest, *method, *time)
                       : std::nullopt;
  if (!signature) return calls.failure();
  changes[signedValue] = arrayOf(*signature);
  if (!package->writeWith(out, changes, &why)) {
    ctx.out.error(QString::fromStdString(why));
    return kUsage;
  }
  ctx.out.field("signature", ofd::absoluteLocation(signatureXml));
  ctx.out.field("references", qint64(file.references.size()));
  ctx.out.field("page", file.pageRef);
  ctx.out.field("boundary", file.boundary);
  ctx.out.field("file", QString::fromStdString(out));
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
