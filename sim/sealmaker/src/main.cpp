// sealmaker: writes an electronic seal (DER) to a file, or creates a
// throwaway maker key and self-signed certificate.
#include <openssl/rand.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "store_on_key.h"
#include "varo/pki.h"
#include "varo/sealmaker.h"

namespace {

using varo::sealmaker::Bytes;

const char kUsage[] =
    "usage: sealmaker --name N --id ID --type 1|2 --valid-from T --valid-to T --vid V\n"
    "                 [--created T] [--iid ES] [--version 2]\n"
    "                 [--picture FILE --picture-type png --width W --height H]\n"
    "                 --signer-cert DER [--signer-cert DER ...]\n"
    "                 --maker-cert DER --maker-key DER [-o OUT.der]\n"
    "                 [--store DEVICE | --store-old DEVICE] [--key-store DIR]\n"
    "       sealmaker --seal SEAL.der --store DEVICE|--store-old DEVICE [--key-store DIR]\n"
    "       sealmaker --new-maker DIR [--maker-name NAME] [--ca-key DER --ca-cert DER]\n"
    "       sealmaker --sign DOCUMENT --seal SEAL.der --signer-cert DER --signer-key DER\n"
    "                 [--time T] [--property P] -o OUT.der\n"
    "       sealmaker --help\n"
    "\n"
    "Times are UTC times YYMMDDhhmmssZ (default: now, and ten years on for\n"
    "--valid-to). Without --picture the seal carries a drawn PNG (a red ring\n"
    "with the name) and a display size of 40 x 40. --new-maker writes\n"
    "DIR/maker.key.der (PKCS#8, mode 0600) and DIR/maker.cert.der, a fresh SM2\n"
    "key and its certificate: self-signed, or issued by the CA given with\n"
    "--ca-key and --ca-cert.\n"
    "--sign writes a seal signature of DOCUMENT (its SM3) with SEAL, made here\n"
    "and not through the provider, with any signer certificate and key: what\n"
    "anyone holding a copy of the seal could make (time: now by default).\n"
    "--store DEVICE stores the seal made (or the DER given with --seal) on the\n"
    "software key DEVICE through the installed key driver, as a seal record in\n"
    "the key's seal index (DEVICE must be the only attached key); --store-old\n"
    "DEVICE stores it in the old three-file form (\"PIC1\", \"PIC2\", \"PIC3\").\n"
    "The key store is --key-store DIR, else $VARO_SOFTKEY_DIR, else the\n"
    "installed default. A seal is made with -o, a store option or both.\n"
    "Exit status 0 on success, 1 when the seal cannot be made or stored, 2 on\n"
    "a usage error.\n";

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

bool readFile(const std::string& path, Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeFile(const std::string& path, const Bytes& data, mode_t mode) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  out.close();
  return out.good() && ::chmod(path.c_str(), mode) == 0;
}

bool parseInt(const std::string& s, int* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno || *end || v < INT_MIN || v > INT_MAX) return false;
  *out = int(v);
  return true;
}

int usageError(const std::string& why) {
  std::cerr << "sealmaker: " << why << "\n" << kUsage;
  return kUsageError;
}

// The maker's key and certificate: self-signed (a CA of its own) or, with
// caKeyPath and caCertPath, an end-entity certificate issued by that CA.
int newMaker(const std::string& dir, const std::string& name, const std::string& caKeyPath,
             const std::string& caCertPath) {
  varo::EvpPkeyPtr caKey;
  varo::X509Ptr caCert;
  if (!caKeyPath.empty() || !caCertPath.empty()) {
    Bytes keyDer, certDer;
    if (!readFile(caKeyPath, &keyDer) || !readFile(caCertPath, &certDer) ||
        !(caKey = varo::pki::privateKeyFromDer(varo::ByteSpan(keyDer.data(), keyDer.size()))) ||
        !(caCert = varo::pki::certificateFromDer(varo::ByteSpan(certDer.data(), certDer.size()))))
      return usageError("--ca-key and --ca-cert name a PKCS#8 DER key and a DER certificate");
  }
  varo::EvpPkeyPtr key = varo::pki::generateSm2Key();
  varo::pki::CertificateProfile profile;
  profile.ca = !caKey;
  unsigned char r[4] = {};
  RAND_bytes(r, sizeof r);  // a serial of its own under its issuer
  profile.serial =
      1 +
      long((uint32_t(r[0]) << 23 | uint32_t(r[1]) << 15 | uint32_t(r[2]) << 7 | r[3]) & 0x7FFFFFFF);
  varo::X509Ptr cert = key ? varo::pki::issueCertificate(key.get(), "CN=" + name + ",O=Varo",
                                                         caKey.get(), caCert.get(), profile)
                           : nullptr;
  if (!cert) {
    std::cerr << "sealmaker: could not make the maker's key and certificate\n";
    return kFailure;
  }
  ::mkdir(dir.c_str(), 0700);
  const std::string keyPath = dir + "/maker.key.der", certPath = dir + "/maker.cert.der";
  if (!writeFile(keyPath, varo::pki::privateKeyToDer(key.get()), 0600) ||
      !writeFile(certPath, varo::pki::toDer(cert.get()), 0644)) {
    std::cerr << "sealmaker: cannot write into " << dir << "\n";
    return kFailure;
  }
  std::cout << "maker key: " << keyPath << "\nmaker certificate: " << certPath << "\n";
  return 0;
}

