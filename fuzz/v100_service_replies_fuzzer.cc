// Arbitrary bytes as the device service's replies on the main pipe: the
// handler counts and describes a device from them. Texts must stay within
// their fields, counts and indexes within range, and every result must be
// one of the handler's codes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

#include "platform/env.h"
#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/service_messages.h"

using namespace dactyra;
using namespace dactyra::v100;

namespace {

// Serves the fuzzer's bytes record by record; an exhausted input reads as
// a broken pipe.
class BytesPipe : public platform::NamedPipe {
 public:
  BytesPipe(const uint8_t* data, size_t size, size_t& pos) : data_(data), size_(size), pos_(pos) {}
  platform::IoResult Read(uint8_t* buffer, uint32_t n, uint32_t) override {
    if (size_ - pos_ < n) return {platform::IoStatus::kFailed, 0, {109, u"broken"}};
    std::copy_n(data_ + pos_, n, buffer);
    pos_ += n;
    return {platform::IoStatus::kDone, n, {}};
  }
  platform::IoResult Write(const uint8_t*, uint32_t n, uint32_t) override {
    return {platform::IoStatus::kDone, n, {}};
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t& pos_;
};

class BytesEnv : public platform::EnvWrapper {
 public:
  BytesEnv(const uint8_t* data, size_t size)
      : EnvWrapper(platform::Env::Default()), data_(data), size_(size) {}
  std::unique_ptr<platform::NamedPipe> OpenNamedPipe(const platform::Text&,
                                                     platform::IoError*) override {
    return std::make_unique<BytesPipe>(data_, size_, pos_);
  }
  std::unique_ptr<platform::RegistryKey> OpenRegistryKey(platform::RegistryRoot,
                                                         const platform::Text&) override {
    return nullptr;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool Known(int32_t code) { return code == 0 || (code >= 162 && code <= 165); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BytesEnv env(data, size);
  V100DeviceHandler handler(env);
  int32_t count = -7;
  const int32_t counted = handler.GetNumDevices(count);
  if (!Known(counted) || count < 0 || static_cast<uint32_t>(count) > kMaxServiceDevices)
    std::abort();
  V100DeviceDescriptor d;
  const int32_t described = handler.GetDevice(0, d);
  if (!Known(described)) std::abort();
  if (d.pipe_name.size() > kDescriptorTextMax || d.second_name.size() > kDescriptorTextMax ||
      d.pipe_name.find('\0') != std::string::npos ||
      d.second_name.find('\0') != std::string::npos) {
    std::abort();
  }
  if (described == 0 && d.transport_kind > 1) std::abort();
  if (described == 0 && d.index >= kMaxServiceDevices) std::abort();
  return 0;
}
