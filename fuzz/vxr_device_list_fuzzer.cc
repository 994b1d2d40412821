// Feeds device list blocks, as a plug-in might write them, through the
// library's checks. The input is the block with each pointer slot holding a
// signed 32-bit offset from the block start in its first four bytes; the
// harness turns those into absolute addresses, as a plug-in writes them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture/vxr/device_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 1 << 16) return 0;
  // Exactly `size` bytes on the heap, so that a read past the block is seen.
  auto block = std::make_unique<uint8_t[]>(size);
  std::memcpy(block.get(), data, size);
  const uint32_t count = dactyra::DeviceListCount(block.get(), size);
  const uint64_t slots = (size - 4) / sizeof(char*);
  for (uint64_t i = 0; i < count && i < slots; ++i) {
    uint8_t* slot = block.get() + 4 + i * sizeof(char*);
    int32_t offset = 0;
    std::memcpy(&offset, slot, sizeof(offset));
    const uintptr_t address =
        reinterpret_cast<uintptr_t>(block.get()) + static_cast<intptr_t>(offset);
    std::memcpy(slot, &address, sizeof(address));
  }
  std::vector<std::string> serials;
  const auto fault = dactyra::ReadDeviceListBlock(block.get(), size, serials);
  // What passed must be texts from inside the block.
  size_t text_bytes = 0;
  for (const std::string& serial : serials) {
    if (serial.find('\0') != std::string::npos) std::abort();
    text_bytes += serial.size() + 1;
  }
  if (text_bytes > size) std::abort();
  if (!fault && serials.size() != count) std::abort();
  if (fault && (fault->check < 1 || fault->check > 4)) std::abort();
  return 0;
}
