#include "sim/lumidigm/serial_sensor.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>
#include <vector>

#include "plugins/lumidigm/transport/xmodem.h"
#include "plugins/lumidigm/v100/packet.h"

namespace dactyra::sim::lumidigm {
namespace {

using namespace dactyra::v100;

constexpr uint32_t kReceiveLimit = 1u << 20;

std::atomic<bool> stopping{false};

// The request without the XMODEM padding: header, payload and trailer.
std::vector<uint8_t> Unpadded(std::vector<uint8_t> bytes) {
  if (bytes.size() >= kHeaderSize) {
    const uint64_t size = uint64_t{ReadHeader(bytes.data()).payload_size} + kEmptyPacketSize;
    if (size <= bytes.size()) bytes.resize(size);
  }
  return bytes;
}

void ServeXModem(XModem& port, SensorModel& model) {
  std::vector<uint8_t> buffer(kReceiveLimit);
  int naks = 0;
  while (!stopping) {
    uint8_t byte;
    const int r = port.ReadByte(byte);
    if (r < 0) return;
    if (r == 0 || byte != xmodem::kNak) {
      naks = 0;
      continue;
    }
    if (++naks < 2) continue;
    naks = 0;
    const int got = port.Receive(buffer);
    if (got < 128) {
      std::fprintf(stderr, "v100 sensor: XMODEM receive ended with %d\n", got);
      continue;
    }
    const Answer a = model.Respond(Unpadded({buffer.begin(), buffer.begin() + got}));
    if (a.silent) continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(a.delay_ms));
    port.WriteControl(xmodem::kNak);
    port.WriteControl(xmodem::kNak);
    const uint32_t n = std::min<uint32_t>(a.cut_to, static_cast<uint32_t>(a.Bytes().size()));
    const int sent = port.Send({a.Bytes().data(), n});
    if (sent < 128) std::fprintf(stderr, "v100 sensor: XMODEM send ended with %d\n", sent);
  }
}

void ServeNx(SerialCom& port, SensorModel& model) {
  int acks = 0;
  while (!stopping) {
    uint8_t byte;
    const int r = port.ReadByte(byte);
    if (r < 0) return;
    if (r == 0 || byte != xmodem::kAck) {
      acks = 0;
      continue;
    }
    if (++acks < 2) continue;
    acks = 0;
    uint8_t size_bytes[4];
    if (!port.ReadExact(size_bytes, 4)) continue;
    const uint32_t size = LoadU32(size_bytes);
    if (size < 1 || size > kReceiveLimit) continue;
    std::vector<uint8_t> request(size);
    if (!port.ReadExact(request.data(), size)) continue;
    const Answer a = model.Respond(request);
    if (a.silent) continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(a.delay_ms));
    const uint32_t n = std::min<uint32_t>(a.cut_to, static_cast<uint32_t>(a.Bytes().size()));
    StoreU32(size_bytes, a.announced);
    port.Write(size_bytes, 4);
    port.Write(a.Bytes().data(), n);
  }
}

}  // namespace

int RunSerial(const SensorOptions& options) {
  SensorModel model(options.config);
  XModem port;
  if (!port.OpenPort(options.serial_port) || !port.Configure(115200) || !port.SetTimeouts(100)) {
    std::fprintf(stderr, "v100 sensor: %s\n", port.message().c_str());
    return 1;
  }
  std::thread serve([&] {
    if (options.framing == "nx") {
      ServeNx(port, model);
    } else {
      ServeXModem(port, model);
    }
  });
  std::printf("ready\n");
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  stopping = true;
  serve.join();
  return 0;
}

}  // namespace dactyra::sim::lumidigm
