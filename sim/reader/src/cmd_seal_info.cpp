// seal-info FILE: the descriptive fields of a seal (DER in FILE).
#include "commands.h"
#include "seal_files.h"

namespace reader {

namespace {

using InfoFn = int (*)(unsigned char*, int, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*, unsigned char*, int*, unsigned char*, int*);

// The eleven output pairs in the order of the call, with their labels.
constexpr const char* kLabels[] = {"seal id",   "version",     "vendor id",       "seal type",
                                   "seal name", "certificate", "valid from",      "valid to",
                                   "created",   "signer",      "signature method"};
constexpr int kCount = int(sizeof kLabels / sizeof kLabels[0]);
constexpr int kCertificate = 5;

int callInfo(InfoFn info, Bytes& seal, Bytes (&fields)[kCount], int (&lengths)[kCount],
             bool measure) {
  unsigned char* b[kCount];
  for (int i = 0; i < kCount; ++i) {
    if (measure) {
      lengths[i] = 0;
      b[i] = nullptr;
    } else {
      fields[i].assign(size_t(lengths[i] > 0 ? lengths[i] : 0) + 1, 0);
      b[i] = fields[i].data();
    }
  }
  int* l = lengths;
  return info(seal.data(), int(seal.size()), b[0], &l[0], b[1], &l[1], b[2], &l[2], b[3], &l[3],
              b[4], &l[4], b[5], &l[5], b[6], &l[6], b[7], &l[7], b[8], &l[8], b[9], &l[9], b[10],
              &l[10]);
}

}  // namespace

int runSealInfo(Context& ctx) {
  auto info = ctx.function<InfoFn>("OES_GetSealInfo");
  if (!info) return kNoProvider;
  if (ctx.args.size() != 1) {
    ctx.out.error("usage: seal-info FILE");
    return kUsage;
  }
  Bytes seal;
  if (!readWholeFile(ctx.out, ctx.args[0], &seal)) return kUsage;
  Bytes fields[kCount];
  int lengths[kCount];
  int rc = callInfo(info, seal, fields, lengths, true);
  if (rc == 0) rc = callInfo(info, seal, fields, lengths, false);
  if (rc != 0) return ctx.providerFailure("OES_GetSealInfo", rc);
  for (int i = 0; i < kCount; ++i) {
    fields[i].resize(size_t(lengths[i] > 0 ? lengths[i] : 0));
    if (i == kCertificate) {
      ctx.out.field("certificate bytes", qint64(fields[i].size()));
      ctx.out.field(kLabels[i], hexText(fields[i]));
    } else {
      ctx.out.field(kLabels[i], utf8Text(fields[i]));
    }
  }
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
