// The V100 command catalogue: one class per command code and the factory
// that creates them. Most classes are plain ShapedCmd instances of the
// layout table (catalogue.cc) and are read and filled through ShapedCmd's
// field access by position; the classes the plug-in front works with add
// named accessors over the same fields.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "plugins/lumidigm/v100/atomic_error.h"
#include "plugins/lumidigm/v100/cmd.h"
#include "plugins/lumidigm/v100/records.h"
#include "plugins/lumidigm/v100/shaped_cmd.h"

namespace dactyra::v100 {

// Classes without named accessors: (class, code).
#define DACTYRA_V100_PLAIN_COMMANDS(X)     \
  X(Macro_Match, 4)                        \
  X(Macro_Vid_Stream, 6)                   \
  X(Atomic_Get_Image, 65)                  \
  X(Atomic_Set_Image, 66)                  \
  X(Atomic_Set_Composite_Image, 68)        \
  X(Atomic_Get_Template, 69)               \
  X(Atomic_Set_Template, 70)               \
  X(Atomic_Get_Status, 74)                 \
  X(Atomic_Set_LED, 84)                    \
  X(Atomic_Process, 87)                    \
  X(Atomic_Set_Option, 88)                 \
  X(Atomic_Truncate_378, 89)               \
  X(Atomic_Match_Ex, 96)                   \
  X(Atomic_Spoof_Get_Template, 97)         \
  X(Atomic_Set_GPIO, 98)                   \
  X(Atomic_Get_GPIO, 99)                   \
  X(Atomic_Cancel_Operation, 100)          \
  X(Atomic_Get_FIR_Image, 101)             \
  X(Macro_ID_Create_DB, 112)               \
  X(Macro_ID_Set_Working_DB, 113)          \
  X(Macro_ID_Verify_User_Record, 115)      \
  X(Atomic_ID_Get_User_Record, 116)        \
  X(Atomic_ID_Set_User_Record, 117)        \
  X(Macro_ID_Identify_378, 119)            \
  X(Macro_ID_Delete_DB, 120)               \
  X(Macro_ID_Identify, 121)                \
  X(Atomic_ID_Get_DB_Metrics, 122)         \
  X(Atomic_ID_Get_Result, 123)             \
  X(Atomic_ID_Delete_User_Record, 124)     \
  X(Atomic_ID_Get_System_Metrics, 125)     \
  X(Atomic_ID_Get_Parameters, 126)         \
  X(Atomic_ID_Set_Parameters, 127)         \
  X(Atomic_Set_Verification_Rules, 128)    \
  X(Atomic_Get_Verification_Rules, 129)    \
  X(Macro_Enroll_User, 130)                \
  X(Macro_Verify_User, 131)                \
  X(Atomic_Delete_User, 132)               \
  X(Atomic_Get_DB_Metrics, 133)            \
  X(Atomic_Format_DB, 134)                 \
  X(Atomic_Set_Tag, 135)                   \
  X(Atomic_Get_User, 136)                  \
  X(Atomic_Add_User, 137)                  \
  X(Atomic_Get_OP_Status, 139)             \
  X(Atomic_Get_Tag, 140)                   \
  X(Macro_ID_Verify_378, 160)              \
  X(Macro_Save_Last_Capture, 161)          \
  X(Macro_Update_Firmware, 162)            \
  X(Atomic_ID_Get_User_Record_Header, 163) \
  X(Macro_ID_Verify_Many, 164)             \
  X(Atomic_File_Delete, 181)               \
  X(Atomic_Reset, 194)

// Classes with named accessors, declared below: (class, code).
#define DACTYRA_V100_NAMED_COMMANDS(X) \
  X(Atomic_Get_Composite_Image, 67)    \
  X(Atomic_Arm_Trigger, 71)            \
  X(Atomic_Get_Acq_Status, 72)         \
  X(Atomic_Get_Config, 73)             \
  X(Atomic_Get_Cmd, 76)                \
  X(Atomic_Set_Cmd, 77)                \
  X(Atomic_Config_Comport, 86)         \
  X(Macro_ID_Enroll_User_Record, 118)

#define DACTYRA_V100_DECLARE_PLAIN(name, code) \
  class name final : public ShapedCmd {        \
   public:                                     \
    static constexpr uint32_t kCode = code;    \
    name() : ShapedCmd(kCode) {}               \
  };
DACTYRA_V100_PLAIN_COMMANDS(DACTYRA_V100_DECLARE_PLAIN)
#undef DACTYRA_V100_DECLARE_PLAIN

// Response: leading value, then the image as a 32-bit block.
class Atomic_Get_Composite_Image final : public ShapedCmd {
 public:
  static constexpr uint32_t kCode = 67;
  Atomic_Get_Composite_Image() : ShapedCmd(kCode) {}

