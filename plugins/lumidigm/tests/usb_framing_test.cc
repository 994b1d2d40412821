// TransportUSB's framing against scripted pipes: the usbcb, the 64 KiB
// pieces, the re-read of a short piece, the refused announcements, the
// lock name and the open codes.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/env.h"
#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/transport_usb.h"
#include "plugins/lumidigm/transport/usbcb.h"

namespace dactyra::v100 {
namespace {

using platform::IoResult;
using platform::IoStatus;

// What one pipe was asked to do, and what it answers to reads.
struct PipeScript {
  struct Call {
    bool write;
    uint32_t size;
    const uint8_t* buffer;
  };
  std::vector<Call> calls;
  std::vector<uint8_t> written;
  // Each read takes the next entry: the bytes delivered and the status.
  std::deque<std::pair<std::vector<uint8_t>, IoStatus>> reads;
  bool fail_writes = false;
  // Called after each write is taken whole (a test cancels from here).
  std::function<void()> after_write;
  // Bytes already waiting when a read that does not wait (a drain) comes;
  // drains are counted apart from the calls of the exchange proper.
  std::deque<std::vector<uint8_t>> waiting;
  int drains = 0;

  void Deliver(std::vector<uint8_t> bytes) {
    reads.emplace_back(std::move(bytes), IoStatus::kDone);
  }
  void DeliverShort(std::vector<uint8_t> bytes) {
    reads.emplace_back(std::move(bytes), IoStatus::kTimedOut);
  }
  std::vector<uint32_t> Sizes(bool writes) const {
    std::vector<uint32_t> out;
    for (const Call& c : calls) {
      if (c.write == writes) out.push_back(c.size);
    }
    return out;
  }
};

class ScriptedPipe : public platform::DevicePipe {
 public:
  explicit ScriptedPipe(PipeScript& script) : script_(script) {}
  IoResult Read(uint8_t* buffer, uint32_t size, uint32_t timeout_ms) override {
    if (timeout_ms == 0) {
      ++script_.drains;
      if (script_.waiting.empty()) return {IoStatus::kTimedOut, 0, {}};
      std::vector<uint8_t> bytes = std::move(script_.waiting.front());
      script_.waiting.pop_front();
      const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(bytes.size()));
      std::copy_n(bytes.begin(), n, buffer);
      if (n < bytes.size()) script_.waiting.emplace_front(bytes.begin() + n, bytes.end());
      return {n == size ? IoStatus::kDone : IoStatus::kTimedOut, n, {}};
    }
    script_.calls.push_back({false, size, buffer});
    if (size == 0) return {IoStatus::kDone, 0, {}};
    if (script_.reads.empty()) return {IoStatus::kTimedOut, 0, {}};
    auto [bytes, status] = std::move(script_.reads.front());
    script_.reads.pop_front();
    const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(bytes.size()));
    std::copy_n(bytes.begin(), n, buffer);
    return {n == size ? status : IoStatus::kTimedOut, n, {}};
  }
  IoResult Write(const uint8_t* buffer, uint32_t size, uint32_t) override {
    script_.calls.push_back({true, size, buffer});
    if (script_.fail_writes) return {IoStatus::kFailed, 0, {}};
    script_.written.insert(script_.written.end(), buffer, buffer + size);
    if (script_.after_write) script_.after_write();
    return {IoStatus::kDone, size, {}};
  }
  void CancelIo() override {}

 private:
  PipeScript& script_;
};

// One local sensor "\\?\T<n>" with scripted pipes, and no device service.
class ScriptedEnv : public platform::EnvWrapper {
 public:
  explicit ScriptedEnv(std::string name)
      : EnvWrapper(platform::Env::Default()), name_(std::move(name)) {}
  bool ListDeviceInterfaces(const platform::Text&, std::vector<platform::Text>& paths,
                            platform::IoError*) override {
    if (devices < 0) return false;
    paths.assign(devices, platform::FromUtf8("\\\\?\\" + name_));
    return true;
  }
  std::unique_ptr<platform::NamedPipe> OpenNamedPipe(const platform::Text&,
                                                     platform::IoError* error) override {
    if (error) error->code = platform::io_error::kFileNotFound;
    return nullptr;
  }
  std::unique_ptr<platform::DevicePipe> OpenDevicePipe(const platform::Text& path,
                                                       platform::IoError*) override {
    opened.push_back(platform::ToUtf8(path));
    const bool output = opened.back().ends_with("\\PIPE_0x01");
    if ((output && fail_output) || (!output && fail_input)) return nullptr;
    return std::make_unique<ScriptedPipe>(output ? out : in);
  }

