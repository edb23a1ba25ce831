// The picture of a seal, read with the seal codec (the BasicSealInfo object
// of the codec library), loaded by path for one batch of seals.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "BasicSealInfo.h"
#include "varo/loaded_library.h"

namespace signd {

struct SealPicture {
  std::string bytes;
  int width = 0;
  int height = 0;
};

class SealCodec {
 public:
  explicit SealCodec(const std::string& path);
  bool usable() const { return object_ && object_->get(); }
  std::string error() const { return library_.errorString(); }
  // The picture of a seal, or nullopt when it does not decode.
  std::optional<SealPicture> picture(const std::string& der) const;

 private:
  varo::LoadedLibrary library_;  // declared first: outlives the object
  std::unique_ptr<varo::PluginObject<BasicSealInfo>> object_;
};

}  // namespace signd