// --sign: a seal signature made here rather than through the provider.
int signDocument(std::map<std::string, std::string>& opts) {
  for (const char* required : {"--seal", "--signer-cert", "--signer-key", "-o"})
    if (!opts.count(required)) return usageError(std::string(required) + " is required");
  varo::sealmaker::SignatureSpec spec;
  Bytes document, keyDer;
  if (!readFile(opts["--sign"], &document)) return usageError("cannot read " + opts["--sign"]);
  if (!readFile(opts["--seal"], &spec.seal) || spec.seal.empty())
    return usageError("cannot read the seal " + opts["--seal"]);
  if (!readFile(opts["--signer-cert"], &spec.signerCert) ||
      !varo::pki::certificateFromDer(
          varo::ByteSpan(spec.signerCert.data(), spec.signerCert.size())))
    return usageError("not a DER certificate: " + opts["--signer-cert"]);
  varo::EvpPkeyPtr key;
  if (!readFile(opts["--signer-key"], &keyDer) ||
      !(key = varo::pki::privateKeyFromDer(varo::ByteSpan(keyDer.data(), keyDer.size()))))
    return usageError("not a PKCS#8 DER key: " + opts["--signer-key"]);
  spec.signerKey = key.get();
  // The value signs the content as OES_Verify rebuilds it (with the seal's
  // first certificate): for the seal's holder that is the content itself.
  spec.contentCert = varo::sealmaker::firstHolderCert(spec.seal);
  spec.digest = varo::pki::sm3(varo::ByteSpan(document.data(), document.size()));
  spec.time = opts["--time"];
  spec.property = opts.count("--property") ? opts["--property"] : "sealmaker";
  std::string error;
  const Bytes signature = varo::sealmaker::makeSignature(spec, &error);
  if (signature.empty() || !writeFile(opts["-o"], signature, 0644)) {
    std::cerr << "sealmaker: " << (error.empty() ? "cannot write " + opts["-o"] : error) << "\n";
    return kFailure;
  }
  std::cout << "signature (" << signature.size() << " bytes): " << opts["-o"] << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> opts;
  std::vector<std::string> signerCertPaths;
  static const char* const kWithValue[] = {
      "--name",         "--id",         "--type",      "--valid-from",  "--valid-to",
      "--vid",          "--created",    "--iid",       "--version",     "--picture",
      "--picture-type", "--width",      "--height",    "--signer-cert", "--maker-cert",
      "--maker-key",    "-o",           "--new-maker", "--maker-name",  "--store-old",
      "--seal",         "--key-store",  "--store",     "--ca-key",      "--ca-cert",
      "--sign",         "--signer-key", "--time",      "--property"};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    bool known = false;
    for (const char* k : kWithValue) known = known || arg == k;
    if (!known) return usageError("unknown option " + arg);
    if (i + 1 >= argc) return usageError(arg + " needs a value");
    std::string value = argv[++i];
    if (arg == "--signer-cert")
      signerCertPaths.push_back(value);
    else
      opts[arg] = value;
  }

  if (opts.count("--new-maker"))
    return newMaker(opts["--new-maker"],
                    opts.count("--maker-name") ? opts["--maker-name"] : "Seal Maker",
                    opts["--ca-key"], opts["--ca-cert"]);
  if (opts.count("--sign")) {
    if (signerCertPaths.size() != 1) return usageError("--sign takes one --signer-cert");
    opts["--signer-cert"] = signerCertPaths[0];
    return signDocument(opts);
  }

  if (opts.count("--store") && opts.count("--store-old"))
    return usageError("--store and --store-old exclude each other");
  const bool store = opts.count("--store-old") > 0 || opts.count("--store") > 0;
  auto storeSeal = [&](const Bytes& seal) {
    return opts.count("--store")
               ? sealmaker_cli::storeThroughDriver(opts["--store"], opts["--key-store"], seal)
               : sealmaker_cli::storeOldForm(opts["--store-old"], opts["--key-store"], seal);
  };
  if (opts.count("--key-store") && !store)
    return usageError("--key-store goes with a store option");
  if (opts.count("--seal")) {
    if (!store) return usageError("--seal goes with --store or --store-old");
    Bytes seal;
    if (!readFile(opts["--seal"], &seal) || seal.empty())
      return usageError("cannot read the seal " + opts["--seal"]);
    return storeSeal(seal);
  }

  for (const char* required : {"--name", "--id", "--vid", "--maker-cert", "--maker-key"})
    if (!opts.count(required)) return usageError(std::string(required) + " is required");
  if (!opts.count("-o") && !store) return usageError("-o, --store or --store-old is required");
  if (signerCertPaths.empty()) return usageError("--signer-cert is required");

  varo::sealmaker::SealSpec spec;
  spec.name = opts["--name"];
  spec.esID = opts["--id"];
  spec.vid = opts["--vid"];
  spec.createTime = opts["--created"];
  spec.validStart = opts["--valid-from"];
  spec.validEnd = opts["--valid-to"];
  if (opts.count("--iid")) spec.iid = opts["--iid"];
  if (opts.count("--type") &&
      (!parseInt(opts["--type"], &spec.type) || (spec.type != 1 && spec.type != 2)))
    return usageError("--type is 1 (unit seal) or 2 (personal seal)");
  if (opts.count("--version") && !parseInt(opts["--version"], &spec.version))
    return usageError("--version takes a number");
  if (opts.count("--width") && !parseInt(opts["--width"], &spec.width))
    return usageError("--width takes a number");
  if (opts.count("--height") && !parseInt(opts["--height"], &spec.height))
    return usageError("--height takes a number");
  if (opts.count("--picture-type")) spec.pictureType = opts["--picture-type"];
  if (opts.count("--picture")) {
    if (!readFile(opts["--picture"], &spec.picture) || spec.picture.empty())
      return usageError("cannot read the picture " + opts["--picture"]);
  }

  for (const std::string& path : signerCertPaths) {
    Bytes der;
    if (!readFile(path, &der) ||
        !varo::pki::certificateFromDer(varo::ByteSpan(der.data(), der.size())))
      return usageError("not a DER certificate: " + path);
    spec.signerCerts.push_back(der);
  }
  if (!readFile(opts["--maker-cert"], &spec.makerCert) ||
      !varo::pki::certificateFromDer(varo::ByteSpan(spec.makerCert.data(), spec.makerCert.size())))
    return usageError("not a DER certificate: " + opts["--maker-cert"]);
  Bytes keyDer;
  if (!readFile(opts["--maker-key"], &keyDer))
    return usageError("cannot read " + opts["--maker-key"]);
  varo::EvpPkeyPtr makerKey =
      varo::pki::privateKeyFromDer(varo::ByteSpan(keyDer.data(), keyDer.size()));
  if (!makerKey) return usageError("not a PKCS#8 DER key: " + opts["--maker-key"]);
  spec.makerKey = makerKey.get();

  std::string error;
  Bytes seal = varo::sealmaker::makeSeal(spec, &error);
  if (seal.empty()) {
    std::cerr << "sealmaker: " << error << "\n";
    return kFailure;
  }
  if (opts.count("-o") && !writeFile(opts["-o"], seal, 0644)) {
    std::cerr << "sealmaker: cannot write " << opts["-o"] << "\n";
    return kFailure;
  }
  std::cout << "seal " << spec.esID << " (" << seal.size() << " bytes)"
            << (opts.count("-o") ? ": " + opts["-o"] : "") << "\n";
  return store ? storeSeal(seal) : 0;
}
