// The simulated V100 sensor program. It presents one or more sensors in the
// device-interface folder (each with its two FIFO pipes), or one sensor on
// a serial port, and answers V100 packets as the firmware would until its
// standard input ends. "ready" on standard output tells that it is there.
//
//   v100_sensor --name S1 [--name S2 ...] [config and fault options]
//   v100_sensor --serial COM2 [--framing xmodem|nx] [options]
//   v100_sensor --hold-lock NAME --hold-ms MS
//
// Options: --vendor, --product (the words at offsets 0 and 2),
// --serial-low, --serial-high (offsets 4 and 116), --width, --height
// (offsets 30 and 32), --statusesN a,b,c (statuses after an arming of
// type N, the last repeating), --leading V, --finger SEED, and --fault
// kind[:value][@exchange][#command], kinds: no-answer, half-answer,
// wrong-code, error:CODE, slow:MS, long-answer:BYTES, oversize:BYTES,
// stall:MS, vanish, short-image:BYTES (a whole composite-image answer
// whose image holds BYTES). --raw-copy N answers every byte received with N bytes
// of the image and nothing else (the floor of an exchange, for benchmarks).
// An unknown option or a value that does not read ends it with status 2.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_interfaces.h"
#include "platform/env.h"
#include "platform/named_objects.h"
#include "plugins/lumidigm/transport/usbcb.h"
#include "sim/lumidigm/sensor_options.h"
#include "sim/lumidigm/serial_sensor.h"

namespace dactyra::sim::lumidigm {
namespace {

using platform::DevicePipe;
using platform::IoStatus;

constexpr uint32_t kPoll = 200;
// The device-interface class of V100 sensors.
constexpr char16_t kInterfaceClass[] = u"{06B62F68-E35E-4F57-8BE2-A5BC6CCCC708}";
constexpr uint32_t kLongest = 64u << 20;
// Answers up to this size go out in one write with their usbcb, copied
// behind it; the held image is kept framed; anything else goes in two.
constexpr uint32_t kOneWrite = 4096;

std::atomic<bool> stopping{false};

// Once a request has begun, the rest of it must follow within this time:
// a host that went away halfway through sending leaves a piece the
// firmware drops, rather than taking the next host's bytes for its rest.
constexpr uint32_t kRestOfRequestMs = 1000;

// Reads exactly `size` bytes, waiting as long as it takes unless stopping,
// or at most `within_ms` when that is not 0.
bool ReadWhole(DevicePipe& pipe, uint8_t* data, uint32_t size, uint32_t within_ms = 0) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms);
  uint32_t got = 0;
  while (got < size) {
    const platform::IoResult r = pipe.Read(data + got, size - got, kPoll);
    got += r.bytes;
    if (r.status == IoStatus::kFailed || stopping) return false;
    if (got < size && within_ms != 0 && std::chrono::steady_clock::now() >= end) return false;
  }
  return true;
}

// The rest of a request that has begun; false (and a word) when it is cut
// short.
bool ReadRest(DevicePipe& pipe, uint8_t* data, uint32_t size) {
  if (ReadWhole(pipe, data, size, kRestOfRequestMs)) return true;
  if (!stopping) std::fprintf(stderr, "v100 sensor: request cut short, dropped\n");
  return false;
}

