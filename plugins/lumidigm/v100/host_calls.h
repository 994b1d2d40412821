// Host command calls: one command, one exchange, one status. Every call
// returns 0 on success, kNoResponse (139) when no usable answer came back,
// and the device's error code, sign-extended, when it answered with
// Atomic_Error. On any status but 0 the outputs are left untouched.
//
// A usable answer is a response of the request's own class (Execute refuses
// any other), and for a call with outputs one that parsed completely; a
// truncated packet gives kNoResponse. An Atomic_Error that carries error
// code 0 is still an error: it gives kNoResponse rather than success.
#pragma once

#include <cstdint>
#include <span>

#include "plugins/lumidigm/v100/records.h"
#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::v100 {

inline constexpr int32_t kNoResponse = 139;

// Atomic_Arm_Trigger with the trigger type as argument.
int32_t ArmTrigger(V100TransportInfo& info, uint16_t trigger_type);

// Atomic_Get_Acq_Status: the 32-bit acquisition status.
int32_t GetAcqStatus(V100TransportInfo& info, uint32_t& status);

// Atomic_Get_Composite_Image: the leading value and the image, copied into
// `destination`, which the image must fill exactly: a longer one is refused
// rather than cut, a shorter one rather than delivered over bytes it never
// wrote (both kNoResponse, `destination` untouched).
int32_t GetCompositeImage(V100TransportInfo& info, int32_t& leading_value, uint32_t& image_length,
                          std::span<uint8_t> destination);

// Atomic_Get_Config: the 128-byte configuration.
int32_t GetConfig(V100TransportInfo& info, V100Config& config);

// Atomic_Get_Cmd: the 64-byte command settings.
int32_t GetCmd(V100TransportInfo& info, V100CmdSettings& settings);

// Atomic_Set_Cmd: writes the 64-byte command settings.
int32_t SetCmd(V100TransportInfo& info, const V100CmdSettings& settings);

}  // namespace dactyra::v100
