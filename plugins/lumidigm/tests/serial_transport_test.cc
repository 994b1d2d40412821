// The serial transports against the simulated sensor on the other end of
// a pseudo-terminal pair, and the choices OpenTransport makes for serial
// records.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "plugins/lumidigm/tests/line_pair.h"
#include "plugins/lumidigm/tests/private_runtime.h"
#include "plugins/lumidigm/tests/sim_process.h"
#include "plugins/lumidigm/transport/open_transport.h"
#include "plugins/lumidigm/transport/serial_transports.h"
#include "plugins/lumidigm/v100/host_calls.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::v100 {
namespace {

using SerialTest = testing::PrivateRuntimeTest;

TEST_F(SerialTest, BothFramingsCarryExchangesToTheSensor) {
  for (const char* framing : {"xmodem", "nx"}) {
    SCOPED_TRACE(framing);
    testing::LinePair line(root_, 3, 4);
    ASSERT_TRUE(line.ok());
    testing::SimProcess sensor(
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
    ASSERT_EQ(OpenTransport(info), 0);
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
    CloseTransport(info);
  }
}

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
    EXPECT_EQ(OpenTransport(info), kOpenFailed);
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