bool Send(DevicePipe& pipe, const uint8_t* data, uint32_t size) {
  return pipe.Write(data, size, 5000).done();
}

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Serves one USB sensor until stopping.
void ServeUsb(platform::PresentDevice& device, SensorModel& model) {
  DevicePipe& in = device.from_host();
  DevicePipe& out = device.to_host();
  // The held answer (the composite image) behind its usbcb, made once: it
  // then goes out in one write, without a copy.
  std::vector<uint8_t> framed_held;
  const std::vector<uint8_t>* framed_from = nullptr;
  while (!stopping) {
    // The usbcb as it comes: most often whole in one read.
    uint8_t usbcb[v100::kUsbcbSize];
    const platform::IoResult first = in.Read(usbcb, v100::kUsbcbSize, kPoll);
    if (first.status == IoStatus::kFailed || first.bytes == 0) continue;
    if (first.bytes < v100::kUsbcbSize &&
        !ReadRest(in, usbcb + first.bytes, v100::kUsbcbSize - first.bytes)) {
      continue;
    }
    if (v100::LoadU32(usbcb) != 0 || v100::LoadU32(usbcb + 4) != 0) {
      std::fprintf(stderr, "v100 sensor: usbcb words 0 and 4 are not zero\n");
    }
    const uint32_t size = v100::LoadU32(usbcb + 8);
    if (size > kLongest) {
      std::fprintf(stderr, "v100 sensor: usbcb announces %u bytes\n", size);
      continue;
    }
    std::vector<uint8_t> request(size);
    if (!ReadRest(in, request.data(), size)) continue;
    const Answer a = model.Respond(request);
    if (a.silent) continue;
    Sleep(a.delay_ms);
    const auto head = v100::MakeUsbcb(a.announced);
    const uint32_t n = std::min<uint32_t>(a.cut_to, static_cast<uint32_t>(a.Bytes().size()));
    const bool whole = a.stall_ms == 0 && n == a.Bytes().size() && n == a.announced;
    if (whole && a.held != nullptr) {
      if (framed_from != a.held || framed_held.size() != v100::kUsbcbSize + n) {
        framed_held.assign(head.begin(), head.end());
        framed_held.insert(framed_held.end(), a.held->begin(), a.held->end());
        framed_from = a.held;
      }
      Send(out, framed_held.data(), static_cast<uint32_t>(framed_held.size()));
    } else if (a.stall_ms == 0 && n <= kOneWrite) {
      // A short answer goes out in one write with its usbcb, as the
      // firmware's transfer would reach the host: the host wakes once for
      // it, not once for each half.
      std::vector<uint8_t> framed(head.begin(), head.end());
      framed.insert(framed.end(), a.Bytes().begin(), a.Bytes().begin() + n);
      Send(out, framed.data(), static_cast<uint32_t>(framed.size()));
    } else {
      if (!Send(out, head.data(), v100::kUsbcbSize)) continue;
      if (a.stall_ms != 0) {
        Send(out, a.Bytes().data(), a.stall_bytes);
        Sleep(a.stall_ms);
      }
      Send(out, a.Bytes().data(), n);
    }
    if (a.vanish) {
      std::fflush(stdout);
      std::_Exit(3);  // gone: the system closes the pipes mid-exchange
    }
  }
}

// The floor of an exchange for benchmarks: every byte from the host is
// answered with `size` bytes of the image, with no framing at all.
void ServeRawCopy(platform::PresentDevice& device, SensorModel& model, uint32_t size) {
  std::vector<uint8_t> bytes(size);
  for (uint32_t i = 0; i < size; ++i) bytes[i] = model.image()[i % model.image().size()];
  while (!stopping) {
    uint8_t request;
    if (!ReadWhole(device.from_host(), &request, 1)) continue;
    Send(device.to_host(), bytes.data(), size);
  }
}

int RunUsb(const SensorOptions& options) {
  std::vector<std::unique_ptr<platform::PresentDevice>> devices;
  std::vector<std::unique_ptr<SensorModel>> models;
  for (const std::string& name : options.names) {
    platform::IoError error;
    auto device =
        platform::PresentDevice::Create(kInterfaceClass, platform::FromUtf8(name), &error);
    if (!device) {
      std::fprintf(stderr, "v100 sensor: cannot present %s: %s\n", name.c_str(),
                   platform::ToUtf8(error.message).c_str());
      return 1;
    }
    devices.push_back(std::move(device));
    models.push_back(std::make_unique<SensorModel>(options.config));
  }
  std::vector<std::thread> threads;
  for (size_t i = 0; i < devices.size(); ++i) {
    if (options.raw_copy != 0) {
      threads.emplace_back(ServeRawCopy, std::ref(*devices[i]), std::ref(*models[i]),
                           options.raw_copy);
    } else {
      threads.emplace_back(ServeUsb, std::ref(*devices[i]), std::ref(*models[i]));
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  stopping = true;
  for (auto& t : threads) t.join();
  return 0;
}

int HoldLock(const SensorOptions& options) {
  auto mutex = platform::Env::Default().CreateNamedMutex(platform::FromUtf8(options.hold_lock));
  if (!mutex || mutex->Wait(platform::kInfinite) != platform::WaitResult::kSignalled) return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  Sleep(options.hold_ms);
  mutex->Release();
  return 0;
}

}  // namespace
}  // namespace dactyra::sim::lumidigm

int main(int argc, char** argv) {
  using namespace dactyra::sim::lumidigm;
  SensorOptions options;
  if (!ParseSensorOptions(argc, argv, options)) return 2;
  if (!options.hold_lock.empty()) return HoldLock(options);
  if (!options.serial_port.empty()) return RunSerial(options);
  if (options.names.empty()) {
    std::fprintf(stderr, "v100 sensor: give --name, --serial or --hold-lock\n");
    return 2;
  }
  return RunUsb(options);
}
