#include "plugins/lumidigm/v100/cmd.h"

#include <algorithm>
#include <new>

namespace dactyra::v100 {

std::span<uint8_t> ICmd::PackHeader(std::vector<uint8_t>& buffer, uint32_t size,
                                    uint32_t payload_size, bool& ok) {
  ok = false;
  buffer.clear();
  buffer.shrink_to_fit();
  if (size < kEmptyPacketSize || size - kEmptyPacketSize < payload_size) return {};
  try {
    buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return {};
  }
  WriteHeader(buffer.data(), {kSync, command_, argument_, payload_size});
  ok = true;
  return std::span<uint8_t>(buffer).subspan(kHeaderSize, payload_size);
}

std::span<uint8_t> ICmd::PackRequestHeader(uint32_t payload_size, bool& ok) {
  return PackHeader(request_, request_size_, payload_size, ok);
}

std::span<uint8_t> ICmd::PackResponseHeader(uint32_t payload_size, bool& ok) {
  return PackHeader(response_, response_size_, payload_size, ok);
}

bool ICmd::UnpackHeader(std::span<const uint8_t> packet, PayloadReader& payload) {
  parsed_completely_ = false;
  if (packet.size() < kHeaderSize) return false;
  const V100PacketHeader h = ReadHeader(packet.data());
  received_sync_ = h.sync;  // kept, not checked
  command_ = h.command;
  argument_ = h.argument;
  received_payload_size_ = h.payload_size;
  const size_t present = packet.size() - kHeaderSize;
  payload = PayloadReader(packet.subspan(kHeaderSize, std::min<size_t>(present, h.payload_size)));
  return true;
}

// Requests and responses carry the same header fields; the object keeps
// them in the same places either way.
bool ICmd::UnpackRequestHeader(std::span<const uint8_t> packet, PayloadReader& payload) {
  return UnpackHeader(packet, payload);
}

bool ICmd::UnpackResponseHeader(std::span<const uint8_t> packet, PayloadReader& payload) {
  return UnpackHeader(packet, payload);
}

bool ICmd::PackErrorResponse(std::span<const uint8_t>& packet) {
  if (error_code_ == 0) return true;
  response_size_ = kEmptyPacketSize;
  argument_ = static_cast<uint16_t>(error_code_);
  bool ok = false;
  PackResponseHeader(0, ok);
  packet = ok ? std::span<const uint8_t>(response_) : std::span<const uint8_t>();
  return false;
}

}  // namespace dactyra::v100
