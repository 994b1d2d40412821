// The serial transports against the simulated sensor on the other end of
// a pseudo-terminal pair, and the choices OpenTransport makes for serial
// records.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "plugins/lumidigm/tests/line_pair.h"
#include "plugins/lumidigm/tests/table_runtime.h"
#include "plugins/lumidigm/transport/open_transport.h"
#include "plugins/lumidigm/transport/serial_transports.h"
#include "plugins/lumidigm/v100/host_calls.h"
#include "sim/fingerprint/fingerprint.h"
#include "platform/testing/child_process.h"

namespace dactyra::v100 {
namespace {

using SerialTest = testing::TableRuntimeTest;

TEST_F(SerialTest, BothFramingsCarryExchangesToTheSensor) {
  for (const char* framing : {"xmodem", "nx"}) {
    SCOPED_TRACE(framing);
    testing::LinePair line(root_, 3, 4);
    ASSERT_TRUE(line.ok());
    platform::testing::ChildProcess sensor(
        V100_SENSOR_PATH, {"--serial", "COM4", "--framing", framing, "--width", "40", "--height",
                           "30", "--serial-low", "0x5151", "--leading", "12"});
    ASSERT_TRUE(sensor.WaitReady());
    V100TransportInfo info;
    info.com_port = 3;
    info.baud_rate = 115200;
    info.read_handle =
        std::string(framing) == "nx" ? reinterpret_cast<void*>(kSerialNxSelector) : nullptr;
    // No device service and no USB sensor: the record's serial port still
    // opens.
    ASSERT_EQ(transports().OpenTransport(info), 0);
    EXPECT_EQ(info.read_handle, nullptr);
    std::string lock = "x";
    EXPECT_FALSE(info.transport->GetLockName(lock));
    EXPECT_EQ(lock, "");
    V100Config config;
    ASSERT_EQ(GetConfig(info, config), 0);
    EXPECT_EQ(config.Field16(V100Config::kSerialLowOffset), 0x5151);
    std::vector<uint8_t> image(40 * 30);
    int32_t leading = 0;
    uint32_t length = 0;
    ASSERT_EQ(GetCompositeImage(info, leading, length, image), 0);
    EXPECT_EQ(leading, 12);
    EXPECT_EQ(image, sim::fingerprint::Finger::Generate(1).Render(40, 30).pixels);
    transports().CloseTransport(info);
  }
}

// Under Wine the lines belong to the test command, which a test cannot cut.
#ifndef _WIN32
// The line goes (its cable pulled) while the XMODEM transport waits for
// the sensor's two NAKs: the sensor, a process of its own, took the request
// and stays silent, then the line is cut. The failed reads end the attempt
// at once, reported once each, instead of spinning out the line's 5 s.
TEST_F(SerialTest, ALineThatFailsEndsTheWaitForTheAnswerAtOnce) {
  testing::LinePair line(root_, 3, 4);
  ASSERT_TRUE(line.ok());
  platform::testing::ChildProcess sensor(
      V100_SENSOR_PATH, {"--serial", "COM4", "--framing", "xmodem", "--fault", "no-answer@1"});
  ASSERT_TRUE(sensor.WaitReady());
  V100TransportInfo info;
  info.com_port = 3;
  info.baud_rate = 115200;
  ASSERT_EQ(transports().OpenTransport(info), 0);
  std::thread cut([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the request is across
    line.Cut();
  });
  ::testing::internal::CaptureStdout();
  const auto start = std::chrono::steady_clock::now();
  uint32_t status = 0;
  EXPECT_EQ(GetAcqStatus(info, status), kNoResponse);
  const auto took = std::chrono::steady_clock::now() - start;
  const std::string printed = ::testing::internal::GetCapturedStdout();
  cut.join();
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  size_t timeouts = 0;
  for (size_t at = printed.find("\nTimeout"); at != std::string::npos;
       at = printed.find("\nTimeout", at + 1)) {
    ++timeouts;
  }
  // One for the failed wait, then the second attempt's reads: each fails
  // at once and is reported once.
  EXPECT_LT(timeouts, 40u) << printed.size();
  transports().CloseTransport(info);
}
#endif  // _WIN32

TEST_F(SerialTest, RecordsThatNameNoTransportFailTheOpen) {
  struct Case {
    uint32_t com_port;
    uintptr_t read_handle;
  };
  // A read-handle field neither 0 nor the NX selector; COM numbers outside
  // 1-10 for XMODEM; a port that is not there.
  for (const Case c : {Case{3, 1}, Case{3, 0x40000000}, Case{0, 0}, Case{11, 0}, Case{5, 0},
                       Case{5, kSerialNxSelector}}) {
    SCOPED_TRACE(::testing::Message() << c.com_port << " " << c.read_handle);
    V100TransportInfo info;
    info.com_port = c.com_port;
    info.baud_rate = 9600;
    info.read_handle = reinterpret_cast<void*>(c.read_handle);
    EXPECT_EQ(transports().OpenTransport(info), kOpenFailed);
    EXPECT_EQ(info.transport, nullptr);
  }
  TransportRS232 rs232;
  V100TransportInfo info;
  info.com_port = 11;
  EXPECT_EQ(rs232.Open(info), 1);
  TransportRS232_NX nx;
  info.com_port = 7;
  info.baud_rate = 9600;
  EXPECT_EQ(nx.Open(info), 1);
  EXPECT_EQ(nx.message().rfind("OpenPort Failed for port (//./COM7) with error code (2)", 0), 0u)
      << nx.message();
}

}  // namespace
}  // namespace dactyra::v100
