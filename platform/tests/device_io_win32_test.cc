// Device interfaces, device pipes, named pipes and serial ports of the
// Win32 back end under Wine. Wine presents no USB device, so interfaces are
// registered through SetupAPI in the test's prefix, and the device pipes'
// overlapped, bounded and cancellable I/O runs against named pipes.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/env.h"
#include "platform/tests/setupapi_device.h"

namespace dactyra::platform {
namespace {

using Clock = std::chrono::steady_clock;
using testing::SetupApiDevice;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Text PipeName(const std::string& what) {
  return FromUtf8("\\\\.\\pipe\\dactyra-test-" + what + "-" +
                  std::to_string(GetCurrentProcessId()));
}

// A class of this process's own, so that test programs running side by
// side never list each other's devices.
GUID ClassOfThisProcess() {
  GUID g{0xDAC7F00D, 0x22, static_cast<uint16_t>(GetCurrentProcessId()), {}};
  const DWORD pid = GetCurrentProcessId();
  for (int i = 0; i < 4; ++i) g.Data4[i] = static_cast<uint8_t>(pid >> (8 * i));
  return g;
}

Text GuidText(const GUID& g) {
  wchar_t text[64];
  StringFromGUID2(g, text, 64);
  return Text(reinterpret_cast<const char16_t*>(text));
}

// The device's end of a "device pipe": a byte-mode pipe server, reached by
// the host through DevicePipe::Open like any device path.
struct DeviceEnd {
  explicit DeviceEnd(const Text& name)
      : handle(CreateNamedPipeW(reinterpret_cast<const wchar_t*>(name.c_str()),
                                PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536,
                                0, nullptr)) {}
  ~DeviceEnd() { Close(); }
  void Close() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  bool Put(const std::string& bytes) {
    DWORD put = 0;
    return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
           put == bytes.size();
  }
  std::string Take(size_t n) {
    std::string bytes(n, '\0');
    DWORD got = 0;
    if (!ReadFile(handle, bytes.data(), static_cast<DWORD>(n), &got, nullptr)) return {};
    bytes.resize(got);
    return bytes;
  }
  HANDLE handle;
};

TEST(DeviceIoWin32, InterfacesRegisteredThroughSetupApiAreListedWhilePresent) {
  const GUID cls = ClassOfThisProcess();
  std::vector<Text> paths;
  ASSERT_TRUE(Env::Default().ListDeviceInterfaces(GuidText(cls), paths));
  EXPECT_TRUE(paths.empty());
  SetupApiDevice first(cls, L"DactyraTestSensor");
  SetupApiDevice second(cls, L"DactyraTestSensor");
  ASSERT_TRUE(first.ok() && second.ok());
  ASSERT_TRUE(Env::Default().ListDeviceInterfaces(GuidText(cls), paths));
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_TRUE(paths[0].starts_with(u"\\\\?\\")) << ToUtf8(paths[0]);
  EXPECT_NE(paths[0], paths[1]);
  // The class may be given in any letter case.
  std::vector<Text> lower;
  ASSERT_TRUE(Env::Default().ListDeviceInterfaces(LowerCase(GuidText(cls)), lower));
  EXPECT_EQ(lower, paths);
  second.SetPresent(false);
  ASSERT_TRUE(Env::Default().ListDeviceInterfaces(GuidText(cls), paths));
  EXPECT_EQ(paths, std::vector<Text>{first.path()});
  IoError error;
  EXPECT_FALSE(Env::Default().ListDeviceInterfaces(u"06B62F68-E35E", paths, &error));
  EXPECT_EQ(error.code, io_error::kInvalidParameter);
  EXPECT_FALSE(error.message.empty());
}

TEST(DeviceIoWin32, PipesCarryBytesBothWaysWithBoundedWaits) {
  const Text name = PipeName("device");
  DeviceEnd device(name);
  ASSERT_NE(device.handle, INVALID_HANDLE_VALUE);
  IoError error;
  auto host = Env::Default().OpenDevicePipe(name, &error);
  ASSERT_NE(host, nullptr) << ToUtf8(error.message);
  const uint8_t request[] = {1, 2, 3, 4, 5};
  EXPECT_TRUE(host->Write(request, 5, 1000).done());
  EXPECT_EQ(device.Take(5), std::string("\1\2\3\4\5"));
  EXPECT_TRUE(host->Write(request, 0, 0).done());
  // Four bytes of ten: the read waits its time and tells what came.
  ASSERT_TRUE(device.Put("abcd"));
  uint8_t buffer[10] = {};
  auto start = Clock::now();
  IoResult r = host->Read(buffer, 10, 200);
  EXPECT_EQ(r.status, IoStatus::kTimedOut);
  EXPECT_EQ(r.bytes, 4u);
  EXPECT_GE(MsSince(start), 190);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "abcd");
  // A read of n bytes gathers them across the writer's pieces.
  ASSERT_TRUE(device.Put("012"));
  ASSERT_TRUE(device.Put("3456789"));
  r = host->Read(buffer, 10, 5000);
  EXPECT_TRUE(r.done());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "0123456789");
  // The device goes: the host's read fails at once instead of waiting.
  device.Close();
  start = Clock::now();
  r = host->Read(buffer, 1, 5000);
  EXPECT_EQ(r.status, IoStatus::kFailed);
  EXPECT_EQ(r.error.code, io_error::kBrokenPipe);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(Env::Default().OpenDevicePipe(name, &error), nullptr);
  EXPECT_EQ(error.code, io_error::kFileNotFound);
}

