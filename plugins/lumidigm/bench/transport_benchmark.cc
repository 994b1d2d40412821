// The transports against the floors that bound them, each with the peer in
// another process:
// - one composite-image exchange through Execute over the USB FIFOs,
//   against a bare FIFO copy of the same bytes from a process that answers
//   each byte with the image and nothing else;
// - the same exchange through the device service's pipe (the service
//   relays to the sensor's FIFOs);
// - XMODEM over a pseudo-terminal pair, our sender to our receiver, against
//   lrzsz's sx to rx moving the same bytes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/device_interfaces.h"
#include "platform/testing/temp_folder.h"
#include "plugins/lumidigm/tests/line_pair.h"
#include "plugins/lumidigm/transport/open_transport.h"
#include "plugins/lumidigm/transport/xmodem.h"
#include "plugins/lumidigm/v100/host_calls.h"
#include "platform/testing/child_process.h"

namespace dactyra::v100 {
namespace {

constexpr int kWidth = 352, kHeight = 544;
constexpr uint32_t kImage = kWidth * kHeight;
// The response packet: header, leading value, length, image, trailer.
constexpr uint32_t kPacket = kEmptyPacketSize + 8 + kImage;

// A private runtime for the run.
struct Runtime {
  Runtime() {
    setenv("DACTYRA_RUNTIME", root.c_str(), 1);
    setenv("DACTYRA_DEVICES", (root + "/devices").c_str(), 1);
    setenv("DACTYRA_PIPES", (root + "/pipes").c_str(), 1);
    setenv("DACTYRA_SERIAL", root.c_str(), 1);
    // The device and pipe folders are made, private, on first use.
  }
  dactyra::platform::testing::TempFolder folder{"v100-bench"};
  std::string root = folder.path();
};

std::vector<std::string> SensorArgs(std::vector<std::string> extra) {
  std::vector<std::string> args = {"--width", std::to_string(kWidth), "--height",
                                   std::to_string(kHeight)};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

void ImageExchanges(benchmark::State& state, V100TransportInfo& info) {
  std::vector<uint8_t> image(kImage);
  for (auto _ : state) {
    int32_t leading;
    uint32_t length;
    if (GetCompositeImage(info, leading, length, image) != 0 || length != kImage) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kPacket);
}

void BM_ExecuteOverUsbFifos(benchmark::State& state) {
  Runtime runtime;
  platform::testing::ChildProcess sensor(V100_SENSOR_PATH, SensorArgs({"--name", "bench"}));
  if (!sensor.WaitReady()) return state.SkipWithError("no sensor");
  TransportTable transports(platform::Env::Default());
  V100TransportInfo info;
  if (transports.OpenTransport(info) != 0) return state.SkipWithError("no transport");
  ImageExchanges(state, info);
  transports.CloseTransport(info);
}
BENCHMARK(BM_ExecuteOverUsbFifos)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_BareFifoCopy(benchmark::State& state) {
  Runtime runtime;
  platform::testing::ChildProcess sensor(
      V100_SENSOR_PATH, SensorArgs({"--name", "raw", "--raw-copy", std::to_string(kPacket)}));
  if (!sensor.WaitReady()) return state.SkipWithError("no sensor");
  auto out = platform::DevicePipe::Open(u"\\\\?\\raw\\PIPE_0x01");
  auto in = platform::DevicePipe::Open(u"\\\\?\\raw\\PIPE_0x00");
  if (!out || !in) return state.SkipWithError("no pipes");
  std::vector<uint8_t> buffer(kPacket);
  for (auto _ : state) {
    const uint8_t request = 1;
    if (!out->Write(&request, 1, 5000).done() || !in->Read(buffer.data(), kPacket, 5000).done()) {
      state.SkipWithError("copy failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kPacket);
}
BENCHMARK(BM_BareFifoCopy)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ExecuteThroughServicePipe(benchmark::State& state) {
  Runtime runtime;
  platform::testing::ChildProcess sensor(V100_SENSOR_PATH, SensorArgs({"--name", "behind"}));
  if (!sensor.WaitReady()) return state.SkipWithError("no sensor");
  platform::testing::ChildProcess service(
      DEVICE_SERVICE_PATH,
      {"--device", "id=1,index=0,kind=3,status=0,pipe=BenchSensor,relay=\\\\?\\behind"});
  if (!service.WaitReady()) return state.SkipWithError("no service");
  TransportTable transports(platform::Env::Default());
  V100TransportInfo info;
  if (transports.OpenTransport(info) != 0) return state.SkipWithError("no transport");
  ImageExchanges(state, info);
  transports.CloseTransport(info);
}
BENCHMARK(BM_ExecuteThroughServicePipe)->Unit(benchmark::kMicrosecond)->UseRealTime();

constexpr size_t kXModemBytes = 16 * 1024;

void BM_XModemOurs(benchmark::State& state) {
  Runtime runtime;
  std::vector<uint8_t> data(kXModemBytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  for (auto _ : state) {
    testing::LinePair line(runtime.root, 1, 2);
    XModem sender, receiver;
    if (!sender.OpenPort("COM1") || !sender.Configure(115200) || !receiver.OpenPort("COM2") ||
        !receiver.Configure(115200)) {
      return state.SkipWithError("no ports");
    }
    std::vector<uint8_t> buffer(kXModemBytes + 256);
    int received = 0;
    std::thread r([&] { received = receiver.Receive(buffer); });
    const int sent = sender.Send(data);
    r.join();
    if (sent < static_cast<int>(kXModemBytes) || received < static_cast<int>(kXModemBytes)) {
      return state.SkipWithError("transfer failed");
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kXModemBytes);
}
BENCHMARK(BM_XModemOurs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_XModemLrzsz(benchmark::State& state) {
  Runtime runtime;
  {
    std::ofstream file(runtime.root + "/payload", std::ios::binary);
    for (size_t i = 0; i < kXModemBytes; ++i) file.put(static_cast<char>(i * 7));
  }
  for (auto _ : state) {
    testing::LinePair line(runtime.root, 1, 2);
    const std::string cd = "cd " + runtime.root + " && ";
    const pid_t rx = testing::Spawn(
        {"/bin/sh", "-c",
         cd + "rx -q -b -c received <" + line.b() + " >" + line.b() + " 2>/dev/null"});
    const pid_t sx = testing::Spawn(
        {"/bin/sh", "-c", cd + "sx -q -b payload <" + line.a() + " >" + line.a() + " 2>/dev/null"});
    // rx ends with the file complete; its last ACK may be discarded as it
    // restores its terminal, so sx is not waited for beyond that.
    const int rx_status = testing::WaitExit(rx, 60000);
    testing::WaitExit(sx, 0);
    const auto received = std::filesystem::file_size(runtime.root + "/received");
    std::filesystem::remove(runtime.root + "/received");
    if (rx_status != 0 || received < kXModemBytes) return state.SkipWithError("lrzsz failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kXModemBytes);
}
BENCHMARK(BM_XModemLrzsz)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace dactyra::v100

BENCHMARK_MAIN();
