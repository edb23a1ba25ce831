#include "seal_chunks.h"

namespace gm3000 {

bool readSealChunks(const skf::Api& api, skf::HANDLE application, const QString& base,
                    SealBytes* seal) {
  seal->bytes.assign(kSealBufferSize, 0);
  seal->chunks = 0;
  size_t total = 0;
  for (int k = 0; k < kMaxChunks; ++k) {
    QByteArray name = (base + QString::number(k)).toUtf8();
    unsigned char header[8] = {};
    skf::ULONG got = sizeof header;
    skf::ULONG rc = api.SKF_ReadFile(application, name.data(), 0, sizeof header, header, &got);
    if (rc == skf::SAR_FILE_NOT_EXIST) break;
    if (rc != skf::SAR_OK || got != sizeof header) return false;
    // Readers use the low 32 bits of the 64-bit length.
    const skf::ULONG n = skf::ULONG(header[0]) | skf::ULONG(header[1]) << 8 |
                         skf::ULONG(header[2]) << 16 | skf::ULONG(header[3]) << 24;
    const size_t room = kSealBufferSize - total;
    if (n > room) return false;
    got = static_cast<skf::ULONG>(room);
    rc = api.SKF_ReadFile(application, name.data(), 8, n, seal->bytes.data() + total, &got);
    // A writer creates every chunk with room for its whole payload: a chunk
    // that gives fewer bytes than its header announces is damaged, and a
    // seal cut short must not pass for the seal (nor replace its local copy).
    if (rc != skf::SAR_OK || got != n) return false;
    total += got;
    ++seal->chunks;
  }
  seal->bytes.resize(total);
  return true;
}

}  // namespace gm3000
