// XMODEM: the blocks sent and the answers to what is received, against a
// scripted line; then both directions against Debian's lrzsz over a
// pseudo-terminal pair.
#include "plugins/lumidigm/transport/xmodem.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "platform/testing/temp_folder.h"
#ifndef _WIN32
#include "plugins/lumidigm/tests/line_pair.h"
#endif

namespace dactyra::v100 {
namespace {

using namespace xmodem;

// Bytes in (a missing byte is a read that times out) and everything out.
// Its clock moves on by a port's read time-out at each read that brings
// nothing.
class ScriptedLine : public XModemLine {
 public:
  std::deque<std::optional<uint8_t>> incoming;
  std::vector<uint8_t> written;
  std::vector<std::vector<uint8_t>> writes;
  uint32_t clock = 0;

  void Queue(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) incoming.push_back(b);
  }
  void Queue(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) incoming.push_back(b);
  }
  int ReadByte(uint8_t& byte) override {
    std::optional<uint8_t> next;
    if (!incoming.empty()) {
      next = incoming.front();
      incoming.pop_front();
    }
    if (!next) {
      clock += 100;
      return 0;
    }
    byte = *next;
    return 1;
  }
  bool Write(const uint8_t* data, uint32_t count) override {
    written.insert(written.end(), data, data + count);
    writes.emplace_back(data, data + count);
    return true;
  }
  bool WriteControl(uint8_t byte) override { return Write(&byte, 1); }
  void Drain() override {}
  uint32_t TickCount() override { return clock; }
};

std::vector<uint8_t> Block(uint8_t number, const std::vector<uint8_t>& data, bool crc) {
  std::vector<uint8_t> block(3 + data.size());
  block[0] = kSoh;
  block[1] = number;
  block[2] = static_cast<uint8_t>(~number);
  std::copy(data.begin(), data.end(), block.begin() + 3);
  if (crc) {
    const uint16_t c = Crc16(data);
    block.push_back(static_cast<uint8_t>(c >> 8));
    block.push_back(static_cast<uint8_t>(c));
  } else {
    block.push_back(Checksum(data));
  }
  return block;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13);
  return v;
}

TEST(XModemCheck, CrcAndChecksumOfKnownData) {
  const std::string text = "123456789";
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  EXPECT_EQ(Crc16(bytes), 0x31C3);
  EXPECT_EQ(Checksum(bytes), static_cast<uint8_t>(0x1DD));
  EXPECT_EQ(Crc16({}), 0);
}

TEST(XModemSend, LastBlockIsPaddedWithSubThenZerosInEitherMode) {
  struct Case {
    size_t size;
    uint8_t start;
    size_t blocks;
  };
  for (const Case& c : {Case{128, kCrcRequest, 2}, Case{200, kCrcRequest, 2}, Case{200, kNak, 2},
                        Case{1, kNak, 1}, Case{0, kCrcRequest, 1}, Case{256, kCrcRequest, 3}}) {
    SCOPED_TRACE(::testing::Message() << c.size << " bytes, start " << int(c.start));
    const bool crc = c.start == kCrcRequest;
    const std::vector<uint8_t> data = Bytes(c.size, 3);
    ScriptedLine line;
    line.incoming.push_back(std::nullopt);  // a quiet read before the receiver starts
    line.Queue({c.start});
    for (size_t i = 0; i <= c.blocks; ++i) line.Queue({kAck});  // the blocks and the EOT
    EXPECT_EQ(XModemSend(line, data), static_cast<int>(c.blocks * 128));
    ASSERT_EQ(line.writes.size(), c.blocks + 1);
    for (size_t b = 0; b < c.blocks; ++b) {
      std::vector<uint8_t> expected(128, 0);
      const size_t n = std::min<size_t>(128, c.size - std::min(c.size, b * 128));
      std::copy_n(data.begin() + b * 128, n, expected.begin());
      if (n < 128) expected[n] = kPad;
      EXPECT_EQ(line.writes[b], Block(static_cast<uint8_t>(b + 1), expected, crc)) << b;
    }
    EXPECT_EQ(line.writes.back(), std::vector<uint8_t>{kEot});
  }
}

