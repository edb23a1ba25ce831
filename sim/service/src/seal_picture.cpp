#include "seal_picture.h"

#include <climits>
#include <vector>

namespace signd {

SealCodec::SealCodec(const std::string& path) : library_(path) {
  if (library_.isLoaded()) object_ = std::make_unique<varo::PluginObject<BasicSealInfo>>(library_);
}

std::optional<SealPicture> SealCodec::picture(const std::string& der) const {
  if (!usable() || der.empty() || der.size() > INT_MAX) return std::nullopt;
  // A decoded field is never longer than the DER it came from.
  std::vector<unsigned char> seal(der.begin(), der.end());
  std::vector<unsigned char> bytes(der.size(), 0);
  int length = 0, width = 0, height = 0;
  if (!(*object_)->DecodeSeal(seal.data(), static_cast<int>(seal.size()), nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, bytes.data(), &length, nullptr, &width,
                              &height, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr))
    return std::nullopt;
  if (length < 0 || static_cast<size_t>(length) > bytes.size()) return std::nullopt;
  SealPicture picture;
  picture.bytes.assign(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(length));
  picture.width = width;
  picture.height = height;
  return picture;
}

}  // namespace signd
