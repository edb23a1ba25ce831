// softkey: provisions software keys in a key store.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "convert_key.h"
#include "key_data.h"
#include "meter.h"
#include "varo/key_write_codes.h"
#include "varo/softkey_admin.h"

using varo::softkey::AdminResult;
using varo::softkey::Bytes;
using varo::softkey::SoftKeyStore;

namespace {

const char* kUsage = R"(usage: softkey [--store DIR] COMMAND [ARGUMENTS] [OPTIONS]

The store is DIR, else $VARO_SOFTKEY_DIR, else the "softkeys" directory beside
the installed key library. One subdirectory is one attached key.

Keys
  create NAME [--serial S] [--label L] [--app A] [--pin P] [--admin-pin P] [--retries N]
              [--auth-key KEY]
                              new key with one application (default "SealApp",
                              user PIN 12345678, admin PIN 88888888, 6 tries,
                              device authentication key "1234567812345678")
  list                        keys with serial number, state and, per
                              application, the user and admin PIN tries left
  remove NAME                 delete a key (attached or detached)
  detach NAME | attach NAME   unplug a key / plug it in again
  set-serial NAME SERIAL      serial number (at most 32 characters)
  set-pin NAME PIN [--admin] [--retries N] [--app A]
                              set the user (or admin) PIN, with full tries
  set-tries NAME N [--admin] [--app A]
                              set the tries left (0 locks the PIN)
  add-app NAME APP [--pin P] [--admin-pin P]
  auth-key NAME               show the device authentication key (hex, and
                              as text when it is printable)
  set-auth-key NAME KEY       set it: KEY is 16 characters or 32 hex digits

Containers
  add-container NAME CONTAINER [--subject DN] [--ca-key FILE --ca-cert FILE]
                [--days N] [--cert-out FILE] [--key-out FILE] [--app A]
                              generate an SM2 key pair and a certificate (self-
                              signed, or issued by the CA), DN like "CN=Li,O=Org"
  import-container NAME CONTAINER --cert FILE [--key FILE] [--type 1|2] [--app A]
                              store a given DER certificate and PKCS#8 DER key
  cert NAME CONTAINER OUTFILE [--app A]
                              write the signing certificate (DER)
  remove-container NAME CONTAINER [--app A]
  make-ca --key-out FILE --cert-out FILE [--subject DN] [--days N]
                              make an SM2 CA key (PKCS#8 DER) and certificate

Files
  put-file NAME FILE SOURCE [--read R] [--write W] [--app A]
                              create or replace a file with SOURCE's bytes
  get-file NAME FILE DEST [--app A]
                              write a file's bytes to DEST ("-": standard output)
  list-files NAME [--app A]   list the files
                              (put, get and files are the same commands)
  delete NAME FILE [--app A]
  three-file NAME SEAL [--parts N1,N2] [--app A]
                              store the seal DER in the old form "PIC1", "PIC2",
                              "PIC3" (8-byte length header + part each; parts
                              are the sizes of the first two, default thirds)
  convert NAME                let the installed key driver turn the old form
                              into a seal index holding the seal (it keeps the
                              old files until the seal is written); when it
                              does not, the driver's reason is printed

Fault rules (file "faults" of the store)
  fault add FUNCTION CODE [--name N] [--count C] [--skip S] [--exit]
                              make calls of FUNCTION ("*": any) return CODE;
                              only calls involving name N; C times; after S;
                              --exit: end the calling process instead
  fault list | fault clear

Latency and call counters (file "meter" of the store; without it the key is
as fast as the machine and nothing is counted)
  latency                     show the latency model
  latency [--per-call MS] [--per-kib MS]
                              make every key call sleep MS, and MS more per KiB
                              of file data, certificate or public key moved
                              (an option not given keeps its value)
  latency --typical | latency --off
                              the model of a typical USB token (3 ms per call,
                              25 ms per KiB) / no latency
  counters [--clear]          calls per function and bytes read and written
                              since the last clearing / set them to zero

Exit status: 0 on success, 1 when the operation failed, 2 for a usage error.
)";

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  std::set<std::string> flags;
};

const std::set<std::string> kFlags = {"--admin",   "--exit", "--help", "-h",
                                      "--typical", "--off",  "--clear"};

