// The CRC-32 that zlib, gzip and PNG use (reflected polynomial 0xEDB88320,
// all ones in and out), for the LZSS frame's check of what it restores.
#ifndef QUORVEL_CODECS_CRC32_H_
#define QUORVEL_CODECS_CRC32_H_

#include <cstdint>
#include <span>

namespace quorvel::codecs_internal {

// Returns the CRC-32 of the bytes whose CRC-32 is `crc` (0 for none)
// followed by `data`, so that a stream's CRC can be carried piece by piece.
uint32_t Crc32(std::span<const uint8_t> data, uint32_t crc = 0);

}  // namespace quorvel::codecs_internal

#endif  // QUORVEL_CODECS_CRC32_H_
