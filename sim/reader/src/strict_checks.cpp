#include "strict_checks.h"

namespace reader {

namespace trust = varo::trust;

bool StrictChecks::takeOptions(Context& ctx) {
  std::vector<std::string> rest, trustPaths;
  std::vector<std::string>& args = ctx.args;
  bool extra = false;  // --trust or --at given
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--strict") {
      on = true;
    } else if (a == "--trust" || a == "--at") {
      if (i + 1 >= args.size()) {
        ctx.out.error(QString::fromStdString(a + " needs a value"));
        return false;
      }
      extra = true;
      const std::string value = args[++i];
      if (a == "--trust") {
        trustPaths.push_back(value);
      } else if (!(options.at = trust::parseTime(value))) {
        ctx.out.error(QString::fromStdString(
            "--at takes a UTC time YYMMDDhhmmssZ, YYYYMMDDhhmmssZ or YYYY-MM-DDThh:mm:ssZ: " +
            value));
        return false;
      }
    } else {
      rest.push_back(a);
    }
  }
  args = rest;
  if (extra && !on) {
    ctx.out.error("--trust and --at go with --strict");
    return false;
  }
  if (!trustPaths.empty()) {
    std::string why;
    store = trust::TrustStore::load(trustPaths, &why);
    if (!store) {
      ctx.out.error(QString::fromStdString("trust store: " + why));
      return false;
    }
    options.trust = store.get();
  }
  return true;
}

std::vector<trust::CheckResult> StrictChecks::run(const Bytes& seal, const Bytes& signature) const {
  return trust::runChecks(varo::ByteSpan(seal.data(), seal.size()),
                          varo::ByteSpan(signature.data(), signature.size()), options);
}

QJsonObject checksObject(const std::vector<trust::CheckResult>& results) {
  QJsonObject o;
  for (const trust::CheckResult& r : results)
    o[r.name] = QJsonObject{{"verdict", trust::verdictText(r.verdict)},
                            {"reason", QString::fromStdString(r.reason)}};
  return o;
}

void printChecks(Output& out, const std::vector<trust::CheckResult>& results,
                 const QString& indent) {
  for (const trust::CheckResult& r : results)
    out.field(indent + "check " + r.name,
              QString(trust::verdictText(r.verdict)) + ": " + QString::fromStdString(r.reason));
}

void printStrictVerdict(Output& out, bool allHeld) {
  out.field("strict",
            allHeld ? QStringLiteral("every check held") : QStringLiteral("NOT every check held"));
}

}  // namespace reader
