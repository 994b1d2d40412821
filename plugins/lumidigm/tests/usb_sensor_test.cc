// The plug-in's side against the simulated sensor in a process of its own,
// over the FIFO pipes of the device-interface folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "plugins/lumidigm/tests/table_runtime.h"
#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/open_transport.h"
#include "plugins/lumidigm/transport/transport_usb.h"
#include "plugins/lumidigm/transport/usbcb.h"
#include "plugins/lumidigm/v100/catalogue.h"
#include "plugins/lumidigm/v100/execute.h"
#include "plugins/lumidigm/v100/host_calls.h"
#include "plugins/lumidigm/v100/transport_registry.h"
#include "sim/fingerprint/fingerprint.h"
#include "platform/testing/child_process.h"

namespace dactyra::v100 {
namespace {

using Clock = std::chrono::steady_clock;
using platform::testing::ChildProcess;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A private runtime: device folder, pipe folder (empty: no device service)
// and named objects of this test alone.
class SensorTest : public testing::TableRuntimeTest {
 protected:
  std::unique_ptr<ChildProcess> Sensor(std::vector<std::string> args) {
    auto p = std::make_unique<ChildProcess>(V100_SENSOR_PATH, std::move(args));
    EXPECT_TRUE(p->WaitReady());
    return p;
  }

