#include "templates/record_walk.h"

#include <bit>

#include "platform/byte_order.h"

namespace dactyra::templates {

namespace {

constexpr size_t kFlags = 22;
constexpr size_t kMinutiaCount = 24;
constexpr size_t kMinutiaSize = 25;
constexpr size_t kMinutiae = 26;
constexpr size_t kShortestRecord = 26;

uint32_t Word(std::span<const uint8_t> b, size_t at) {
  return platform::LoadLe32(b.subspan(at, 4).data());
}

// The bytes an item occupies from its start.
size_t ItemBytes(const ItemBlock& block) {
  switch (block.type) {
    case kMinutia:
      return block.stride;
    case kDelta:
      return 7;
    default:
      return 4;
  }
}

}  // namespace

std::optional<ItemBlock> FindBlock(std::span<const uint8_t> record, int32_t type) {
  if (type < kMinutia || type > kDoubleCore) return std::nullopt;
  const int64_t length = static_cast<int64_t>(record.size());
  if (record.size() < kShortestRecord) return std::nullopt;
  if (type == kMinutia) {
    const uint8_t flags = record[kFlags];
    return ItemBlock{kMinutia, record[kMinutiaCount], kMinutiae,
                     4 + static_cast<size_t>(std::popcount(static_cast<unsigned>(flags & 7u))),
                     flags};
  }
  const int64_t n = int64_t{record[kMinutiaCount]} * record[kMinutiaSize];
  if (length < 29 + n) return std::nullopt;
  const auto m = static_cast<int16_t>(
      platform::LoadLe16(record.subspan(static_cast<size_t>(27 + n), 2).data()));
  // A negative length that points before the start of the record reaches
  // nothing.
  const int64_t p = 29 + n + m;
  if (p < 0 || !(p + 1 < length)) return std::nullopt;
  if (type == kCore) return ItemBlock{kCore, record[p], static_cast<size_t>(p + 2), record[p + 1]};
  const int64_t q = p + 2 + int64_t{record[p]} * record[p + 1];
  if (!(q + 1 < length)) return std::nullopt;
  if (type == kDelta)
    return ItemBlock{kDelta, record[q], static_cast<size_t>(q + 2), record[q + 1]};
  const int64_t r = q + 2 + int64_t{record[q]} * record[q + 1];
  if (!(r + 1 < length)) return std::nullopt;
  return ItemBlock{kDoubleCore, record[r], static_cast<size_t>(r + 2), record[r + 1]};
}

int32_t ItemCount(std::span<const uint8_t> record, int32_t type) {
  const auto block = FindBlock(record, type);
  return block ? block->count : 0;
}

std::vector<RecordItem> ReadItems(std::span<const uint8_t> record, const ItemBlock& block) {
  std::vector<RecordItem> items;
  items.reserve(static_cast<size_t>(block.count));
  const size_t needed = ItemBytes(block);
  size_t at = block.first;
  for (int32_t i = 0; i < block.count; ++i, at += block.stride) {
    if (at > record.size() || record.size() - at < needed) break;
    const uint32_t w = Word(record, at);
    RecordItem item;
    item.x = static_cast<int32_t>((w >> 21) & 0x7FF);
    item.y = static_cast<int32_t>((w >> 10) & 0x7FF);
    switch (block.type) {
      case kMinutia: {
        item.minutiaType = static_cast<int32_t>((w >> 8) & 3);
        item.angle = static_cast<int32_t>(w & 0xFF);
        size_t next = at + 4;
        if (block.flags & kHasQuality) item.quality = record[next++];
        if (block.flags & kHasCurvature) item.curvature = record[next++];
        if (block.flags & kHasG) item.g = record[next++];
        break;
      }
      case kCore:
        item.angle = static_cast<int32_t>(w & 0xFF);
        break;
      case kDelta:
        item.angle1 = record[at + 4];
        item.angle2 = record[at + 5];
        item.angle3 = record[at + 6];
        break;
      default:
        break;
    }
    items.push_back(item);
  }
  return items;
}

int32_t PackedWidth(int32_t type) {
  switch (type) {
    case kMinutia:
      return 7;
    case kCore:
      return 3;
    case kDelta:
      return 5;
    case kDoubleCore:
      return 2;
    default:
      return 0;
  }
}

std::vector<int32_t> PackItems(const std::vector<RecordItem>& items, int32_t type) {
  std::vector<int32_t> packed;
  packed.reserve(items.size() * static_cast<size_t>(PackedWidth(type)));
  for (const RecordItem& item : items) {
    switch (type) {
      case kMinutia:
        packed.insert(packed.end(), {item.x, item.y, item.minutiaType, item.angle, item.quality,
                                     item.curvature, item.g});
        break;
      case kCore:
        packed.insert(packed.end(), {item.x, item.y, item.angle});
        break;
      case kDelta:
        packed.insert(packed.end(), {item.x, item.y, item.angle1, item.angle2, item.angle3});
        break;
      case kDoubleCore:
        packed.insert(packed.end(), {item.x, item.y});
        break;
      default:
        break;
    }
  }
  return packed;
}

size_t PackBlock(std::span<const uint8_t> record, const ItemBlock& block, int32_t* out) {
  const size_t needed = ItemBytes(block);
  const uint8_t* const b = record.data();
  int32_t* const start = out;
  size_t at = block.first;
  // A count is one byte, so at most 255 items of at most seven values.
  for (int32_t i = 0; i < block.count; ++i, at += block.stride) {
    if (at > record.size() || record.size() - at < needed) break;
    const uint32_t w = platform::LoadLe32(b + at);
    *out++ = static_cast<int32_t>((w >> 21) & 0x7FF);
    *out++ = static_cast<int32_t>((w >> 10) & 0x7FF);
    switch (block.type) {
      case kMinutia: {
        size_t next = at + 4;
        *out++ = static_cast<int32_t>((w >> 8) & 3);
        *out++ = static_cast<int32_t>(w & 0xFF);
        *out++ = block.flags & kHasQuality ? b[next++] : kAbsent;
        *out++ = block.flags & kHasCurvature ? b[next++] : kAbsent;
        *out++ = block.flags & kHasG ? b[next] : kAbsent;
        break;
      }
      case kCore:
        *out++ = static_cast<int32_t>(w & 0xFF);
        break;
      case kDelta:
        *out++ = b[at + 4];
        *out++ = b[at + 5];
        *out++ = b[at + 6];
        break;
      default:
        break;
    }
  }
  return static_cast<size_t>(out - start);
}

}  // namespace dactyra::templates
