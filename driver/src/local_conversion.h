// The conversion of a key's old three-file seal into the local store, as
// the listing uses it: the key is read under its lock and not changed; the
// seal's list entry is the result, whether or not the local files could be
// written (they are caches, and their failures are reported).
#pragma once

#include <QString>

#include <string>

#include "seal_index.h"

namespace gm3000 {

struct LocalConversion {
  enum class Outcome {
    Converted,   // entry holds the seal's list entry
    IndexFound,  // the key has an index after all (converted meanwhile)
    Failed,      // why says what failed; code is the driver code
  } outcome = Outcome::Failed;
  IndexEntry entry;
  bool copyWritten = false;  // the local seal copy was written
  int code = 0;
  QString why;
};

// locator is the key's locator ("LM_GM3000&" + device name), recorded as
// the owner of the seal copy.
LocalConversion convertLocally(const std::string& device, const QString& locator);

}  // namespace gm3000
