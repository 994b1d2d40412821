// Little-endian numbers in byte buffers, whatever the host's byte order:
// the one place where file, record and packet readers assemble them.
#pragma once

#include <cstdint>

namespace dactyra::platform {

// `p` must have 2 (or 4) readable bytes; it need not be aligned.
inline uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8);
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace dactyra::platform
