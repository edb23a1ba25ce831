// What the plug-in commands share: the installed plug-in with its DoIt, the
// text of its answer buffer, and the printing of a seal-list answer.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

#include "reader.h"
#include "varo/install_root.h"

namespace reader {

// The installed plug-in at InstallRoot + relativePath, loaded for the scope.
class InstalledPlugin {
 public:
  explicit InstalledPlugin(const char* relativePath)
      : path_(std::string(varo::kInstallRoot) + relativePath), lib_(path_) {}
  // Its DoIt as Fn, or null after reporting why (what: the plug-in's role).
  template <class Fn>
  Fn doIt(Context& ctx, const char* what) {
    Fn fn = lib_.resolve<Fn>("DoIt");
    if (!fn) reportMissing(ctx, what);
    return fn;
  }

 private:
  void reportMissing(Context& ctx, const char* what) const;
  std::string path_;
  varo::LoadedLibrary lib_;
};

// The zero-terminated text in a zero-filled answer buffer.
QByteArray answerText(const std::vector<char>& buffer);

// Prints a seal-list answer (one line per seal, or the array with --json)
// and returns the exit status; an "ERROR:" answer or one that is not a JSON
// array is a failure, reported with noList for the latter. *count receives
// the number of seals printed.
int printSealList(Context& ctx, const QByteArray& answer, const QString& noList,
                  int* count = nullptr);

}  // namespace reader
