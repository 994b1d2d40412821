#include "capture/vxr/device_list.h"

#include <cstring>

#include "plugins/interface/vxr_plugin.h"

namespace dactyra {
namespace {

// Pointers are packed from offset 4 and may be unaligned.
uintptr_t PointerAt(const uint8_t* block, uint64_t index) {
  const char* pointer = nullptr;
  std::memcpy(&pointer, block + 4 + index * sizeof(char*), sizeof(char*));
  return reinterpret_cast<uintptr_t>(pointer);
}

}  // namespace

uint32_t DeviceListCount(const uint8_t* block, size_t size) {
  uint32_t count = 0;
  if (block && size >= sizeof(count)) std::memcpy(&count, block, sizeof(count));
  return count;
}

std::optional<DeviceListFault> ReadDeviceListBlock(const uint8_t* block, size_t size,
                                                   std::vector<std::string>& serials) {
  const int32_t size32 = static_cast<int32_t>(size);
  const uint64_t count = DeviceListCount(block, size);
  // 64-bit arithmetic: a huge count must not wrap into a small text offset.
  const uint64_t text_offset = 4 + count * sizeof(char*);
  if (size < 4 || text_offset > size) {
    return DeviceListFault{1, size32, static_cast<int32_t>(count)};
  }
  const uintptr_t text = reinterpret_cast<uintptr_t>(block) + text_offset;
  const uintptr_t end = reinterpret_cast<uintptr_t>(block) + size;
  for (uint64_t i = 0; i < count; ++i) {
    const int32_t index = static_cast<int32_t>(i);
    const uintptr_t start = PointerAt(block, i);
    if (start < text || start >= end) return DeviceListFault{2, size32, index};
    uintptr_t bound = end;
    if (i + 1 < count) {
      const uintptr_t next = PointerAt(block, i + 1);
      if (next < bound) bound = next;
    }
    if (bound <= start) return DeviceListFault{3, size32, index};
    const uint8_t* first = block + (start - reinterpret_cast<uintptr_t>(block));
    const void* nul = std::memchr(first, 0, bound - start);
    if (!nul) return DeviceListFault{4, size32, index};
    serials.emplace_back(reinterpret_cast<const char*>(first),
                         static_cast<const uint8_t*>(nul) - first);
  }
  return std::nullopt;
}

}  // namespace dactyra
