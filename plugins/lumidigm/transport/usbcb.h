// The 12-byte `usbcb` that goes ahead of every packet on the USB pipes and
// on the device service's pipe: two zero words, then the size of the
// packet that follows. Little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "plugins/lumidigm/v100/packet.h"

namespace dactyra::v100 {

inline constexpr uint32_t kUsbcbSize = 12;

inline std::array<uint8_t, kUsbcbSize> MakeUsbcb(uint32_t packet_size) {
  std::array<uint8_t, kUsbcbSize> out{};
  StoreU32(out.data() + 8, packet_size);
  return out;
}

// The packet size a received usbcb announces, when the receiver can take
// it: at least a packet header (12 bytes) and at most `capacity`. None
// otherwise, decided before any byte of the packet is read; none too when
// either of its first two words is not zero, for then the bytes are not a
// usbcb at all and the stream is out of step with the packets.
inline std::optional<uint32_t> AnnouncedPacketSize(std::span<const uint8_t, kUsbcbSize> usbcb,
                                                   uint32_t capacity) {
  if (LoadU32(usbcb.data()) != 0 || LoadU32(usbcb.data() + 4) != 0) return std::nullopt;
  const uint32_t size = LoadU32(usbcb.data() + 8);
  if (size < kHeaderSize || size > capacity) return std::nullopt;
  return size;
}

// Whether a received packet (at least a header) answers `request`: it
// carries the request's command code, or is the error response. Anything
// else answers some earlier request, late.
inline bool AnswersRequest(std::span<const uint8_t> request, std::span<const uint8_t> answer) {
  if (request.size() < kHeaderSize || answer.size() < kHeaderSize) return false;
  const uint32_t code = ReadHeader(answer.data()).command;
  return code == ReadHeader(request.data()).command || code == kErrorResponseCode;
}

}  // namespace dactyra::v100
