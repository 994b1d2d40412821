// Resampling with arbitrary views, rectangles and sizes: nothing may be read
// or written outside the views (ASan sees every row as its own block), and
// with moderate sizes the result must equal the plain algorithm clipped to
// the views.
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/resample.h"
#include "imaging/row_view.h"
#include "imaging/tests/resample_reference.h"

namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  int32_t Int32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return static_cast<int32_t>(value);
  }
  const uint8_t* rest() const { return data_ + at_; }
  size_t left() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A picture whose rows are separate heap blocks of exactly its width.
struct Picture {
  Picture(int32_t width, int32_t height, const uint8_t* fill, size_t fill_size)
      : rows(static_cast<size_t>(height), std::vector<uint8_t>(static_cast<size_t>(width), 0xA5)),
        view(dactyra::CreateRowView(width, height)) {
    size_t k = 0;
    for (int32_t y = 0; y < height; ++y) {
      for (auto& pixel : rows[y])
        if (fill_size > 0) pixel = fill[k++ % fill_size];
      view->Rows[y] = rows[y].data();
    }
  }
  std::vector<std::vector<uint8_t>> rows;
  dactyra::RowViewPtr view;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  const uint8_t flags = in.Byte();
  const bool turned = flags & 1;
  // Raw 32-bit arguments reach the extremes; small ones are checked against
  // the reference.
  const bool wide = flags & 2;
  const int32_t src_w = in.Byte() % 48, src_h = in.Byte() % 48;
  const int32_t dst_w = in.Byte() % 48, dst_h = in.Byte() % 48;
  int32_t args[8];
  for (int32_t& arg : args) arg = wide ? in.Int32() : static_cast<int8_t>(in.Byte());
  const dactyra::reference::Call call{args[0], args[1], args[2], args[3],
                                      args[4], args[5], args[6], args[7]};

  Picture source(src_w, src_h, in.rest(), in.left());
  Picture got(dst_w, dst_h, nullptr, 0);
  // A null row slot in the source and the destination, now and then.
  if (flags & 4 && src_h > 0) source.view->Rows[src_h / 2] = nullptr;
  if (flags & 8 && dst_h > 0) got.view->Rows[dst_h / 2] = nullptr;
  if (turned) {
    dactyra::ResampleAreaTurned(got.view.get(), source.view.get(), call.dst_x, call.dst_y,
                                call.src_left, call.src_top, call.dst_width, call.dst_height,
                                call.src_width, call.src_height);
  } else {
    dactyra::ResampleArea(got.view.get(), source.view.get(), call.dst_x, call.dst_y, call.src_left,
                          call.src_top, call.dst_width, call.dst_height, call.src_width,
                          call.src_height);
  }
  if (wide || flags & 12) return 0;

  Picture want(dst_w, dst_h, nullptr, 0);
  dactyra::reference::ClippedReference(*want.view, *source.view, call, turned);
  if (got.rows != want.rows) __builtin_trap();
  return 0;
}
