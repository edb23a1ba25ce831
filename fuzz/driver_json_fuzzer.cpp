// The driver's text handling of its seal index and seal list: the value
// search, the file-name lookup, the removal of a seal's entries, the
// building of the seal list with the key locators and the identifiers the
// seal copies are named after, on arbitrary texts. The invariants the
// writers rely on are checked: what is found lies in the text, a removed
// identifier is not found again, and nothing grows where it must shrink.
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

void sealFileName(VaroDeviceBase_LM_GM3000& driver, const std::vector<std::string>& parts) {
  const QString index = text(parts[1]);
  const QString base = driver.GetSealFileName(text(parts[0]), index);
  expect(base.isEmpty() || index.contains(base), "a file name lies in the index");
}

void deleteFromJson(VaroDeviceBase_LM_GM3000& driver, const std::vector<std::string>& parts) {
  const QString id = text(parts[0]), index = text(parts[1]);
  const QString kept = driver.DeleteFromJson(id, index);
  if (kept.isEmpty()) return;
  expect(kept.startsWith(QLatin1Char('[')) && kept.endsWith(QLatin1Char(']')), "still a list");
  expect(kept.size() <= index.size(), "removing entries never lengthens the list");
  // The writer replaces a seal by removing its entries and appending the
  // new one: the old entry must be gone.
  expect(driver.GetSealFileName(id, kept).isEmpty(), "a removed identifier is not found again");
  // Removing twice removes nothing more.
  expect(driver.DeleteFromJson(id, kept) == kept || kept == QLatin1String("[]"),
         "removal is idempotent");
}

// The seal list of one key as ReadSealList builds it from the index text,
// and the identifiers its seal copies are named after.
constexpr int kLocatorLimit = 266;
void sealList(VaroDeviceBase_LM_GM3000& driver, const std::vector<std::string>& parts) {
  // The locator is "LM_GM3000&" and a device name from the key's 256-byte
  // device list; a longer one only multiplies the list the harness builds.
  const QString index = text(parts[0]), locator = text(parts[1]).left(kLocatorLimit);
  if (index.size() < 2) return;
  QString built = gm3000::entriesWithLocator(index.mid(1, index.size() - 2), locator);
  built.chop(1);
  const QString list = QLatin1Char('[') + built + QLatin1Char(']');
  for (const QString& id : gm3000::listedIdentifiers(list)) {
    expect(list.contains(id), "an identifier lies in the list");
    driver.GetSealFileName(id, list);
  }
  for (const QString& entry : gm3000::indexEntries(list))
    GetJsonValue(entry, QStringLiteral("FILENAME"), false);
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
      sealList(driver, parts);
      break;
    default:
      baseName(parts);
      break;
  }
  return 0;
}
