// The operations a user waits for on the key, on a software key that answers
// at once and on the same key slowed down to a typical USB token (the
// software key's latency model): the time of one call, the key calls it
// makes and the bytes it reads and writes, each beside its floor. The floor
// is the fewest key calls of the operation's own sequence, with the key
// opened and closed once per operation and every chunk read exactly once;
// its time is what those calls and bytes cost on the token alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "VaroDeviceBase.h"
#include "meter.h"
#include "oes_api.h"
#include "varo/bench_machine.h"
#include "varo/bench_pairs.h"
#include "varo/daemon_process.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/temp_key_store.h"
#include "varo/test_seals.h"
#include "varo/tmp_files.h"

namespace {

namespace sk = varo::softkey;
using Bytes = std::vector<uint8_t>;

constexpr const char* kDevice = "BENCHKEY";
constexpr const char* kSignSeal = "benchKeySeal";
constexpr const char* kConvertSymbol = "_ZN24VaroDeviceBase_LM_GM300017ConvertSealFormatEPc";
constexpr size_t kChunkPayload = 51200;
constexpr size_t kOneChunkSeal = 4000;      // a seal with a small picture
constexpr size_t kThreeChunkSeal = 110000;  // a seal with a large picture

// Calls and bytes of one operation.
struct Traffic {
  uint64_t calls = 0, read = 0, written = 0;
  Traffic operator+(const Traffic& o) const {
    return {calls + o.calls, read + o.read, written + o.written};
  }
  Traffic operator*(uint64_t n) const { return {calls * n, read * n, written * n}; }
};

uint64_t chunksOf(size_t payload) {
  return (payload + kChunkPayload - 1) / kChunkPayload;
}

// The floors. A listing: the devices enumerated (two calls), the key
// connected, its serial number read, its application enumerated and opened,
// its index read, the application and the key closed; then per seal each
// chunk's header and payload, and the header of the chunk after the last.
Traffic listingFloor(uint64_t seals, size_t payload) {
  const uint64_t k = chunksOf(payload);
  return Traffic{9, 1024, 0} + Traffic{2 * k + (k < 4 ? 1 : 0), 8 * k + payload, 0} * seals;
}
// Writing a seal that replaces one: the listing that starts every write; the
// devices enumerated (two calls), the key connected, its application
// enumerated and opened; the replaced chunks deleted (five names); per new
// chunk its creation, header and payload; the index written; closing.
Traffic writeFloor(uint64_t listed, size_t listedPayload, size_t payload) {
  const uint64_t k = chunksOf(payload);
  return listingFloor(listed, listedPayload) + Traffic{5 + 5 + 3 * k + 1 + 2, 0, 0} +
         Traffic{0, 0, 8 * k + payload + 1024};
}
// Converting the three old files: the key connected, its application
// enumerated and opened, each file's header and payload read, the index
// created and written empty, the old files deleted, closing; then the write
// of the seal record, whose listing ends at the empty index.
Traffic convertFloor(size_t der, size_t record) {
  const uint64_t k = chunksOf(record);
  return Traffic{3 + 6 + 2 + 3 + 2, 24 + der, 1024} + Traffic{9, 1024, 0} +
         Traffic{5 + 3 * k + 1 + 2, 0, 8 * k + record + 1024};
}
// Signing with the device the seal id names: connect, application, PIN,
// containers, the container, its certificate, the signature, closing.
Traffic signFloor(size_t cert) {
  return Traffic{11, cert, 0};
}
// Whether the signer's key is attached: devices enumerated once, connect,
// application, containers, the container, its certificate, closing.
Traffic certFloor(size_t cert) {
  return Traffic{9, cert, 0};
}

// One chunk file: the payload length as 8 bytes little-endian, the payload,
// two spare bytes.
Bytes chunk(const uint8_t* payload, size_t n) {
  Bytes out(8 + n + 2, 0);
  for (int i = 0; i < 8; ++i) out[size_t(i)] = uint8_t(uint64_t(n) >> (8 * i));
  std::copy(payload, payload + n, out.begin() + 8);
  return out;
}

std::string sealIdOf(int i) {
  return "L" + std::string(1, char('0' + i / 10)) + char('0' + i % 10);
}

std::string installed(const std::string& relative) {
  return std::string(varo::kInstallRoot) + relative;
}

// The key, its seals and the service, set up outside the timed calls.
class KeySetup {
 public:
  bool start(std::string* why) {
    if (!keys_.ok() || !dir_.ok()) return fail(why, "no temporary directory");
    if (!keys_->createKey(kDevice).ok()) return fail(why, "cannot create the software key");
    sk::CertificateRequest request;
    request.subjectDn = "CN=Bench Key Holder,O=Varo Bench";
    if (!keys_->generateContainer(kDevice, "Seal", request, &cert_).ok())
      return fail(why, "cannot create the key's container");
    auto spec = varo::testing::sealSpec(pki_, kSignSeal, "Bench Key Seal");
    spec.signerCerts = {cert_};
    seal_ = varo::testing::makeTestSeal(spec);
    if (seal_.empty()) return fail(why, "cannot make the seal");
    std::string meterWhy;
    if (!sk::clearCounts(keys_.directory(), &meterWhy)) return fail(why, meterWhy);
    return true;
  }

