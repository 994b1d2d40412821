// Arbitrary bytes as what a USB sensor sends back: the first two bytes
// choose the receive buffer's size (12 + twice their value), the rest is the
// input pipe's stream after the request. An exchange that succeeds must
// report exactly the last packet it read, behind a usbcb with zero words
// that announced it, within the buffer, no shorter than a header, and
// answering the request (its command or the error response); one that
// fails must report nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/env.h"
#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/transport_usb.h"
#include "plugins/lumidigm/transport/usbcb.h"

using namespace dactyra;
using namespace dactyra::v100;

namespace {

class StreamPipe : public platform::DevicePipe {
 public:
  StreamPipe(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  platform::IoResult Read(uint8_t* buffer, uint32_t n, uint32_t timeout_ms) override {
    // A read that does not wait comes before the request: nothing waits.
    if (timeout_ms == 0) return {platform::IoStatus::kTimedOut, 0, {}};
    const uint32_t k = static_cast<uint32_t>(std::min<size_t>(n, size_ - pos_));
    std::memcpy(buffer, data_ + pos_, k);
    pos_ += k;
    return {k == n ? platform::IoStatus::kDone : platform::IoStatus::kTimedOut, k, {}};
  }
  platform::IoResult Write(const uint8_t*, uint32_t n, uint32_t) override {
    return {platform::IoStatus::kDone, n, {}};
  }
  void CancelIo() override {}
  size_t position() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class StreamEnv : public platform::EnvWrapper {
 public:
  StreamEnv(const uint8_t* data, size_t size)
      : EnvWrapper(platform::Env::Default()), data_(data), size_(size) {}
  bool ListDeviceInterfaces(const platform::Text&, std::vector<platform::Text>& paths,
                            platform::IoError*) override {
    paths = {u"\\\\?\\fuzz"};
    return true;
  }
  std::unique_ptr<platform::NamedPipe> OpenNamedPipe(const platform::Text&,
                                                     platform::IoError* error) override {
    if (error) error->code = platform::io_error::kFileNotFound;
    return nullptr;
  }
  std::unique_ptr<platform::DevicePipe> OpenDevicePipe(const platform::Text&,
                                                       platform::IoError*) override {
    auto pipe = std::make_unique<StreamPipe>(data_, size_);
    last = pipe.get();
    return pipe;
  }
  StreamPipe* last = nullptr;  // the input pipe, opened second

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t capacity = 12u + 2u * (data[0] | (data[1] << 8));
  StreamEnv env(data + 2, size - 2);
  // Pieces wait 1 ms (never, in fact), drains not at all.
  TransportUSB usb(env, UsbTimings{1, 0, 0, 0});
  V100DeviceDescriptor d;
  V100TransportInfo info;
  info.descriptor = &d;
  if (usb.Open(info) != 0) std::abort();
  std::vector<uint8_t> receive(capacity);
  const uint8_t request[14] = {0x0D, 0x56, 72};
  uint32_t length = capacity;
  const bool ok = usb.Exchange(info, request, sizeof request, receive.data(), length);
  if (ok) {
    const uint8_t* stream = data + 2;
    const size_t end = env.last->position();
    if (length > capacity || length < kHeaderSize || end < kUsbcbSize + length) std::abort();
    const uint8_t* usbcb = stream + end - length - kUsbcbSize;
    if (LoadU32(usbcb) != 0 || LoadU32(usbcb + 4) != 0 || LoadU32(usbcb + 8) != length) {
      std::abort();
    }
    if (std::memcmp(receive.data(), usbcb + kUsbcbSize, length) != 0) std::abort();
    const uint32_t code = LoadU32(receive.data() + 2);
    if (code != 72 && code != kErrorResponseCode) std::abort();
  } else if (length != 0) {
    std::abort();
  }
  usb.Close(info);
  return 0;
}
