// The driver's files in the local store "sealData": the local list of a key
// without an index (serial + ".list"), the seal copies (identifier +
// ".dat") and, beside each copy, the record of the key that wrote it
// (identifier + ".key"). They are caches: a listing never depends on
// writing them, and what does not pass the store's checks (see
// varo/store_files.h) counts as absent. Failures are reported with the path
// and the reason.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

#include "seal_index.h"
#include "varo/store_files.h"

namespace gm3000 {

// The local list's limit: only its first 1024 bytes are read.
inline constexpr qint64 kLocalListSize = 1024;
// The longest seal copy: the most a seal read gives.
inline constexpr qint64 kSealCopySize = 307200;

// The entries of the key's local list, when sealData holds a trusted,
// parsable list with at least one entry; otherwise nullopt, and *why says
// what was found (absent, untrusted, empty, not a list).
std::optional<std::vector<IndexEntry>> readLocalList(const QString& serial, QString* why);

// The entry of a converted old-form seal, as the local list holds it: ID,
// NAME, VER "1", TYPE "1", FILENAME (the seal name again).
IndexEntry localListEntry(const QString& id, const QString& name);

// Writes the local list of the key; false (reported) when it cannot.
bool writeLocalList(const QString& serial, const std::vector<IndexEntry>& entries);

enum class CopyWrite {
  Written,    // the copy and its owner record are in place
  Unchanged,  // the key's copy already held these bytes
  OtherKeys,  // another key's copy has that name; left as it is
  Failed,     // cannot be written (reported)
};

// Writes the copy of seal id with its owner record, unless another key's
// copy has that name: a copy of one key never replaces another key's.
CopyWrite writeSealCopy(const QString& id, const QByteArray& bytes, const varo::CopyOwner& owner);

}  // namespace gm3000
