// Fixed records that the plug-in interprets: the sensor's configuration,
// its command settings and the caller's user record for enrolment. They
// travel as raw little-endian bytes; accessors read the fields by offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "plugins/lumidigm/v100/packet.h"

namespace dactyra::v100 {

template <size_t N>
struct ByteRecord {
  static constexpr size_t kSize = N;
  std::array<uint8_t, N> bytes{};

  // 16-bit field at `offset`; 0 for an offset outside the record.
  uint16_t Field16(size_t offset) const { return offset + 2 <= N ? LoadU16(&bytes[offset]) : 0; }
  void SetField16(size_t offset, uint16_t value) {
    if (offset + 2 <= N) StoreU16(&bytes[offset], value);
  }
  uint32_t Field32(size_t offset) const { return offset + 4 <= N ? LoadU32(&bytes[offset]) : 0; }
  void SetField32(size_t offset, uint32_t value) {
    if (offset + 4 <= N) StoreU32(&bytes[offset], value);
  }
  bool operator==(const ByteRecord&) const = default;
};

// Read with Atomic_Get_Config.
struct V100Config : ByteRecord<128> {
  static constexpr size_t kVendorOffset = 0;
  static constexpr size_t kProductOffset = 2;
  static constexpr size_t kSerialLowOffset = 4;
  static constexpr size_t kWidthOffset = 30;
  static constexpr size_t kHeightOffset = 32;
  static constexpr size_t kSerialHighOffset = 116;
};

// Read with Atomic_Get_Cmd, written with Atomic_Set_Cmd.
struct V100CmdSettings : ByteRecord<64> {};

// The 44-byte user record of the identification database; the 32-bit value
// at offset 40 counts the 2048-byte blocks that follow it where a command
// carries them.
struct V100UserRecord : ByteRecord<44> {
  static constexpr size_t kBlockCountOffset = 40;
};

// What a caller gives Macro_ID_Enroll_User_Record: three byte fields and the
// block count, laid into the user record in this order.
struct V100EnrollInput {
  std::array<uint8_t, 16> first{};
  std::array<uint8_t, 16> second{};
  std::array<uint8_t, 8> third{};
  uint32_t block_count = 0;
};

}  // namespace dactyra::v100
