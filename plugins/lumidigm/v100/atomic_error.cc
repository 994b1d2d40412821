#include "plugins/lumidigm/v100/atomic_error.h"

namespace dactyra::v100 {

bool Atomic_Error::PackRequest(std::span<const uint8_t>& packet) {
  packet = {};
  return false;
}

bool Atomic_Error::UnpackRequest(std::span<const uint8_t>) { return false; }

bool Atomic_Error::PackResponse(std::span<const uint8_t>& packet) {
  std::span<const uint8_t> error;
  if (!PackErrorResponse(error)) {
    packet = error;
    return !error.empty();
  }
  set_response_size(kEmptyPacketSize);
  bool ok = false;
  PackResponseHeader(0, ok);
  packet = ok ? response_packet() : std::span<const uint8_t>();
  return ok;
}

bool Atomic_Error::UnpackResponse(std::span<const uint8_t> packet) {
  PayloadReader payload{std::span<const uint8_t>()};
  if (!UnpackResponseHeader(packet, payload)) return false;
  set_parsed_completely(true);
  return true;
}

bool Atomic_Error::SetError(uint16_t code) {
  SetArgument(code);
  return true;
}

}  // namespace dactyra::v100
