// TransportUSB: V100 packets over the two bulk pipes of a sensor attached
// to this machine. Every packet goes out behind a usbcb on PIPE_0x01 and
// comes back behind one on PIPE_0x00, in pieces of at most 64 KiB.
// Exchanges with one sensor are serialised across threads and processes
// by the named mutex "LUMI" + the device path without its "\\?\".
//
// The pipes are byte streams that outlive any one exchange, so an answer
// that comes late (after its exchange timed out) or whose asker died is
// still in the input pipe when the next request goes out. Each exchange
// therefore drops what waits before it sends (after a failed exchange,
// until the pipe falls quiet), and takes only an answer of its request's
// command (or the error response), passing over late answers to earlier
// ones.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::v100 {

// The waits of a USB transport, in milliseconds; tests shorten them.
struct UsbTimings {
  uint32_t operation_wait = 6000;  // one piece written or read
  uint32_t read_budget = 5000;     // attempts at one piece read
  uint32_t mutex_wait = 10000;     // the exchange mutex
  // After a failed exchange: how long the input pipe must stay quiet before
  // the next request goes out.
  uint32_t resync_quiet = 100;
};

inline constexpr uint32_t kUsbPieceSize = 65536;

class TransportUSB final : public ITransport {
 public:
  explicit TransportUSB(platform::Env& env = platform::Env::Default(), UsbTimings timings = {});
  ~TransportUSB() override;

  // 0; 1 when no device is counted; 2 when the count failed, there is no
  // descriptor or its index is not below the count; 6 or 5 when the output
  // or input pipe could not be opened.
  int32_t Open(V100TransportInfo& info) override;
  int32_t Close(V100TransportInfo& info) override;
  bool Exchange(V100TransportInfo& info, const uint8_t* request, uint32_t request_size,
                uint8_t* receive, uint32_t& receive_length) override;
  bool GetLockName(std::string& name) const override;
  void CancelExchanges() override;

  // The lock name of a device path: its first four characters replaced by
  // "LUMI".
  static std::string LockNameOf(const std::string& device_path);

 private:
  bool WritePipe(platform::DevicePipe& pipe, const uint8_t* data, uint32_t length);
  bool ReadPipe(platform::DevicePipe& pipe, uint8_t* data, uint32_t length);
  // Drops what waits on the input pipe before a request (see the first
  // comment).
  void Resynchronise(platform::DevicePipe& input);
  void Failed(const char* format, int line) const;
  uint32_t ElapsedMs(uint32_t since) const;

  platform::Env& env_;
  UsbTimings timings_;
  std::string lock_name_;
  std::unique_ptr<platform::NamedMutex> mutex_;
  // The pipes whose addresses the transport record holds.
  std::unique_ptr<platform::DevicePipe> output_;
  std::unique_ptr<platform::DevicePipe> input_;
  // The last exchange ended part-way: the input pipe may still receive
  // the rest of an answer.
  bool out_of_step_ = false;
  // Set by CancelExchanges: no request begins and every read gives up at
  // once; a request already begun is written whole.
  std::atomic<bool> cancelled_{false};
};

}  // namespace dactyra::v100
