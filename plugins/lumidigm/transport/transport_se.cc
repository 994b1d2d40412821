#include "plugins/lumidigm/transport/transport_se.h"

#include <cstdio>

#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/exchange_lock.h"
#include "plugins/lumidigm/transport/usbcb.h"

namespace dactyra::v100 {
namespace {

void Flush() { std::fflush(stdout); }

// The system's message for the failure, as "\nError %d: %s", then the
// step's own line.
void ReportFailure(const platform::IoError& error, const char* step) {
  std::printf("\nError %u: %s", error.code, platform::ToUtf8(error.message).c_str());
  std::printf("\n NamedPipe::WritePipe (V100Core)- Error %s file: %u", step, error.code);
  Flush();
}

}  // namespace

bool PipeClient::Connect(const std::string& path) {
  if (pipe_) return false;
  name_ = path;
  const platform::Text text = platform::FromAnsi(path);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    platform::IoError error;
    pipe_ = env_.OpenNamedPipe(text, &error);
    if (pipe_) return true;
    if (error.code != platform::io_error::kPipeBusy) {
      std::printf("\nError occurred while creating the pipe: err = %u, pipe name = %s", error.code,
                  path.c_str());
      Flush();
      return false;
    }
    platform::IoError wait_error;
    if (!env_.WaitNamedPipe(text, timings_.busy_wait, &wait_error)) {
      if (wait_error.code == platform::io_error::kFileNotFound) {
        std::printf("Could not connect to pipe in timeout period! Pipe not created yet\n");
      } else {
        std::printf("Could not connect to pipe in timeout period! Error: %u\n", wait_error.code);
      }
      Flush();
    }
  }
  return false;
}

TransportSE::TransportSE(platform::Env& env, PipeTimings timings)
    : env_(env), timings_(timings), client_(env, timings) {}

std::string TransportSE::DevicePipePath(const std::string& host, const std::string& pipe_name) {
  return "\\\\" + host + "\\PIPE\\" + pipe_name;
}

int32_t TransportSE::Open(V100TransportInfo& info) {
  const V100DeviceDescriptor* descriptor = info.descriptor;
  if (descriptor == nullptr) return 2;
  std::shared_ptr<V100DeviceHandler> handler = V100DeviceHandler::Current();
  if (!handler) handler = V100DeviceHandler::GetInstance(env_);
  int32_t count = 0;
  if (!handler || handler->GetNumDevices(count) != 0 || count <= 0) return 1;
  if (descriptor->index >= static_cast<uint32_t>(count)) return 2;
  const std::string path = DevicePipePath(ResolveServiceHost(env_), descriptor->pipe_name);
  env_.Sleep(timings_.settle_before_connect);
  return client_.Connect(path) ? 0 : 7;
}

int32_t TransportSE::Close(V100TransportInfo& info) {
  info.write_handle = nullptr;
  info.read_handle = nullptr;
  mutex_.reset();
  return 0;
}

bool TransportSE::GetLockName(std::string& name) const {
  name = lock_name_;
  return true;
}

bool TransportSE::WritePipe(const uint8_t* data, uint32_t length) {
  platform::NamedPipe* pipe = client_.handle();
  if (pipe == nullptr) return false;
  const platform::IoResult r = pipe->Write(data, length, timings_.transfer_wait);
  if (r.done()) return true;
  ReportFailure(r.error, "writing");
  return false;
}

bool TransportSE::ReadPipe(uint8_t* data, uint32_t length) {
  const uint32_t started = env_.TickCount();
  while (client_.handle() == nullptr) {
    if (env_.TickCount() - started >= timings_.handle_wait) return false;
    env_.Sleep(10);
  }
  const platform::IoResult r = client_.handle()->Read(data, length, timings_.transfer_wait);
  if (r.done()) return true;
  ReportFailure(r.error, "reading");
  return false;
}

bool TransportSE::Exchange(V100TransportInfo&, const uint8_t* request, uint32_t request_size,
                           uint8_t* receive, uint32_t& receive_length) {
  const uint32_t capacity = receive_length;
  ExchangeLock lock(env_, lock_name_, mutex_, 10000);
  if (!lock.ok()) return false;
  receive_length = 0;
  // Every step must succeed: a failed transfer leaves the pipe's bytes out
  // of step with the packets, so the exchange ends there.
  const auto usbcb = MakeUsbcb(request_size);
  if (!WritePipe(usbcb.data(), kUsbcbSize) || !WritePipe(request, request_size)) return false;
  std::array<uint8_t, kUsbcbSize> answer;
  if (!ReadPipe(answer.data(), kUsbcbSize)) return false;
  const std::optional<uint32_t> size = AnnouncedPacketSize(answer, capacity);
  if (!size || !ReadPipe(receive, *size)) return false;
  receive_length = *size;
  return true;
}

}  // namespace dactyra::v100
