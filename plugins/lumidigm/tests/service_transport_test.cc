// The device service stand-in in a process of its own, with a simulated
// sensor behind it: counting and describing through the main pipe, a
// served sensor reached with TransportSE, a local one at the reply's
// index, a busy or missing service, and the service pipe's failures.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "plugins/lumidigm/tests/table_runtime.h"
#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/open_transport.h"
#include "plugins/lumidigm/transport/transport_se.h"
#include "plugins/lumidigm/v100/host_calls.h"
#include "platform/testing/child_process.h"

namespace dactyra::v100 {
namespace {

using Clock = std::chrono::steady_clock;
using platform::testing::ChildProcess;

#ifdef _WIN32
// A write to a pipe whose server has gone fails with ERROR_NO_DATA ("the
// pipe is being closed"), and a program cannot add a sensor to SetupAPI's
// device-interface list.
constexpr int kServerGoneCode = 232;
constexpr int32_t kListedLocalSensors = 0;
#else
constexpr int kServerGoneCode = 109;
constexpr int32_t kListedLocalSensors = 1;
#endif

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class ServiceTest : public testing::TableRuntimeTest {
 protected:
  std::unique_ptr<ChildProcess> Start(const char* program, std::vector<std::string> args) {
    auto p = std::make_unique<ChildProcess>(program, std::move(args));
    EXPECT_TRUE(p->WaitReady());
    return p;
  }
};

TEST_F(ServiceTest, AServedSensorIsReachedThroughItsOwnPipe) {
  auto sensor = Start(V100_SENSOR_PATH, {"--name", "behind", "--serial-low", "0x4242"});
  auto service =
      Start(DEVICE_SERVICE_PATH,
            {"--device",
             "id=77,index=0,kind=3,status=0,pipe=LumiSensor77,second=Front,relay=" + testing::SensorDevicePath("behind")});
  int32_t count = 0;
  ASSERT_EQ(CountDevices(count), 0);
  EXPECT_EQ(count, 1);

  V100TransportInfo info;
  ASSERT_EQ(transports().OpenTransport(info), 0);
  ASSERT_NE(dynamic_cast<TransportSE*>(info.transport), nullptr);
  std::string lock = "x";
  ASSERT_TRUE(info.transport->GetLockName(lock));
  EXPECT_EQ(lock, "");  // no exchange mutex on the service pipe
  V100Config config;
  ASSERT_EQ(GetConfig(info, config), 0);
  EXPECT_EQ(config.Field16(V100Config::kSerialLowOffset), 0x4242);
  std::vector<uint8_t> image(352 * 544);
  int32_t leading = 5;
  uint32_t length = 0;
  ASSERT_EQ(GetCompositeImage(info, leading, length, image), 0);
  EXPECT_EQ(length, 352u * 544u);
  EXPECT_EQ(leading, 0);
  transports().CloseTransport(info);
}

// Two hosts on one served sensor (a scanner capturing while another lists
// the sensors): the service hands the sensor one exchange at a time, so
// neither sees the other's answer or a mix of both requests.
TEST_F(ServiceTest, TwoConnectionsToOneServedSensorExchangeSideBySide) {
  auto sensor = Start(V100_SENSOR_PATH, {"--name", "shared", "--serial-low", "0x5151", "--width",
                                         "64", "--height", "48"});
  auto service =
      Start(DEVICE_SERVICE_PATH,
            {"--device", "id=5,index=0,kind=3,status=0,pipe=LumiShared,relay=" + testing::SensorDevicePath("shared")});
  constexpr int kRounds = 150;
  std::atomic<int> failures{0};
  auto host = [&] {
    V100TransportInfo info;
    if (transports().OpenTransport(info) != 0) {
      ++failures;
      return;
    }
    std::vector<uint8_t> image(64 * 48);
    for (int i = 0; i < kRounds; ++i) {
      V100Config config;
      int32_t leading = 0;
      uint32_t length = 0;
      if (GetConfig(info, config) != 0 || config.Field16(V100Config::kSerialLowOffset) != 0x5151 ||
          GetCompositeImage(info, leading, length, image) != 0 || length != 64u * 48u) {
        ++failures;
      }
    }
    transports().CloseTransport(info);
  };
  std::thread a(host), b(host);
  a.join();
  b.join();
  EXPECT_EQ(failures, 0);
}

// A service killed while the sensor was still answering leaves that answer
// behind; a service started again hands each new request its own answer,
// not the one nobody took.
TEST_F(ServiceTest, AnAnswerLeftByAKilledServiceIsNotHandedToTheNextRequest) {
  auto sensor = Start(V100_SENSOR_PATH,
                      {"--name", "left", "--serial-low", "0x6161", "--fault", "slow:400@2"});
  const std::vector<std::string> args = {
      "--device", "id=6,index=0,kind=3,status=0,pipe=LumiLeft,relay=" + testing::SensorDevicePath("left")};
  auto service = Start(DEVICE_SERVICE_PATH, args);
  V100TransportInfo info;
  ASSERT_EQ(transports().OpenTransport(info), 0);
  uint32_t status = 9;
  ASSERT_EQ(GetAcqStatus(info, status), 0);  // exchange 1
  // Exchange 2 is answered late; the service dies while the sensor is on it.
  std::thread late([&] { GetAcqStatus(info, status); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  service->Kill();
  late.join();
  transports().CloseTransport(info);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the late answer is in

  service = Start(DEVICE_SERVICE_PATH, args);
  ASSERT_EQ(transports().OpenTransport(info), 0);
  for (int i = 0; i < 3; ++i) {
    V100Config config;
    ASSERT_EQ(GetConfig(info, config), 0) << i;
    EXPECT_EQ(config.Field16(V100Config::kSerialLowOffset), 0x6161);
  }
  transports().CloseTransport(info);
}

// Local sensors are found through the device-interface list, where a
// stand-in cannot put itself under Wine: POSIX only.
#ifndef _WIN32
TEST_F(ServiceTest, KindTwoOpensTheLocalSensorAtTheRepliedIndex) {
  auto sensor = Start(V100_SENSOR_PATH, {"--name", "a", "--name", "b"});
  auto service =
      Start(DEVICE_SERVICE_PATH, {"--device", "id=3,index=1,kind=2,status=0", "--count", "2"});
  V100TransportInfo info;
  ASSERT_EQ(transports().OpenTransport(info), 0);
  std::string lock;
  info.transport->GetLockName(lock);
  EXPECT_EQ(lock, "LUMIb");
  uint32_t status = 9;
  EXPECT_EQ(GetAcqStatus(info, status), 0);
  transports().CloseTransport(info);

  info.device_number = 1;  // the service has no second entry: status 1
  EXPECT_EQ(transports().OpenTransport(info), kNoSuchDevice);
}
#endif  // _WIN32

TEST_F(ServiceTest, AServiceCountingNoDevicesFailsTheOpen) {
  auto service = Start(DEVICE_SERVICE_PATH,
                       {"--device", "id=1,index=0,kind=3,status=0,pipe=P1", "--count", "0"});
  V100TransportInfo info;
  EXPECT_EQ(transports().OpenTransport(info), kOpenFailed);
  EXPECT_EQ(info.transport, nullptr);

  auto handler = V100DeviceHandler::GetInstance();
  V100DeviceDescriptor d = NewDeviceDescriptor();
  ASSERT_EQ(handler->GetDevice(0, d), 0);
  TransportSE se;
  info.descriptor = &d;
  EXPECT_EQ(se.Open(info), 1);
  info.descriptor = nullptr;
  V100DeviceHandler::ReleaseInstance();
}

TEST_F(ServiceTest, ABusyOrSilentServiceFallsBackOrFailsWithinItsWaits) {
  auto sensor = Start(V100_SENSOR_PATH, {"--name", "local"});
  {
    auto busy = Start(DEVICE_SERVICE_PATH, {"--busy"});
    const auto start = Clock::now();
    int32_t count = 0;
    ASSERT_EQ(CountDevices(count), 0);
    // The local sensor, where the device-interface list can show it (not
    // under Wine).
    EXPECT_EQ(count, kListedLocalSensors);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_GE(MsSince(start), 190);  // one 200 ms wait for the busy pipe
  }
  // A service that takes the request and never answers, or breaks off its
  // reply, fails the count as a failed read.
  for (const auto& args :
       {std::vector<std::string>{"--silent"}, std::vector<std::string>{"--garbage", "short"}}) {
    SCOPED_TRACE(args.back());
    auto service = Start(DEVICE_SERVICE_PATH, args);
    const auto start = Clock::now();
    int32_t count = 7;
    EXPECT_EQ(CountDevices(count), kServiceReadFailed);
    EXPECT_EQ(count, 0);
    EXPECT_LT(MsSince(start), 6000);
  }
}

TEST_F(ServiceTest, PipeFailuresPrintTheSystemMessageAndEndTheExchange) {
  auto sensor = Start(V100_SENSOR_PATH, {"--name", "s"});
  auto service = Start(DEVICE_SERVICE_PATH,
                       {"--device", "id=1,index=0,kind=3,status=0,pipe=Gone,relay=" + testing::SensorDevicePath("s")});
  V100TransportInfo info;
  ASSERT_EQ(transports().OpenTransport(info), 0);
  uint32_t status = 3;
  ASSERT_EQ(GetAcqStatus(info, status), 0);
  EXPECT_EQ(service->Stop(), 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  const std::string code = std::to_string(kServerGoneCode);
  EXPECT_EQ(printed.rfind("\nError " + code + ": ", 0), 0u) << printed;
  EXPECT_NE(printed.find("\n NamedPipe::WritePipe (V100Core)- Error "), std::string::npos)
      << printed;
  EXPECT_NE(printed.find(" file: " + code), std::string::npos) << printed;
  transports().CloseTransport(info);
}

TEST_F(ServiceTest, AMissingDevicePipeIsReportedAndFailsTheConnect) {
  V100DeviceDescriptor d = NewDeviceDescriptor();
  d.pipe_name = "NoSuchPipe";
  PipeClient client(platform::Env::Default(), PipeTimings{});
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(client.Connect(TransportSE::DevicePipePath(".", "NoSuchPipe")));
  EXPECT_EQ(
      ::testing::internal::GetCapturedStdout(),
      "\nError occurred while creating the pipe: err = 2, pipe name = \\\\.\\PIPE\\NoSuchPipe");
}

}  // namespace
}  // namespace dactyra::v100