  const std::string& store() const { return keys_.directory(); }
  const Bytes& seal() const { return seal_; }
  size_t certSize() const { return cert_.size(); }

  // Every file of the key removed.
  bool clear() {
    std::vector<std::string> names;
    if (!keys_->listFiles(kDevice, &names).ok()) return false;
    for (const std::string& name : names)
      if (!keys_->deleteFile(kDevice, name).ok()) return false;
    return true;
  }

  // count seals of payload bytes each in the indexed form, as the driver's
  // writer lays them out.
  bool stock(int count, size_t payload) {
    if (!clear()) return false;
    Bytes bytes(payload);
    for (size_t i = 0; i < payload; ++i) bytes[i] = uint8_t(i * 131 + 7);
    std::string index = "[";
    for (int i = 0; i < count; ++i) {
      const std::string base = "c" + sealIdOf(i).substr(1);
      index += std::string(i ? "," : "") + "{\"ID\":\"" + sealIdOf(i) +
               "\",\"NAME\":\"N\",\"VER\":\"1\",\"FILENAME\":\"" + base + "\",\"TYPE\":\"1\"}";
      for (size_t k = 0; k * kChunkPayload < payload; ++k) {
        const size_t n = std::min(kChunkPayload, payload - k * kChunkPayload);
        if (!put(base + std::to_string(k), chunk(bytes.data() + k * kChunkPayload, n)))
          return false;
      }
    }
    index += "]";
    Bytes file(1024, 0);
    std::copy(index.begin(), index.end(), file.begin());
    return index.size() < file.size() && put("SEALINDEX", file);
  }

  // The signing seal in the old three-file form.
  bool stockOldForm() { return clear() && keys_->writeThreeFileForm(kDevice, seal_).ok(); }

  // The size of the seal record a conversion left on the key: its one chunk
  // file, less the header and the spare bytes.
  size_t recordSize() {
    std::vector<std::string> names;
    keys_->listFiles(kDevice, &names);
    for (const std::string& name : names) {
      Bytes file;
      if (name != "SEALINDEX" && keys_->getFile(kDevice, name, &file).ok() && file.size() > 10)
        recordSize_ = file.size() - 10;
    }
    return recordSize_;
  }

  // varo-signd serving the key's seals on port 9990, the PIN handed over.
  bool startService(std::string* why) {
    if (service_) return true;
    if (!varo::bench::waitForFreePort(9990, 120)) return fail(why, "port 9990 stays busy");
    std::FILE* pin = std::fopen(dir_.file("pin.txt").c_str(), "w");
    std::FILE* policy = std::fopen(dir_.file("policy.txt").c_str(), "w");
    if (!pin || !policy) return fail(why, "cannot write the service's files");
    std::fprintf(pin, "%s\n", sk::kDefaultUserPin);
    std::fclose(pin);
    std::fclose(policy);
    files_.track("/tmp/" + std::string(kSignSeal) + ".seal");
    files_.track("/tmp/varo.list");
    service_ = std::make_unique<varo::testing::DaemonProcess>(
        installed("/bin/varo-signd"),
        std::vector<std::string>{"--port", "9990", "--pin-file", dir_.file("pin.txt"), "--policy",
                                 dir_.file("policy.txt"), "--log", dir_.file("signd.log")});
    if (!service_->started()) return fail(why, "varo-signd did not start on port 9990");
    int length = 0;
    const int rc =
        OES_Sign(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &length);
    if (rc != 0) return fail(why, "the PIN step gave " + std::to_string(rc));
    return true;
  }

