// The seals on the attached keys, served when the service runs without a
// seal directory: the list comes from the installed offline seal-list
// plug-in, each seal's record from the installed key device driver, read
// from the seal's own key (or, when the key gives none, the driver's local
// seal copy, when that copy is known to be the key's), and the seal DER from
// that record, decrypted with the tool library.
#pragma once

#include <QJsonArray>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "seal_index.h"
#include "service_log.h"
#include "varo/loaded_library.h"

class VaroDeviceBase;

namespace signd {

// The seals of the attached keys in the plug-in's order, each with its full
// seal id "identifier@DEVICEURL@DLLNAME", without DER. A seal whose
// identifier cannot name a file, or whose values cannot stand in the list
// unescaped, is skipped with a note in the log, and so is every seal whose
// identifier an earlier listed seal already has (two keys holding one
// identifier): the seal files are named by identifier alone. nullopt, with the reason in *why, when
// the plug-in cannot be used or answers no list.
std::optional<std::vector<SealEntry>> listKeySeals(const ServiceLog& log, std::string* why);

// Reads the DER of listed seals: the driver is loaded once and lists the
// keys' seals once, then each seal costs one read of its own key.
class KeySealReader {
 public:
  KeySealReader();
  ~KeySealReader();
  KeySealReader(const KeySealReader&) = delete;
  KeySealReader& operator=(const KeySealReader&) = delete;

  // The DER of the listed seal (its identifier on the key its deviceUrl
  // names); nullopt, with the reason in *why, when neither that key nor the
  // local seal copy written by that key gives a record that decrypts to a
  // seal.
  std::optional<std::string> read(const SealEntry& seal, std::string* why) const;

 private:
  // The driver's seal read by list, an ordinary member reached through its
  // exported name with the object as its first argument.
  using ListReadFn = int (*)(VaroDeviceBase*, unsigned char*, int, char*, unsigned char*, int*);

  std::string recordFromKey(const SealEntry& seal, std::string* why) const;

  std::unique_ptr<varo::LoadedLibrary> library_;
  std::unique_ptr<varo::PluginObject<VaroDeviceBase>> driver_;
  ListReadFn readListed_ = nullptr;
  QJsonArray listed_;
  std::string listWhy_;  // why there is no list; empty when there is one
};

// The seal DER inside a decrypted seal record
// {"COM":"5","ASN1":"<base64 of the DER>","STANDARD":"1"}; nullopt when the
// record holds no ASN1 text in standard base64, or an empty or too large
// seal.
std::optional<std::string> sealFromRecordText(const std::string& recordText);

}  // namespace signd