  int devices = 1;
  bool fail_output = false, fail_input = false;
  std::vector<std::string> opened;
  PipeScript out, in;

 private:
  std::string name_;
};

std::vector<uint8_t> Usbcb(uint32_t size) {
  const auto u = MakeUsbcb(size);
  return {u.begin(), u.end()};
}

class UsbFraming : public ::testing::Test {
 protected:
  UsbFraming() : env_("T" + std::to_string(reinterpret_cast<uintptr_t>(this))) {}
  void SetUp() override {
    descriptor_.index = 0;
    info_.descriptor = &descriptor_;
    ASSERT_EQ(usb_.Open(info_), 0);
    info_.descriptor = nullptr;
  }
  void TearDown() override { usb_.Close(info_); }

  ScriptedEnv env_;
  // Pieces wait 50 ms, drains never (the scripted pipe tells them apart so).
  TransportUSB usb_{env_, UsbTimings{50, 200, 500, 0}};
  V100DeviceDescriptor descriptor_;
  V100TransportInfo info_;
  std::vector<uint8_t> receive_ = std::vector<uint8_t>(1 << 20);
};

TEST_F(UsbFraming, RequestGoesOutAsUsbcbAndPacketOnTheOutputPipe) {
  const std::vector<uint8_t> request = {0x0D, 0x56, 0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  env_.in.Deliver(Usbcb(14));
  env_.in.Deliver(request);
  uint32_t length = 1 << 20;
  ASSERT_TRUE(usb_.Exchange(info_, request.data(), 14, receive_.data(), length));
  EXPECT_EQ(length, 14u);
  std::vector<uint8_t> expected = Usbcb(14);
  expected.insert(expected.end(), request.begin(), request.end());
  EXPECT_EQ(env_.out.written, expected);
  EXPECT_EQ(env_.out.Sizes(true), (std::vector<uint32_t>{12, 14}));
  EXPECT_TRUE(env_.in.Sizes(true).empty());
  EXPECT_TRUE(env_.opened[0].ends_with("\\PIPE_0x01"));
  EXPECT_TRUE(env_.opened[1].ends_with("\\PIPE_0x00"));
}

// A shutdown's cancel ends the exchange, but a request whose usbcb went out
// goes out whole: a usbcb alone would make the sensor take the next
// request's usbcb as this one's packet, and every later exchange with it
// would be out of step. A cancel before the usbcb sends nothing.
TEST_F(UsbFraming, ACancelEndsTheExchangeButNotTheRequestItBegan) {
  const std::vector<uint8_t> request = {0x0D, 0x56, 0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> whole = Usbcb(14);
  whole.insert(whole.end(), request.begin(), request.end());
  env_.out.after_write = [&] {
    if (env_.out.written.size() == kUsbcbSize) usb_.CancelExchanges();
  };
  env_.in.Deliver(Usbcb(14));
  env_.in.Deliver(request);
  uint32_t length = 1 << 20;
  EXPECT_FALSE(usb_.Exchange(info_, request.data(), 14, receive_.data(), length));
  EXPECT_EQ(env_.out.written, whole);
  EXPECT_TRUE(env_.in.Sizes(false).empty()) << "the answer was waited for after the cancel";

  // Cancelled before it begins: nothing goes out.
  env_.out.written.clear();
  EXPECT_FALSE(usb_.Exchange(info_, request.data(), 14, receive_.data(), length));
  EXPECT_TRUE(env_.out.written.empty());
}

TEST_F(UsbFraming, TransfersGoIn64KiBPiecesWithAZeroLengthEndAfterSeveral) {
  struct Case {
    uint32_t size;
    std::vector<uint32_t> pieces;
  };
  for (const Case& c : {Case{65536, {65536}}, Case{131072, {65536, 65536, 0}},
                        Case{70000, {65536, 4464}}, Case{14, {14}}}) {
    SCOPED_TRACE(c.size);
    env_.in.calls.clear();
    env_.out.calls.clear();
    std::vector<uint8_t> packet(c.size, 0x5A);
    env_.in.Deliver(Usbcb(c.size));
    for (uint32_t p : c.pieces) {
      if (p) env_.in.Deliver(std::vector<uint8_t>(p, 0x5A));
    }
    uint32_t length = 1 << 20;
    ASSERT_TRUE(usb_.Exchange(info_, packet.data(), c.size, receive_.data(), length));
    EXPECT_EQ(length, c.size);
    std::vector<uint32_t> reads = {12};
    reads.insert(reads.end(), c.pieces.begin(), c.pieces.end());
    EXPECT_EQ(env_.in.Sizes(false), reads);
    EXPECT_EQ(env_.out.Sizes(true), reads);  // the request the same way
    // Pieces land one after the other in the receive buffer.
    uint32_t offset = 0;
    for (size_t i = 1; i < env_.in.calls.size(); ++i) {
      EXPECT_EQ(env_.in.calls[i].buffer, receive_.data() + offset);
      offset += env_.in.calls[i].size;
    }
  }
}

TEST_F(UsbFraming, AShortPieceIsReadAgainWholeFromItsStart) {
  std::vector<uint8_t> packet(4000);
  for (size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<uint8_t>(i);
  env_.in.Deliver(Usbcb(4000));
  env_.in.DeliverShort(std::vector<uint8_t>(1000, 0xEE));
  env_.in.Deliver(packet);
  uint32_t length = 1 << 20;
  ASSERT_TRUE(usb_.Exchange(info_, packet.data(), 14, receive_.data(), length));
  EXPECT_EQ(env_.in.Sizes(false), (std::vector<uint32_t>{12, 4000, 4000}));
  EXPECT_EQ(env_.in.calls[1].buffer, env_.in.calls[2].buffer);
  EXPECT_TRUE(std::equal(packet.begin(), packet.end(), receive_.begin()));
}

TEST_F(UsbFraming, ReadsGiveUpWhenTheBudgetIsSpent) {
  env_.in.Deliver(Usbcb(4000));
  for (int i = 0; i < 1000; ++i) env_.in.DeliverShort(std::vector<uint8_t>(10, 1));
  uint32_t length = 1 << 20;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(usb_.Exchange(info_, receive_.data(), 14, receive_.data(), length));
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(length, 0u);
  EXPECT_NE(printed.find("\n (TransportUSB,"), std::string::npos) << printed;
  EXPECT_NE(printed.find(") - Failed read (packet)."), std::string::npos) << printed;
}

TEST_F(UsbFraming, AnnouncementsBeyondTheBufferOrShorterThanAHeaderAreRefusedUnread) {
  for (const uint32_t announced : {(1u << 20) + 1, 0xFFFFFFFFu, 11u, 0u}) {
    SCOPED_TRACE(announced);
    env_.in.calls.clear();
    env_.in.Deliver(Usbcb(announced));
    uint32_t length = 1 << 20;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(usb_.Exchange(info_, receive_.data(), 14, receive_.data(), length));
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Failed read (packet)."),
              std::string::npos);
    EXPECT_EQ(env_.in.Sizes(false), std::vector<uint32_t>{12});  // nothing after the usbcb
  }
  // A smaller receive buffer bounds the announcement the same way.
  env_.in.Deliver(Usbcb(100));
  uint32_t length = 99;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(usb_.Exchange(info_, receive_.data(), 14, receive_.data(), length));
  testing::internal::GetCapturedStdout();
}

// What waits in the input pipe before the request is dropped unread; an
// answer that carries another command than the request's (a late answer
// to an earlier one) is passed over; bytes behind a usbcb whose zero words
// are not zero are not a packet at all.
TEST_F(UsbFraming, OnlyAnAnswerToThisRequestIsTaken) {
  const std::vector<uint8_t> status = {0x0D, 0x56, 72, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  auto packet = [](uint8_t code, uint8_t mark) {
    std::vector<uint8_t> p = {0x0D, 0x56, code, 0, 0, 0, 0, 0, 4, 0, 0, 0, mark, 0, 0, 0, 0, 0};
    std::vector<uint8_t> framed = Usbcb(static_cast<uint32_t>(p.size()));
    framed.insert(framed.end(), p.begin(), p.end());
    return framed;
  };
  const std::vector<uint8_t> late_image = packet(67, 1);
  auto twisted = Usbcb(18);
  twisted[4] = 1;
  struct Case {
    const char* what;
    std::vector<std::vector<uint8_t>> waiting;  // before the request
    std::vector<std::vector<uint8_t>> after;    // answers after it, each usbcb + packet
    int mark;                                   // the payload mark taken; -1: none
  };
  const Case cases[] = {
      {"a whole late answer waits", {packet(72, 1)}, {packet(72, 2)}, 2},
      {"half a late answer waits", {{late_image.begin(), late_image.begin() + 20}},
       {packet(72, 3)}, 3},
      {"a late answer of another command comes first", {}, {packet(71, 4), packet(72, 5)}, 5},
      {"the error response answers any request", {}, {packet(224, 6)}, 6},
      {"late answers without end", {}, std::vector<std::vector<uint8_t>>(20, packet(71, 7)), -1},
      {"a usbcb whose zero words are not", {}, {twisted}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    env_.in.reads.clear();
    env_.in.waiting.assign(c.waiting.begin(), c.waiting.end());
    for (const auto& a : c.after) {
      env_.in.Deliver({a.begin(), a.begin() + kUsbcbSize});
      env_.in.Deliver({a.begin() + kUsbcbSize, a.end()});
    }
    uint32_t length = 1 << 20;
    ::testing::internal::CaptureStdout();
    const bool ok = usb_.Exchange(info_, status.data(), 14, receive_.data(), length);
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(env_.in.waiting.empty()) << "dropped before the request";
    ASSERT_EQ(ok, c.mark >= 0);
    if (ok) {
      EXPECT_EQ(length, 18u);
      EXPECT_EQ(receive_[kHeaderSize], c.mark);
    }
  }
}

TEST_F(UsbFraming, EachFailedStepPrintsItsMessage) {
  struct Case {
    bool fail_writes;
    std::vector<std::vector<uint8_t>> reads;
    const char* message;
  };
  const Case cases[] = {
      {true, {}, "Failed write (usbcb)."},
      {false, {}, "Failed read (usbcb)."},
      {false, {Usbcb(20)}, "Failed read (packet)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    env_.out.fail_writes = c.fail_writes;
    env_.in.reads.clear();
    for (const auto& r : c.reads) env_.in.Deliver(r);
    uint32_t length = 1 << 20;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(usb_.Exchange(info_, receive_.data(), 14, receive_.data(), length));
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("\n (TransportUSB,", 0), 0u) << printed;
    EXPECT_TRUE(printed.ends_with(std::string(") - ") + c.message)) << printed;
  }
}

TEST(UsbNames, LockNameReplacesTheDevicePathPrefix) {
  EXPECT_EQ(TransportUSB::LockNameOf("\\\\?\\T"), "LUMIT");
  EXPECT_EQ(TransportUSB::LockNameOf("\\\\?\\usb#vid_0525&pid_3424#1"),
            "LUMIusb#vid_0525&pid_3424#1");
}

TEST(UsbOpen, CodesForMissingDevicesAndPipes) {
  struct Case {
    int devices;
    uint32_t index;
    bool descriptor, fail_output, fail_input;
    int32_t expected;
  };
  const Case cases[] = {
      {0, 0, true, false, false, 1},  {-1, 0, true, false, false, 2}, {1, 1, true, false, false, 2},
      {1, 0, false, false, false, 2}, {1, 0, true, true, false, 6},   {1, 0, true, false, true, 5},
      {2, 1, true, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ScriptedEnv env("open");
    env.devices = c.devices;
    env.fail_output = c.fail_output;
    env.fail_input = c.fail_input;
    TransportUSB usb(env);
    V100DeviceDescriptor descriptor;
    descriptor.index = c.index;
    V100TransportInfo info;
    info.descriptor = c.descriptor ? &descriptor : nullptr;
    EXPECT_EQ(usb.Open(info), c.expected);
    std::string lock;
    usb.GetLockName(lock);
    EXPECT_EQ(lock, c.expected == 0 ? "LUMIopen" : "");
    usb.Close(info);
    EXPECT_EQ(info.read_handle, nullptr);
  }
}

}  // namespace
}  // namespace dactyra::v100
