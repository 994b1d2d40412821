// TransportSE: V100 packets through the Lumidigm device service, over the
// named pipe the service gives a sensor it serves. The framing is that of
// TransportUSB (a usbcb ahead of each packet), without the 64 KiB pieces
// and without an exchange mutex: one exchange at a time on one transport
// is the caller's duty.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::v100 {

struct PipeTimings {
  uint32_t settle_before_connect = 100;  // before the first attempt
  uint32_t busy_wait = 1000;             // per busy attempt
  uint32_t handle_wait = 5000;           // a read waits this long for a handle
  // Whole-record reads and writes on the pipe. The service answers at
  // once; a service that stays silent this long fails the exchange instead
  // of holding the caller for ever.
  uint32_t transfer_wait = 10000;
};

// The client end of one device pipe.
class PipeClient {
 public:
  static constexpr int kAttempts = 50;

  PipeClient(platform::Env& env, PipeTimings timings) : env_(env), timings_(timings) {}

  // Up to 50 attempts; false when the client holds a pipe already, on an
  // error other than a busy pipe, or after the last attempt.
  bool Connect(const std::string& path);
  platform::NamedPipe* handle() const { return pipe_.get(); }
  const std::string& name() const { return name_; }

 private:
  platform::Env& env_;
  PipeTimings timings_;
  std::unique_ptr<platform::NamedPipe> pipe_;
  std::string name_;
};

class TransportSE final : public ITransport {
 public:
  explicit TransportSE(platform::Env& env = platform::Env::Default(), PipeTimings timings = {});

  // 0; 2 without a descriptor or with an index not below the count; 1 when
  // the service counts no device; 7 when the device pipe could not be
  // connected.
  int32_t Open(V100TransportInfo& info) override;
  int32_t Close(V100TransportInfo& info) override;
  bool Exchange(V100TransportInfo& info, const uint8_t* request, uint32_t request_size,
                uint8_t* receive, uint32_t& receive_length) override;
  bool GetLockName(std::string& name) const override;

  // "\\<host>\PIPE\<name>".
  static std::string DevicePipePath(const std::string& host, const std::string& pipe_name);

 private:
  bool WritePipe(const uint8_t* data, uint32_t length);
  bool ReadPipe(uint8_t* data, uint32_t length);

  platform::Env& env_;
  PipeTimings timings_;
  std::string lock_name_;  // stays empty: no exchange mutex
  std::unique_ptr<platform::NamedMutex> mutex_;
  PipeClient client_;
};

}  // namespace dactyra::v100
