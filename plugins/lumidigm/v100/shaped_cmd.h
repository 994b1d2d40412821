// ShapedCmd: a command object whose request and response payloads are
// described by lists of fields. Almost every class of the catalogue is one
// of these; the lists live in the catalogue table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "plugins/lumidigm/v100/cmd.h"

namespace dactyra::v100 {

enum class FieldKind : uint8_t {
  kU8,
  kU32,
  // 32-bit `value` written on building; read and not kept on parsing.
  kConst32,
  // As kConst32, but parsing fails unless the value read equals `value`.
  kExact32,
  // `value` bytes copied whole. With `limit` set, the 32-bit number at
  // `offset` of the record must be below `limit` (on building and parsing).
  kRecord,
  // 32-bit length, then that many bytes. `limit` (when nonzero) is the
  // largest length a parse accepts; `strict` refuses it on building too.
  kBlock32,
  // 16-bit length, then that many bytes.
  kBlock16,
  // Bytes that follow the record just before this field; their count is
  // `value` × the 32-bit number at `offset` of that record.
  kTrailing,
  // The packet's argument counts the `value`-byte entries that follow.
  kArgumentRecords,
  // 32-bit count, that many 32-bit lengths, then the blocks back to back.
  kBlockList,
  // A 32-bit block that parsing copies into a buffer the caller provides
  // (SetDestination); a block longer than that buffer fails the parse.
  kCallerBlock32,
};

// When a field is present, judged by the packet's argument.
enum class Presence : uint8_t {
  kAlways,
  kArgumentZero,
  kArgumentOne,
  kArgumentNonZero,
  kArgumentAboveOne
};

struct FieldDef {
  FieldKind kind = FieldKind::kU8;
  uint32_t value = 0;    // record size, constant, entry size or trailing unit
  uint32_t initial = 0;  // number after creation, or block length after creation
  uint32_t offset = 0;   // offset of the checked or counting 32-bit number in a record
  uint32_t limit = 0;    // largest block length, or bound of the checked record number
  bool strict = false;   // the block limit holds for building as well
  Presence presence = Presence::kAlways;
};

enum CommandFlags : uint32_t {
  kNoFlags = 0,
  // Building the request sets the argument to the number of blocks given:
  // 1, or 2 when the optional second block is present.
  kArgumentCountsBlocks = 1,
  // PackResponse and UnpackResponse report false on the normal path even
  // when they did their work (a trait of the device protocol kept as is).
  kResponseReportsFalse = 2,
  // The request has two forms, one field for argument 0 and one for
  // argument 1. Building sets the argument to the form of the input the
  // caller gave last (0 when none); giving one input withdraws the other.
  // Any other argument (the header-only form) exists only when parsing.
  kArgumentSelectsGivenField = 4,
};

// The fields of one side of a command, held in place: the catalogue is then
// a constant table, made by the compiler and never destroyed, so commands
// can still be made while a process exits or unloads the library.
class FieldList {
 public:
  static constexpr size_t kCapacity = 2;

  constexpr FieldList() = default;
  // More than kCapacity fields does not compile in a constant table.
  constexpr FieldList(std::initializer_list<FieldDef> defs) {
    for (const FieldDef& def : defs) defs_.at(size_++) = def;
  }

  constexpr size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }
  constexpr const FieldDef& operator[](size_t i) const { return defs_[i]; }
  constexpr const FieldDef* begin() const { return defs_.data(); }
  constexpr const FieldDef* end() const { return defs_.data() + size_; }

 private:
  std::array<FieldDef, kCapacity> defs_{};
  size_t size_ = 0;
};

struct CommandLayout {
  uint32_t code = 0;
  const char* name = "";
  FieldList request;
  FieldList response;
  uint16_t argument = 0;
  uint32_t request_size = kEmptyPacketSize;
  uint32_t flags = kNoFlags;
};

enum class Side { kRequest, kResponse };

// The value of one field in an object.
struct FieldValue {
  uint32_t number = 0;  // numbers; for a block parsed into `destination` its length
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> blocks;  // kBlockList
  std::span<uint8_t> destination;            // kCallerBlock32, or a kBlock32 given one
  bool to_destination = false;               // a kBlock32 parsed into `destination`
  bool present = false;                      // given by a setter or by a parse
};

class ShapedCmd : public ICmd {
 public:
  bool PackRequest(std::span<const uint8_t>& packet) override;
  bool UnpackRequest(std::span<const uint8_t> packet) override;
  bool PackResponse(std::span<const uint8_t>& packet) override;
  bool UnpackResponse(std::span<const uint8_t> packet) override;

  const CommandLayout& Layout() const { return layout_; }
  const FieldList& Fields(Side side) const;
  size_t FieldCount(Side side) const { return Fields(side).size(); }

  // Field access by position in the side's field list. Out-of-range
  // positions read as zero or empty and make setters return false.
  uint32_t Number(Side side, size_t field) const;
  bool SetNumber(Side side, size_t field, uint32_t value);
  std::span<const uint8_t> Bytes(Side side, size_t field) const;
  // Records take exactly their size; other byte fields any length.
  bool SetBytes(Side side, size_t field, std::span<const uint8_t> bytes);
  const std::vector<std::vector<uint8_t>>& Blocks(Side side, size_t field) const;
  bool SetBlocks(Side side, size_t field, std::vector<std::vector<uint8_t>> blocks);
  // The caller's buffer for a kCallerBlock32 field (a longer block fails
  // the parse), or for a kBlock32 field: that block is then parsed straight
  // into it, without a copy of its own, and must fill it exactly (a block
  // of any other length fails the parse, nothing written); Bytes() then
  // views it. What a host call gives an image to land in.
  bool SetDestination(Side side, size_t field, std::span<uint8_t> destination);
  bool Present(Side side, size_t field) const;

 protected:
  // `code` must be in the catalogue.
  explicit ShapedCmd(uint32_t code);

 private:
  std::vector<FieldValue>& Values(Side side) {
    return side == Side::kRequest ? request_ : response_;
  }
  const std::vector<FieldValue>& Values(Side side) const {
    return side == Side::kRequest ? request_ : response_;
  }
  const FieldValue* Value(Side side, size_t field) const;
  FieldValue* Value(Side side, size_t field);

  bool IsPresent(const FieldDef& def) const;
  // Records that the caller gave request field `field`.
  void Given(Side side, size_t field);
  bool Build(Side side, std::span<const uint8_t>& packet);
  bool Parse(Side side, std::span<const uint8_t> packet);
  bool ParseField(const FieldDef& def, FieldValue& value, const FieldValue* previous,
                  PayloadReader& reader);

  const CommandLayout& layout_;
  std::vector<FieldValue> request_;
  std::vector<FieldValue> response_;
};

// The layout of `code`, or null when the code is not in the catalogue.
const CommandLayout* FindLayout(uint32_t code);
// Every layout of the catalogue, in code order.
std::span<const CommandLayout> CatalogueLayouts();

}  // namespace dactyra::v100
