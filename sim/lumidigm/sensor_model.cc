#include "sim/lumidigm/sensor_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "plugins/lumidigm/v100/catalogue.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::sim::lumidigm {
namespace {

using namespace dactyra::v100;

constexpr uint32_t kUnknownCode = 0x7777;

std::vector<uint8_t> ErrorPacket(uint16_t code) {
  Atomic_Error error;
  error.SetError(code);
  std::span<const uint8_t> packet;
  error.PackResponse(packet);
  return {packet.begin(), packet.end()};
}

}  // namespace

std::optional<Fault> ParseFault(const std::string& text) {
  static const std::map<std::string, FaultKind> kinds = {{"no-answer", FaultKind::kNoAnswer},
                                                         {"half-answer", FaultKind::kHalfAnswer},
                                                         {"wrong-code", FaultKind::kWrongCode},
                                                         {"error", FaultKind::kError},
                                                         {"slow", FaultKind::kSlow},
                                                         {"long-answer", FaultKind::kLongAnswer},
                                                         {"oversize", FaultKind::kOversize},
                                                         {"stall", FaultKind::kStall},
                                                         {"vanish", FaultKind::kVanish},
                                                         {"short-image", FaultKind::kShortImage}};
  Fault fault;
  std::string rest = text;
  if (const size_t hash = rest.find('#'); hash != std::string::npos) {
    fault.command = static_cast<uint32_t>(std::strtoul(rest.c_str() + hash + 1, nullptr, 0));
    rest.resize(hash);
  }
  if (const size_t at = rest.find('@'); at != std::string::npos) {
    fault.at = static_cast<uint32_t>(std::strtoul(rest.c_str() + at + 1, nullptr, 0));
    rest.resize(at);
  }
  if (const size_t colon = rest.find(':'); colon != std::string::npos) {
    fault.value = static_cast<uint32_t>(std::strtoul(rest.c_str() + colon + 1, nullptr, 0));
    rest.resize(colon);
  }
  const auto kind = kinds.find(rest);
  if (kind == kinds.end()) return std::nullopt;
  fault.kind = kind->second;
  return fault;
}

SensorModel::SensorModel(SensorConfig config) : config_(std::move(config)) {
  const auto finger = fingerprint::Finger::Generate(config_.finger_seed);
  image_ = finger.Render(config_.width, config_.height).pixels;
}

V100Config SensorModel::Config() const {
  V100Config c;
  c.SetField16(0, config_.vendor);
  c.SetField16(2, config_.product);
  c.SetField16(V100Config::kSerialLowOffset, config_.serial_low);
  c.SetField16(V100Config::kWidthOffset, config_.width);
  c.SetField16(V100Config::kHeightOffset, config_.height);
  c.SetField16(V100Config::kSerialHighOffset, config_.serial_high);
  return c;
}

