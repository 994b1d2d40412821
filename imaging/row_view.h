// A row-pointer view of a pixel buffer: slot k points at the first byte of
// picture row k, row 0 at the top, whichever order the buffer stores them in.
#pragma once

#include <cstdint>
#include <memory>

namespace dactyra {

// Held in one heap block together with its row slots; it does not own the
// pixels. Free it with FreeRowView (or hold it in a RowViewPtr) after its
// last use, before or together with the buffer.
struct TRowView {
  // Bytes per row, and the distance between the starts of consecutive rows.
  std::int32_t Width;
  // Number of row slots; never negative.
  std::int32_t Height;
  // Height slots, in the same block.
  std::uint8_t** Rows;
};

using PRowView = TRowView*;

struct RowViewDeleter {
  void operator()(TRowView* view) const;
};
using RowViewPtr = std::unique_ptr<TRowView, RowViewDeleter>;

// A view with `count` row slots, all null until filled. Throws
// dactyra::Exception for a negative width or count, std::bad_alloc when
// memory runs out.
RowViewPtr CreateRowView(std::int32_t Width, std::int32_t count);

// The bytes of the block of a view with `count` slots, or 0 when the block
// would not fit a size of `size_limit` bytes (SIZE_MAX of the build: on a
// 32-bit target a count near 2^30 would wrap).
std::uint64_t RowViewBlockBytes(std::uint64_t count, std::uint64_t size_limit);

// A view over `buffer`, whose stored row c begins at buffer + c × Width. A
// positive height means the buffer holds the top row first, 0 or below the
// bottom row first; |Height| rows either way. The buffer must hold
// |Height| rows of Width bytes.
RowViewPtr MakeRowView(std::int32_t Width, std::int32_t Height, std::uint8_t* buffer);

void FreeRowView(PRowView view);

}  // namespace dactyra
