// Device interfaces and FIFO pipes, named pipes over sockets, and serial
// ports over pseudo-terminals, against the forms other programs rely on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/device_interfaces.h"
#include "platform/env.h"
#include "platform/named_pipes.h"
#include "platform/serial_port.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr char16_t kClass[] = u"{06b62f68-e35e-4f57-8be2-a5bc6cccc708}";

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class DeviceIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("DACTYRA_DEVICES", (folder_.path() + "/devices").c_str(), 1);
    setenv("DACTYRA_PIPES", folder_.path().c_str(), 1);
    setenv("DACTYRA_SERIAL", folder_.path().c_str(), 1);
    ASSERT_EQ(mkdir((folder_.path() + "/devices").c_str(), 0700), 0);
  }
  testing::TempFolder folder_;
};

TEST_F(DeviceIoTest, InterfacesAreListedInByteOrderAndVanishWithTheirDevice) {
  std::vector<Text> paths;
  ASSERT_TRUE(ListDeviceInterfaces(kClass, paths));
  EXPECT_TRUE(paths.empty());
  auto b = PresentDevice::Create(kClass, u"b-sensor");
  auto a = PresentDevice::Create(kClass, u"B-sensor");
  ASSERT_TRUE(a && b);
  // Another class is not listed with this one.
  auto other = PresentDevice::Create(u"{00000000-0000-0000-0000-000000000001}", u"a");
  ASSERT_TRUE(other);
  ASSERT_TRUE(Env::Default().ListDeviceInterfaces(kClass, paths));
  EXPECT_EQ(paths, (std::vector<Text>{u"\\\\?\\B-sensor", u"\\\\?\\b-sensor"}));
  EXPECT_TRUE(std::filesystem::is_fifo(
      folder_.path() + "/devices/{06B62F68-E35E-4F57-8BE2-A5BC6CCCC708}/b-sensor/PIPE_0x01"));
  b.reset();
  ASSERT_TRUE(ListDeviceInterfaces(kClass, paths));
  EXPECT_EQ(paths, std::vector<Text>{u"\\\\?\\B-sensor"});
  IoError error;
  EXPECT_FALSE(ListDeviceInterfaces(u"no-guid", paths, &error));
  EXPECT_EQ(error.code, io_error::kInvalidParameter);
}

TEST_F(DeviceIoTest, PipesCarryBytesBothWaysWithBoundedWaits) {
  auto device = PresentDevice::Create(kClass, u"s1");
  ASSERT_TRUE(device);
  IoError error;
  auto out = DevicePipe::Open(device->device_path() + u"\\PIPE_0x01", &error);
  auto in = DevicePipe::Open(device->device_path() + u"\\PIPE_0x00", &error);
  ASSERT_TRUE(out && in) << ToUtf8(error.message);

  const uint8_t request[5] = {1, 2, 3, 4, 5};
  EXPECT_TRUE(out->Write(request, 5, 1000).done());
  uint8_t got[5] = {};
  EXPECT_TRUE(device->from_host().Read(got, 5, 1000).done());
  EXPECT_EQ(0, memcmp(got, request, 5));

  // Three of five bytes: the read waits its time and reports the three.
  EXPECT_TRUE(device->to_host().Write(request, 3, 1000).done());
  const auto start = Clock::now();
  const IoResult partial = in->Read(got, 5, 150);
  EXPECT_EQ(partial.status, IoStatus::kTimedOut);
  EXPECT_EQ(partial.bytes, 3u);
  EXPECT_GE(MsSince(start), 140);
  // Zero-length operations are done at once and move nothing.
  EXPECT_TRUE(in->Read(got, 0, 0).done());
  EXPECT_TRUE(out->Write(request, 0, 0).done());
  // The wrong direction is refused.
  EXPECT_EQ(in->Write(request, 1, 10).status, IoStatus::kFailed);
}

