#include "handle_table.h"

namespace varo::softkey {

namespace {

// Handle values: a per-kind tag in the low bits over a counter, offset so
// that small integers and ordinary heap addresses are never valid.
constexpr uintptr_t kBase = uintptr_t(0x5EC0) << 32;

uintptr_t value(void* h) {
  return reinterpret_cast<uintptr_t>(h);
}

}  // namespace

HandleTable& HandleTable::instance() {
  static HandleTable table;
  return table;
}

void* HandleTable::add(HandleEntry entry) {
  std::lock_guard<std::mutex> guard(mutex_);
  uintptr_t h = kBase | (next_++ << 4) | uintptr_t(entry.kind);
  entries_.emplace(h, std::move(entry));
  return reinterpret_cast<void*>(h);
}

std::optional<HandleEntry> HandleTable::find(void* h, HandleKind kind) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = entries_.find(value(h));
  if (it == entries_.end() || it->second.kind != kind) return std::nullopt;
  return it->second;
}

bool HandleTable::remove(void* h, HandleKind kind) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = entries_.find(value(h));
  if (it == entries_.end() || it->second.kind != kind) return false;
  entries_.erase(it);
  return true;
}

bool HandleTable::removeDevice(void* h) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = entries_.find(value(h));
  if (it == entries_.end() || it->second.kind != HandleKind::Device) return false;
  entries_.erase(it);
  for (auto child = entries_.begin(); child != entries_.end();) {
    if (child->second.deviceHandle == value(h))
      child = entries_.erase(child);
    else
      ++child;
  }
  return true;
}

std::optional<Session> HandleTable::login(void* h) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = entries_.find(value(h));
  if (it == entries_.end() || !it->second.session) return std::nullopt;
  return *it->second.session;
}

bool HandleTable::setLogin(void* h, bool user, bool admin) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = entries_.find(value(h));
  if (it == entries_.end() || !it->second.session) return false;
  if (user) it->second.session->user = true;
  if (admin) it->second.session->admin = true;
  return true;
}

bool HandleTable::clearLogin(void* h) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = entries_.find(value(h));
  if (it == entries_.end() || !it->second.session) return false;
  it->second.session->user = it->second.session->admin = false;
  return true;
}

}  // namespace varo::softkey
