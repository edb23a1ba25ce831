// The driver's text handling of its seal index and seal list: the value
// search, the file-name lookup, the removal of a seal's entries, the index
// written back and the seal list built with the key locators, on arbitrary
// texts. The invariants the writers rely on are checked: a file name is
// that of the seal's entry, a removed identifier is not found again while
// the other entries stay, nothing grows where it must shrink, and what is
// written reads back as the same entries, also to another JSON reader.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "VaroDeviceBase_LM_GM3000.h"
#include "fuzz_input.h"
#include "seal_index.h"
#include "seal_naming.h"

namespace {

using varo::fuzz::expect;

// The texts as the driver sees them: index and list bytes read as UTF-8
// (the callers cut them at their first zero byte).
QString text(const std::string& bytes) {
  return QString::fromUtf8(bytes.c_str());
}

void jsonValue(const std::vector<std::string>& parts, bool base64) {
  const QString haystack = text(parts[0]);
  const QString value = GetJsonValue(haystack, text(parts[1]), base64);
  if (!base64) expect(value.isEmpty() || haystack.contains(value), "a value lies in its text");
  expect(!value.contains(QLatin1Char('"')), "a value ends at a quotation mark");
}

// The compact texts of entries without their locators, as the writer
// would store them.
std::vector<QString> storedTexts(const std::vector<gm3000::IndexEntry>& entries) {
  std::vector<QString> texts;
  for (const gm3000::IndexEntry& entry : entries)
    texts.push_back(gm3000::entryText(entry, gm3000::kDeviceUrlKey));
  return texts;
}

void sealFileName(VaroDeviceBase_LM_GM3000& driver, const std::vector<std::string>& parts) {
  const QString id = text(parts[0]), index = text(parts[1]);
  const QString base = driver.GetSealFileName(id, index);
  const auto entries = gm3000::parseIndex(index);
  if (!entries) expect(base.isEmpty(), "a text that is no index names no file");
  if (!entries || base.isEmpty()) return;
  bool named = false;
  for (const gm3000::IndexEntry& entry : *entries)
    named = named || (entry.value(QStringLiteral("ID")) == id &&
                      entry.value(QStringLiteral("FILENAME")) == base);
  expect(named, "a file name is that of an entry with the identifier");
}

void deleteFromJson(VaroDeviceBase_LM_GM3000& driver, const std::vector<std::string>& parts) {
  const QString id = text(parts[0]), index = text(parts[1]);
  const QString kept = driver.DeleteFromJson(id, index);
  if (kept.isEmpty()) return;
  expect(kept.startsWith(QLatin1Char('[')) && kept.endsWith(QLatin1Char(']')), "still a list");
  expect(kept.size() <= index.size(), "removing entries never lengthens the list");
  // Exactly the entries with another identifier stay, in their order.
  const auto before = gm3000::parseIndex(index), after = gm3000::parseIndex(kept);
  expect(before && after, "removal reads an index and leaves one");
  std::vector<gm3000::IndexEntry> others;
  for (const gm3000::IndexEntry& entry : *before) {
    const QString other = entry.value(QStringLiteral("ID"));
    if (!other.isEmpty() && other != id) others.push_back(entry);
  }
  expect(storedTexts(*after) == storedTexts(others), "the other entries stay as they were");
  // The writer replaces a seal by removing its entries and appending the
  // new one: the old entry must be gone.
  expect(driver.GetSealFileName(id, kept).isEmpty(), "a removed identifier is not found again");
  // Removing twice removes nothing more.
  expect(driver.DeleteFromJson(id, kept) == kept || kept == QLatin1String("[]"),
         "removal is idempotent");
}

// Another JSON reader sees the same pairs in an entry whose values are all
// strings under distinct keys.
void sameAsJsonReader(const gm3000::IndexEntry& entry, const QJsonObject& object) {
  std::set<QString> keys;
  for (const gm3000::IndexPair& pair : entry.pairs)
    if (!pair.isString || !keys.insert(pair.key).second) return;
  expect(object.size() == int(entry.pairs.size()), "a JSON reader sees every pair");
  for (const gm3000::IndexPair& pair : entry.pairs)
    expect(object.value(pair.key).toString() == pair.value, "a JSON reader sees the same value");
}

// An index as the writer stores it again and one key's entries of the seal
// list as ReadSealList builds it from the index.
constexpr int kLocatorLimit = 266;
void sealList(const std::vector<std::string>& parts) {
  // The locator is "LM_GM3000&" and a device name from the key's 256-byte
  // device list; a longer one only multiplies the list the harness builds.
  const QString index = text(parts[0]), locator = text(parts[1]).left(kLocatorLimit);
  const auto entries = gm3000::parseIndex(index);
  if (!entries) return;
  const QString stored = gm3000::indexText(*entries);
  const auto reread = gm3000::parseIndex(stored);
  expect(reread && storedTexts(*reread) == storedTexts(*entries), "a stored index reads back");
  expect(gm3000::indexText(*reread) == stored, "storing again changes nothing");

  const QString list = QLatin1Char('[') + gm3000::listedEntries(*entries, locator) + ']';
  const auto listed = gm3000::parseIndex(list);
  expect(listed && storedTexts(*listed) == storedTexts(*entries), "a listing holds the entries");
  bool strings = true;
  for (const gm3000::IndexEntry& entry : *listed) {
    int locators = 0;
    for (const gm3000::IndexPair& pair : entry.pairs) {
      locators += pair.key == gm3000::kDeviceUrlKey;
      strings = strings && pair.isString;
    }
    expect(locators == 1 && entry.value(gm3000::kDeviceUrlKey) == locator,
           "each listed entry names its key once");
  }
  // A listing of strings only is JSON to any reader (numbers are left out:
  // a reader may refuse one beyond its range).
  if (!strings) return;
  const QJsonDocument document = QJsonDocument::fromJson(list.toUtf8());
  expect(document.isArray() && document.array().size() == int(listed->size()),
         "a JSON reader reads the listing");
  for (size_t i = 0; i < listed->size(); ++i)
    sameAsJsonReader((*listed)[i], document.array().at(int(i)).toObject());
}

// A base name for new chunks next to the given file names and taken names.
void baseName(const std::vector<std::string>& parts) {
  std::set<std::string> files;
  std::set<QString> taken;
  for (const QString& name : text(parts[1]).split(QLatin1Char(',')))
    files.insert(name.toStdString());
  for (const QString& name : text(parts[2]).split(QLatin1Char(','))) taken.insert(name);
  const int chunks = parts[3].empty() ? 1 : static_cast<unsigned char>(parts[3][0]) % 8;
  const QString start = text(parts[0]);
  const QString base = gm3000::freeBaseName(start, files, taken, chunks);
  if (base.isEmpty()) return;
  expect(!taken.count(base), "a free base name is unused");
  // The writer starts from the time of day, so every name is one too.
  if (QTime::fromString(start, QStringLiteral("hhmmsszzz")).isValid())
    expect(QTime::fromString(base, QStringLiteral("hhmmsszzz")).isValid(), "a base name is a time");
  for (int k = 0; k < std::max(chunks, gm3000::kReplacedChunks); ++k)
    expect(!files.count((base + QString::number(k)).toStdString()), "no chunk name is in use");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static VaroDeviceBase_LM_GM3000 driver;
  const varo::fuzz::Choice choice = varo::fuzz::choose(data, size, 6);
  const std::vector<std::string> parts = varo::fuzz::splitParts(choice.data, choice.size, 4);
  switch (choice.which) {
    case 0:
      jsonValue(parts, false);
      break;
    case 1:
      jsonValue(parts, true);
      break;
    case 2:
      sealFileName(driver, parts);
      break;
    case 3:
      deleteFromJson(driver, parts);
      break;
    case 4:
      sealList(parts);
      break;
    default:
      baseName(parts);
      break;
  }
  return 0;
}
