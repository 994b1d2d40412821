// Arbitrary bytes as what a sensor sends back on a serial line in the
// length-prefixed framing: the first two bytes choose the receive buffer's
// size, the rest arrives one byte per read (0xFF 0xFE stands for a read
// that brings nothing; the end of the input is a failed port). An exchange
// that succeeds must report exactly the packet its length announced, within
// the buffer; one that fails must leave the length as it came in. What goes
// out must be two ACK bytes, the request's length and the request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/env.h"
#include "plugins/lumidigm/transport/serial_transports.h"
#include "plugins/lumidigm/v100/packet.h"

using namespace dactyra;
using namespace dactyra::v100;

namespace {

class BytesPort : public platform::SerialPort {
 public:
  BytesPort(const uint8_t* data, size_t size, std::vector<uint8_t>& sent)
      : data_(data), size_(size), sent_(sent) {}
  bool GetState(platform::SerialState&, platform::IoError*) override { return true; }
  bool SetState(const platform::SerialState&, platform::IoError*) override { return true; }
  bool GetTimeouts(platform::SerialTimeouts&, platform::IoError*) override { return true; }
  bool SetTimeouts(const platform::SerialTimeouts&, platform::IoError*) override { return true; }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& read, platform::IoError*) override {
    read = 0;
    if (pos_ >= size_) return false;
    if (pos_ + 1 < size_ && data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFE) {
      pos_ += 2;
      return true;
    }
    if (size == 0) return true;
    buffer[0] = data_[pos_++];
    read = 1;
    return true;
  }
  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written,
             platform::IoError*) override {
    sent_.insert(sent_.end(), buffer, buffer + size);
    written = size;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  std::vector<uint8_t>& sent_;
};

class PortEnv : public platform::EnvWrapper {
 public:
  PortEnv(const uint8_t* data, size_t size)
      : EnvWrapper(platform::Env::Default()), data_(data), size_(size) {}
  std::unique_ptr<platform::SerialPort> OpenSerialPort(const platform::Text&,
                                                       platform::IoError*) override {
    return std::make_unique<BytesPort>(data_, size_, sent);
  }
  std::vector<uint8_t> sent;

 private:
  const uint8_t* data_;
  size_t size_;
};

// The bytes the line delivers, in order, without the empty reads.
std::vector<uint8_t> Delivered(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < size; ++i) {
    if (i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFE) {
      ++i;
      continue;
    }
    out.push_back(data[i]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t capacity = data[0] | (data[1] << 8);
  PortEnv env(data + 2, size - 2);
  TransportRS232_NX nx(env);
  V100TransportInfo info;
  info.com_port = 1;
  info.baud_rate = 57600;
  if (nx.Open(info) != 0) std::abort();
  env.sent.clear();

  const uint8_t request[14] = {0x0D, 0x56, 72};
  // Exactly the capacity, so that the sanitizer sees any step past it.
  std::vector<uint8_t> receive(capacity);
  uint32_t length = capacity;
  const bool ok = nx.Exchange(info, request, sizeof request, receive.data(), length);

  const uint8_t framed[6] = {0x06, 0x06, sizeof request, 0, 0, 0};
  if (env.sent.size() != sizeof framed + sizeof request ||
      std::memcmp(env.sent.data(), framed, sizeof framed) != 0 ||
      std::memcmp(env.sent.data() + sizeof framed, request, sizeof request) != 0) {
    std::abort();
  }
  if (ok) {
    const std::vector<uint8_t> line = Delivered(data + 2, size - 2);
    if (line.size() < 4) std::abort();
    const uint32_t announced = LoadU32(line.data());
    if (length != announced || length < 1 || length > capacity || line.size() < 4 + length) {
      std::abort();
    }
    if (std::memcmp(receive.data(), line.data() + 4, length) != 0) std::abort();
  } else if (length != capacity) {
    std::abort();
  }
  nx.Close(info);
  return 0;
}