TEST_F(DeviceIoTest, AbsentDeviceFailsAtOnceAndAVanishingOneFailsWithoutSigpipe) {
  IoError error;
  const auto start = Clock::now();
  EXPECT_EQ(DevicePipe::Open(u"\\\\?\\nobody\\PIPE_0x01", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kFileNotFound);
  EXPECT_FALSE(error.message.empty());
  EXPECT_EQ(DevicePipe::Open(u"\\\\?\\..\\PIPE_0x01", &error), nullptr);
  EXPECT_LT(MsSince(start), 500);

  auto device = PresentDevice::Create(kClass, u"gone");
  ASSERT_TRUE(device);
  auto out = DevicePipe::Open(device->device_path() + u"\\PIPE_0x01");
  auto in = DevicePipe::Open(device->device_path() + u"\\PIPE_0x00");
  ASSERT_TRUE(out && in);
  // With SIGPIPE at its default action a raised one would end the test.
  signal(SIGPIPE, SIG_DFL);
  device.reset();
  uint8_t byte = 7;
  EXPECT_EQ(out->Write(&byte, 1, 1000).status, IoStatus::kFailed);
  const IoResult r = in->Read(&byte, 1, 1000);
  EXPECT_EQ(r.status, IoStatus::kFailed);
  EXPECT_EQ(r.error.code, io_error::kBrokenPipe);
}

TEST_F(DeviceIoTest, CancelEndsTheOperationInProgressOnly) {
  auto device = PresentDevice::Create(kClass, u"c");
  ASSERT_TRUE(device);
  auto in = DevicePipe::Open(device->device_path() + u"\\PIPE_0x00");
  ASSERT_TRUE(in);
  in->CancelIo();  // nothing in progress: no effect on the next read
  uint8_t buffer[4];
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    in->CancelIo();
  });
  const auto start = Clock::now();
  const IoResult r = in->Read(buffer, 4, 5000);
  canceller.join();
  EXPECT_EQ(r.status, IoStatus::kCancelled);
  EXPECT_EQ(r.error.code, io_error::kOperationAborted);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_GE(MsSince(start), 90);
  // The next read runs normally.
  const uint8_t data[4] = {9, 8, 7, 6};
  ASSERT_TRUE(device->to_host().Write(data, 4, 100).done());
  EXPECT_TRUE(in->Read(buffer, 4, 1000).done());
}

