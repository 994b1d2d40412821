#include "plugins/lumidigm/v100/catalogue.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace dactyra::v100 {
namespace {

// Field constructors for the table below.
constexpr FieldDef U8() { return {FieldKind::kU8}; }
constexpr FieldDef U32(uint32_t initial = 0) { return {FieldKind::kU32, 0, initial}; }
constexpr FieldDef Const32(uint32_t value) { return {FieldKind::kConst32, value}; }
constexpr FieldDef Exact32(uint32_t value) { return {FieldKind::kExact32, value}; }
constexpr FieldDef Record(uint32_t size) { return {FieldKind::kRecord, size}; }
// A record whose 32-bit number at `offset` must be below `bound`.
constexpr FieldDef CheckedRecord(uint32_t size, uint32_t offset, uint32_t bound) {
  return {FieldKind::kRecord, size, 0, offset, bound};
}
constexpr FieldDef Block32(uint32_t limit = 0, bool strict = false) {
  return {FieldKind::kBlock32, 0, 0, 0, limit, strict};
}
constexpr FieldDef Block16() { return {FieldKind::kBlock16}; }
constexpr FieldDef Trailing(uint32_t unit, uint32_t offset) {
  return {FieldKind::kTrailing, unit, 0, offset};
}
constexpr FieldDef ArgumentRecords(uint32_t size) { return {FieldKind::kArgumentRecords, size}; }
constexpr FieldDef BlockList() { return {FieldKind::kBlockList}; }
constexpr FieldDef CallerBlock32(uint32_t initial_length) {
  return {FieldKind::kCallerBlock32, 0, initial_length};
}
constexpr FieldDef When(Presence presence, FieldDef def) {
  def.presence = presence;
  return def;
}

constexpr uint32_t kIdentifyLimit = 2048;
constexpr uint32_t kFirmwareLimit = 10'485'760;
constexpr uint32_t kFileNameLimit = 64;
constexpr uint32_t kUserBlockSize = 2048;
constexpr uint32_t kUserEntrySize = 272;
constexpr uint32_t kUserEntryDataOffset = 8;
constexpr uint32_t kUserEntryCheckedOffset = 12;
constexpr uint32_t kUserEntryCheckedBound = 256;

using F = FieldList;
constexpr F none;
constexpr FieldDef user_entry =
    CheckedRecord(kUserEntrySize, kUserEntryCheckedOffset, kUserEntryCheckedBound);
constexpr FieldDef user_record = Record(V100UserRecord::kSize);
constexpr FieldDef user_blocks = Trailing(kUserBlockSize, V100UserRecord::kBlockCountOffset);
constexpr FieldDef entry_data = Trailing(1, kUserEntryDataOffset);

// Made by the compiler, in code order; it has no destructor, so it is
// there for as long as the library is loaded.
constexpr auto kCatalogue = [] {
  auto c = std::to_array<CommandLayout>({
      {4, "Macro_Match", F{Block32(), Block32()}, F{U32()}},
      {6, "Macro_Vid_Stream", F{Const32(4), U32()}, none},
      {65, "Atomic_Get_Image", F{U32()}, F{U32(), Block32()}, 0, 18},
      {66, "Atomic_Set_Image", F{Block32()}, none},
      {67, "Atomic_Get_Composite_Image", none, F{U32(), Block32()}},
      {68, "Atomic_Set_Composite_Image", F{Block32()}, none},
      {69, "Atomic_Get_Template", none, F{Block32()}},
      {70, "Atomic_Set_Template", F{Block32()}, none},
      {71, "Atomic_Arm_Trigger", none, none, 1},
      {72, "Atomic_Get_Acq_Status", none, F{U32()}},
      {73, "Atomic_Get_Config", F{U32(V100Config::kSize)}, F{Record(V100Config::kSize)}},
      {74, "Atomic_Get_Status", none, F{U32(32), Record(32)}},
      {76, "Atomic_Get_Cmd", none,
       F{Exact32(V100CmdSettings::kSize), Record(V100CmdSettings::kSize)}},
      {77, "Atomic_Set_Cmd", F{Const32(V100CmdSettings::kSize), Record(V100CmdSettings::kSize)},
       none, 0, 18},
      {84, "Atomic_Set_LED", F{U32(4), U32()}, none},
      {86, "Atomic_Config_Comport", F{CallerBlock32(4)}, none},
      {87, "Atomic_Process", none, none},
      {88, "Atomic_Set_Option", F{Block32()}, none},
      {89, "Atomic_Truncate_378", F{U32(), Block32()}, F{Block32()}},
      {96, "Atomic_Match_Ex", F{Block32(), When(Presence::kArgumentAboveOne, Block32())},
       F{U32(), U32()}, 0, kEmptyPacketSize, kArgumentCountsBlocks},
      {97, "Atomic_Spoof_Get_Template", F{When(Presence::kArgumentNonZero, Block32())},
       F{Block32()}, 0xFFFF},
      {98, "Atomic_Set_GPIO", F{U8()}, none},
      {99, "Atomic_Get_GPIO", none, F{U8()}},
      {100, "Atomic_Cancel_Operation", none, none},
      {101, "Atomic_Get_FIR_Image", F{U32(255), U32()}, F{Block32()}},
      {112, "Macro_ID_Create_DB", F{Record(32)}, none},
      {113, "Macro_ID_Set_Working_DB", F{U32()}, none},
      {115, "Macro_ID_Verify_User_Record", F{user_record}, none},
      {116, "Atomic_ID_Get_User_Record", F{user_record}, F{user_record, user_blocks}},
      {117, "Atomic_ID_Set_User_Record", F{user_record, user_blocks}, none},
      {118, "Macro_ID_Enroll_User_Record", F{user_record}, none},
      {119, "Macro_ID_Identify_378", F{Block32(kIdentifyLimit)}, none},
      {120, "Macro_ID_Delete_DB", F{U32()}, none},
      {121, "Macro_ID_Identify", none, none},
      {122, "Atomic_ID_Get_DB_Metrics", F{Record(28)}, F{Record(28)}},
      {123, "Atomic_ID_Get_Result", none, F{Record(68)}},
      {124, "Atomic_ID_Delete_User_Record", F{user_record}, none},
      {125, "Atomic_ID_Get_System_Metrics", none, F{ArgumentRecords(28)}},
      {126, "Atomic_ID_Get_Parameters", none, F{Record(20)}},
      {127, "Atomic_ID_Set_Parameters", F{Record(20)}, none},
      {128, "Atomic_Set_Verification_Rules", F{Record(28)}, none},
      {129, "Atomic_Get_Verification_Rules", none, F{Record(28)}},
      {130, "Macro_Enroll_User", F{user_entry}, none},
      {131, "Macro_Verify_User", F{user_entry}, none},
      {132, "Atomic_Delete_User", none, none},
      {133, "Atomic_Get_DB_Metrics", none, F{Record(16)}},
      {134, "Atomic_Format_DB", none, none},
      {135, "Atomic_Set_Tag", F{Block16()}, none},
      {136, "Atomic_Get_User",
       F{When(Presence::kArgumentZero, Record(kUserEntrySize)),
         When(Presence::kArgumentOne, U32())},
       F{Record(kUserEntrySize), entry_data}, 0, kEmptyPacketSize, kArgumentSelectsGivenField},
      {137, "Atomic_Add_User", F{Record(kUserEntrySize), entry_data}, none},
      {139, "Atomic_Get_OP_Status", none, F{Record(16)}},
      {140, "Atomic_Get_Tag", none, F{Block16()}},
      {160, "Macro_ID_Verify_378", F{user_record, Block32()}, none},
      {161, "Macro_Save_Last_Capture", none, none, 0, kEmptyPacketSize, kResponseReportsFalse},
      {162, "Macro_Update_Firmware", F{Block32(kFirmwareLimit)}, none},
      {163, "Atomic_ID_Get_User_Record_Header", none, F{user_record}},
      {164, "Macro_ID_Verify_Many", F{BlockList()}, none},
      {181, "Atomic_File_Delete", F{Block32(kFileNameLimit, true), U32()}, none},
      {194, "Atomic_Reset", none, none},
  });
  std::sort(c.begin(), c.end(), [](const auto& a, const auto& b) { return a.code < b.code; });
  return c;
}();

template <typename Record>
Record RecordFrom(std::span<const uint8_t> bytes) {
  Record record;
  std::memcpy(record.bytes.data(), bytes.data(), std::min(bytes.size(), record.bytes.size()));
  return record;
}

}  // namespace

