// cancel SIGNATURE: asks the provider whether the stored signature (DER in
// SIGNATURE) may be removed, which it may when an attached key holds its
// signer's certificate.
#include "commands.h"
#include "seal_files.h"

namespace reader {

int runCancel(Context& ctx) {
  using CancelFn = int (*)(unsigned char*, int);
  auto cancel = ctx.function<CancelFn>("OES_CancelSeal");
  if (!cancel) return kNoProvider;
  if (ctx.args.size() != 1) {
    ctx.out.error("usage: cancel SIGNATURE");
    return kUsage;
  }
  Bytes signature;
  if (!readWholeFile(ctx.out, ctx.args[0], &signature)) return kUsage;

  const int rc = cancel(signature.data(), int(signature.size()));
  ctx.out.field("cancellable", rc == 0 ? "yes" : "no");
  if (rc != 0) return ctx.providerFailure("OES_CancelSeal", rc);
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