  // A TransportUSB with short waits opened on local sensor `index`.
  std::unique_ptr<TransportUSB> OpenShort(V100TransportInfo& info, uint32_t index,
                                          UsbTimings timings = {300, 300, 1000}) {
    auto usb = std::make_unique<TransportUSB>(platform::Env::Default(), timings);
    V100DeviceDescriptor d;
    d.index = index;
    info.descriptor = &d;
    EXPECT_EQ(usb->Open(info), 0);
    info.descriptor = nullptr;
    info.transport = usb.get();
    return usb;
  }
};

// A host that went away halfway through a request leaves a piece in the
// sensor's pipe; the sensor drops it rather than taking the next host's
// bytes for its rest, and the next host is answered.
TEST_F(SensorTest, AHalfSentRequestIsDroppedAndTheNextHostIsAnswered) {
  auto sensor = Sensor({"--name", "cut", "--serial-low", "0x7171"});
  for (const uint32_t sent : {5u, 12u + 5u}) {  // cut within the usbcb, within the packet
    SCOPED_TRACE(sent);
    {
      auto pipe = platform::DevicePipe::Open(u"\\\\?\\cut\\PIPE_0x01");
      ASSERT_NE(pipe, nullptr);
      std::vector<uint8_t> bytes(kUsbcbSize + 18, 0);
      const auto head = MakeUsbcb(18);
      std::copy(head.begin(), head.end(), bytes.begin());
      ASSERT_TRUE(pipe->Write(bytes.data(), sent, 1000).done());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    V100TransportInfo info;
    auto usb = OpenShort(info, 0);
    V100Config config;
    EXPECT_EQ(GetConfig(info, config), 0);
    EXPECT_EQ(config.Field16(V100Config::kSerialLowOffset), 0x7171);
    usb->Close(info);
    info.transport = nullptr;
  }
}

// An answer the pipe still holds when the next request goes out answers
// none of that request: one that came after its exchange had timed out,
// or one whose asker was killed before it read it. Either way the next
// exchanges get their own answers, of whatever command.
TEST_F(SensorTest, ALateAnswerOrOneWhoseAskerDiedIsNotTakenForTheNext) {
  enum class Leftover { kLateAnswer, kAskerKilled };
  for (const Leftover leftover : {Leftover::kLateAnswer, Leftover::kAskerKilled}) {
    SCOPED_TRACE(static_cast<int>(leftover));
    // The second exchange's answer comes 600 ms late, well past the
    // transport's 300 ms budget.
    auto sensor = Sensor({"--name", "late", "--serial-low", "0x4242", "--fault", "slow:600@2"});
    V100TransportInfo info;
    auto usb = OpenShort(info, 0);
    V100Config config;
    ASSERT_EQ(GetConfig(info, config), 0);
    uint32_t status = 0;
    if (leftover == Leftover::kLateAnswer) {
      ::testing::internal::CaptureStdout();
      EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
      ::testing::internal::GetCapturedStdout();
    } else {
      // Another host sends a status poll and dies before the answer.
      auto pipe = platform::DevicePipe::Open(u"\\\\?\\late\\PIPE_0x01");
      ASSERT_NE(pipe, nullptr);
      std::vector<uint8_t> bytes(kUsbcbSize + kEmptyPacketSize, 0);
      const auto head = MakeUsbcb(kEmptyPacketSize);
      std::copy(head.begin(), head.end(), bytes.begin());
      WriteHeader(bytes.data() + kUsbcbSize, {kSync, Atomic_Get_Acq_Status::kCode, 0, 0});
      ASSERT_TRUE(pipe->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), 1000).done());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(900));  // the leftover has come
    for (int i = 0; i < 6; ++i) {
      SCOPED_TRACE(i);
      V100Config again;
      ASSERT_EQ(GetConfig(info, again), 0);
      EXPECT_EQ(again.Field16(V100Config::kSerialLowOffset), 0x4242);
      V100CmdSettings settings;
      ASSERT_EQ(GetCmd(info, settings), 0);
      ASSERT_EQ(GetAcqStatus(info, status), 0);
    }
    info.transport = nullptr;
    usb->Close(info);
  }
}

TEST_F(SensorTest, OpensThroughTheHandlerAndReadsConfigAndImage) {
  auto sensor = Sensor({"--name", "s0", "--serial-high", "0x1234", "--serial-low", "0xAB",
                        "--width", "120", "--height", "90", "--leading", "-1", "--finger", "7"});
  int32_t count = -2;
  EXPECT_EQ(CountDevices(count), 0);
  EXPECT_EQ(count, 1);

  V100TransportInfo info;
  ASSERT_EQ(transports().OpenTransport(info), 0);
  ASSERT_NE(info.transport, nullptr);
  EXPECT_TRUE(transports().registry().Contains(info.transport)) << "entered in the table's registry";
  std::string lock;
  ASSERT_TRUE(info.transport->GetLockName(lock));
  EXPECT_EQ(lock, "LUMIs0");

  V100Config config;
  ASSERT_EQ(GetConfig(info, config), 0);
  EXPECT_EQ(config.Field16(V100Config::kSerialHighOffset), 0x1234);
  EXPECT_EQ(config.Field16(V100Config::kSerialLowOffset), 0x00AB);
  EXPECT_EQ(config.Field16(V100Config::kWidthOffset), 120);
  EXPECT_EQ(config.Field16(V100Config::kHeightOffset), 90);

  // Scheme 1: arming, then the configured statuses 1, 4, 0.
  EXPECT_EQ(ArmTrigger(info, 1), 0);
  std::vector<uint32_t> statuses;
  for (int i = 0; i < 4; ++i) {
    uint32_t status = 99;
    ASSERT_EQ(GetAcqStatus(info, status), 0);
    statuses.push_back(status);
  }
  EXPECT_EQ(statuses, (std::vector<uint32_t>{1, 4, 0, 0}));

  std::vector<uint8_t> image(120 * 90);
  int32_t leading = 0;
  uint32_t length = 0;
  ASSERT_EQ(GetCompositeImage(info, leading, length, image), 0);
  EXPECT_EQ(leading, -1);
  ASSERT_EQ(length, 120u * 90u);
  EXPECT_EQ(image, sim::fingerprint::Finger::Generate(7).Render(120, 90).pixels);
  EXPECT_EQ(transports().CloseTransport(info), 0);
  EXPECT_EQ(info.transport, nullptr);
  EXPECT_EQ(transports().registry().Size(), 0u);
}

TEST_F(SensorTest, NoSensorNoServiceGivesNoSuchDevice) {
  int32_t count = -2;
  EXPECT_EQ(CountDevices(count), 0);
  EXPECT_EQ(count, 0);
  V100TransportInfo info;
  EXPECT_EQ(transports().OpenTransport(info), kNoSuchDevice);
  EXPECT_EQ(info.transport, nullptr);
}

TEST_F(SensorTest, TwoSensorsAreDescribedByIndex) {
  auto sensor = Sensor({"--name", "a", "--name", "b", "--serial-low", "0x22"});
  auto handler = V100DeviceHandler::GetInstance();
  int32_t count = 0;
  ASSERT_EQ(handler->GetNumDevices(count), 0);
  EXPECT_EQ(count, 2);
  V100DeviceDescriptor d = NewDeviceDescriptor();
  d.pipe_name = "stale";
  ASSERT_EQ(handler->GetDevice(1, d), 0);
  EXPECT_EQ(d.index, 1u);
  EXPECT_EQ(d.transport_kind, 0u);
  EXPECT_EQ(d.service_id, 1u);
  EXPECT_EQ(d.kind_value, 0u);
  EXPECT_EQ(d.pipe_name, "");
  EXPECT_EQ(handler->GetDevice(2, d), kNoSuchDevice);
  V100DeviceHandler::ReleaseInstance();

  V100TransportInfo info;
  info.device_number = 1;
  ASSERT_EQ(transports().OpenTransport(info), 0);
  std::string lock;
  info.transport->GetLockName(lock);
  EXPECT_EQ(lock, "LUMIb");
  transports().CloseTransport(info);
}

TEST_F(SensorTest, FaultsGiveNoResponseOrTheDeviceCodeAndTheTransportCarriesOn) {
  // Exchange 2 answers Atomic_Error 0xFFFE, 3 a code outside the catalogue,
  // 4 nothing, 5 half a packet, 6 more than it announced, 7 announces 2 MiB,
  // 9 announces 8 bytes.
  auto sensor =
      Sensor({"--name", "f", "--fault", "error:65534@2", "--fault", "wrong-code@3", "--fault",
              "no-answer@4", "--fault", "half-answer@5", "--fault", "long-answer:9@6", "--fault",
              "oversize:2097152@7", "--fault", "oversize:8@9"});
  V100TransportInfo info;
  auto usb = OpenShort(info, 0);
  uint32_t status = 0;
  EXPECT_EQ(GetAcqStatus(info, status), 0);
  EXPECT_EQ(GetAcqStatus(info, status), -2);
  // An answer of another command is passed over as a late one; none of
  // this request's follows within the budget.
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("Failed read (usbcb)."),
            std::string::npos);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("Failed read (usbcb)."), std::string::npos) << printed;
  EXPECT_NE(printed.find("Failed read (packet)."), std::string::npos) << printed;
  // The long answer's response itself is complete; its surplus waits in
  // the pipe and is dropped before the next request.
  EXPECT_EQ(GetAcqStatus(info, status), 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(GetAcqStatus(info, status), 0) << "in step again after a refused announcement";
  info.transport = nullptr;
  usb->Close(info);
}