TEST_F(DeviceIoTest, NamedPipesConnectEchoAndReportMissingOrBusy) {
  IoError error;
  EXPECT_EQ(NamedPipe::Open(u"\\\\.\\PIPE\\absent", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kFileNotFound);
  EXPECT_EQ(NamedPipe::Open(u"\\\\elsewhere\\PIPE\\absent", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kFileNotFound);

  auto server = NamedPipeServer::Create(u"\\\\.\\PIPE\\echo", 0, &error);
  ASSERT_TRUE(server) << ToUtf8(error.message);
  // A second live server cannot take the name.
  EXPECT_EQ(NamedPipeServer::Create(u"\\\\.\\pipe\\echo", 0, &error), nullptr);
  EXPECT_EQ(error.code, io_error::kAccessDenied);
  // Backlog 0 holds one waiting client (and the probe of the refused
  // server took that place); the next finds the pipe busy.
  auto first = NamedPipe::Open(u"\\\\.\\PIPE\\echo", &error);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(error.code, io_error::kPipeBusy);
  EXPECT_FALSE(WaitNamedPipe(u"\\\\.\\PIPE\\echo", 100, &error));
  EXPECT_EQ(error.code, io_error::kSemTimeout);

  // Once the server takes the waiting client, a wait makes a connection
  // that the next open uses.
  auto probe = server->Accept(1000);
  ASSERT_TRUE(probe);
  ASSERT_TRUE(WaitNamedPipe(u"\\\\.\\PIPE\\echo", 1000, &error));
  auto client = NamedPipe::Open(u"\\\\.\\PIPE\\echo", &error);
  ASSERT_TRUE(client);
  auto instance = server->Accept(1000);
  ASSERT_TRUE(instance);
  std::vector<uint8_t> record(300000);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7);
  std::thread writer([&] { EXPECT_TRUE(client->Write(record.data(), 300000).done()); });
  std::vector<uint8_t> got(300000);
  EXPECT_TRUE(instance->Read(got.data(), 300000, 5000).done());
  writer.join();
  EXPECT_EQ(got, record);
  instance.reset();
  uint8_t byte;
  const IoResult r = client->Read(&byte, 1, 1000);
  EXPECT_EQ(r.status, IoStatus::kFailed);
  EXPECT_EQ(r.error.code, io_error::kBrokenPipe);

  std::thread stopper([&] { server->Shutdown(); });
  EXPECT_EQ(server->Accept(), nullptr);
  stopper.join();
}

// A socket address holds 107 bytes of path; a run folder deep in a build
// tree is longer, and its pipes must work all the same.
TEST_F(DeviceIoTest, NamedPipesWorkInAFolderDeeperThanASocketAddressHolds) {
  const std::string deep = folder_.path() + "/" + std::string(120, 'd');
  ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  setenv("DACTYRA_PIPES", deep.c_str(), 1);
  IoError error;
  auto server = NamedPipeServer::Create(u"\\\\.\\PIPE\\deep", 1, &error);
  ASSERT_TRUE(server) << ToUtf8(error.message);
  EXPECT_TRUE(std::filesystem::is_socket(deep + "/deep"));
  auto client = NamedPipe::Open(u"\\\\.\\PIPE\\deep", &error);
  ASSERT_TRUE(client) << ToUtf8(error.message);
  EXPECT_TRUE(server->Accept(1000));

  // A name too long for any address is refused, not cut.
  const std::u16string too_long = u"\\\\.\\PIPE\\" + std::u16string(110, u'n');
  EXPECT_EQ(NamedPipeServer::Create(too_long, 1, &error), nullptr);
  EXPECT_EQ(error.code, io_error::kInvalidParameter);
  EXPECT_EQ(NamedPipe::Open(too_long, &error), nullptr);
  EXPECT_EQ(error.code, io_error::kInvalidParameter);
}

// A pseudo-terminal pair with the device side linked as COM<n>.
class Pty {
 public:
  Pty(const std::string& folder, int n) {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
      link_ = folder + "/COM" + std::to_string(n);
      symlink(name, link_.c_str());
    }
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  int master() const { return master_; }

 private:
  int master_ = -1, slave_ = -1;
  std::string link_;
};

TEST_F(DeviceIoTest, SerialPortsAreExclusiveRawAndTimeTheirReads) {
  Pty pty(folder_.path(), 3);
  ASSERT_GE(pty.master(), 0);
  IoError error;
  auto port = SerialPort::Open(u"\\\\.\\COM3", &error);
  ASSERT_TRUE(port) << ToUtf8(error.message);
  EXPECT_EQ(SerialPort::Open(u"COM3", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kAccessDenied);
  EXPECT_EQ(SerialPort::Open(u"COM4", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kFileNotFound);
  EXPECT_EQ(SerialPort::Open(u"LPT1", &error), nullptr);

  SerialState state;
  ASSERT_TRUE(port->GetState(state));
  state.baud_rate = 115200;
  EXPECT_TRUE(port->SetState(state));
  state.baud_rate = 12345;
  EXPECT_FALSE(port->SetState(state, &error));
  EXPECT_EQ(error.code, io_error::kInvalidParameter);

  // Raw: control characters and bytes with the high bit pass unchanged.
  const uint8_t raw[] = {0x03, 0x11, 0x13, 0x0D, 0x0A, 0xFF, 0x00, 0x1A};
  ASSERT_EQ(write(pty.master(), raw, sizeof raw), static_cast<long>(sizeof raw));
  SerialTimeouts timeouts{100, 10, 100, 0, 0};
  ASSERT_TRUE(port->SetTimeouts(timeouts));
  uint8_t got[16];
  uint32_t n = 0;
  const auto start = Clock::now();
  ASSERT_TRUE(port->Read(got, 16, n));
  EXPECT_EQ(n, sizeof raw);
  EXPECT_EQ(0, memcmp(got, raw, sizeof raw));
  // The interval limit ended the read after the bytes, well before the
  // total of 260 ms.
  EXPECT_LT(MsSince(start), 240);

  // Nothing arrives: the total limit, 10 × 4 + 100 ms.
  const auto idle = Clock::now();
  ASSERT_TRUE(port->Read(got, 4, n));
  EXPECT_EQ(n, 0u);
  EXPECT_GE(MsSince(idle), 130);
  EXPECT_LT(MsSince(idle), 1000);

  uint32_t written = 0;
  ASSERT_TRUE(port->Write(raw, sizeof raw, written));
  EXPECT_EQ(written, sizeof raw);
  uint8_t echoed[sizeof raw];
  size_t total = 0;
  while (total < sizeof raw) {
    const long r = read(pty.master(), echoed + total, sizeof raw - total);
    ASSERT_GT(r, 0);
    total += static_cast<size_t>(r);
  }
  EXPECT_EQ(0, memcmp(echoed, raw, sizeof raw));
}

}  // namespace
}  // namespace dactyra::platform
