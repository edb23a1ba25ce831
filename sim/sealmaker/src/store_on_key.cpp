#include "store_on_key.h"

#include <stdlib.h>

#include <QByteArray>

#include <iostream>
#include <string>
#include <vector>

#include "VaroDeviceBase.h"
#include "seal_conversion.h"
#include "varo/install_root.h"
#include "varo/key_write_codes.h"
#include "varo/loaded_library.h"
#include "varo/softkey_admin.h"

namespace sealmaker_cli {

namespace {

constexpr int kFailure = 1;

std::string storeDirectory(const std::string& keyStore) {
  return keyStore.empty() ? varo::softkey::SoftKeyStore::defaultDirectory() : keyStore;
}

int failure(const std::string& why) {
  std::cerr << "sealmaker: " << why << "\n";
  return kFailure;
}

// The key still holds its seal in the old three-file form: "PIC1" and no
// seal index, or one that lists nothing (a conversion cut short). The
// driver's WriteSeal converts that seal first, in the same write.
bool holdsOldFormSeal(const varo::softkey::SoftKeyStore& store, const std::string& device) {
  std::vector<std::string> files;
  if (!store.listFiles(device, &files)) return false;
  bool oldForm = false, index = false;
  for (const std::string& f : files) {
    oldForm = oldForm || f == "PIC1";
    index = index || f == "SEALINDEX";
  }
  if (!oldForm || !index) return oldForm;
  varo::softkey::Bytes bytes;
  if (!store.getFile(device, "SEALINDEX", &bytes)) return false;
  // The index text runs to its first zero byte.
  std::string text(bytes.begin(), bytes.end());
  text = text.substr(0, text.find('\0'));
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return true;
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1) == "[]";
}

}  // namespace

int storeOldForm(const std::string& device, const std::string& keyStore,
                 const varo::sealmaker::Bytes& seal) {
  varo::softkey::SoftKeyStore store(storeDirectory(keyStore));
  const varo::softkey::AdminResult stored = store.writeThreeFileForm(device, seal);
  if (!stored)
    return failure("cannot store the seal on the key " + device + " in " + store.directory() +
                   ": " + stored.error);
  std::cout << "stored on the key " << device << " (" << store.directory()
            << ") as PIC1, PIC2, PIC3\n";
  return 0;
}

int storeThroughDriver(const std::string& device, const std::string& keyStore,
                       const varo::sealmaker::Bytes& seal) {
  const std::string dir = storeDirectory(keyStore);
  // The driver writes to the only attached key: it must be this one.
  varo::softkey::SoftKeyStore store(dir);
  bool attached = false;
  for (const auto& key : store.listKeys()) {
    if (key.attached && key.name != device)
      return failure("another key is attached too (" + key.name +
                     "); the driver writes to the only one");
    attached = attached || (key.attached && key.name == device);
  }
  if (!attached) return failure("no attached key " + device + " in " + dir);
  // The key library that the driver loads finds the store through this.
  ::setenv("VARO_SOFTKEY_DIR", dir.c_str(), 1);

  // The seal record, made as the driver's conversions make it.
  const QByteArray der(reinterpret_cast<const char*>(seal.data()), int(seal.size()));
  gm3000::SealIdentity identity;
  if (gm3000::decodeSealIdentity(der, &identity) != gm3000::DecodeResult::Decoded)
    return failure("not a seal the codec " + gm3000::codecPath().toStdString() + " decodes");
  QByteArray record;
  if (gm3000::encryptSealRecord(der, &record) != gm3000::EncryptResult::Encrypted)
    return failure("the tool library did not encrypt the seal record");

  const std::string path =
      std::string(varo::kInstallRoot) + varo::kDriverDirectory + "libVaroDeviceBase_LM_GM3000.so";
  varo::LoadedLibrary lib(path);
  varo::PluginObject<VaroDeviceBase> driver(lib);
  if (!driver) return failure("cannot use the key driver " + path + ": " + lib.errorString());
  const bool converts = holdsOldFormSeal(store, device);
  if (converts)
    std::cout << "the key " << device << " holds a seal in the old three-file form; the driver "
              << "converts it on the key first, so both seals stay on it\n";
  const int rc = driver->WriteSeal(identity.id.data(), identity.name.data(), 1, 1,
                                   reinterpret_cast<unsigned char*>(record.data()), record.size());
  if (rc != 0) {
    char message[256] = {};
    driver->GetErrorMsg(rc, message);
    message[sizeof message - 1] = '\0';
    return failure("the driver's WriteSeal on the key " + device + " answered " +
                   varo::softkey::describeKeyWriteCode(rc, message));
  }
  std::cout << (converts ? "converted the old-form seal and stored on the key "
                         : "stored on the key ")
            << device << " (" << dir << ") as seal " << identity.id.data()
            << " in its seal index\n";
  return 0;
}

}  // namespace sealmaker_cli
