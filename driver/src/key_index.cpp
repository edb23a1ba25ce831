#include "key_index.h"

#include <cstring>

namespace gm3000 {

namespace {
// Shorter than any entry a writer makes: such an index lists nothing.
constexpr int kShortestListing = 10;
}  // namespace

KeyIndex readKeyIndex(const skf::Api& api, skf::HANDLE application) {
  KeyIndex index;
  char name[] = "SEALINDEX";
  unsigned char record[kIndexSize] = {};
  skf::ULONG got = kIndexSize;
  index.code = api.SKF_ReadFile(application, name, 0, kIndexSize, record, &got);
  if (index.code == skf::SAR_FILE_NOT_EXIST) {
    index.state = IndexState::Missing;
    return index;
  }
  if (index.code != skf::SAR_OK) {
    index.state = IndexState::Unreadable;
    return index;
  }
  const size_t n = got < kIndexSize ? got : kIndexSize;
  index.record = QByteArray(reinterpret_cast<const char*>(record), int(n));
  const void* zero = std::memchr(record, 0, n);
  const size_t used = zero ? size_t(static_cast<const unsigned char*>(zero) - record) : n;
  index.text = QString::fromUtf8(reinterpret_cast<const char*>(record), int(used));
  if (index.text.trimmed().size() < kShortestListing) {
    index.state = IndexState::Empty;
    return index;
  }
  auto entries = parseIndex(index.text);
  if (!entries) {
    index.state = IndexState::Unparsable;
    return index;
  }
  index.entries = std::move(*entries);
  index.state = index.entries.empty() ? IndexState::Empty : IndexState::Listed;
  return index;
}

bool holdsOldFormSeal(const skf::Api& api, skf::HANDLE application) {
  char name[] = "PIC1";
  unsigned char header[8] = {};
  skf::ULONG got = sizeof header;
  return api.SKF_ReadFile(application, name, 0, sizeof header, header, &got) == skf::SAR_OK;
}

QString describe(const KeyIndex& index) {
  switch (index.state) {
    case IndexState::Listed:
      return QStringLiteral("its seal index lists %1 seals").arg(index.entries.size());
    case IndexState::Empty:
      return QStringLiteral("its seal index lists no seal");
    case IndexState::Missing:
      return QStringLiteral("it has no seal index");
    case IndexState::Unreadable:
      return QStringLiteral("its seal index cannot be read (0x%1)").arg(index.code, 0, 16);
    case IndexState::Unparsable:
      return QStringLiteral("its seal index is not a list of seals: ") + index.text.left(80);
  }
  return QString();
}

}  // namespace gm3000
