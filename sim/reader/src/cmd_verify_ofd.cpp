// verify-ofd FILE.ofd: checks every signature of an OFD document, in the
// order of its signature list: each reference (the file is there and its
// SM3 is the one recorded), the seal (Seal.esl is the seal inside the
// signed value), the signature (it signs the SM3 of Signature.xml, and
// OES_Verify accepts it), and what it does not cover: files added after it
// other than later signatures' own. Then the files no signature protects
// and the verdict. Exit 0 only when every signature is whole. With
// --strict, every signature also gets the trust checks beyond OES_Verify.
#include <QJsonObject>

#include <set>

#include "commands.h"
#include "ofd_calls.h"
#include "sign_info.h"
#include "strict_checks.h"
#include "varo/ofd_signature.h"

namespace reader {

namespace {

namespace ofd = varo::ofd;

struct Checked {
  QJsonObject report;
  bool whole = true;
  std::set<std::string> referenced;
  std::vector<varo::trust::CheckResult> checks;

  void problem(QJsonArray& list, const QString& text) {
    list.append(text);
    whole = false;
  }
};

}  // namespace

int runVerifyOfd(Context& ctx) {
  StrictChecks strict;
  if (!strict.takeOptions(ctx)) return kUsage;
  if (ctx.args.size() != 1) {
    ctx.out.error("usage: verify-ofd FILE.ofd [--strict [--trust PATH]... [--at TIME]] [--json]");
    return kUsage;
  }
  std::string why;
  auto package = ofd::Package::open(ctx.args[0], &why);
  auto layout = package ? ofd::readLayout(*package, &why) : std::nullopt;
  auto list = layout && layout->signatures
                  ? ofd::readSignatureList(*package, *layout->signatures, &why)
                  : std::nullopt;
  if (layout && !layout->signatures) why = "the document carries no signature list";
  if (!list) {
    ctx.out.error(QString::fromStdString(why));
    return kUsage;
  }
  auto info = ctx.function<InfoFn>("OES_GetSignInfo");
  if (!info) return kNoProvider;
  OfdCalls calls(ctx);

  std::vector<std::string> files;
  for (const ofd::PackageEntry& e : package->entries())
    if (!e.directory) files.push_back(e.name);
  // Files that stand protected without a reference: the list itself, and
  // each signature's Signature.xml and signed value, which its signature covers.
  std::set<std::string> protectedFiles = {*layout->signatures}, later;
  std::vector<Checked> checked(list->signatures.size());
  for (const ofd::SignatureEntry& s : list->signatures)
    later.insert(ofd::entryDirectory(s.signatureXml));

  bool allWhole = !list->signatures.empty(), allHeld = allWhole;
  for (size_t k = 0; k < list->signatures.size(); ++k) {
    const ofd::SignatureEntry& entry = list->signatures[k];
    Checked& c = checked[k];
    c.report["id"] = entry.id;
    c.report["file"] = ofd::absoluteLocation(entry.signatureXml);
    later.erase(ofd::entryDirectory(entry.signatureXml));
    QJsonArray problems;
    auto file = ofd::readSignatureFile(*package, entry.signatureXml, &why);
    const auto signatureBytes = file ? package->read(entry.signatureXml, &why) : std::nullopt;
    if (!file || !signatureBytes) {
      c.problem(problems, QString::fromStdString(why));
      c.report["problems"] = problems;
      allWhole = allHeld = false;
      continue;
    }
    // References.
    QJsonArray references;
    for (const ofd::Reference& r : file->references) {
      const auto name = ofd::resolveLocation(entry.signatureXml, r.fileRef);
      QString state = QStringLiteral("ok");
      const auto bytes = name ? package->read(*name, &why) : std::nullopt;
      if (!bytes) {
        state = QStringLiteral("missing");
      } else {
        c.referenced.insert(*name);
        auto digest = calls.sm3(*bytes);
        if (!digest) return calls.failure();
        if (QString::fromLatin1(arrayOf(*digest).toBase64()) != r.checkValue)
          state = QStringLiteral("changed");
      }
      if (state != QLatin1String("ok")) c.problem(problems, "reference " + r.fileRef + " " + state);
      references.append(QJsonObject{{"file", r.fileRef}, {"state", state}});
    }
    c.report["references"] = references;
    // The seal and the signature.
    const auto sealEntry = ofd::resolveLocation(entry.signatureXml, file->sealLoc);
    const auto valueEntry = ofd::resolveLocation(entry.signatureXml, file->signedValueLoc);
    const auto seal = sealEntry ? package->read(*sealEntry, &why) : std::nullopt;
    const auto value = valueEntry ? package->read(*valueEntry, &why) : std::nullopt;
    if (valueEntry) protectedFiles.insert(*valueEntry);
    protectedFiles.insert(entry.signatureXml);
    if (!seal || !value) {
      c.problem(problems, QStringLiteral("the seal or the signed value is missing"));
    } else {
      Bytes signature = bytesOf(*value), fields[kFields], sealBytes = bytesOf(*seal);
      const int rc = readSignInfo(info, signature, fields);
      if (rc != 0) {
        c.problem(problems, QString("the signed value does not decode (%1)").arg(rc));
      } else {
        const bool sameSeal = fields[kSeal] == sealBytes;
        if (!sameSeal) c.problem(problems, QStringLiteral("Seal.esl is not the signature's seal"));
        auto digest = calls.sm3(*signatureBytes);
        if (!digest) return calls.failure();
        if (fields[kDigest] != *digest)
          c.problem(problems, QStringLiteral("the signature does not sign this Signature.xml"));
        const int verified = calls.verify(sealBytes, *digest, signature);
        c.report["verify"] = verified;
        if (verified != 0) c.problem(problems, QString("OES_Verify gave %1").arg(verified));
        c.report["seal"] = sameSeal ? "same" : "different";
      }
    }
    if (strict.on) {
      // Seal.esl and SignedValue.dat; a missing one fails its checks.
      c.checks = strict.run(seal ? bytesOf(*seal) : Bytes(), value ? bytesOf(*value) : Bytes());
      c.report["checks"] = checksObject(c.checks);
      allHeld = allHeld && varo::trust::allHeld(c.checks);
    }
    // Coverage: files this signature does not reference, besides its own,
    // the list, and later signatures' files.
    QJsonArray added;
    for (const std::string& name : files) {
      if (c.referenced.count(name) || name == *layout->signatures ||
          ofd::entryDirectory(name) == ofd::entryDirectory(entry.signatureXml))
        continue;
      if (later.count(ofd::entryDirectory(name))) continue;
      added.append(ofd::absoluteLocation(name));
      c.problem(problems, "added after this signature: " + ofd::absoluteLocation(name));
    }
    c.report["added-after"] = added;
    c.report["problems"] = problems;
    c.report["whole"] = c.whole;
    allWhole = allWhole && c.whole;
  }

  QJsonArray unprotected;
  for (const std::string& name : files) {
    bool covered = protectedFiles.count(name) > 0;
    for (const Checked& c : checked) covered = covered || c.referenced.count(name);
    if (!covered) unprotected.append(ofd::absoluteLocation(name));
  }
  QJsonArray signatures;
  for (const Checked& c : checked) signatures.append(c.report);
  if (ctx.out.json()) {
    ctx.out.field("signatures", signatures);
  } else {
    for (const Checked& c : checked) {
      const QString head =
          "signature " + c.report["id"].toString() + " (" + c.report["file"].toString() + ")";
      ctx.out.field(head, c.whole ? QStringLiteral("whole") : QStringLiteral("NOT whole"));
      for (const QJsonValue& p : c.report["problems"].toArray())
        ctx.out.field("  problem", p.toString());
      printChecks(ctx.out, c.checks, "  ");
    }
  }
  ctx.out.field("unprotected", unprotected);
  ctx.out.field("verdict", allWhole ? QStringLiteral("every signature is whole")
                                    : QStringLiteral("NOT every signature is whole"));
  ctx.out.result(allWhole ? 0 : 1);
  if (!strict.on) return allWhole ? kSuccess : kProviderError;
  printStrictVerdict(ctx.out, allHeld);
  return !allWhole ? kProviderError : allHeld ? kSuccess : kCheckFailed;
}

}  // namespace reader
