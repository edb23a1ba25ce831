#include "meter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace varo::softkey {

namespace {

constexpr char kMagic[8] = {'V', 'A', 'R', 'O', 'M', 'T', 'R', '1'};
constexpr size_t kPageSize = 4096;

// The file's layout: little-endian 64-bit fields, updated with atomic
// operations by every process that maps it.
struct MeterPage {
  char magic[8];
  uint64_t perCallMicros;
  uint64_t perKibMicros;
  uint64_t calls;
  uint64_t bytesRead;
  uint64_t bytesWritten;
  uint64_t sleptMicros;
  uint64_t perFunction[kMeteredFunctions.size()];
};
static_assert(sizeof(MeterPage) <= kPageSize);

uint64_t load(const uint64_t& field) {
  return __atomic_load_n(&field, __ATOMIC_RELAXED);
}
void put(uint64_t& field, uint64_t value) {
  __atomic_store_n(&field, value, __ATOMIC_RELAXED);
}
void add(uint64_t& field, uint64_t value) {
  __atomic_fetch_add(&field, value, __ATOMIC_RELAXED);
}

std::string meterPath(const std::string& store) {
  return store + "/" + kMeterFileName;
}

// Maps the meter file of path; with create, makes it first when missing.
// Without create, a file the process may only read is mapped read-only
// (*writable false): its latency applies, its counters stay as they are.
// Null when there is none or it is not a meter file.
MeterPage* mapPage(const std::string& path, bool create, std::string* why, struct stat* st,
                   bool* writable = nullptr) {
  const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0);
  int fd = ::open(path.c_str(), flags, 0666);
  bool canWrite = fd >= 0;
  if (fd < 0 && !create && (errno == EACCES || errno == EROFS))
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (writable) *writable = canWrite;
  if (fd < 0) {
    if (why) *why = path + ": " + std::strerror(errno);
    return nullptr;
  }
  MeterPage* page = nullptr;
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    if (why) *why = path + ": not a regular file";
  } else if (st->st_size == 0 && create && ::ftruncate(fd, kPageSize) != 0) {
    if (why) *why = path + ": " + std::strerror(errno);
  } else if (!(st->st_size == 0 && create) && st->st_size != off_t(kPageSize)) {
    // Only a whole page is mapped: a shorter file would fault on access.
    if (why) *why = path + ": not a meter file";
  } else {
    void* m = ::mmap(nullptr, kPageSize, canWrite ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                     fd, 0);
    if (m == MAP_FAILED) {
      if (why) *why = path + ": " + std::strerror(errno);
    } else {
      page = static_cast<MeterPage*>(m);
      // A new file is all zeros (also when another process made it a moment
      // ago): it gets its mark, and so becomes a meter.
      if (create && page->magic[0] == 0) std::memcpy(page->magic, kMagic, sizeof kMagic);
      if (std::memcmp(page->magic, kMagic, sizeof kMagic) != 0) {
        if (why) *why = path + ": not a meter file";
        ::munmap(m, kPageSize);
        page = nullptr;
      }
    }
  }
  ::close(fd);
  return page;
}

// The library's mappings, one per store, remapped when the file changes.
// A mapping is never unmapped: another thread may still be counting in it.
struct Mapping {
  dev_t dev = 0;
  ino_t ino = 0;
  MeterPage* page = nullptr;
  bool writable = false;
};
std::mutex mappingsMutex;

Mapping mappingOf(const std::string& store) {
  const std::string path = meterPath(store);
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0) return {};
  std::lock_guard<std::mutex> guard(mappingsMutex);
  static std::map<std::string, Mapping> mappings;
  Mapping& m = mappings[store];
  if (m.page && m.dev == now.st_dev && m.ino == now.st_ino) return m;
  struct stat st {};
  bool writable = false;
  MeterPage* page = mapPage(path, false, nullptr, &st, &writable);
  m = page ? Mapping{st.st_dev, st.st_ino, page, writable} : Mapping{};
  return m;
}

void sleepMicros(const Mapping& m, uint64_t micros) {
  if (micros == 0) return;
  if (m.writable) add(m.page->sleptMicros, micros);
  std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

uint64_t toMicros(double ms) {
  return ms > 0 && std::isfinite(ms) ? uint64_t(std::llround(ms * 1000)) : 0;
}

}  // namespace

uint64_t MeterCounts::callsOf(std::string_view function) const {
  for (const auto& [name, n] : perFunction)
    if (name == function) return n;
  return 0;
}

void meterCall(const std::string& store, std::string_view function) {
  const Mapping m = mappingOf(store);
  if (!m.page) return;
  if (m.writable) {
    add(m.page->calls, 1);
    for (size_t i = 0; i < kMeteredFunctions.size(); ++i)
      if (kMeteredFunctions[i] == function) add(m.page->perFunction[i], 1);
  }
  sleepMicros(m, load(m.page->perCallMicros));
}

void meterBytes(const std::string& store, uint64_t read, uint64_t written) {
  if (read == 0 && written == 0) return;
  const Mapping m = mappingOf(store);
  if (!m.page) return;
  if (m.writable) {
    add(m.page->bytesRead, read);
    add(m.page->bytesWritten, written);
  }
  sleepMicros(m, (read + written) * load(m.page->perKibMicros) / 1024);
}

bool setLatency(const std::string& store, LatencyModel model, std::string* why) {
  struct stat st {};
  MeterPage* page = mapPage(meterPath(store), true, why, &st);
  if (!page) return false;
  put(page->perCallMicros, toMicros(model.perCallMs));
  put(page->perKibMicros, toMicros(model.perKibMs));
  ::munmap(page, kPageSize);
  return true;
}

bool clearCounts(const std::string& store, std::string* why) {
  struct stat st {};
  MeterPage* page = mapPage(meterPath(store), true, why, &st);
  if (!page) return false;
  for (uint64_t* f : {&page->calls, &page->bytesRead, &page->bytesWritten, &page->sleptMicros})
    put(*f, 0);
  for (uint64_t& f : page->perFunction) put(f, 0);
  ::munmap(page, kPageSize);
  return true;
}

std::optional<LatencyModel> readLatency(const std::string& store) {
  struct stat st {};
  MeterPage* page = mapPage(meterPath(store), false, nullptr, &st);
  if (!page) return std::nullopt;
  const LatencyModel model{double(load(page->perCallMicros)) / 1000,
                           double(load(page->perKibMicros)) / 1000};
  ::munmap(page, kPageSize);
  return model;
}

std::optional<MeterCounts> readCounts(const std::string& store) {
  struct stat st {};
  MeterPage* page = mapPage(meterPath(store), false, nullptr, &st);
  if (!page) return std::nullopt;
  MeterCounts counts;
  counts.calls = load(page->calls);
  counts.bytesRead = load(page->bytesRead);
  counts.bytesWritten = load(page->bytesWritten);
  counts.sleptMicros = load(page->sleptMicros);
  for (size_t i = 0; i < kMeteredFunctions.size(); ++i)
    if (uint64_t n = load(page->perFunction[i]))
      counts.perFunction.emplace_back(kMeteredFunctions[i], n);
  ::munmap(page, kPageSize);
  return counts;
}

}  // namespace varo::softkey
