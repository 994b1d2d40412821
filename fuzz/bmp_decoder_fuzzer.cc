// Feeds arbitrary bytes to the BMP decoder. An accepted file must describe
// rows inside the input, and its picture must survive a save and a second
// load unchanged.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "imaging/bmp_decoder.h"
#include "imaging/bmp_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dactyra;
  const std::span<const std::uint8_t> file(data, size);
  GrayBmpLayout layout;
  if (ParseGrayBmp(file, layout) != BmpFault::kNone) return 0;
  if (layout.width <= 0 || layout.height <= 0 || layout.stride % 4 != 0 ||
      layout.RowOffset(0) + static_cast<std::size_t>(layout.width) > size ||
      layout.RowOffset(layout.height - 1) + static_cast<std::size_t>(layout.width) > size) {
    std::abort();
  }

  GrayPicture picture;
  if (DecodeGrayBmp(file, picture) != BmpFault::kNone) std::abort();
  if (picture.pixels.size() != layout.PixelCount()) std::abort();

  std::vector<std::uint8_t> saved;
  SaveGrayBitmap(picture.width, picture.height, picture.pixels, saved);
  GrayPicture again;
  if (DecodeGrayBmp(saved, again) != BmpFault::kNone || again.width != picture.width ||
      again.height != picture.height || again.pixels != picture.pixels) {
    std::abort();
  }
  return 0;
}
