// error CODE: the provider's message text for a result code.
#include <cerrno>
#include <cstdlib>

#include "commands.h"

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
}  // namespace

int runError(Context& ctx) {
  using Fn = int (*)(unsigned long, unsigned char*, int*);
  auto errMessage = ctx.function<Fn>("OES_GetErrMessage");
  if (!errMessage) return kNoProvider;
  unsigned long code = 0;
  if (ctx.args.size() != 1 || !parseCode(ctx.args[0], &code)) {
    ctx.out.error("usage: error CODE (a non-negative decimal or 0x hexadecimal number)");
    return kUsage;
  }
  Bytes text;
  int rc = 0;
  if (!measureAndCopy([&](unsigned char* b, int* n) { return errMessage(code, b, n); }, &text, &rc))
    return ctx.providerFailure("OES_GetErrMessage", rc);
  ctx.out.field("code", qint64(code));
  ctx.out.field("message", utf8Text(text));
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
