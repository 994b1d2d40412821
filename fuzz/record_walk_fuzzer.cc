// The template record walk over arbitrary bytes: every block of every type,
// with its items decoded. Reading outside the input is what ASan catches;
// the checks below catch a walk that invents items, and a direct packing
// that differs from the plain decoding it replaced.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "templates/record_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dactyra::templates;
  const std::span<const uint8_t> record(data, size);
  for (int32_t type = -1; type <= 4; ++type) {
    const auto block = FindBlock(record, type);
    if (!block) {
      if (ItemCount(record, type) != 0) std::abort();
      continue;
    }
    if (block->count != ItemCount(record, type) || block->count > 255) std::abort();
    const auto items = ReadItems(record, *block);
    if (items.size() > static_cast<size_t>(block->count)) std::abort();
    for (const RecordItem& item : items) {
      if (item.x > 2047 || item.y > 2047 || item.minutiaType > 3) std::abort();
    }
    std::vector<int32_t> packed(kMostPacked);
    packed.resize(PackBlock(record, *block, packed.data()));
    if (packed != PackItems(items, type)) std::abort();
  }
  return 0;
}
