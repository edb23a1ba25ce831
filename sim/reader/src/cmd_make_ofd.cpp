// make-ofd OUT.ofd [--pages N] [--text T]: a small valid OFD document with
// N pages (1 by default), each with one line of text.
#include "commands.h"
#include "varo/ofd_document.h"

namespace reader {

int runMakeOfd(Context& ctx) {
  int pages = 1;
  QString text = QStringLiteral("Varo test document");
  bool ok = !ctx.args.empty() && ctx.args.size() % 2 == 1;
  for (size_t i = 1; ok && i + 1 < ctx.args.size() + 1 && i < ctx.args.size(); i += 2) {
    const QString value = QString::fromStdString(ctx.args[i + 1]);
    if (ctx.args[i] == "--pages")
      pages = value.toInt(&ok);
    else if (ctx.args[i] == "--text")
      text = value;
    else
      ok = false;
  }
  if (!ok || pages < 1 || pages > 10000) {
    ctx.out.error("usage: make-ofd OUT.ofd [--pages N] [--text T] (1 to 10000 pages)");
    return kUsage;
  }
  std::string why;
  if (!varo::ofd::writePackage(ctx.args[0], varo::ofd::minimalDocument(pages, text), &why)) {
    ctx.out.error(QString::fromStdString(why));
    return kUsage;
  }
  ctx.out.field("file", QString::fromStdString(ctx.args[0]));
  ctx.out.field("pages", qint64(pages));
  ctx.out.result(0);
  return kSuccess;
}

}  // namespace reader