TEST(XModemSend, RetriesCancelsAndGivesUp) {
  const std::vector<uint8_t> data = Bytes(10, 1);
  {  // A NAK gets the block again, once.
    ScriptedLine line;
    line.Queue({kNak, kNak, kAck, kAck});
    EXPECT_EQ(XModemSend(line, data), 128);
    EXPECT_EQ(line.writes[0], line.writes[1]);
  }
  {  // Two sends without an ACK end the transfer with three CANs.
    ScriptedLine line;
    line.Queue({kNak, kNak, kNak});
    EXPECT_EQ(XModemSend(line, data), kNotAcknowledged);
    EXPECT_EQ(std::vector<uint8_t>(line.written.end() - 3, line.written.end()),
              (std::vector<uint8_t>{kCan, kCan, kCan}));
  }
  {  // CAN CAN from the receiver: ACK and code 3.
    ScriptedLine line;
    line.Queue({kCan, kCan});
    EXPECT_EQ(XModemSend(line, data), kCancelled);
    EXPECT_EQ(line.written, std::vector<uint8_t>{kAck});
  }
  {  // No start within 16 reads.
    ScriptedLine line;
    line.Queue(std::vector<uint8_t>(16, 'x'));
    line.Queue({kCrcRequest});
    EXPECT_EQ(XModemSend(line, data), kNoStart);
    EXPECT_EQ(line.written, (std::vector<uint8_t>{kCan, kCan, kCan}));
  }
  {  // A NAK asks for the EOT again; ten reads without an ACK give up.
    ScriptedLine line;
    line.Queue({kNak, kAck, kNak, 'x', kNak});
    line.Queue(std::vector<uint8_t>(7, 'x'));
    line.Queue({kAck});
    EXPECT_EQ(XModemSend(line, data), kNotAcknowledged);
    EXPECT_EQ(std::count(line.written.begin(), line.written.end(), kEot), 3);
  }
  {
    ScriptedLine line;
    line.Queue({kNak, kAck, kNak, kAck});
    EXPECT_EQ(XModemSend(line, data), 128);
    EXPECT_EQ(std::count(line.written.begin(), line.written.end(), kEot), 2);
  }
}

TEST(XModemReceive, ABadCrcIsNakedAndTheSameBlockTakenAgain) {
  const std::vector<uint8_t> one = Bytes(128, 1), two = Bytes(128, 2);
  std::vector<uint8_t> spoiled = Block(2, two, true);
  spoiled.back() ^= 1;
  ScriptedLine line;
  line.incoming.push_back(std::nullopt);  // first request unanswered
  line.Queue(Block(1, one, true));
  line.Queue(spoiled);
  line.Queue(Block(2, two, true));
  line.Queue({kEot});
  std::vector<uint8_t> buffer(1024);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(XModemReceive(line, buffer), 256);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "\n Receive:  Requesting new control code.  C = -1");
  EXPECT_EQ(line.written, (std::vector<uint8_t>{kCrcRequest, kCrcRequest, kAck, kNak, kAck, kAck}));
  EXPECT_TRUE(std::equal(one.begin(), one.end(), buffer.begin()));
  EXPECT_TRUE(std::equal(two.begin(), two.end(), buffer.begin() + 128));
}