  int32_t LeadingValue() const { return static_cast<int32_t>(Number(Side::kResponse, 0)); }
  void SetLeadingValue(int32_t value) {
    SetNumber(Side::kResponse, 0, static_cast<uint32_t>(value));
  }
  std::span<const uint8_t> Image() const { return Bytes(Side::kResponse, 1); }
  bool SetImage(std::span<const uint8_t> image) { return SetBytes(Side::kResponse, 1, image); }
  // Parses the image straight into `destination`, which it must fill
  // exactly (ShapedCmd::SetDestination); Image() then views it.
  bool SetImageDestination(std::span<uint8_t> destination) {
    return SetDestination(Side::kResponse, 1, destination);
  }
};

// Header only both ways; the argument is the trigger type (1 after
// creation).
class Atomic_Arm_Trigger final : public ShapedCmd {
 public:
  static constexpr uint32_t kCode = 71;
  Atomic_Arm_Trigger() : ShapedCmd(kCode) {}

  void SetTriggerType(uint16_t type) { SetArgument(type); }
  uint16_t TriggerType() const { return argument(); }
};

class Atomic_Get_Acq_Status final : public ShapedCmd {
 public:
  static constexpr uint32_t kCode = 72;
  Atomic_Get_Acq_Status() : ShapedCmd(kCode) {}

  uint32_t Status() const { return Number(Side::kResponse, 0); }
  void SetStatus(uint32_t status) { SetNumber(Side::kResponse, 0, status); }
};

// Request: the 32-bit size wanted (128); response: the configuration.
class Atomic_Get_Config final : public ShapedCmd {
 public:
  static constexpr uint32_t kCode = 73;
  Atomic_Get_Config() : ShapedCmd(kCode) {}

  uint32_t RequestedSize() const { return Number(Side::kRequest, 0); }
  V100Config Config() const;
  void SetConfig(const V100Config& config) { SetBytes(Side::kResponse, 0, config.bytes); }
};

// Response: the 32-bit value 64, then the settings.
class Atomic_Get_Cmd final : public ShapedCmd {
 public:
  static constexpr uint32_t kCode = 76;
  Atomic_Get_Cmd() : ShapedCmd(kCode) {}

  V100CmdSettings Settings() const;
  void SetSettings(const V100CmdSettings& settings) {
    SetBytes(Side::kResponse, 1, settings.bytes);
  }
};

// Request: the 32-bit value 64, then the settings.
class Atomic_Set_Cmd final : public ShapedCmd {
 public:
  static constexpr uint32_t kCode = 77;
  Atomic_Set_Cmd() : ShapedCmd(kCode) {}

  V100CmdSettings Settings() const;
  void SetSettings(const V100CmdSettings& settings) { SetBytes(Side::kRequest, 1, settings.bytes); }
};

// Request: a 32-bit block (4 zero bytes after creation). Parsing copies the
// block into the caller's buffer and refuses one longer than that buffer;
// without a buffer only an empty block parses.
class Atomic_Config_Comport final : public ShapedCmd {
 public:
  static constexpr uint32_t kCode = 86;
  Atomic_Config_Comport() : ShapedCmd(kCode) {}

  bool SetBlock(std::span<const uint8_t> block) { return SetBytes(Side::kRequest, 0, block); }
  void SetDestination(std::span<uint8_t> buffer) {
    ShapedCmd::SetDestination(Side::kRequest, 0, buffer);
  }
  // Bytes the last parse copied into the caller's buffer.
  uint32_t ReceivedLength() const { return Number(Side::kRequest, 0); }
};

// Request: the 44-byte user record.
class Macro_ID_Enroll_User_Record final : public ShapedCmd {
 public:
  static constexpr uint32_t kCode = 118;
  Macro_ID_Enroll_User_Record() : ShapedCmd(kCode) {}

  // Lays the caller's fields into the record: 16, 16 and 8 bytes from
  // offset 0, the block count at offset 40.
  bool SetUserRecord(const V100EnrollInput& input);
  V100UserRecord GetUserRecord() const;
};

// The object of the class of `code`, with that class's defaults; null for
// a code outside the catalogue.
std::unique_ptr<ICmd> CommandFactory(uint32_t code);

}  // namespace dactyra::v100