bool parseArgs(int argc, char** argv, Args* out, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (kFlags.count(a)) {
      out->flags.insert(a);
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      if (i + 1 >= argc) {
        *error = "option " + a + " needs a value";
        return false;
      }
      out->options[a] = argv[++i];
    } else {
      out->positional.push_back(a);
    }
  }
  return true;
}

std::string opt(const Args& a, const std::string& name, const std::string& fallback = "") {
  auto it = a.options.find(name);
  return it == a.options.end() ? fallback : it->second;
}

bool number(const std::string& text, unsigned long long max, unsigned long long* out) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end != '\0' || v > max) return false;
  *out = v;
  return true;
}

bool readFile(const std::string& path, Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

bool writeFile(const std::string& path, const Bytes& data) {
  if (path == "-") {
    std::cout.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(std::cout.flush());
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  return bool(out.flush());
}

class Cli {
 public:
  Cli(const Args& args, SoftKeyStore& store) : a_(args), s_(store) {}

  // Exit status of the command.
  int run() {
    const auto& p = a_.positional;
    const std::string cmd = p.empty() ? "" : p[0];
    if (cmd == "create" && n(2)) return create();
    if (cmd == "list" && n(1)) return list();
    if (cmd == "remove" && n(2)) return report(s_.removeKey(p[1]));
    if (cmd == "detach" && n(2)) return report(s_.detachKey(p[1]));
    if (cmd == "attach" && n(2)) return report(s_.attachKey(p[1]));
    if (cmd == "set-serial" && n(3)) return report(s_.setSerial(p[1], p[2]));
    if (cmd == "set-pin" && n(3)) return setPin();
    if (cmd == "set-tries" && n(3)) return setTries();
    if (cmd == "add-app" && n(3))
      return report(s_.addApplication(p[1], p[2], opt(a_, "--pin", varo::softkey::kDefaultUserPin),
                                      opt(a_, "--admin-pin", varo::softkey::kDefaultAdminPin)));
    if (cmd == "auth-key" && n(2)) return showAuthKey();
    if (cmd == "set-auth-key" && n(3)) return setAuthKey();
    if (cmd == "add-container" && n(3)) return addContainer();
    if (cmd == "import-container" && n(3)) return importContainer();
    if (cmd == "cert" && n(4)) return cert();
    if (cmd == "remove-container" && n(3)) return report(s_.removeContainer(p[1], p[2], app()));
    if (cmd == "make-ca" && n(1)) return makeCa();
    if ((cmd == "put-file" || cmd == "put") && n(4)) return put();
    if ((cmd == "get-file" || cmd == "get") && n(4)) return get();
    if ((cmd == "list-files" || cmd == "files") && n(2)) return files();
    if (cmd == "delete" && n(3)) return report(s_.deleteFile(p[1], p[2], app()));
    if (cmd == "three-file" && n(3)) return threeFile();
    if (cmd == "convert" && n(2)) return convert();
    if (cmd == "fault" && p.size() >= 2) return fault();
    if (cmd == "latency" && n(1)) return latency();
    if (cmd == "counters" && n(1)) return counters();
    return usage(cmd.empty() ? "no command given" : "unknown command or wrong arguments: " + cmd);
  }

 private:
  bool n(size_t count) const { return a_.positional.size() == count; }
  std::string app() const { return opt(a_, "--app"); }

  static int usage(const std::string& why) {
    std::cerr << "softkey: " << why << "\n(softkey --help shows the commands)\n";
    return 2;
  }
  static int report(const AdminResult& r) {
    if (r) return 0;
    std::cerr << "softkey: " << r.error << "\n";
    return 1;
  }
  static int failure(const std::string& why) { return report(AdminResult{why}); }

  bool numberOpt(const std::string& name, unsigned long long max, unsigned long long* out,
                 unsigned long long fallback) const {
    auto it = a_.options.find(name);
    if (it == a_.options.end()) {
      *out = fallback;
      return true;
    }
    return number(it->second, max, out);
  }

  int create() {
    varo::softkey::KeySetup setup;
    setup.serial = opt(a_, "--serial");
    setup.label = opt(a_, "--label");
    setup.application = opt(a_, "--app", setup.application);
    setup.userPin = opt(a_, "--pin", setup.userPin);
    setup.adminPin = opt(a_, "--admin-pin", setup.adminPin);
    unsigned long long retries;
    if (!numberOpt("--retries", 15, &retries, setup.maxRetries)) return usage("bad --retries");
    setup.maxRetries = uint32_t(retries);
    if (a_.options.count("--auth-key") && !authKeyBytes(opt(a_, "--auth-key"), &setup.devAuthKey))
      return usage(kAuthKeyForm);
    return report(s_.createKey(a_.positional[1], setup));
  }

  // One line per key: name, serial, state and the PIN tries left of each
  // application, tab-separated.
  int list() {
    for (const auto& k : s_.listKeys()) {
      std::cout << k.name << "\t" << k.serial << "\t" << (k.attached ? "attached" : "detached");
      for (const auto& p : k.pins)
        std::cout << "\t" << p.application << ": user PIN " << p.userLeft << " of " << p.userMax
                  << " tries left, admin PIN " << p.adminLeft << " of " << p.adminMax
                  << " tries left";
      std::cout << "\n";
    }
    return 0;
  }

  static constexpr const char* kAuthKeyForm =
      "a device authentication key is 16 characters or 32 hex digits";

  // KEY of the command line: 16 characters are the key's bytes, 32 hex
  // digits spell them.
  static bool authKeyBytes(const std::string& text, Bytes* out) {
    if (text.size() == varo::softkey::kDevAuthKeyLen) {
      out->assign(text.begin(), text.end());
      return true;
    }
    if (text.size() != 2 * varo::softkey::kDevAuthKeyLen) return false;
    Bytes key;
    for (size_t i = 0; i < text.size(); i += 2) {
      unsigned long long byte;
      if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
          !number("0x" + text.substr(i, 2), 0xFF, &byte))
        return false;
      key.push_back(uint8_t(byte));
    }
    *out = std::move(key);
    return true;
  }

  int showAuthKey() {
    Bytes key;
    AdminResult r = s_.devAuthKey(a_.positional[1], &key);
    if (!r) return report(r);
    static const char* digits = "0123456789abcdef";
    bool printable = true;
    for (uint8_t c : key) {
      std::cout << digits[c >> 4] << digits[c & 15];
      printable = printable && c >= 0x20 && c < 0x7F;
    }
    if (printable) std::cout << " (text \"" << std::string(key.begin(), key.end()) << "\")";
    std::cout << "\n";
    return 0;
  }

  int setAuthKey() {
    Bytes key;
    if (!authKeyBytes(a_.positional[2], &key)) return usage(kAuthKeyForm);
    return report(s_.setDevAuthKey(a_.positional[1], key));
  }

  varo::softkey::PinKind kind() const {
    return a_.flags.count("--admin") ? varo::softkey::PinKind::Admin : varo::softkey::PinKind::User;
  }

  int setPin() {
    unsigned long long retries;
    if (!numberOpt("--retries", 15, &retries, 0)) return usage("bad --retries");
    return report(s_.setPin(a_.positional[1], a_.positional[2], kind(), uint32_t(retries), app()));
  }

  int setTries() {
    unsigned long long left;
    if (!number(a_.positional[2], 15, &left)) return usage("bad number of tries");
    return report(s_.setRetriesLeft(a_.positional[1], uint32_t(left), kind(), app()));
  }

  int addContainer() {
    varo::softkey::CertificateRequest req;
    req.subjectDn = opt(a_, "--subject", req.subjectDn);
    unsigned long long days;
    if (!numberOpt("--days", 36500, &days, 3650) || days == 0) return usage("bad --days");
    req.days = int(days);
    std::string caKey = opt(a_, "--ca-key"), caCert = opt(a_, "--ca-cert");
    if (caKey.empty() != caCert.empty()) return usage("--ca-key and --ca-cert go together");
    if (!caKey.empty() && (!readFile(caKey, &req.caKey) || !readFile(caCert, &req.caCert)))
      return failure("cannot read the CA key or certificate");
    Bytes cert, key;
    AdminResult r =
        s_.generateContainer(a_.positional[1], a_.positional[2], req, &cert, &key, app());
    if (!r) return report(r);
    std::string certOut = opt(a_, "--cert-out"), keyOut = opt(a_, "--key-out");
    if (!certOut.empty() && !writeFile(certOut, cert)) return failure("cannot write " + certOut);
    if (!keyOut.empty() && !writeFile(keyOut, key)) return failure("cannot write " + keyOut);
    return 0;
  }

  int importContainer() {
    varo::softkey::ContainerMaterial m;
    std::string certPath = opt(a_, "--cert"), keyPath = opt(a_, "--key");
    if (certPath.empty()) return usage("import-container needs --cert");
    if (!readFile(certPath, &m.signCert)) return failure("cannot read " + certPath);
    if (!keyPath.empty() && !readFile(keyPath, &m.signKey))
      return failure("cannot read " + keyPath);
    unsigned long long type;
    if (!numberOpt("--type", 2, &type, 2) || type == 0) return usage("bad --type");
    m.type = uint32_t(type);
    return report(s_.addContainer(a_.positional[1], a_.positional[2], m, app()));
  }

  int cert() {
    Bytes der;
    AdminResult r = s_.containerCertificate(a_.positional[1], a_.positional[2], &der, app());
    if (!r) return report(r);
    return writeFile(a_.positional[3], der) ? 0 : failure("cannot write " + a_.positional[3]);
  }

  int makeCa() {
    std::string keyOut = opt(a_, "--key-out"), certOut = opt(a_, "--cert-out");
    if (keyOut.empty() || certOut.empty()) return usage("make-ca needs --key-out and --cert-out");
    unsigned long long days;
    if (!numberOpt("--days", 36500, &days, 3650) || days == 0) return usage("bad --days");
    Bytes key, cert;
    AdminResult r = varo::softkey::makeCertificateAuthority(
        opt(a_, "--subject", "CN=Software Key Test CA,O=Varo"), &key, &cert, int(days));
    if (!r) return report(r);
    if (!writeFile(keyOut, key) || !writeFile(certOut, cert))
      return failure("cannot write the CA files");
    return 0;
  }

  int put() {
    Bytes data;
    if (!readFile(a_.positional[3], &data)) return failure("cannot read " + a_.positional[3]);
    unsigned long long r, w;
    if (!numberOpt("--read", 0xFF, &r, 0xFF) || !numberOpt("--write", 0xFF, &w, 0xFF))
      return usage("bad --read or --write (0 to 0xFF)");
    return report(
        s_.putFile(a_.positional[1], a_.positional[2], data, app(), uint32_t(r), uint32_t(w)));
  }

  int get() {
    Bytes data;
    AdminResult r = s_.getFile(a_.positional[1], a_.positional[2], &data, app());
    if (!r) return report(r);
    return writeFile(a_.positional[3], data) ? 0 : failure("cannot write " + a_.positional[3]);
  }

  int files() {
    std::vector<std::string> names;
    AdminResult r = s_.listFiles(a_.positional[1], &names, app());
    for (const auto& name : names) std::cout << name << "\n";
    return report(r);
  }

  int threeFile() {
    Bytes seal;
    if (!readFile(a_.positional[2], &seal)) return failure("cannot read " + a_.positional[2]);
    long first = -1, second = -1;
    std::string parts = opt(a_, "--parts");
    if (!parts.empty()) {
      size_t comma = parts.find(',');
      unsigned long long x, y;
      if (comma == std::string::npos || !number(parts.substr(0, comma), 1u << 30, &x) ||
          !number(parts.substr(comma + 1), 1u << 30, &y))
        return usage("--parts is N1,N2");
      first = long(x);
      second = long(y);
    }
    return report(s_.writeThreeFileForm(a_.positional[1], seal, app(), first, second));
  }

  int fault() {
    const auto& p = a_.positional;
    if (p[1] == "list" && n(2)) {
      for (const auto& rule : s_.listFaults()) std::cout << rule << "\n";
      return 0;
    }
    if (p[1] == "clear" && n(2)) return report(s_.clearFaults());
    if (p[1] != "add" || !n(4)) return usage("fault add FUNCTION CODE | fault list | fault clear");
    varo::softkey::FaultSpec rule;
    rule.function = p[2];
    unsigned long long code, count, skip;
    if (!number(p[3], 0xFFFFFFFFu, &code) || code == 0) return usage("bad result code");
    if (!numberOpt("--count", 1u << 30, &count, 0) || !numberOpt("--skip", 1u << 30, &skip, 0))
      return usage("bad --count or --skip");
    rule.code = uint32_t(code);
    rule.name = opt(a_, "--name");
    rule.count = a_.options.count("--count") ? int64_t(count) : -1;
    rule.skip = uint32_t(skip);
    rule.exitProcess = a_.flags.count("--exit") > 0;
    return report(s_.addFault(rule));
  }

  // A number of milliseconds: decimal, not negative, at most an hour.
  bool milliseconds(const std::string& name, double* out) const {
    auto it = a_.options.find(name);
    if (it == a_.options.end()) return true;
    char* end = nullptr;
    const double v = std::strtod(it->second.c_str(), &end);
    if (it->second.empty() || *end != '\0' || !(v >= 0 && v <= 3600000)) return false;
    *out = v;
    return true;
  }

  int latency() {
    namespace sk = varo::softkey;
    const std::string& store = s_.directory();
    const bool setting = a_.flags.count("--typical") || a_.flags.count("--off") ||
                         a_.options.count("--per-call") || a_.options.count("--per-kib");
    sk::LatencyModel model = sk::readLatency(store).value_or(sk::LatencyModel{});
    if (setting) {
      if (a_.flags.count("--typical")) model = sk::kTypicalTokenLatency;
      if (a_.flags.count("--off")) model = sk::LatencyModel{};
      if (!milliseconds("--per-call", &model.perCallMs) ||
          !milliseconds("--per-kib", &model.perKibMs))
        return usage("--per-call and --per-kib take milliseconds (0 to 3600000)");
      std::string why;
      if (!sk::setLatency(store, model, &why)) return failure(why);
    } else if (!sk::readLatency(store)) {
      std::cout << "no latency (no meter in " << store << ")\n";
      return 0;
    }
    std::cout << "per call: " << model.perCallMs << " ms, per KiB moved: " << model.perKibMs
              << " ms\n";
    return 0;
  }

  int counters() {
    namespace sk = varo::softkey;
    const std::string& store = s_.directory();
    std::string why;
    if (a_.flags.count("--clear")) return sk::clearCounts(store, &why) ? 0 : failure(why);
    const auto counts = sk::readCounts(store);
    if (!counts) {
      std::cout << "nothing counted (no meter in " << store
                << "; softkey counters --clear makes one)\n";
      return 0;
    }
    std::cout << "calls: " << counts->calls << "\nbytes read: " << counts->bytesRead
              << "\nbytes written: " << counts->bytesWritten
              << "\nlatency added: " << counts->sleptMicros / 1000 << " ms\n";
    for (const auto& [name, calls] : counts->perFunction) std::cout << name << " " << calls << "\n";
    return 0;
  }

  int convert() {
    const std::string& device = a_.positional[1];
    const softkey_cli::Conversion done = softkey_cli::convertWithDriver(s_.directory(), device);
    if (done.result < 0) return failure(done.error);
    if (done.result == 1) {
      std::cout << "converted the old-form seal on " << device << " into its seal index\n";
      return 0;
    }
    std::cerr << "softkey: the driver did not convert " << device;
    if (done.result != 0) std::cerr << " (ConvertSealFormat answered " << done.result << ")";
    if (done.reason != 0)
      std::cerr << ": " << varo::softkey::describeKeyWriteCode(done.reason, done.reasonText);
    else
      std::cerr << ": the driver gave no reason";
    std::cerr << "\n";
    return 1;
  }

  const Args& a_;
  SoftKeyStore& s_;
};

}  // namespace

int main(int argc, char** argv) {
  Args args;
  std::string error;
  if (!parseArgs(argc, argv, &args, &error)) {
    std::cerr << "softkey: " << error << "\n";
    return 2;
  }
  if (args.flags.count("--help") || args.flags.count("-h")) {
    std::cout << kUsage;
    return 0;
  }
  SoftKeyStore store(opt(args, "--store", SoftKeyStore::defaultDirectory()));
  return Cli(args, store).run();
}
