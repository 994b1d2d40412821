#include "plugins/lumidigm/transport/xmodem.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace dactyra::v100 {
namespace xmodem {
namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    table[i] = crc;
  }
  return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint16_t Crc16(std::span<const uint8_t> data) {
  uint16_t crc = 0;
  for (const uint8_t b : data) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ b) & 0xFF]);
  }
  return crc;
}

uint8_t Checksum(std::span<const uint8_t> data) {
  uint8_t sum = 0;
  for (const uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  return sum;
}

}  // namespace xmodem

namespace {

using namespace xmodem;

constexpr int kStartReads = 16;
constexpr int kSendsPerBlock = 2;
constexpr int kEotReads = 10;
constexpr int kHeaderReads = 16;
constexpr uint32_t kEotQuietBudgetMs = 5000;

void PrintTimeout() {
  std::printf("\nTimeout");
  std::fflush(stdout);
}

// A read in the sender's loops: a failure prints "\nTimeout" and counts as
// no byte.
int SenderRead(XModemLine& line, uint8_t& byte) {
  const int r = line.ReadByte(byte);
  if (r < 0) PrintTimeout();
  return r;
}

void SendCancel(XModemLine& line) {
  for (int i = 0; i < 3; ++i) line.WriteControl(kCan);
}

// After a CAN: a second one cancels the transfer.
bool SecondCancel(XModemLine& line) {
  uint8_t next;
  return SenderRead(line, next) == 1 && next == kCan;
}

}  // namespace

int XModemSend(XModemLine& line, std::span<const uint8_t> data) {
  bool crc = false;
  bool started = false;
  for (int reads = 0; reads < kStartReads && !started; ++reads) {
    uint8_t byte;
    if (SenderRead(line, byte) != 1) continue;
    if (byte == kNak || byte == kCrcRequest) {
      crc = byte == kCrcRequest;
      started = true;
    } else if (byte == kCan && SecondCancel(line)) {
      line.WriteControl(kAck);
      line.Drain();
      return kCancelled;
    }
  }
  if (!started) {
    SendCancel(line);
    line.Drain();
    return kNoStart;
  }

  std::array<uint8_t, 3 + 128 + 2> block;
  uint8_t number = 1;
  int64_t remainder = static_cast<int64_t>(data.size());
  size_t offset = 0;
  int sent = 0;
  while (remainder >= 0) {
    block[0] = kSoh;
    block[1] = number;
    block[2] = static_cast<uint8_t>(~number);
    uint8_t* payload = block.data() + 3;
    const size_t n = static_cast<size_t>(std::min<int64_t>(remainder, 128));
    if (n) std::memcpy(payload, data.data() + offset, n);
    if (n < 128) {
      payload[n] = kPad;
      std::memset(payload + n + 1, 0, 128 - n - 1);
    }
    uint32_t size = 3 + 128;
    if (crc) {
      const uint16_t c = Crc16({payload, 128});
      block[size++] = static_cast<uint8_t>(c >> 8);
      block[size++] = static_cast<uint8_t>(c);
    } else {
      block[size++] = Checksum({payload, 128});
    }
    bool acknowledged = false;
    for (int attempt = 0; attempt < kSendsPerBlock && !acknowledged; ++attempt) {
      line.Write(block.data(), size);
      uint8_t answer;
      if (SenderRead(line, answer) != 1) continue;
      if (answer == kAck) {
        acknowledged = true;
      } else if (answer == kCan && SecondCancel(line)) {
        line.WriteControl(kAck);
        line.Drain();
        return kCancelled;
      }
    }
    if (!acknowledged) {
      SendCancel(line);
      line.Drain();
      return kNotAcknowledged;
    }
    sent += 128;
    ++number;
    offset += n;
    remainder -= 128;
  }
  // The end: EOT, then up to ten reads for its ACK. A NAK asks for the EOT
  // again (receivers that take an EOT only when it is repeated answer the
  // first one so, after letting the line fall quiet).
  // Such a receiver lets the line fall quiet for a second or two first, so
  // quiet reads count among the ten only once the line's 5,000 ms are
  // spent; failed reads count at once.
  line.WriteControl(kEot);
  const uint32_t eot_sent = line.TickCount();
  for (int reads = 0; reads < kEotReads;) {
    uint8_t answer;
    const int r = SenderRead(line, answer);
    // A failed read counts at once: a line that failed brings no ACK.
    if (r < 0) {
      ++reads;
      continue;
    }
    if (r != 1) {
      if (line.TickCount() - eot_sent >= kEotQuietBudgetMs) ++reads;
      continue;
    }
    ++reads;
    if (answer == kAck) return sent;
    if (answer == kNak) line.WriteControl(kEot);
  }
  return kNotAcknowledged;
}