// A stand-in's device: two named pipes at its device path, served to one
// host after another while it is present.
TEST(DeviceIoWin32, APresentedDeviceServesHostAfterHostUntilItGoes) {
  const Text cls = GuidText(ClassOfThisProcess());
  const Text name = FromUtf8("sensor-" + std::to_string(GetCurrentProcessId()));
  IoError error;
  auto device = PresentDevice::Create(cls, name, &error);
  ASSERT_NE(device, nullptr) << ToUtf8(error.message);
  EXPECT_EQ(PresentDevice::Create(cls, name, &error), nullptr) << "one device of a name";
  EXPECT_EQ(PresentDevice::Create(cls, u"a\\b", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kInvalidParameter);
  for (int host = 0; host < 2; ++host) {
    SCOPED_TRACE(host);
    auto out = Env::Default().OpenDevicePipe(device->device_path() + u"\\PIPE_0x01", &error);
    auto in = Env::Default().OpenDevicePipe(device->device_path() + u"\\PIPE_0x00", &error);
    ASSERT_NE(out, nullptr) << ToUtf8(error.message);
    ASSERT_NE(in, nullptr);
    const uint8_t request[] = {'q', static_cast<uint8_t>('0' + host)};
    ASSERT_TRUE(out->Write(request, 2, 1000).done());
    uint8_t got[2] = {};
    ASSERT_TRUE(device->from_host().Read(got, 2, 5000).done());
    EXPECT_EQ(got[1], request[1]);
    ASSERT_TRUE(device->to_host().Write(got, 2, 5000).done());
    uint8_t answer[2] = {};
    ASSERT_TRUE(in->Read(answer, 2, 5000).done());
    EXPECT_EQ(answer[1], request[1]);
    out.reset();
    in.reset();
    // The host gone, the device's next read finds it so and waits for the
    // next host on both pipes: nobody there, each waits its time.
    uint8_t byte = 0;
    EXPECT_EQ(device->from_host().Read(&byte, 1, 50).status, IoStatus::kTimedOut);
    EXPECT_EQ(device->to_host().Write(&byte, 1, 50).status, IoStatus::kTimedOut);
  }
  // A host that leaves before its answer: the answer fails to go, and the
  // next host finds the pipe empty instead of taking it for its own.
  {
    auto out = Env::Default().OpenDevicePipe(device->device_path() + u"\\PIPE_0x01", &error);
    auto in = Env::Default().OpenDevicePipe(device->device_path() + u"\\PIPE_0x00", &error);
    ASSERT_NE(in, nullptr);
    const uint8_t request = 'r';
    ASSERT_TRUE(out->Write(&request, 1, 1000).done());
    uint8_t got = 0;
    ASSERT_TRUE(device->from_host().Read(&got, 1, 5000).done());
    out.reset();
    in.reset();
    const uint8_t stale[] = {'s', 't'};
    EXPECT_EQ(device->to_host().Write(stale, 2, 1000).status, IoStatus::kFailed);
    in = Env::Default().OpenDevicePipe(device->device_path() + u"\\PIPE_0x00", &error);
    ASSERT_NE(in, nullptr) << ToUtf8(error.message);
    uint8_t answer = 0;
    EXPECT_EQ(in->Read(&answer, 1, 100).status, IoStatus::kTimedOut);
  }
  const Text path = device->device_path();
  device.reset();
  EXPECT_EQ(Env::Default().OpenDevicePipe(path + u"\\PIPE_0x01", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kFileNotFound);
}

TEST(DeviceIoWin32, CancelEndsTheOperationInProgressOnly) {
  const Text name = PipeName("cancel");
  DeviceEnd device(name);
  auto host = Env::Default().OpenDevicePipe(name);
  ASSERT_NE(host, nullptr);
  host->CancelIo();  // nothing in progress: no effect on what follows
  std::atomic<int> status{-1};
  std::thread reader([&] {
    uint8_t byte;
    status = static_cast<int>(host->Read(&byte, 1, kInfinite).status);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(status.load(), -1);
  const auto start = Clock::now();
  host->CancelIo();
  reader.join();
  EXPECT_EQ(status.load(), static_cast<int>(IoStatus::kCancelled));
  EXPECT_LT(MsSince(start), 2000);
  ASSERT_TRUE(device.Put("x"));
  uint8_t byte = 0;
  EXPECT_TRUE(host->Read(&byte, 1, 1000).done());
  EXPECT_EQ(byte, 'x');
}

TEST(DeviceIoWin32, NamedPipesConnectEchoAndReportMissingOrBusy) {
  const Text path = PipeName("service");
  IoError error;
  EXPECT_EQ(Env::Default().OpenNamedPipe(path, &error), nullptr);
  EXPECT_EQ(error.code, io_error::kFileNotFound);
  EXPECT_FALSE(Env::Default().WaitNamedPipe(path, 50, &error));
  auto server = Env::Default().CreateNamedPipeServer(path, 1, &error);
  ASSERT_NE(server, nullptr) << ToUtf8(error.message);
  EXPECT_EQ(Env::Default().CreateNamedPipeServer(path, 1, &error), nullptr);
  EXPECT_EQ(error.code, io_error::kAccessDenied) << "a live server keeps its name";
  EXPECT_EQ(server->Accept(50), nullptr);

  auto first = Env::Default().OpenNamedPipe(path, &error);
  ASSERT_NE(first, nullptr) << ToUtf8(error.message);
  auto served = server->Accept(5000);
  ASSERT_NE(served, nullptr);
  // Records of the service's sizes travel whole, each way.
  std::string record(2356, 'r');
  record[0] = 7;
  ASSERT_TRUE(first->Write(reinterpret_cast<const uint8_t*>(record.data()), 264).done());
  std::string got(264, '\0');
  ASSERT_TRUE(served->Read(reinterpret_cast<uint8_t*>(got.data()), 264, 1000).done());
  EXPECT_EQ(got, record.substr(0, 264));
  ASSERT_TRUE(served->Write(reinterpret_cast<const uint8_t*>(record.data()), 2356).done());
  got.assign(2356, '\0');
  ASSERT_TRUE(first->Read(reinterpret_cast<uint8_t*>(got.data()), 2356, 1000).done());
  EXPECT_EQ(got, record);

  // One instance listens (backlog 1): a second client takes it, a third is
  // told the pipe is busy and its wait runs out until the second is taken.
  auto second = Env::Default().OpenNamedPipe(path, &error);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Env::Default().OpenNamedPipe(path, &error), nullptr);
  EXPECT_EQ(error.code, io_error::kPipeBusy);
  const auto start = Clock::now();
  EXPECT_FALSE(Env::Default().WaitNamedPipe(path, 100, &error));
  EXPECT_EQ(error.code, io_error::kSemTimeout);
  EXPECT_GE(MsSince(start), 90);
  auto served_second = server->Accept(5000);
  ASSERT_NE(served_second, nullptr);
  EXPECT_TRUE(Env::Default().WaitNamedPipe(path, 5000, &error));
  EXPECT_NE(Env::Default().OpenNamedPipe(path, &error), nullptr);

  // The other end closes: reads fail as a broken pipe; Shutdown ends a
  // waiting Accept from another thread.
  served.reset();
  uint8_t byte;
  EXPECT_EQ(first->Read(&byte, 1, 1000).error.code, io_error::kBrokenPipe);
  EXPECT_NE(server->Accept(5000), nullptr);  // the client that came and went
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server->Shutdown();
  });
  EXPECT_EQ(server->Accept(kInfinite), nullptr);
  stopper.join();
}

TEST(DeviceIoWin32, AMissingSerialPortIsNotFound) {
  IoError error;
  EXPECT_EQ(Env::Default().OpenSerialPort(u"COM199", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kFileNotFound);
  EXPECT_EQ(Env::Default().OpenSerialPort(u"LPT1", &error), nullptr);
}

}  // namespace
}  // namespace dactyra::platform
