// Reading a device list block that a reader plug-in wrote into a buffer of
// ours: every pointer and text is checked against the buffer before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dactyra {

// Which check a block failed, with the two values its message carries.
struct DeviceListFault {
  // 1: the text area starts beyond the end (values: size, count);
  // 2: a pointer lies outside the text area (size, index);
  // 3: an entry's end bound is not after its pointer (size, index);
  // 4: no NUL before the end bound (size, index).
  int check;
  int32_t size;
  int32_t value;
};

// The count stored at offset 0 of a block.
uint32_t DeviceListCount(const uint8_t* block, size_t size);

// Appends the serial numbers of the block, in order, to `serials` until an
// entry fails a check; returns that failure, or nothing when all passed.
// The pointers in the block are absolute addresses; `block` is where it
// lies in memory.
std::optional<DeviceListFault> ReadDeviceListBlock(const uint8_t* block, size_t size,
                                                   std::vector<std::string>& serials);

}  // namespace dactyra
