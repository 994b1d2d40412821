#include "plugins/lumidigm/transport/transport_usb.h"

#include <cstdio>

#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/exchange_lock.h"
#include "plugins/lumidigm/transport/usbcb.h"

namespace dactyra::v100 {
namespace {

// The file name the failure messages carry.
constexpr char kSourceName[] = "TransportUSB";

void Report(const char* format, int line) {
  std::printf(format, kSourceName, line);
  std::fflush(stdout);
}

// Answers to earlier requests passed over in one exchange before it gives
// up; each is also bounded by the read budget.
constexpr int kMostStaleAnswers = 8;

// Calls `piece(offset, size)` for each piece of a transfer of `length`:
// every whole 64 KiB, then the remainder, which is a zero-length piece
// after any multiple of 64 KiB but one piece of exactly 64 KiB.
template <typename Piece>
bool ForEachPiece(uint32_t length, Piece piece) {
  uint32_t offset = 0;
  while (length - offset >= kUsbPieceSize) {
    if (!piece(offset, kUsbPieceSize)) return false;
    offset += kUsbPieceSize;
  }
  if (length == kUsbPieceSize) return true;
  return piece(offset, length - offset);
}

}  // namespace

// A failed step's message, unless a shutdown ended the exchange: that is
// no failure of the transport.
void TransportUSB::Failed(const char* format, int line) const {
  if (!cancelled_.load()) Report(format, line);
}

TransportUSB::TransportUSB(platform::Env& env, UsbTimings timings) : env_(env), timings_(timings) {}

TransportUSB::~TransportUSB() = default;

std::string TransportUSB::LockNameOf(const std::string& device_path) {
  return "LUMI" + (device_path.size() > 4 ? device_path.substr(4) : std::string());
}

int32_t TransportUSB::Open(V100TransportInfo& info) {
  int32_t count = 0;
  if (CountDevices(count, env_) != 0 || count < 0) return 2;
  if (count == 0) return 1;
  const V100DeviceDescriptor* descriptor = info.descriptor;
  if (descriptor == nullptr || descriptor->index >= static_cast<uint32_t>(count)) return 2;

  // The path of local sensor `index`; the handler keeps nothing, so a
  // private one serves without touching the process's instance.
  const std::string path = V100DeviceHandler(env_).LocalDevicePath(descriptor->index);
  if (path.empty()) return 6;
  output_ = env_.OpenDevicePipe(platform::FromAnsi(path + "\\PIPE_0x01"));
  if (!output_) return 6;
  info.write_handle = output_.get();
  input_ = env_.OpenDevicePipe(platform::FromAnsi(path + "\\PIPE_0x00"));
  if (!input_) return 5;
  info.read_handle = input_.get();
  lock_name_ = LockNameOf(path);
  return 0;
}

int32_t TransportUSB::Close(V100TransportInfo& info) {
  info.write_handle = nullptr;
  info.read_handle = nullptr;
  output_.reset();
  input_.reset();
  mutex_.reset();
  return 0;
}

bool TransportUSB::GetLockName(std::string& name) const {
  name = lock_name_;
  return true;
}

void TransportUSB::CancelExchanges() {
  cancelled_.store(true);
  if (output_) output_->CancelIo();
  if (input_) input_->CancelIo();
}

// A shutdown does not stop a write once begun (see Exchange); only a
// write the sensor does not take is ended, by the cancel's CancelIo.
bool TransportUSB::WritePipe(platform::DevicePipe& pipe, const uint8_t* data, uint32_t length) {
  return ForEachPiece(length, [&](uint32_t offset, uint32_t size) {
    const platform::IoResult r = pipe.Write(data + offset, size, timings_.operation_wait);
    if (r.done() && r.bytes == size) return true;
    pipe.CancelIo();
    return false;
  });
}

uint32_t TransportUSB::ElapsedMs(uint32_t since) const { return env_.TickCount() - since; }

bool TransportUSB::ReadPipe(platform::DevicePipe& pipe, uint8_t* data, uint32_t length) {
  return ForEachPiece(length, [&](uint32_t offset, uint32_t size) {
    const uint32_t started = env_.TickCount();
    do {
      if (cancelled_.load()) return false;
      // A short result is discarded: the piece is read again from its
      // start, as the device sends the transfer again.
      const platform::IoResult r = pipe.Read(data + offset, size, timings_.operation_wait);
      if (r.done() && (r.bytes == size || r.bytes == 0)) return true;
      pipe.CancelIo();
      // A device that went away does not come back within the budget.
      if (r.status == platform::IoStatus::kFailed &&
          r.error.code == platform::io_error::kBrokenPipe) {
        return false;
      }
    } while (ElapsedMs(started) < timings_.read_budget);
    return false;
  });
}

void TransportUSB::Resynchronise(platform::DevicePipe& input) {
  // After a failed exchange the sensor may still be sending its answer:
  // what it sends is dropped until the pipe stays quiet for a while (at
  // most the read budget). Otherwise only what is waiting now is dropped.
  const uint32_t quiet = out_of_step_ ? timings_.resync_quiet : 0;
  const uint32_t started = env_.TickCount();
  uint8_t sink[16384];
  for (;;) {
    if (cancelled_.load()) break;
    const platform::IoResult r = input.Read(sink, sizeof sink, quiet);
    if (r.bytes == 0 || r.status == platform::IoStatus::kFailed) break;
    if (ElapsedMs(started) >= timings_.read_budget) break;
  }
  out_of_step_ = false;
}

bool TransportUSB::Exchange(V100TransportInfo& info, const uint8_t* request, uint32_t request_size,
                            uint8_t* receive, uint32_t& receive_length) {
  auto* output = static_cast<platform::DevicePipe*>(info.write_handle);
  auto* input = static_cast<platform::DevicePipe*>(info.read_handle);
  const uint32_t capacity = receive_length;
  ExchangeLock lock(env_, lock_name_, mutex_, timings_.mutex_wait);
  if (!lock.ok()) return false;

  receive_length = 0;
  // Bytes waiting before the request answer none of this exchange: a late
  // answer to a request that timed out, or one whose asker was killed.
  if (input != nullptr) Resynchronise(*input);
  // A shutdown stops a request before it begins; once its usbcb is out,
  // the request is written whole, since a usbcb alone would make the
  // sensor take the next request's usbcb for this one's packet. The wait
  // for the answer is what a shutdown ends.
  if (cancelled_.load()) return false;
  // Until an answer is read whole, the stream may hold a part of one.
  out_of_step_ = true;
  const auto usbcb = MakeUsbcb(request_size);
  if (output == nullptr || !WritePipe(*output, usbcb.data(), kUsbcbSize)) {
    Failed("\n (%s,%d) - Failed write (usbcb).", __LINE__);
    return false;
  }
  if (!WritePipe(*output, request, request_size)) {
    Failed("\n (%s,%d) - Failed write (Packet).", __LINE__);
    return false;
  }
  const uint32_t sent = env_.TickCount();
  for (int stale = 0;; ++stale) {
    std::array<uint8_t, kUsbcbSize> answer;
    if (input == nullptr || !ReadPipe(*input, answer.data(), kUsbcbSize)) {
      Failed("\n (%s,%d) - Failed read (usbcb).", __LINE__);
      return false;
    }
    // A packet longer than the receive buffer, or shorter than its own
    // header, or behind a usbcb whose zero words are not zero, is refused
    // before any of it is read.
    const std::optional<uint32_t> size = AnnouncedPacketSize(answer, capacity);
    if (!size || !ReadPipe(*input, receive, *size)) {
      Failed("\n (%s,%d) - Failed read (packet).", __LINE__);
      return false;
    }
    if (AnswersRequest({request, request_size}, {receive, *size})) {
      receive_length = *size;
      out_of_step_ = false;
      return true;
    }
    // The answer to an earlier request, come late: the stream is in step
    // again after it, and this request's answer follows.
    out_of_step_ = false;
    if (stale + 1 >= kMostStaleAnswers || ElapsedMs(sent) >= timings_.read_budget) {
      Failed("\n (%s,%d) - Failed read (packet).", __LINE__);
      return false;
    }
  }
}

}  // namespace dactyra::v100