TEST(XModemReceive, ChecksumModeRepeatsCancelAndRoom) {
  {  // 16 "C" requests unanswered, then NAK requests: checksum mode.
    ScriptedLine line;
    for (int i = 0; i < 16; ++i) line.incoming.push_back(std::nullopt);
    line.incoming.push_back(std::nullopt);
    line.Queue(Block(1, Bytes(128, 5), false));
    line.Queue({kEot});
    std::vector<uint8_t> buffer(100);  // room for 100 bytes only
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(XModemReceive(line, buffer), 100);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(line.written.begin(), line.written.end(), kCrcRequest), 16);
    EXPECT_EQ(line.written[16], kNak);
    EXPECT_EQ(line.written[17], kNak);
    EXPECT_EQ(line.written[18], kAck);
  }
  {  // One repeat of the previous block is acknowledged; the second in a row ends with 6.
    ScriptedLine line;
    const auto block = Block(1, Bytes(128, 9), true);
    line.Queue(block);
    line.Queue(block);
    line.Queue(block);
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(XModemReceive(line, buffer), kRepeated);
    EXPECT_EQ(line.written, (std::vector<uint8_t>{kCrcRequest, kAck, kAck, kCan, kCan, kCan}));
  }
  {  // A block number out of sequence is refused.
    ScriptedLine line;
    line.Queue(Block(3, Bytes(128, 9), true));
    line.Queue({kCan, kCan});
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(XModemReceive(line, buffer), kCancelled);
    EXPECT_EQ(line.written, (std::vector<uint8_t>{kCrcRequest, kNak, kAck}));
  }
  {  // Nothing at all: 16 "C", 16 NAK, then three CANs and 5.
    ScriptedLine line;
    std::vector<uint8_t> buffer(128);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(XModemReceive(line, buffer), kNoStart);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(line.written.size(), 35u);
  }
}

// lrzsz is a Linux program, which a Windows test under Wine cannot start.
#ifndef _WIN32
// lrzsz on one end of a pseudo-terminal pair, our XModem on the other.
class LrzszTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::make_unique<platform::testing::TempFolder>("v100-xmodem");
    root_ = folder_->path();
    setenv("DACTYRA_SERIAL", root_.c_str(), 1);
    setenv("DACTYRA_RUNTIME", root_.c_str(), 1);
  }
  void TearDown() override { folder_.reset(); }

  // Runs `command` with COM2 as its terminal while `ours` runs on COM1.
  template <typename Ours>
  int Run(const std::string& command, Ours ours) {
    testing::LinePair line(root_, 1, 2);
    EXPECT_TRUE(line.ok());
    XModem port;
    EXPECT_TRUE(port.OpenPort("COM1")) << port.message();
    EXPECT_TRUE(port.Configure(115200));
    // lrzsz refuses paths outside its current folder: it runs in ours.
    const pid_t peer = testing::Spawn(
        {"/bin/sh", "-c",
         "cd " + root_ + " && " + command + " <" + line.b() + " >" + line.b() + " 2>/dev/null"});
    ours(port);
    return testing::WaitExit(peer, 20000);
  }

  std::unique_ptr<platform::testing::TempFolder> folder_;
  std::string root_;
};

TEST_F(LrzszTest, RxReceivesOurSendPaddedInBothModes) {
  for (const bool crc : {true, false}) {
    for (const size_t size : crc ? std::vector<size_t>{128, 200, 5000} : std::vector<size_t>{200}) {
      SCOPED_TRACE(::testing::Message() << size << (crc ? " crc" : " checksum"));
      const std::vector<uint8_t> data = Bytes(size, 7);
      const std::string name = "received-" + std::to_string(size) + (crc ? "c" : "s");
      const std::string out = root_ + "/" + name;
      // The sender waits two reads of 100 ms for each block's answer, as
      // the protocol sets; an rx left without the processor that long on a
      // loaded machine misses them and the sender cancels. A protocol fault
      // fails every try; the timing of a busy machine fails one at most
      // now and then, so the transfer may be made three times.
      int sent = -1;
      int status = -1;
      for (int attempt = 0; attempt < 3 && status != 0; ++attempt) {
        std::remove(out.c_str());
        ::testing::internal::CaptureStdout();
        status = Run(std::string("rx -q -b ") + (crc ? "-c " : "") + name,
                     [&](XModem& port) { sent = port.Send(data); });
        ::testing::internal::GetCapturedStdout();
        if (status != 0)
          std::fprintf(stderr, "try %d: rx %d, sent %d\n", attempt + 1, status, sent);
      }
      EXPECT_EQ(status, 0);
      const size_t blocks = size / 128 + 1;
      // rx acknowledges the EOT and at once discards its unsent output as it
      // restores the terminal, so that last ACK may never reach us: the
      // count, or "not acknowledged" after a complete transfer.
      EXPECT_TRUE(sent == static_cast<int>(blocks * 128) || sent == xmodem::kNotAcknowledged)
          << sent;
      std::ifstream file(out, std::ios::binary);
      std::vector<uint8_t> got((std::istreambuf_iterator<char>(file)), {});
      std::vector<uint8_t> expected = data;
      expected.push_back(kPad);
      expected.resize(blocks * 128, 0);
      EXPECT_EQ(got, expected);
    }
  }
}

