// The one way seals are written to a key's index. Nothing the index lists is
// destroyed before its replacement is safe: the new chunks go under base
// names no file or entry of the key uses, then the index is written whole in
// one call (the commit), and only then are the chunks of replaced seals (and
// the old three-file form of a converted seal) removed. A failure at any
// step leaves the old index and every seal it lists readable; the clean-up
// removes only what this call created. The caller holds the key's lock.
#pragma once

#include <QString>

#include <vector>

#include "key_access.h"
#include "key_index.h"

namespace gm3000 {

struct SealToWrite {
  QString id;
  QString name;
  int version = 1;
  int type = 1;
  const unsigned char* data = nullptr;
  size_t size = 0;
};

// Writes seals (in this order, each replacing every entry of its
// identifier) into the key whose index was read as index (Missing, Empty or
// Listed). removeOldForm: the seal of "PIC1" to "PIC3" is among them, and
// those files go after the commit. SAR_OK, or the vendor code of the call
// that failed (SAR_NO_ROOM when the index would not fit its record).
skf::ULONG commitSeals(const skf::Api& api, OpenKey& key, const KeyIndex& index,
                       const std::vector<SealToWrite>& seals, bool removeOldForm);

}  // namespace gm3000
