// --strict [--trust PATH]... [--at TIME] of verify and verify-ofd: the trust
// checks beyond OES_Verify, each reported with its verdict and reason.
#pragma once

#include <memory>
#include <vector>

#include "reader.h"
#include "varo/trust_checks.h"

namespace reader {

struct StrictChecks {
  bool on = false;
  varo::trust::CheckOptions options;
  std::unique_ptr<varo::trust::TrustStore> store;

  // Takes the options out of ctx.args and loads the trust store; false
  // after reporting a bad option or an unreadable store.
  bool takeOptions(Context& ctx);
  std::vector<varo::trust::CheckResult> run(const Bytes& seal, const Bytes& signature) const;
};

// The results as one JSON object: check name -> {"verdict", "reason"}.
QJsonObject checksObject(const std::vector<varo::trust::CheckResult>& results);
// Readable: one line "INDENTcheck NAME: VERDICT: REASON" a check.
void printChecks(Output& out, const std::vector<varo::trust::CheckResult>& results,
                 const QString& indent = QString());
// The closing line (field "strict"): whether every check held.
void printStrictVerdict(Output& out, bool allHeld);

}  // namespace reader
