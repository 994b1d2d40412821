// XMODEM block transfers over a serial port: 128-byte blocks with an 8-bit
// checksum or a CRC-16/XMODEM, as the receiver asks; 1,024-byte blocks are
// taken when received. Results below 128 are error codes: 3 cancelled by
// the other side, 4 a block or the end not acknowledged, 5 no start, 6 a
// block repeated twice in a row, 7 too many blocks refused in a row, 8 a
// transfer running past the buffer by more than a block. The last two keep
// a sender that never stops (a line that garbles every block, a peer gone
// wrong) from holding the receiver for ever.
#pragma once

#include <cstdint>
#include <span>

#include "plugins/lumidigm/transport/serial_com.h"

namespace dactyra::v100 {

namespace xmodem {
inline constexpr uint8_t kSoh = 0x01;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCan = 0x18;
inline constexpr uint8_t kPad = 0x1A;
inline constexpr uint8_t kCrcRequest = 0x43;  // "C"

inline constexpr int kCancelled = 3;
inline constexpr int kNotAcknowledged = 4;
inline constexpr int kNoStart = 5;
inline constexpr int kRepeated = 6;
inline constexpr int kRefused = 7;
inline constexpr int kTooLong = 8;

// Blocks refused (bad check, number or complement) in a row before the
// receiver gives up.
inline constexpr int kMostRefusedInARow = 10;

// CRC-16/XMODEM: polynomial 0x1021, initial 0, no reflection, no final XOR.
uint16_t Crc16(std::span<const uint8_t> data);
uint8_t Checksum(std::span<const uint8_t> data);
}  // namespace xmodem

// The byte source and sink of a transfer: a SerialCom in the transports,
// anything else in tests and fuzzing.
class XModemLine {
 public:
  virtual ~XModemLine() = default;
  // 1 with a byte, 0 when none came in time, -1 when the line failed.
  virtual int ReadByte(uint8_t& byte) = 0;
  virtual bool Write(const uint8_t* data, uint32_t count) = 0;
  virtual bool WriteControl(uint8_t byte) = 0;
  virtual void Drain() = 0;
  // Milliseconds of the line's clock (wrapping at 2^32): what bounds the
  // sender's wait for the end's acknowledgement.
  virtual uint32_t TickCount() = 0;
};

// Sends `data`: the number of data bytes sent (a multiple of 128) or an
// error code below 128.
int XModemSend(XModemLine& line, std::span<const uint8_t> data);
// Receives into `buffer`, keeping what fits: the number of bytes stored or
// an error code below 128 (a transfer of fewer than 128 bytes cannot be
// told from an error, as in the protocol's original).
int XModemReceive(XModemLine& line, std::span<uint8_t> buffer);

// The XMODEM side of a serial port.
class XModem : public SerialCom, public XModemLine {
 public:
  using SerialCom::SerialCom;
  int ReadByte(uint8_t& byte) override { return SerialCom::ReadByte(byte); }
  bool Write(const uint8_t* data, uint32_t count) override { return SerialCom::Write(data, count); }
  bool WriteControl(uint8_t byte) override { return SerialCom::WriteControl(byte); }
  void Drain() override { SerialCom::Drain(); }
  uint32_t TickCount() override { return env_.TickCount(); }

  int Send(std::span<const uint8_t> data) { return XModemSend(*this, data); }
  int Receive(std::span<uint8_t> buffer) { return XModemReceive(*this, buffer); }
};

}  // namespace dactyra::v100