void SensorModel::Build(const std::vector<uint8_t>& request, Answer& answer) {
  if (request.size() < kHeaderSize) {
    std::fprintf(stderr, "v100 sensor: request of %zu bytes has no header\n", request.size());
    answer.packet = ErrorPacket(0xFFFF);
    return;
  }
  const V100PacketHeader header = ReadHeader(request.data());
  if (header.sync != kSync) std::fprintf(stderr, "v100 sensor: request sync %04X\n", header.sync);
  if (uint64_t{header.payload_size} + kEmptyPacketSize != request.size()) {
    std::fprintf(stderr, "v100 sensor: request of %zu bytes announces a payload of %u\n",
                 request.size(), header.payload_size);
  }
  std::unique_ptr<ICmd> command = CommandFactory(header.command);
  if (!command || !command->UnpackRequest(request)) {
    std::fprintf(stderr, "v100 sensor: request code %u not understood\n", header.command);
    answer.packet = ErrorPacket(0xFFFF);
    return;
  }
  switch (header.command) {
    case Atomic_Arm_Trigger::kCode: {
      const auto it = config_.statuses.find(header.argument);
      const std::vector<uint32_t> seq =
          it != config_.statuses.end() ? it->second : std::vector<uint32_t>{0};
      pending_statuses_.assign(seq.begin(), seq.end());
      break;
    }
    case Atomic_Get_Acq_Status::kCode: {
      if (!pending_statuses_.empty()) {
        last_status_ = pending_statuses_.front();
        if (pending_statuses_.size() > 1) pending_statuses_.pop_front();
      }
      static_cast<Atomic_Get_Acq_Status&>(*command).SetStatus(last_status_);
      break;
    }
    case Atomic_Get_Config::kCode:
      static_cast<Atomic_Get_Config&>(*command).SetConfig(Config());
      break;
    case Atomic_Get_Composite_Image::kCode:
      // The firmware holds its image answer ready: built once, the packet
      // is sent from where it is kept, with neither a rebuild nor a copy.
      if (image_response_.empty()) {
        auto& image = static_cast<Atomic_Get_Composite_Image&>(*command);
        image.SetLeadingValue(config_.leading_value);
        image.SetImage(image_);
        std::span<const uint8_t> packet;
        image.PackResponse(packet);
        image_response_.assign(packet.begin(), packet.end());
      }
      answer.held = &image_response_;
      return;
    case Atomic_Get_Cmd::kCode:
      static_cast<Atomic_Get_Cmd&>(*command).SetSettings(settings_);
      break;
    case Atomic_Set_Cmd::kCode:
      settings_ = static_cast<Atomic_Set_Cmd&>(*command).Settings();
      break;
    default:
      break;  // every other command answers with its empty response
  }
  std::span<const uint8_t> packet;
  if (!command->PackResponse(packet) && packet.empty()) {
    answer.packet = ErrorPacket(0xFFFF);
    return;
  }
  answer.packet.assign(packet.begin(), packet.end());
}

Answer SensorModel::Respond(const std::vector<uint8_t>& request) {
  const uint32_t code = request.size() >= kHeaderSize ? ReadHeader(request.data()).command : 0;
  ++exchanges_;
  const uint32_t nth_of_code = ++exchanges_by_code_[code];
  Answer answer;
  Build(request, answer);
  answer.announced = static_cast<uint32_t>(answer.Bytes().size());
  for (const Fault& f : config_.faults) {
    const uint32_t nth = f.command != 0 ? nth_of_code : exchanges_;
    if ((f.command != 0 && f.command != code) || (f.at != 0 && f.at != nth)) continue;
    switch (f.kind) {
      case FaultKind::kNoAnswer:
        answer.silent = true;
        break;
      case FaultKind::kHalfAnswer:
        answer.cut_to = answer.announced / 2;
        break;
      case FaultKind::kWrongCode:
        answer.Own();
        StoreU32(answer.packet.data() + 2, kUnknownCode);
        break;
      case FaultKind::kError:
        answer.held = nullptr;
        answer.packet = ErrorPacket(static_cast<uint16_t>(f.value));
        answer.announced = static_cast<uint32_t>(answer.packet.size());
        break;
      case FaultKind::kSlow:
        answer.delay_ms = f.value;
        break;
      case FaultKind::kLongAnswer:
        answer.Own();
        answer.packet.resize(answer.packet.size() + f.value, 0xEE);
        break;
      case FaultKind::kOversize:
        answer.announced = f.value;
        answer.cut_to = 0;
        break;
      case FaultKind::kStall:
        answer.stall_bytes = answer.announced / 4;
        answer.stall_ms = f.value;
        break;
      case FaultKind::kVanish:
        answer.vanish = true;
        answer.cut_to = answer.announced / 2;
        break;
      case FaultKind::kShortImage: {
        if (code != Atomic_Get_Composite_Image::kCode) break;
        Atomic_Get_Composite_Image image;
        image.SetLeadingValue(config_.leading_value);
        image.SetImage(
            std::span<const uint8_t>(image_).first(std::min<size_t>(f.value, image_.size())));
        std::span<const uint8_t> packet;
        image.PackResponse(packet);
        answer.held = nullptr;
        answer.packet.assign(packet.begin(), packet.end());
        answer.announced = static_cast<uint32_t>(answer.packet.size());
        break;
      }
    }
  }
  return answer;
}

}  // namespace dactyra::sim::lumidigm
