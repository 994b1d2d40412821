// The walk over template record bytes that finds the minutia, core, delta and
// double-core blocks and decodes their items. Plain functions over a byte
// span: no VM, no state.
//
// Counts are the record's own count bytes. Reading never leaves the record:
// a block whose header lies beyond the end is not reached (count 0), and the
// decoded items stop at the first one that does not lie wholly inside the
// record, so a short or lying record yields fewer items than its count says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace dactyra::templates {

// The Java item type codes.
enum ItemType : int32_t {
  kMinutia = 0,
  kCore = 1,
  kDelta = 2,
  kDoubleCore = 3,
};

// Minutia flag bits: which optional bytes follow each minutia's word.
inline constexpr uint8_t kHasQuality = 1;
inline constexpr uint8_t kHasCurvature = 2;
inline constexpr uint8_t kHasG = 4;

// The value of an optional minutia byte the record does not carry.
inline constexpr int32_t kAbsent = 255;

// A reached block: its count byte, where its first item starts and how far
// apart the items are.
struct ItemBlock {
  int32_t type = kMinutia;
  int32_t count = 0;
  size_t first = 0;
  size_t stride = 0;
  uint8_t flags = 0;  // minutiae only
};

struct RecordItem {
  int32_t x = 0;
  int32_t y = 0;
  int32_t minutiaType = 0;  // minutiae only
  int32_t angle = 0;        // minutiae and cores
  int32_t quality = kAbsent;
  int32_t curvature = kAbsent;
  int32_t g = kAbsent;
  int32_t angle1 = 0;  // deltas only
  int32_t angle2 = 0;
  int32_t angle3 = 0;
};

// The block of `type`, or nothing when the record or the block cannot be
// reached or the type is not one of the four.
std::optional<ItemBlock> FindBlock(std::span<const uint8_t> record, int32_t type);

// The count byte of the block of `type`, 0 when it is not reached.
int32_t ItemCount(std::span<const uint8_t> record, int32_t type);

// The items of `block` in record order, as many as lie wholly inside.
std::vector<RecordItem> ReadItems(std::span<const uint8_t> record, const ItemBlock& block);

// The packed form Java reads in one crossing: each item's values one after
// the other, in the order its class takes them (NFRecord.java):
//   minutia      X, Y, type, Angle, Quality, Curvature, G
//   core         X, Y, Angle
//   delta        X, Y, Angle1, Angle2, Angle3
//   double core  X, Y
// Empty for a type that is not one of the four.
int32_t PackedWidth(int32_t type);
std::vector<int32_t> PackItems(const std::vector<RecordItem>& items, int32_t type);

// The items of `block` straight into the packed form, as PackItems over
// ReadItems gives them, without either vector: the getters' road, where the
// two vectors and their copies were most of the cost per item. `out` holds
// kMostPacked values; returns how many were written.
inline constexpr size_t kMostPacked = 255 * 7;
size_t PackBlock(std::span<const uint8_t> record, const ItemBlock& block, int32_t* out);

}  // namespace dactyra::templates