// A sender that never stops, in a process of its own on the other end of
// the line: one whose every block arrives garbled, and one that sends good
// blocks without end. The receiver gives up on each with its own code,
// well within its bound, and cancels.
TEST_F(LrzszTest, ASenderThatNeverStopsIsCutOff) {
  std::vector<uint8_t> garbled;  // numbers 1, complements 1, data 1, no CRC of it
  for (int i = 0; i < 133; ++i) garbled.push_back(kSoh);
  std::vector<uint8_t> endless;  // blocks 1 to 255 and 0: the numbers run on as they wrap
  for (int n = 1; n <= 256; ++n) {
    const auto block = Block(static_cast<uint8_t>(n), Bytes(128, static_cast<uint8_t>(n)), true);
    endless.insert(endless.end(), block.begin(), block.end());
  }
  struct Case {
    const char* what;
    const std::vector<uint8_t>& stream;
    int result;
  };
  for (const Case& c : {Case{"garbled", garbled, kRefused}, Case{"endless", endless, kTooLong}}) {
    SCOPED_TRACE(c.what);
    const std::string file = root_ + "/" + c.what;
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.stream.data()), c.stream.size());
    testing::LinePair line(root_, 1, 2);
    ASSERT_TRUE(line.ok());
    XModem port;
    ASSERT_TRUE(port.OpenPort("COM1"));
    ASSERT_TRUE(port.Configure(115200));
    const pid_t peer = testing::Spawn(
        {"/bin/sh", "-c", "while :; do cat " + file + " || exit; done >" + line.b()});
    std::vector<uint8_t> buffer(4096);
    std::promise<int> result;
    auto received = result.get_future();
    ::testing::internal::CaptureStdout();
    std::thread receiver([&] { result.set_value(port.Receive(buffer)); });
    const bool in_time = received.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    kill(peer, SIGKILL);  // frees a receiver that did not give up
    receiver.join();
    ::testing::internal::GetCapturedStdout();
    testing::WaitExit(peer, 2000);
    ASSERT_TRUE(in_time);
    EXPECT_EQ(received.get(), c.result);
  }
}

TEST_F(LrzszTest, SxSendsAFileWeReceive) {
  for (const size_t size : {size_t{100}, size_t{128}, size_t{3000}}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> data = Bytes(size, 11);
    const std::string name = "send-" + std::to_string(size);
    const std::string in = root_ + "/" + name;
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), data.size());
    std::vector<uint8_t> buffer(8192);
    int received = -1;
    ::testing::internal::CaptureStdout();
    const int status =
        Run("sx -q -b " + name, [&](XModem& port) { received = port.Receive(buffer); });
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    const size_t padded = (size + 127) / 128 * 128;
    ASSERT_EQ(received, static_cast<int>(padded));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + size, buffer.begin() + padded,
                            [](uint8_t b) { return b == kPad; }));
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace dactyra::v100
