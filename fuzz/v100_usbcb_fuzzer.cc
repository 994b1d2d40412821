// Arbitrary bytes as what a USB sensor sends back: the first two bytes
// choose the receive buffer's size (12 + twice their value), the rest is the input pipe's stream,
// delivered in pieces the bytes themselves cut. An exchange that succeeds
// must report exactly the packet its usbcb announced, within the buffer and
// no shorter than a header; one that fails must report nothing.
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
  platform::IoResult Read(uint8_t* buffer, uint32_t n, uint32_t) override {
    const uint32_t k = static_cast<uint32_t>(std::min<size_t>(n, size_ - pos_));
    std::memcpy(buffer, data_ + pos_, k);
    pos_ += k;
    return {k == n ? platform::IoStatus::kDone : platform::IoStatus::kTimedOut, k, {}};
  }
  platform::IoResult Write(const uint8_t*, uint32_t n, uint32_t) override {
    return {platform::IoStatus::kDone, n, {}};
  }
  void CancelIo() override {}

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
    return std::make_unique<StreamPipe>(data_, size_);
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t capacity = 12u + 2u * (data[0] | (data[1] << 8));
  StreamEnv env(data + 2, size - 2);
  TransportUSB usb(env, UsbTimings{0, 0, 0});
  V100DeviceDescriptor d;
  V100TransportInfo info;
  info.descriptor = &d;
  if (usb.Open(info) != 0) std::abort();
  std::vector<uint8_t> receive(capacity);
  const uint8_t request[14] = {0x0D, 0x56, 72};
  uint32_t length = capacity;
  const bool ok = usb.Exchange(info, request, sizeof request, receive.data(), length);
  if (ok) {
    const uint32_t announced = size - 2 >= kUsbcbSize ? LoadU32(data + 2 + 8) : 0;
    if (length != announced || length > capacity || length < kHeaderSize) std::abort();
    if (std::memcmp(receive.data(), data + 2 + kUsbcbSize, length) != 0) std::abort();
  } else if (length != 0) {
    std::abort();
  }
  usb.Close(info);
  return 0;
}
