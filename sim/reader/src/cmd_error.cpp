// error [--driver | --skf] CODE: the message text of a result code: the
// provider's (OES_GetErrMessage), the installed key driver's (GetErrorMsg),
// or the GM/T 0016 name and meaning of an SKF code.
#include <cerrno>
#include <cstdlib>

#include "commands.h"
#include "key_drivers.h"
#include "varo/skf_result_names.h"

namespace reader {

namespace {
// Decimal, or hexadecimal with "0x"; the whole text must be the number.
bool parseCode(const std::string& text, unsigned long* code) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || !end || *end != 0) return false;
  *code = static_cast<unsigned long>(v);
  return true;
}

int providerText(Context& ctx, unsigned long code) {
  using Fn = int (*)(unsigned long, unsigned char*, int*);
  auto errMessage = ctx.function<Fn>("OES_GetErrMessage");
  if (!errMessage) return kNoProvider;
  Bytes text;
  int rc = 0;
  if (!measureAndCopy([&](unsigned char* b, int* n) { return errMessage(code, b, n); }, &text, &rc))
    return ctx.providerFailure("OES_GetErrMessage", rc);
  ctx.out.field("message", utf8Text(text));
  ctx.out.result(0);
  return kSuccess;
}

int driverMessage(Context& ctx, unsigned long code) {
  QString why;
  const auto text = driverText(code, &why);
  if (!text) {
    ctx.out.error(why);
    return kNoProvider;
  }
  if (text->isEmpty()) {
    ctx.out.error("the driver has no text for " + codeText(code));
    return kProviderError;
  }
  ctx.out.field("message", *text);
  return kSuccess;
}

int skfMessage(Context& ctx, unsigned long code) {
  const skf::ResultName* row = skf::findResultName(code);
  if (!row) {
    ctx.out.error(codeText(code) + " is no GM/T 0016 result code");
    return kProviderError;
  }
  ctx.out.field("name", row->name);
  ctx.out.field("message", row->meaning);
  return kSuccess;
}
}  // namespace

int runError(Context& ctx) {
  const std::vector<std::string>& args = ctx.args;
  const bool driver = args.size() == 2 && args[0] == "--driver";
  const bool skfCode = args.size() == 2 && args[0] == "--skf";
  unsigned long code = 0;
  if (!(args.size() == 1 || driver || skfCode) || !parseCode(args.back(), &code)) {
    ctx.out.error(
        "usage: error [--driver | --skf] CODE (a non-negative decimal or 0x hexadecimal number)");
    return kUsage;
  }
  ctx.out.field("code", qint64(code));
  if (driver) return driverMessage(ctx, code);
  if (skfCode) return skfMessage(ctx, code);
  return providerText(ctx, code);
}

}  // namespace reader
