// The seal index of one open key as the key holds it: the 1024-byte record
// "SEALINDEX" read whole, parsed by exact key, and whether the key still
// holds a seal in the old three-file form beside it.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "key_access.h"
#include "seal_index.h"

namespace gm3000 {

inline constexpr skf::ULONG kIndexSize = 1024;

enum class IndexState {
  Listed,      // an index with entries
  Empty,       // "[]", zero bytes, or too short to hold an entry
  Missing,     // no file "SEALINDEX"
  Unreadable,  // the read failed for another reason
  Unparsable,  // not a list of entries
};

struct KeyIndex {
  IndexState state = IndexState::Missing;
  skf::ULONG code = skf::SAR_OK;  // of the failed read (Unreadable)
  QByteArray record;              // the bytes read, as the key gave them
  QString text;                   // up to the first zero byte, as UTF-8
  std::vector<IndexEntry> entries;
};

KeyIndex readKeyIndex(const skf::Api& api, skf::HANDLE application);

// A key without a usable index that still has "PIC1" holds its seal in the
// old form: an empty index beside it is a conversion cut short.
bool holdsOldFormSeal(const skf::Api& api, skf::HANDLE application);
inline bool indexAllowsOldForm(IndexState state) {
  return state == IndexState::Missing || state == IndexState::Empty;
}

// The text of a report on the index.
QString describe(const KeyIndex& index);

}  // namespace gm3000
