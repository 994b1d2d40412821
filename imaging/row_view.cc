#include "imaging/row_view.h"

#include <cstddef>
#include <limits>
#include <new>
#include <string>

#include "platform/text.h"
#include "support/exception.h"

namespace dactyra {

namespace {

// The slots follow the header in the same block.
constexpr std::size_t kSlotsOffset = (sizeof(TRowView) + alignof(std::uint8_t*) - 1) /
                                     alignof(std::uint8_t*) * alignof(std::uint8_t*);

}  // namespace

std::uint64_t RowViewBlockBytes(std::uint64_t count, std::uint64_t size_limit) {
  constexpr std::uint64_t kSlot = sizeof(std::uint8_t*);
  if (size_limit < kSlotsOffset || count > (size_limit - kSlotsOffset) / kSlot) return 0;
  return kSlotsOffset + count * kSlot;
}

void RowViewDeleter::operator()(TRowView* view) const { FreeRowView(view); }

void FreeRowView(PRowView view) {
  if (!view) return;
  view->~TRowView();
  ::operator delete(static_cast<void*>(view));
}

RowViewPtr CreateRowView(std::int32_t Width, std::int32_t count) {
  if (Width < 0 || count < 0) {
    throw Exception(u"Dimensões de visão de linhas inválidas: " +
                    platform::FromUtf8(std::to_string(Width) + " x " + std::to_string(count)));
  }
  const std::size_t slots = static_cast<std::size_t>(count);
  // Computed in 64 bits and checked against this build's size_t, as
  // NewGrid checks its pixel count.
  const std::uint64_t bytes = RowViewBlockBytes(slots, std::numeric_limits<std::size_t>::max());
  if (bytes == 0) throw std::bad_alloc();
  void* block = ::operator new(static_cast<std::size_t>(bytes));
  auto* rows = static_cast<std::uint8_t**>(
      static_cast<void*>(static_cast<unsigned char*>(block) + kSlotsOffset));
  for (std::size_t k = 0; k < slots; ++k) new (rows + k) std::uint8_t*(nullptr);
  return RowViewPtr(new (block) TRowView{Width, count, rows});
}

RowViewPtr MakeRowView(std::int32_t Width, std::int32_t Height, std::uint8_t* buffer) {
  // |std::numeric_limits<std::int32_t>::min()| does not fit; no buffer can hold that many rows
  // anyway.
  if (Height == std::numeric_limits<std::int32_t>::min())
    throw Exception(u"Altura de visão de linhas inválida.");
  const std::int32_t count = Height < 0 ? -Height : Height;
  RowViewPtr view = CreateRowView(Width, count);
  // Without a buffer the slots stay null: a view of no pixels.
  if (!buffer) return view;
  for (std::int32_t c = 0; c < count; ++c) {
    std::uint8_t* stored = buffer + static_cast<std::ptrdiff_t>(c) * Width;
    view->Rows[Height > 0 ? c : count - 1 - c] = stored;
  }
  return view;
}

}  // namespace dactyra