  ~KeySetup() {
    // The seal copies the driver keeps in sealData, and their owner records.
    std::error_code ignored;
    std::vector<std::string> ids = {kSignSeal};
    for (int i = 0; i < 16; ++i) ids.push_back(sealIdOf(i));
    for (const std::string& id : ids)
      for (const char* suffix : {".dat", ".key"})
        std::filesystem::remove(installed(varo::kSealStoreDirectory) + id + suffix, ignored);
  }

 private:
  static bool fail(std::string* why, const std::string& text) {
    *why = text;
    return false;
  }
  bool put(const std::string& name, const Bytes& data) {
    return keys_->putFile(kDevice, name, data).ok();
  }

  varo::testing::TempKeyStore keys_{"bench-key-keys"};
  varo::testing::TempDir dir_{"bench-key"};
  varo::testing::TmpFiles files_;
  varo::testing::TestPki pki_;
  Bytes cert_, seal_;
  size_t recordSize_ = 0;
  std::unique_ptr<varo::testing::DaemonProcess> service_;
};

KeySetup* setup = nullptr;

// The driver as its callers use it: loaded, its object made, used, given
// back, unloaded, in every call.
int withDriver(const std::function<int(varo::LoadedLibrary&, VaroDeviceBase&)>& use) {
  varo::LoadedLibrary lib(installed(varo::kDriverDirectory) + "libVaroDeviceBase_LM_GM3000.so");
  varo::PluginObject<VaroDeviceBase> driver(lib);
  return driver ? use(lib, *driver.get()) : -1;
}

int readSealList() {
  return withDriver([](varo::LoadedLibrary&, VaroDeviceBase& d) {
    std::vector<unsigned char> out(64 << 10, 0);
    int length = int(out.size());
    return d.ReadSealList(out.data(), &length);
  });
}

std::string signatureOf;  // the signature OES_Sign made, for OES_CancelSeal

struct Operation {
  std::string name;
  std::function<bool()> prepare;  // once, before the calls
  std::function<bool()> before;   // before each call, not timed
  std::function<int()> call;
  std::function<Traffic()> floor;
  bool warmUp = false;  // a first call, untimed, fetches what later calls find in place
};

struct Result {
  double zero = -1, token = -1;  // median seconds
  Traffic traffic;
  bool counted = false;
};
std::map<std::string, Result> results;

std::vector<Operation> operations() {
  std::vector<Operation> ops;
  auto noop = [] { return true; };
  for (size_t payload : {kOneChunkSeal, kThreeChunkSeal})
    for (int n : {1, 4, 16})
      ops.push_back({"ReadSealList " + std::to_string(n) + (n > 1 ? " seals, " : " seal, ") +
                         std::to_string(chunksOf(payload)) +
                         (chunksOf(payload) > 1 ? " chunks each" : " chunk each"),
                     [=] { return setup->stock(n, payload); }, noop, readSealList,
                     [=] { return listingFloor(uint64_t(n), payload); }});
  ops.push_back({"ReadSeal by identifier (4 seals, 1 chunk each)",
                 [] { return setup->stock(4, kOneChunkSeal); }, noop,
                 [] {
                   return withDriver([](varo::LoadedLibrary&, VaroDeviceBase& d) {
                     std::vector<unsigned char> out(307200, 0);
                     int length = int(out.size());
                     std::string id = sealIdOf(2);
                     return d.ReadSeal(id.data(), out.data(), &length);
                   });
                 },
                 [] { return listingFloor(4, kOneChunkSeal); }});
  ops.push_back({"WriteSeal replacing 1 of 4 seals (1 chunk)",
                 [] { return setup->stock(4, kOneChunkSeal); }, noop,
                 [] {
                   return withDriver([](varo::LoadedLibrary&, VaroDeviceBase& d) {
                     Bytes data(kOneChunkSeal, 0x5A);
                     std::string id = sealIdOf(3), name = "N";
                     return d.WriteSeal(id.data(), name.data(), 1, 1, data.data(),
                                        int(data.size()));
                   });
                 },
                 [] { return writeFloor(4, kOneChunkSeal, kOneChunkSeal); }});
  ops.push_back({"ConvertSealFormat of the old three files", noop,
                 [] { return setup->stockOldForm(); },
                 [] {
                   return withDriver([](varo::LoadedLibrary& lib, VaroDeviceBase& d) {
                     auto convert = lib.resolve<int (*)(VaroDeviceBase*, char*)>(kConvertSymbol);
                     std::string device = kDevice;
                     return convert && convert(&d, device.data()) == 1 ? 0 : 1;
                   });
                 },
                 [] { return convertFloor(setup->seal().size(), setup->recordSize()); }});
  // The signing seal on the key, through the conversion, for the service.
  auto sealOnKey = [] {
    std::string why;
    if (!setup->stockOldForm() || !setup->startService(&why)) return false;
    return withDriver([](varo::LoadedLibrary& lib, VaroDeviceBase& d) {
             auto convert = lib.resolve<int (*)(VaroDeviceBase*, char*)>(kConvertSymbol);
             std::string device = kDevice;
             return convert && convert(&d, device.data()) == 1 ? 0 : 1;
           }) == 0;
  };
  // The first call asks the service, which lists the key once; the second
  // reads the list file the service left.
  ops.push_back({"OES_GetSealList through varo-signd (1 seal; the size, then the list)", sealOnKey,
                 noop,
                 [] {
                   int length = 0;
                   if (int rc = OES_GetSealList(nullptr, &length)) return rc;
                   Bytes list(size_t(length > 0 ? length : 1));
                   return OES_GetSealList(list.data(), &length);
                 },
                 [] { return listingFloor(1, setup->recordSize()); }});
  static std::string id =
      std::string(kSignSeal) + "@LM_GM3000&" + kDevice + "@/VaroSupport/TokenSign_LM";
  ops.push_back({"OES_Sign, the second call (the PIN handed over)", sealOnKey, noop,
                 [] {
                   std::string property = "contract.ofd", method = "1.2.156.10197.1.501",
                               time = "260102030405Z";
                   Bytes digest(32, 0xA5), signature(204800, 0);
                   int length = int(signature.size());
                   auto u = [](std::string& s) {
                     return reinterpret_cast<unsigned char*>(s.data());
                   };
                   const int rc = OES_Sign(u(id), int(id.size()), u(property), int(property.size()),
                                           digest.data(), 32, u(method), int(method.size()),
                                           u(time), int(time.size()), signature.data(), &length);
                   if (rc == 0) signatureOf.assign(signature.begin(), signature.begin() + length);
                   return rc;
                 },
                 [] { return signFloor(setup->certSize()); }, true});
  ops.push_back({"OES_CancelSeal with the signer's key attached", noop, noop,
                 [] {
                   if (signatureOf.empty()) return -1;
                   return OES_CancelSeal(reinterpret_cast<unsigned char*>(signatureOf.data()),
                                         int(signatureOf.size()));
                 },
                 [] { return certFloor(setup->certSize()); }});
  return ops;
}

// One operation on one latency model: the timed calls, each counted.
void measure(benchmark::State& state, const Operation& op, bool token) {
  std::string why;
  if (!op.prepare()) {
    state.SkipWithError(("cannot set up " + op.name).c_str());
    return;
  }
  sk::setLatency(setup->store(), token ? sk::kTypicalTokenLatency : sk::LatencyModel{}, &why);
  Result& result = results[op.name];
  std::vector<double> times;
  bool first = true;
  for (auto _ : state) {
    state.PauseTiming();
    if (!op.before()) {
      state.SkipWithError(("cannot prepare " + op.name).c_str());
      break;
    }
    if (first && op.warmUp) op.call();
    first = false;
    if (!op.before() || !sk::clearCounts(setup->store(), &why)) break;
    state.ResumeTiming();
    int rc = 0;
    const varo::bench::Clocks t = varo::bench::timed([&] { rc = op.call(); });
    state.PauseTiming();
    if (rc != 0) {
      state.SkipWithError((op.name + " gave " + std::to_string(rc)).c_str());
      break;
    }
    times.push_back(t.wall);
    if (auto counts = sk::readCounts(setup->store())) {
      result.traffic = {counts->calls, counts->bytesRead, counts->bytesWritten};
      result.counted = true;
    }
    state.ResumeTiming();
  }
  sk::setLatency(setup->store(), sk::LatencyModel{}, &why);
  if (times.empty()) return;
  (token ? result.token : result.zero) = varo::bench::spreadOf(times).median;
}

std::string kib(uint64_t bytes) {
  return varo::bench::fixed(double(bytes) / 1024, 1) + " KiB";
}

void reportKeyOperations(const std::vector<Operation>& ops) {
  using varo::bench::fixed;
  using varo::bench::formatSeconds;
  const sk::LatencyModel model = sk::kTypicalTokenLatency;
  const std::string section =
      "key operations: wall time at zero latency / on a typical token (" +
      fixed(model.perCallMs, 0) + " ms per call, " + fixed(model.perKibMs, 0) +
      " ms per KiB); key calls and bytes, floor in brackets; the floor's token time";
  for (const Operation& op : ops) {
    const Result& r = results[op.name];
    if (!r.counted) continue;
    const Traffic floor = op.floor();
    const double floorTime = (double(floor.calls) * model.perCallMs +
                              double(floor.read + floor.written) / 1024 * model.perKibMs) /
                             1000;
    std::string line = op.name + ": " + (r.zero >= 0 ? formatSeconds(r.zero) : "-") + " / " +
                       (r.token >= 0 ? formatSeconds(r.token) : "-") + "; calls " +
                       std::to_string(r.traffic.calls) + " (" + std::to_string(floor.calls) +
                       "), read " + kib(r.traffic.read) + " (" + kib(floor.read) + "), written " +
                       kib(r.traffic.written) + " (" + kib(floor.written) + "); floor " +
                       formatSeconds(floorTime);
    if (r.token >= 0) line += ", x" + fixed(r.token / floorTime) + " the floor";
    varo::bench::report(section, line);
  }
  // Key calls per listed seal, between the listings of 1, 4 and 16 seals.
  for (const char* chunks : {"1 chunk each", "3 chunks each"}) {
    auto calls = [&](const char* count) {
      return double(results["ReadSealList " + std::string(count) + chunks].traffic.calls);
    };
    if (calls("1 seal, ") == 0 || calls("16 seals, ") == 0) continue;
    varo::bench::report(
        section, std::string("ReadSealList, ") + chunks + ": key calls per further seal " +
                     fixed((calls("4 seals, ") - calls("1 seal, ")) / 3, 1) +
                     " from 1 to 4 seals and " +
                     fixed((calls("16 seals, ") - calls("4 seals, ")) / 12, 1) + " from 4 to 16");
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("machine: %s\n", varo::bench::machineLine().c_str());
  KeySetup s;
  std::string why;
  if (!s.start(&why)) {
    std::fprintf(stderr, "key_bench: %s\n", why.c_str());
    return 1;
  }
  setup = &s;
  static const std::vector<Operation> ops = operations();
  for (const Operation& op : ops) {
    benchmark::RegisterBenchmark(("KeyZero/" + op.name).c_str(),
                                 [&op](benchmark::State& st) { measure(st, op, false); })
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("KeyToken/" + op.name).c_str(),
                                 [&op](benchmark::State& st) { measure(st, op, true); })
        // A three-chunk listing takes seconds on a token.
        ->Iterations(op.name.find("seals, 3 chunks") != std::string::npos ? 1 : 3)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  reportKeyOperations(ops);
  varo::bench::printSummary("key operations on the software key");
  benchmark::Shutdown();
  return 0;
}
