#include "write_session.h"

#include <cstring>

namespace gm3000 {

QString serialOf(const skf::Api& api, skf::HANDLE device) {
  if (!api.SKF_GetDevInfo) return QString();
  skf::DEVINFO info;
  std::memset(&info, 0, sizeof info);
  if (api.SKF_GetDevInfo(device, &info) != skf::SAR_OK) return QString();
  return QString::fromLatin1(info.SerialNumber,
                             int(strnlen(info.SerialNumber, sizeof info.SerialNumber)));
}

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
