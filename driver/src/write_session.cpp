#include "write_session.h"

namespace gm3000 {

skf::ULONG WriteSession::open(const std::string& device, Step* failed) {
  if (skf::ULONG rc = key_.connect(device)) {
    *failed = Step::Connect;
    return rc;
  }
  serial_ = serialOf(api_, key_.device());
  lock_.emplace(api_, key_, device, serial_);
  if (skf::ULONG rc = lock_->result()) {
    *failed = Step::Lock;
    return rc;
  }
  skf::ULONG rc = skf::SAR_OK;
  switch (key_.openFirstApplication(&rc)) {
    case OpenKey::AppStep::Opened:
      return skf::SAR_OK;
    case OpenKey::AppStep::EnumerationFailed:
      *failed = Step::EnumerateApplication;
      return rc ? rc : skf::SAR_FAIL;
    case OpenKey::AppStep::OpeningFailed:
      *failed = Step::OpenApplication;
      return rc ? rc : skf::SAR_FAIL;
  }
  return skf::SAR_FAIL;
}

}  // namespace gm3000