TEST_F(SensorTest, AStalledPieceIsReadAgainAndASlowAnswerWaitsItsBudget) {
  auto sensor = Sensor({"--name", "st", "--width", "200", "--height", "200", "--fault",
                        "stall:400@2", "--fault", "slow:150@3"});
  V100TransportInfo info;
  auto usb = OpenShort(info, 0, UsbTimings{200, 2000, 1000});
  V100Config config;
  ASSERT_EQ(GetConfig(info, config), 0);
  std::vector<uint8_t> image(200 * 200);
  int32_t leading = 1;
  uint32_t length = 0;
  ASSERT_EQ(GetCompositeImage(info, leading, length, image), 0);
  EXPECT_EQ(image, sim::fingerprint::Finger::Generate(1).Render(200, 200).pixels);
  uint32_t status = 5;
  EXPECT_EQ(GetAcqStatus(info, status), 0);
  info.transport = nullptr;
  usb->Close(info);
}

TEST_F(SensorTest, ASensorVanishingMidExchangeFailsAtOnce) {
  auto sensor = Sensor({"--name", "v", "--fault", "vanish@2"});
  V100TransportInfo info;
  auto usb = OpenShort(info, 0, UsbTimings{3000, 3000, 1000});
  uint32_t status = 0;
  EXPECT_EQ(GetAcqStatus(info, status), 0);
  const auto start = Clock::now();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  ::testing::internal::GetCapturedStdout();
  EXPECT_LT(MsSince(start), 2500);
  EXPECT_TRUE(sensor->Exited() || (usleep(200000), sensor->Exited()));
  info.transport = nullptr;
  usb->Close(info);
}