const CommandLayout* FindLayout(uint32_t code) {
  const auto& c = kCatalogue;
  auto it = std::lower_bound(c.begin(), c.end(), code,
                             [](const CommandLayout& l, uint32_t v) { return l.code < v; });
  return it != c.end() && it->code == code ? &*it : nullptr;
}

std::span<const CommandLayout> CatalogueLayouts() { return kCatalogue; }

V100Config Atomic_Get_Config::Config() const {
  return RecordFrom<V100Config>(Bytes(Side::kResponse, 0));
}

V100CmdSettings Atomic_Get_Cmd::Settings() const {
  return RecordFrom<V100CmdSettings>(Bytes(Side::kResponse, 1));
}

V100CmdSettings Atomic_Set_Cmd::Settings() const {
  return RecordFrom<V100CmdSettings>(Bytes(Side::kRequest, 1));
}

bool Macro_ID_Enroll_User_Record::SetUserRecord(const V100EnrollInput& input) {
  V100UserRecord record;
  auto out = record.bytes.begin();
  out = std::copy(input.first.begin(), input.first.end(), out);
  out = std::copy(input.second.begin(), input.second.end(), out);
  std::copy(input.third.begin(), input.third.end(), out);
  record.SetField32(V100UserRecord::kBlockCountOffset, input.block_count);
  return SetBytes(Side::kRequest, 0, record.bytes);
}

V100UserRecord Macro_ID_Enroll_User_Record::GetUserRecord() const {
  return RecordFrom<V100UserRecord>(Bytes(Side::kRequest, 0));
}

namespace {

std::unique_ptr<ICmd> Create(uint32_t code) {
  switch (code) {
#define DACTYRA_V100_CASE(name, value) \
  case value:                          \
    return std::make_unique<name>();
    DACTYRA_V100_PLAIN_COMMANDS(DACTYRA_V100_CASE)
    DACTYRA_V100_NAMED_COMMANDS(DACTYRA_V100_CASE)
#undef DACTYRA_V100_CASE
    case Atomic_Error::kCode:
      return std::make_unique<Atomic_Error>();
    default:
      return nullptr;
  }
}

}  // namespace

std::unique_ptr<ICmd> CommandFactory(uint32_t code) {
  try {
    return Create(code);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace dactyra::v100
