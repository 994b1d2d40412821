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
// otherwise, decided before any byte of the packet is read.
inline std::optional<uint32_t> AnnouncedPacketSize(std::span<const uint8_t, kUsbcbSize> usbcb,
                                                   uint32_t capacity) {
  const uint32_t size = LoadU32(usbcb.data() + 8);
  if (size < kHeaderSize || size > capacity) return std::nullopt;
  return size;
}

}  // namespace dactyra::v100
