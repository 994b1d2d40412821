// The V100 packet: a 12-byte header, the payload it announces, and a 2-byte
// trailer that is sent as zeros and never read. All fields are
// little-endian. Readers and writers here never step outside the span they
// were given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/byte_order.h"

namespace dactyra::v100 {

inline constexpr uint16_t kSync = 0x560D;
inline constexpr uint32_t kHeaderSize = 12;
inline constexpr uint32_t kTrailerSize = 2;
// Every packet size counts header and trailer: a packet without payload is
// this long.
inline constexpr uint32_t kEmptyPacketSize = kHeaderSize + kTrailerSize;
// The command code of the error response (Atomic_Error), which answers any
// request.
inline constexpr uint32_t kErrorResponseCode = 224;

struct V100PacketHeader {
  uint16_t sync = kSync;
  uint32_t command = 0;
  uint16_t argument = 0;
  uint32_t payload_size = 0;
};

inline uint16_t LoadU16(const uint8_t* p) { return platform::LoadLe16(p); }
inline uint32_t LoadU32(const uint8_t* p) { return platform::LoadLe32(p); }
inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// `out` must hold kHeaderSize bytes.
inline void WriteHeader(uint8_t* out, const V100PacketHeader& h) {
  StoreU16(out, h.sync);
  StoreU32(out + 2, h.command);
  StoreU16(out + 6, h.argument);
  StoreU32(out + 8, h.payload_size);
}
// `in` must hold kHeaderSize bytes.
inline V100PacketHeader ReadHeader(const uint8_t* in) {
  return {LoadU16(in), LoadU32(in + 2), LoadU16(in + 6), LoadU32(in + 8)};
}

// Sequential reader over the payload bytes that are both announced by the
// header and actually received. Every read checks the remaining length
// first and consumes nothing when it fails.
class PayloadReader {
 public:
  explicit PayloadReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t Remaining() const { return bytes_.size() - pos_; }

  bool ReadU8(uint8_t& v) {
    if (Remaining() < 1) return false;
    v = bytes_[pos_++];
    return true;
  }
  bool ReadU16(uint16_t& v) {
    if (Remaining() < 2) return false;
    v = LoadU16(bytes_.data() + pos_);
    pos_ += 2;
    return true;
  }
  bool ReadU32(uint32_t& v) {
    if (Remaining() < 4) return false;
    v = LoadU32(bytes_.data() + pos_);
    pos_ += 4;
    return true;
  }
  // The next `n` bytes, or false when fewer remain. `n` is 64-bit so that
  // products of announced values cannot wrap before the check.
  bool ReadSpan(uint64_t n, std::span<const uint8_t>& out) {
    if (n > Remaining()) return false;
    out = bytes_.subspan(pos_, static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

// Sequential writer into a payload area sized in advance. A write that does
// not fit writes nothing and marks the writer failed.
class PayloadWriter {
 public:
  explicit PayloadWriter(std::span<uint8_t> bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  size_t Written() const { return pos_; }

  void WriteU8(uint8_t v) {
    if (Reserve(1)) bytes_[pos_++] = v;
  }
  void WriteU16(uint16_t v) {
    if (Reserve(2)) StoreU16(bytes_.data() + pos_, v), pos_ += 2;
  }
  void WriteU32(uint32_t v) {
    if (Reserve(4)) StoreU32(bytes_.data() + pos_, v), pos_ += 4;
  }
  void WriteBytes(std::span<const uint8_t> src) {
    if (!Reserve(src.size())) return;
    if (!src.empty()) std::memcpy(bytes_.data() + pos_, src.data(), src.size());
    pos_ += src.size();
  }

 private:
  bool Reserve(size_t n) {
    if (!ok_ || bytes_.size() - pos_ < n) ok_ = false;
    return ok_;
  }

  std::span<uint8_t> bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace dactyra::v100
