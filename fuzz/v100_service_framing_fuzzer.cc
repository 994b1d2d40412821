// Arbitrary bytes as what the device service sends back on a served
// sensor's pipe: the first two bytes choose the receive buffer's size
// (12 + twice their value), the rest is the pipe's stream, read as whole
// records (a record the stream cannot fill reads as a broken pipe). An
// exchange that succeeds must report exactly the packet its usbcb
// announced, within the buffer and no shorter than a header; one that
// fails must report nothing. What goes out must be a usbcb announcing the
// request, then the request.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/env.h"
#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/transport_se.h"
#include "plugins/lumidigm/transport/usbcb.h"

using namespace dactyra;
using namespace dactyra::v100;

namespace {

class BytesPipe : public platform::NamedPipe {
 public:
  BytesPipe(const uint8_t* data, size_t size, std::vector<uint8_t>& sent)
      : data_(data), size_(size), sent_(sent) {}
  platform::IoResult Read(uint8_t* buffer, uint32_t n, uint32_t) override {
    if (size_ - pos_ < n) {
      return {platform::IoStatus::kFailed, 0, {platform::io_error::kBrokenPipe, u"broken"}};
    }
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return {platform::IoStatus::kDone, n, {}};
  }
  platform::IoResult Write(const uint8_t* buffer, uint32_t n, uint32_t) override {
    sent_.insert(sent_.end(), buffer, buffer + n);
    return {platform::IoStatus::kDone, n, {}};
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  std::vector<uint8_t>& sent_;
};

// No service on the main pipe, one sensor counted locally, and the fuzzer's
// bytes on every other pipe. It lives for the whole process: the device
// handler a transport makes keeps its Env.
class ServiceEnv : public platform::EnvWrapper {
 public:
  ServiceEnv() : EnvWrapper(platform::Env::Default()) {}
  std::unique_ptr<platform::NamedPipe> OpenNamedPipe(const platform::Text& path,
                                                     platform::IoError* error) override {
    if (path.ends_with(u"LumiDeviceServiceMainPipe")) {
      if (error) error->code = platform::io_error::kFileNotFound;
      return nullptr;
    }
    return std::make_unique<BytesPipe>(data, size, sent);
  }
  bool ListDeviceInterfaces(const platform::Text&, std::vector<platform::Text>& paths,
                            platform::IoError*) override {
    paths = {u"\\\\?\\fuzz"};
    return true;
  }
  std::unique_ptr<platform::RegistryKey> OpenRegistryKey(platform::RegistryRoot,
                                                         const platform::Text&) override {
    return nullptr;
  }
  void Sleep(uint32_t) override {}

  const uint8_t* data = nullptr;
  size_t size = 0;
  std::vector<uint8_t> sent;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static ServiceEnv& env = *new ServiceEnv;
  env.data = data + 2;
  env.size = size - 2;
  env.sent.clear();
  const uint32_t capacity = 12u + 2u * (data[0] | (data[1] << 8));

  TransportSE se(env, PipeTimings{0, 0, 0, 0});
  V100DeviceDescriptor d;
  d.transport_kind = 1;
  d.pipe_name = "fuzz";
  V100TransportInfo info;
  info.descriptor = &d;
  if (se.Open(info) != 0) std::abort();

  const uint8_t request[14] = {0x0D, 0x56, 72};
  // Exactly the capacity, so that the sanitizer sees any step past it.
  std::vector<uint8_t> receive(capacity);
  uint32_t length = capacity;
  const bool ok = se.Exchange(info, request, sizeof request, receive.data(), length);

  const auto usbcb = MakeUsbcb(sizeof request);
  if (env.sent.size() != kUsbcbSize + sizeof request ||
      !std::equal(usbcb.begin(), usbcb.end(), env.sent.begin()) ||
      std::memcmp(env.sent.data() + kUsbcbSize, request, sizeof request) != 0) {
    std::abort();
  }
  if (ok) {
    if (env.size < kUsbcbSize) std::abort();
    const uint32_t announced = LoadU32(env.data + 8);
    if (length != announced || length > capacity || length < kHeaderSize ||
        env.size < kUsbcbSize + length) {
      std::abort();
    }
    if (std::memcmp(receive.data(), env.data + kUsbcbSize, length) != 0) std::abort();
  } else if (length != 0) {
    std::abort();
  }
  se.Close(info);
  return 0;
}