TEST_F(SensorTest, AnotherProcessHoldingTheExchangeMutexTimesUsOut) {
  auto sensor = Sensor({"--name", "m"});
  auto holder = Sensor({"--hold-lock", "LUMIm", "--hold-ms", "11000"});
  V100TransportInfo info;
  ASSERT_EQ(transports().OpenTransport(info), 0);  // the transport's 10,000 ms mutex wait
  const auto start = Clock::now();
  ::testing::internal::CaptureStdout();
  uint32_t status = 0;
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nMutex timed-out");
  EXPECT_GE(MsSince(start), 9900);
  EXPECT_LT(MsSince(start), 12000);
  // Once the holder lets go, exchanges run again.
  EXPECT_EQ(holder->Stop(), 0);
  EXPECT_EQ(GetAcqStatus(info, status), 0);
  transports().CloseTransport(info);
}

// Another process that stopped while it held the device handler's or the
// transport registry's mutex holds nobody here for long: counting and
// opening fail with kDeviceHandlerBusy after the handler's bound, and the
// registry, this process's own, goes on after its bound.
TEST_F(SensorTest, AStoppedHolderOfTheHandlerOrRegistryMutexHoldsUsOnlyForItsBound) {
  struct Case {
    const char16_t* mutex;
    uint32_t bound;
    int32_t code;  // of counting and of opening
  };
  auto sensor = Sensor({"--name", "h"});
  for (const Case c : {Case{kDeviceHandlerMutexName, kDeviceHandlerMutexWaitMs, kDeviceHandlerBusy},
                       Case{TransportRegistry::kMutexName, TransportRegistry::kMutexWaitMs, 0}}) {
    const std::string name(c.mutex, c.mutex + std::char_traits<char16_t>::length(c.mutex));
    SCOPED_TRACE(name);
    auto holder = Sensor({"--hold-lock", name, "--hold-ms", "60000"});
    int32_t count = -2;
    auto start = Clock::now();
    EXPECT_EQ(CountDevices(count), c.code);
    V100TransportInfo info;
    EXPECT_EQ(transports().OpenTransport(info), c.code);
    EXPECT_EQ(transports().CloseTransport(info), 0);
    // A count and an open wait for the handler once each; an open and a
    // close for the registry.
    EXPECT_GE(MsSince(start), 2 * c.bound - 100);
    EXPECT_LT(MsSince(start), 2 * c.bound + 3000);
    // Once the holder is gone, nothing waits.
    holder->Kill();
    start = Clock::now();
    EXPECT_EQ(CountDevices(count), 0);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(transports().OpenTransport(info), 0);
    EXPECT_EQ(transports().CloseTransport(info), 0);
    EXPECT_LT(MsSince(start), 1500);
  }
}

TEST_F(SensorTest, ThreadsOfOneProcessTakeTurnsOnOneSensor) {
  auto sensor = Sensor({"--name", "t", "--width", "64", "--height", "64"});
  std::atomic<int> good{0};
  auto worker = [&] {
    V100TransportInfo info;
    if (transports().OpenTransport(info) != 0) return;
    for (int i = 0; i < 20; ++i) {
      V100Config config;
      std::vector<uint8_t> image(64 * 64);
      int32_t leading;
      uint32_t length;
      if (GetConfig(info, config) == 0 && GetCompositeImage(info, leading, length, image) == 0 &&
          length == 64 * 64) {
        ++good;
      }
    }
    transports().CloseTransport(info);
  };
  std::thread a(worker), b(worker), c(worker);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(good, 60);
}

}  // namespace
}  // namespace dactyra::v100
