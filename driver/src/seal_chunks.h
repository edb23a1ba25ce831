// The chunk files of a seal on the key: base name + chunk number (0 to 3),
// each an 8-byte little-endian payload length and the payload.
#pragma once

#include <QString>

#include <vector>

#include "key_access.h"

namespace gm3000 {

// Room for the bytes of one seal.
inline constexpr size_t kSealBufferSize = 307200;
// Chunks read at most.
inline constexpr int kMaxChunks = 4;

struct SealBytes {
  std::vector<unsigned char> bytes;  // the payloads, in chunk order
  int chunks = 0;                    // chunk files found
};

// Reads the chunks of base into *seal until the first missing one. False on
// a read error, and for a chunk that announces more than the buffer can
// still hold: nothing is ever written past kSealBufferSize bytes.
bool readSealChunks(const skf::Api& api, skf::HANDLE application, const QString& base,
                    SealBytes* seal);

}  // namespace gm3000
