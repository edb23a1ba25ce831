// Provisioning of software keys: the operations behind the softkey command,
// also used by tests to set up keys in a temporary store. Each call works on
// the store on disk under the key's lock and leaves nothing in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varo::softkey {

using Bytes = std::vector<uint8_t>;

// Empty error text means success.
struct AdminResult {
  std::string error;
  bool ok() const { return error.empty(); }
  explicit operator bool() const { return ok(); }
};

inline constexpr const char* kDefaultApplication = "SealApp";
inline constexpr const char* kDefaultUserPin = "12345678";
inline constexpr const char* kDefaultAdminPin = "88888888";

struct KeySetup {
  std::string serial;  // empty: a random 16-digit hexadecimal serial
  std::string label;   // empty: the device name
  std::string application = kDefaultApplication;
  std::string userPin = kDefaultUserPin;
  std::string adminPin = kDefaultAdminPin;
  uint32_t maxRetries = 6;
  Bytes devAuthKey;  // 16 bytes; empty: the ASCII text "1234567812345678"
};

// The PIN tries left of one application, as the key keeps them.
struct PinTries {
  std::string application;
  uint32_t userLeft = 0, userMax = 0;
  uint32_t adminLeft = 0, adminMax = 0;
};

struct KeySummary {
  std::string name;
  std::string serial;
  bool attached = true;
  std::vector<PinTries> pins;  // per application; empty when the key cannot be read
};

enum class PinKind { User, Admin };

// What a container holds. type 2 (ECC) with an SM2 key can sign; type 1 (RSA)
// only carries a certificate.
struct ContainerMaterial {
  uint32_t type = 2;
  Bytes signCert;  // DER
  Bytes signKey;   // PKCS#8 DER of the SM2 private key
  Bytes encCert;   // DER, optional
};

// A certificate to issue for a newly generated SM2 key pair.
struct CertificateRequest {
  std::string subjectDn = "CN=Software Key User,O=Varo";
  Bytes caKey;   // PKCS#8 DER of the issuer's key; empty: self-signed
  Bytes caCert;  // DER of the issuer's certificate
  int days = 3650;
  long serial = 0;  // 0: random
};

// A fault rule (see the store's README for the file format).
struct FaultSpec {
  std::string function;  // an SKF function name, or "*"
  uint32_t code = 0;
  std::string name;    // device, application, container or file name; empty: any
  int64_t count = -1;  // -1: unlimited
  uint32_t skip = 0;
  bool exitProcess = false;  // end the calling process instead of failing the call
};

class SoftKeyStore {
 public:
  explicit SoftKeyStore(std::string directory);
  // $VARO_SOFTKEY_DIR, else the store beside the installed key library.
  static std::string defaultDirectory();
  const std::string& directory() const { return dir_; }

  AdminResult createKey(const std::string& device, const KeySetup& setup = KeySetup());
  AdminResult removeKey(const std::string& device);
  std::vector<KeySummary> listKeys() const;
  // Detaching moves the key out of the store (the key is unplugged);
  // attaching moves it back.
  AdminResult detachKey(const std::string& device);
  AdminResult attachKey(const std::string& device);
  AdminResult setSerial(const std::string& device, const std::string& serial);
  AdminResult serial(const std::string& device, std::string* out) const;
  // The key's device authentication key (the SM4 key of SKF_DevAuth), 16 bytes.
  AdminResult setDevAuthKey(const std::string& device, const Bytes& key);
  AdminResult devAuthKey(const std::string& device, Bytes* out) const;

  // An empty application name means the key's first application.
  AdminResult addApplication(const std::string& device, const std::string& app,
                             const std::string& userPin = kDefaultUserPin,
                             const std::string& adminPin = kDefaultAdminPin);
  // Sets a PIN with a full retry counter; maxRetries 0 keeps the current limit.
  AdminResult setPin(const std::string& device, const std::string& pin,
                     PinKind kind = PinKind::User, uint32_t maxRetries = 0,
                     const std::string& app = "");
  AdminResult setRetriesLeft(const std::string& device, uint32_t left, PinKind kind = PinKind::User,
                             const std::string& app = "");

  AdminResult addContainer(const std::string& device, const std::string& container,
                           const ContainerMaterial& material, const std::string& app = "");
  // Generates an SM2 key pair and a certificate for it, and stores both in a
  // new ECC container. certDer/keyDer (may be null) receive what was stored.
  AdminResult generateContainer(const std::string& device, const std::string& container,
                                const CertificateRequest& request, Bytes* certDer = nullptr,
                                Bytes* keyDer = nullptr, const std::string& app = "");
  AdminResult containerCertificate(const std::string& device, const std::string& container,
                                   Bytes* certDer, const std::string& app = "") const;
  AdminResult removeContainer(const std::string& device, const std::string& container,
                              const std::string& app = "");

  // Creates the file with exactly the size of data, or replaces it.
  AdminResult putFile(const std::string& device, const std::string& file, const Bytes& data,
                      const std::string& app = "", uint32_t readRights = 0xFF,
                      uint32_t writeRights = 0xFF);
  AdminResult getFile(const std::string& device, const std::string& file, Bytes* data,
                      const std::string& app = "") const;
  AdminResult listFiles(const std::string& device, std::vector<std::string>* names,
                        const std::string& app = "") const;
  AdminResult deleteFile(const std::string& device, const std::string& file,
                         const std::string& app = "");

  // The old three-file form of a seal: "PIC1", "PIC2" and "PIC3", each an
  // 8-byte little-endian payload length and the payload; the seal's bytes are
  // the three payloads in order. firstPart/secondPart give the payload sizes
  // of PIC1 and PIC2 (PIC3 gets the rest); negative: split into thirds.
  AdminResult writeThreeFileForm(const std::string& device, const Bytes& seal,
                                 const std::string& app = "", long firstPart = -1,
                                 long secondPart = -1);

  AdminResult addFault(const FaultSpec& fault);
  AdminResult clearFaults();
  std::vector<std::string> listFaults() const;  // one formatted rule per entry

 private:
  std::string dir_;
};

// Generates a CA: an SM2 key (PKCS#8 DER) and a self-signed CA certificate.
AdminResult makeCertificateAuthority(const std::string& subjectDn, Bytes* keyDer, Bytes* certDer,
                                     int days = 3650);

}  // namespace varo::softkey
