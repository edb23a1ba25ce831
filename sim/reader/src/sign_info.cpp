#include "sign_info.h"

namespace reader {

int signInfo(InfoFn info, Bytes& signature, Bytes (&out)[kFields], bool copy) {
  int lengths[kFields];
  unsigned char* buffers[kFields];
  for (int i = 0; i < kFields; ++i) {
    lengths[i] = copy ? int(out[i].size()) : 0;
    buffers[i] = copy && !out[i].empty() ? out[i].data() : nullptr;
  }
  int rc =
      info(signature.data(), int(signature.size()), buffers[0], &lengths[0], buffers[1],
           &lengths[1], buffers[2], &lengths[2], buffers[3], &lengths[3], buffers[4], &lengths[4],
           buffers[5], &lengths[5], buffers[6], &lengths[6], buffers[7], &lengths[7]);
  if (rc != 0) return rc;
  for (int i = 0; i < kFields; ++i) {
    size_t n = lengths[i] > 0 ? size_t(lengths[i]) : 0;
    if (!copy)
      out[i].assign(n, 0);
    else if (n < out[i].size())
      out[i].resize(n);
  }
  return 0;
}

}  // namespace reader
