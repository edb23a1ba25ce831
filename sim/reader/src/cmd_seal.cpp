// seal ID [OUT]: fetches a seal's DER through the provider into a file, by
// default "<identifier>.der" in the working directory (the identifier is
// the seal id up to its first "@").
#include "commands.h"
#include "seal_files.h"

namespace reader {

int runSeal(Context& ctx) {
  using SealFn = int (*)(unsigned char*, int, unsigned char*, int*);
  auto getSeal = ctx.function<SealFn>("OES_GetSeal");
  if (!getSeal) return kNoProvider;
  if (ctx.args.empty() || ctx.args.size() > 2) {
    ctx.out.error("usage: seal ID [OUT]");
    return kUsage;
  }
  std::string id = ctx.args[0];
  std::string outFile;
  if (ctx.args.size() == 2) {
    outFile = ctx.args[1];
  } else {
    const std::string identifier = id.substr(0, id.find('@'));
    if (identifier.empty() || identifier == "." || identifier == ".." ||
        identifier.find('/') != std::string::npos) {
      ctx.out.error("the seal id makes no file name; give OUT");
      return kUsage;
    }
    outFile = identifier + ".der";
  }
  Bytes der;
  int rc = 0;
  auto call = [&](unsigned char* buffer, int* length) {
    return getSeal(reinterpret_cast<unsigned char*>(id.data()), int(id.size()), buffer, length);
  };
  if (!measureAndCopy(call, &der, &rc)) return ctx.providerFailure("OES_GetSeal", rc);
  if (!writeWholeFile(ctx.out, outFile, der)) return kUsage;
  ctx.out.field("seal id", QString::fromStdString(id));
  ctx.out.field("bytes", qint64(der.size()));
  ctx.out.field("file", QString::fromLocal8Bit(outFile.c_str()));
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
