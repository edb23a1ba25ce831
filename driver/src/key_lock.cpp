#include "key_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "driver_report.h"
#include "varo/store_files.h"

namespace gm3000 {

namespace {

using Clock = std::chrono::steady_clock;

// The keys locked by threads of this process: owner thread and depth.
struct Holder {
  std::thread::id owner;
  int depth = 0;
};
struct Registry {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, Holder> holders;
};
// Made on first use, so that loading the driver runs no constructor.
Registry& registry() {
  static Registry r;
  return r;
}

// Takes the in-process part; false on a timeout. *outer: this is the
// outermost lock of the key on this thread.
bool lockInProcess(const std::string& device, Clock::time_point deadline, bool* outer) {
  Registry& r = registry();
  std::unique_lock<std::mutex> guard(r.mutex);
  auto& holders = r.holders;
  const auto self = std::this_thread::get_id();
  for (;;) {
    auto it = holders.find(device);
    if (it == holders.end()) {
      holders[device] = Holder{self, 1};
      *outer = true;
      return true;
    }
    if (it->second.owner == self) {
      ++it->second.depth;
      *outer = false;
      return true;
    }
    if (r.changed.wait_until(guard, deadline) == std::cv_status::timeout &&
        Clock::now() >= deadline)
      return false;
  }
}

void unlockInProcess(const std::string& device) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  auto it = r.holders.find(device);
  if (it == r.holders.end()) return;
  if (--it->second.depth == 0) r.holders.erase(it);
  r.changed.notify_all();
}

// The advisory lock file sealData/<serial>.lock, flock'ed exclusively; -1
// when it cannot be used (the write then goes on with the in-process lock
// alone, and says so), -2 on a timeout.
int lockFile(const QString& serial, Clock::time_point deadline) {
  if (!varo::isSafeStoreName(serial)) {
    reportProblem(QStringLiteral("key serial cannot name a lock file; writing without one"));
    return -1;
  }
  const QString path = varo::sealStoreDirectory() + QLatin1Char('/') + serial + ".lock";
  const QByteArray name = QFile::encodeName(path);
  // Any reader of the store may hold the lock, so the file is shared; a
  // lock file carries no data, and flock needs no write access.
  int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  const int openError = errno;
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const QString why = fd < 0 ? QString::fromLocal8Bit(std::strerror(openError))
                               : QStringLiteral("not a regular file");
    if (fd >= 0) ::close(fd);
    reportProblem(QStringLiteral("cannot use the lock file ") + path + ": " + why +
                  "; writing without it");
    return -1;
  }
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ::close(fd);
      return -1;
    }
    if (Clock::now() >= deadline) {
      ::close(fd);
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

KeyLock::KeyLock(const skf::Api& api, OpenKey& key, const std::string& device,
                 const QString& serial, skf::ULONG timeoutMs)
    : api_(api), key_(key), device_(device) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool outer = false;
  if (!lockInProcess(device_, deadline, &outer)) {
    result_ = skf::SAR_TIMEOUTERR;
    return;
  }
  processLocked_ = true;
  if (!outer) return;  // this thread holds the key already
  if (api_.SKF_LockDev && api_.SKF_UnlockDev) {
    const skf::ULONG rc = api_.SKF_LockDev(key_.device(), timeoutMs);
    if (rc == skf::SAR_OK) {
      deviceLocked_ = true;
      return;
    }
    if (rc != skf::SAR_NOTSUPPORTYETERR) {
      result_ = rc;
      return;
    }
  }
  lockFile_ = lockFile(serial, deadline);
  if (lockFile_ == -2) result_ = skf::SAR_TIMEOUTERR;
}

KeyLock::~KeyLock() {
  if (deviceLocked_) api_.SKF_UnlockDev(key_.device());
  if (lockFile_ >= 0) ::close(lockFile_);  // closing releases the flock
  if (processLocked_) unlockInProcess(device_);
}

}  // namespace gm3000
