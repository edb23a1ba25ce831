// verify SEAL DOCUMENT SIGNATURE [--strict [--trust PATH]... [--at TIME]]:
// digests the document through the provider and checks the stored
// signature (DER in SIGNATURE) for the seal (DER in SEAL) and that digest;
// with --strict, also the trust checks beyond OES_Verify.
#include "commands.h"
#include "seal_files.h"
#include "strict_checks.h"

namespace reader {

int runVerify(Context& ctx) {
  using DigestFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int*);
  using VerifyFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int,
                           unsigned char*, int, unsigned char*, int, unsigned char*, int);
  auto digest = ctx.function<DigestFn>("OES_Digest");
  auto verify = ctx.function<VerifyFn>("OES_Verify");
  if (!digest || !verify) return kNoProvider;
  StrictChecks strict;
  if (!strict.takeOptions(ctx)) return kUsage;
  if (ctx.args.size() != 3) {
    ctx.out.error("usage: verify SEAL DOCUMENT SIGNATURE [--strict [--trust PATH]... [--at TIME]]");
    return kUsage;
  }
  Bytes seal, document, signature;
  if (!readWholeFile(ctx.out, ctx.args[0], &seal) ||
      !readWholeFile(ctx.out, ctx.args[1], &document) ||
      !readWholeFile(ctx.out, ctx.args[2], &signature))
    return kUsage;

  std::string method = "1.2.156.10197.1.401";
  Bytes value;
  int rc = 0;
  auto call = [&](unsigned char* buffer, int* length) {
    return digest(document.data(), int(document.size()),
                  reinterpret_cast<unsigned char*>(method.data()), int(method.size()), buffer,
                  length);
  };
  if (!measureAndCopy(call, &value, &rc)) return ctx.providerFailure("OES_Digest", rc);
  ctx.out.field("digest", hexText(value));

  // The reader passes no property, method or time of its own: the
  // signature's stored values are what counts.
  rc = verify(seal.data(), int(seal.size()), nullptr, 0, value.data(), int(value.size()), nullptr,
              0, nullptr, 0, signature.data(), int(signature.size()));
  int status = kSuccess;
  if (rc != 0) {
    status = ctx.providerFailure("OES_Verify", rc);
    if (!strict.on) return status;
  } else {
    ctx.out.field("verified", "yes");
    ctx.out.result(0);
  }
  if (!strict.on) return status;

  const auto results = strict.run(seal, signature);
  const bool held = varo::trust::allHeld(results);
  if (ctx.out.json())
    ctx.out.field("checks", checksObject(results));
  else
    printChecks(ctx.out, results);
  printStrictVerdict(ctx.out, held);
  return status != kSuccess ? status : held ? kSuccess : kCheckFailed;
}

}  // namespace reader
