// Arbitrary bytes as the line an XMODEM receiver reads: the first two bytes
// choose the buffer's size, each following byte arrives on one read (0xFF
// 0xFE stands for a read that brings nothing). The receiver must store
// nothing past its buffer and answer with a count within it or an error
// code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "plugins/lumidigm/transport/xmodem.h"

using namespace dactyra::v100;

namespace {

class BytesLine : public XModemLine {
 public:
  BytesLine(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int ReadByte(uint8_t& byte) override {
    if (pos_ >= size_) return 0;
    if (pos_ + 1 < size_ && data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFE) {
      pos_ += 2;
      return 0;
    }
    byte = data_[pos_++];
    return 1;
  }
  bool Write(const uint8_t*, uint32_t) override { return true; }
  bool WriteControl(uint8_t) override { return true; }
  void Drain() override {}
  // Only a sender reads the clock.
  uint32_t TickCount() override { return 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t room = (data[0] | (data[1] << 8)) % 4096;
  // Exactly the room, so that the sanitizer sees any step past it.
  std::vector<uint8_t> buffer(room);
  BytesLine line(data + 2, size - 2);
  const int r = XModemReceive(line, buffer);
  if (r < 0 || (r >= 128 && static_cast<size_t>(r) > room)) std::abort();
  return 0;
}
