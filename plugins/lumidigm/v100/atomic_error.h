// Atomic_Error (code 224): the device's error response. Header only; the
// argument carries the 16-bit error code. It has no request.
#pragma once

#include <cstdint>
#include <span>

#include "plugins/lumidigm/v100/cmd.h"

namespace dactyra::v100 {

class Atomic_Error final : public ICmd {
 public:
  static constexpr uint32_t kCode = kErrorResponseCode;
  Atomic_Error() : ICmd(kCode) {}

  bool PackRequest(std::span<const uint8_t>& packet) override;
  bool UnpackRequest(std::span<const uint8_t> packet) override;
  bool PackResponse(std::span<const uint8_t>& packet) override;
  bool UnpackResponse(std::span<const uint8_t> packet) override;
  uint32_t GetRequestSize() const override { return 0; }

  // Sets the error code carried in the argument field; true.
  bool SetError(uint16_t code);
  // The error code, sign-extended: 0xFFFE reads as -2.
  int32_t GetError() const { return static_cast<int16_t>(argument()); }
};

}  // namespace dactyra::v100