int XModemReceive(XModemLine& line, std::span<uint8_t> buffer) {
  bool crc = true;
  bool started = false;
  uint8_t expected = 1;
  int repeats = 0;
  int refused = 0;
  size_t stored = 0;
  size_t received = 0;  // data bytes taken, stored or not
  std::array<uint8_t, 1024 + 2> body;

  for (;;) {
    // The next block header: before the transfer starts each read follows
    // a request ("C" for 16 reads, then NAK for 16); afterwards reads alone.
    uint8_t header = 0;
    bool got = false;
    for (int reads = 0; reads < 2 * kHeaderReads && !got; ++reads) {
      if (started && reads >= kHeaderReads) break;
      if (!started) {
        crc = reads < kHeaderReads;
        line.WriteControl(crc ? kCrcRequest : kNak);
      }
      uint8_t byte;
      const int r = line.ReadByte(byte);
      if (r == 1 && (byte == kSoh || byte == kStx)) {
        header = byte;
        got = true;
      } else if (r == 1 && byte == kEot) {
        line.WriteControl(kAck);
        return static_cast<int>(stored);
      } else if (r == 1 && byte == kCan) {
        uint8_t next;
        if (line.ReadByte(next) == 1 && next == kCan) {
          line.Drain();
          line.WriteControl(kAck);
          return kCancelled;
        }
      } else {
        std::printf("\n Receive:  Requesting new control code.  C = %d", r == 1 ? byte : -1);
        std::fflush(stdout);
      }
    }
    if (!got) {
      line.Drain();
      SendCancel(line);
      return kNoStart;
    }
    started = true;

    const size_t data_size = header == kSoh ? 128 : 1024;
    const size_t check_size = crc ? 2 : 1;
    uint8_t number = 0, complement = 0;
    bool ok = line.ReadByte(number) == 1 && line.ReadByte(complement) == 1;
    for (size_t i = 0; ok && i < data_size + check_size; ++i) ok = line.ReadByte(body[i]) == 1;
    if (ok) ok = static_cast<uint8_t>(~number) == complement;
    const bool previous = number == static_cast<uint8_t>(expected - 1);
    if (ok) ok = number == expected || previous;
    if (ok) {
      const std::span<const uint8_t> data(body.data(), data_size);
      if (crc) {
        ok = Crc16(data) == ((body[data_size] << 8) | body[data_size + 1]);
      } else {
        ok = Checksum(data) == body[data_size];
      }
    }
    if (!ok) {
      line.Drain();
      if (++refused >= kMostRefusedInARow) {
        SendCancel(line);
        return kRefused;
      }
      line.WriteControl(kNak);
      continue;
    }
    refused = 0;
    if (number == expected) {
      // The last block pads what was sent, so up to one block past the
      // buffer is a transfer that fits; more is a sender that never ends.
      received += data_size;
      if (received > buffer.size() + 1024) {
        line.Drain();
        SendCancel(line);
        return kTooLong;
      }
      const size_t n = std::min(data_size, buffer.size() - stored);
      if (n) std::memcpy(buffer.data() + stored, body.data(), n);
      stored += n;
      expected = static_cast<uint8_t>(number + 1);
      repeats = 0;
    } else if (++repeats >= 2) {
      line.Drain();
      SendCancel(line);
      return kRepeated;
    }
    line.WriteControl(kAck);
  }
}

}  // namespace dactyra::v100
