// The texts of the seal store: the index on the key ("SEALINDEX"), the
// local list, and the seal list the driver hands out. Each is a JSON array
// of flat objects. They are read here into entries, pair by pair, and
// written back from entries, so that a key or a quotation mark inside a
// value is never taken for the structure around it.
#pragma once

#include <QString>

#include <optional>
#include <vector>

// The text value that follows key in text (searched as plain text, also
// inside values): from the first ":\"" after the key to the next quotation
// mark. Empty when any of them is missing. With base64 set, text is first
// decoded from Base64 and cut at its first zero byte.
QString GetJsonValue(QString text, QString key, bool base64);

namespace gm3000 {

// The key of the pair that names the key an entry of the seal list lies on.
inline constexpr QLatin1String kDeviceUrlKey("DEVICEURL", 9);

struct IndexPair {
  QString key;    // decoded key
  QString value;  // decoded JSON string value, or the literal text of a number/true/false/null
  bool isString = true;
};

struct IndexEntry {
  std::vector<IndexPair> pairs;  // in the order they stand
  QString raw;  // the entry's text exactly as it stood in the input, braces included
  // The value of the first pair whose key is exactly key; empty when none.
  QString value(const QString& key) const;
  bool has(const QString& key) const;
};

// Parses an index or seal-list text: a JSON array of flat objects whose
// values are strings, numbers, true, false or null. JSON escapes in strings
// are honoured (\" \\ \/ \b \f \n \r \t \uXXXX, a character beyond the
// Basic Multilingual Plane as a surrogate pair). Whitespace may stand
// between tokens and around the array. nullopt when the text is anything
// else: empty, nested objects or arrays, unterminated strings, bad escapes
// (a lone surrogate included), raw control characters inside strings, or
// anything but whitespace after the closing "]". "[]" gives no entries.
std::optional<std::vector<IndexEntry>> parseIndex(const QString& text);

// A JSON string literal with its quotation marks: '"', '\\' and every
// character below 0x20 escaped (\" \\ \n \r \t \b \f, others as \u00xx);
// everything else, non-ASCII included, as it is.
QString jsonString(const QString& value);

// The compact text of one entry ({"K":"V",...} without spaces), pairs in
// order, non-string values written as their literal text; pairs whose key
// equals skipKey are left out (when skipKey is not empty).
QString entryText(const IndexEntry& entry, const QString& skipKey = QString());

// The index text as the writer stores it: "[" + the entries' texts without
// any DEVICEURL pair, joined with "," + "]".
QString indexText(const std::vector<IndexEntry>& entries);

// The first entry whose ID is not empty and equals id exactly; null when
// there is none.
const IndexEntry* findEntry(const std::vector<IndexEntry>& entries, const QString& id);

// A new entry as the writer makes it, pairs in this order: ID, NAME, VER
// (decimal), FILENAME, TYPE (decimal); raw is its compact text.
IndexEntry newEntry(const QString& id, const QString& name, int version, const QString& base,
                    int type);

// One key's entries of the seal list: their texts without any stored
// DEVICEURL pair, with {"DEVICEURL": locator} added as the last pair of the
// first entry and the first pair of every other one, joined with ","; no
// brackets; the empty text for no entries. The locator is escaped with
// jsonString, so a device name with a quote or backslash stays valid JSON.
QString listedEntries(const std::vector<IndexEntry>& entries, const QString& locator);

// True when a value can be stored in the index and read back exactly by
// every reader, including older text-search readers: it holds no '"', no
// '\\', no "},{", no character below 0x20 or 0x7F, and no lone surrogate
// (which has no UTF-8 form).
bool isStorableValue(const QString& value);

}  // namespace gm3000
