// A simulated V100 sensor: its firmware's side of the exchanges. It parses
// each request with the command classes (they are symmetric) and builds the
// response a sensor gives: its configuration, the acquisition-status
// sequence that follows each arming, composite images of synthetic
// fingers, and injected faults. Transports (USB FIFOs, a serial line, the
// device service's relay) wrap it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "plugins/lumidigm/v100/records.h"

namespace dactyra::sim::lumidigm {

// What a fault does to one exchange.
enum class FaultKind {
  kNoAnswer,    // the request is taken, nothing comes back
  kHalfAnswer,  // the usbcb and half of the packet, then silence
  kWrongCode,   // the response carries a code outside the catalogue
  kError,       // Atomic_Error with `value` as its code
  kSlow,        // the answer comes after `value` ms
  kLongAnswer,  // `value` bytes more than the usbcb announces
  kOversize,    // the usbcb announces `value` bytes and nothing follows
  kStall,       // a quarter of the answer, `value` ms of silence, then all of it again
  kVanish,      // the sensor goes away in the middle of the exchange
  kShortImage,  // a whole composite-image answer whose image holds `value` bytes
};

struct Fault {
  FaultKind kind = FaultKind::kNoAnswer;
  uint32_t value = 0;
  // The exchange it strikes, counted from 1; 0 strikes every exchange.
  uint32_t at = 0;
  // Only exchanges of this command code count (0: any).
  uint32_t command = 0;
};

struct SensorConfig {
  uint16_t vendor = 0x0525;   // offset 0; with 0x3424 at offset 2: trigger scheme 1
  uint16_t product = 0x3424;  // offset 2
  uint16_t serial_low = 0x00AB;
  uint16_t serial_high = 0x1234;
  uint16_t width = 352;
  uint16_t height = 544;
  // Acquisition statuses after an arming of each trigger type; the last
  // one repeats.
  std::map<uint16_t, std::vector<uint32_t>> statuses = {{0, {0}}, {1, {1, 4, 0}}, {4, {4}}};
  int32_t leading_value = 0;
  uint64_t finger_seed = 1;
  std::vector<Fault> faults;
};

// Parses "kind[:value][@exchange][#command]", e.g. "error:65534@3".
std::optional<Fault> ParseFault(const std::string& text);

// What the transport sends back for one request.
struct Answer {
  // The response packet: `packet`, or the one the model holds ready when
  // `held` is set (the composite image, answered without a copy; valid
  // until the model's next Respond). Bytes() is the packet either way.
  std::vector<uint8_t> packet;
  const std::vector<uint8_t>* held = nullptr;
  std::span<const uint8_t> Bytes() const {
    return held != nullptr ? std::span<const uint8_t>(*held) : std::span<const uint8_t>(packet);
  }
  // Makes `packet` the answer's own copy, for a fault to change it.
  void Own() {
    if (held != nullptr) packet = *held;
    held = nullptr;
  }
  uint32_t announced = 0;  // the size its usbcb announces
  uint32_t delay_ms = 0;   // before anything is sent
  // Bytes to send before a pause of `stall_ms`, after which the whole
  // packet follows again; 0 for none.
  uint32_t stall_bytes = 0;
  uint32_t stall_ms = 0;
  uint32_t cut_to = UINT32_MAX;  // send only this many packet bytes
  bool silent = false;           // send nothing
  bool vanish = false;           // send `cut_to` bytes, then the sensor goes
};

class SensorModel {
 public:
  explicit SensorModel(SensorConfig config);

  // The answer to one request packet. Requests that break the protocol
  // are logged to standard error and answered with Atomic_Error.
  Answer Respond(const std::vector<uint8_t>& request);

  v100::V100Config Config() const;
  const std::vector<uint8_t>& image() const { return image_; }
  uint32_t exchanges() const { return exchanges_; }

 private:
  // The response to `request` into `answer`.
  void Build(const std::vector<uint8_t>& request, Answer& answer);

  SensorConfig config_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> image_response_;  // the composite image's packet
  std::deque<uint32_t> pending_statuses_;
  uint32_t last_status_ = 0;
  v100::V100CmdSettings settings_;
  uint32_t exchanges_ = 0;
  std::map<uint32_t, uint32_t> exchanges_by_code_;
};

}  // namespace dactyra::sim::lumidigm
