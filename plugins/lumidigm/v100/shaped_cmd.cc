#include "plugins/lumidigm/v100/shaped_cmd.h"

#include <cstring>
#include <limits>
#include <new>

namespace dactyra::v100 {
namespace {

const CommandLayout& LayoutOrEmpty(uint32_t code) {
  static constexpr CommandLayout kEmpty{};
  const CommandLayout* layout = FindLayout(code);
  return layout != nullptr ? *layout : kEmpty;
}

std::vector<FieldValue> InitialValues(const FieldList& fields) {
  std::vector<FieldValue> values(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& def = fields[i];
    FieldValue& value = values[i];
    value.number = def.initial;
    if (def.kind == FieldKind::kRecord) {
      value.bytes.assign(def.value, 0);
    } else if (def.kind == FieldKind::kBlock32 || def.kind == FieldKind::kCallerBlock32) {
      value.bytes.assign(def.initial, 0);
    }
  }
  return values;
}

// The 32-bit number at `offset` of a record; records are sized by the
// table, which keeps such offsets inside them.
uint32_t SpanNumber(std::span<const uint8_t> record, uint32_t offset) {
  if (record.size() < static_cast<size_t>(offset) + 4) return 0;
  return LoadU32(record.data() + offset);
}

uint32_t RecordNumber(const FieldValue& record, uint32_t offset) {
  return SpanNumber(record.bytes, offset);
}

constexpr uint64_t kMaxPayload = std::numeric_limits<uint32_t>::max() - kEmptyPacketSize;

}  // namespace

ShapedCmd::ShapedCmd(uint32_t code)
    : ICmd(code),
      layout_(LayoutOrEmpty(code)),
      request_(InitialValues(layout_.request)),
      response_(InitialValues(layout_.response)) {
  SetArgument(layout_.argument);
  set_request_size(layout_.request_size);
}

const FieldList& ShapedCmd::Fields(Side side) const {
  return side == Side::kRequest ? layout_.request : layout_.response;
}

const FieldValue* ShapedCmd::Value(Side side, size_t field) const {
  const auto& values = Values(side);
  return field < values.size() ? &values[field] : nullptr;
}

FieldValue* ShapedCmd::Value(Side side, size_t field) {
  auto& values = Values(side);
  return field < values.size() ? &values[field] : nullptr;
}

uint32_t ShapedCmd::Number(Side side, size_t field) const {
  const FieldValue* v = Value(side, field);
  return v != nullptr ? v->number : 0;
}

bool ShapedCmd::SetNumber(Side side, size_t field, uint32_t value) {
  FieldValue* v = Value(side, field);
  if (v == nullptr) return false;
  v->number = value;
  Given(side, field);
  return true;
}

void ShapedCmd::Given(Side side, size_t field) {
  auto& values = Values(side);
  values[field].present = true;
  if (side != Side::kRequest || (layout_.flags & kArgumentSelectsGivenField) == 0) return;
  const auto& fields = Fields(side);
  const auto is_form = [&](size_t i) {
    return fields[i].presence == Presence::kArgumentZero ||
           fields[i].presence == Presence::kArgumentOne;
  };
  if (!is_form(field)) return;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i != field && is_form(i)) values[i].present = false;
  }
}

std::span<const uint8_t> ShapedCmd::Bytes(Side side, size_t field) const {
  const FieldValue* v = Value(side, field);
  if (v == nullptr) return {};
  if (v->to_destination) return std::span<const uint8_t>(v->destination).first(v->number);
  return v->bytes;
}

bool ShapedCmd::SetBytes(Side side, size_t field, std::span<const uint8_t> bytes) {
  FieldValue* v = Value(side, field);
  if (v == nullptr) return false;
  const FieldDef& def = Fields(side)[field];
  if (def.kind == FieldKind::kRecord && bytes.size() != def.value) return false;
  try {
    v->bytes.assign(bytes.begin(), bytes.end());
  } catch (const std::bad_alloc&) {
    return false;
  }
  Given(side, field);
  return true;
}

const std::vector<std::vector<uint8_t>>& ShapedCmd::Blocks(Side side, size_t field) const {
  static const std::vector<std::vector<uint8_t>> kNone;
  const FieldValue* v = Value(side, field);
  return v != nullptr ? v->blocks : kNone;
}

bool ShapedCmd::SetBlocks(Side side, size_t field, std::vector<std::vector<uint8_t>> blocks) {
  FieldValue* v = Value(side, field);
  if (v == nullptr) return false;
  v->blocks = std::move(blocks);
  v->present = true;
  return true;
}

bool ShapedCmd::SetDestination(Side side, size_t field, std::span<uint8_t> destination) {
  FieldValue* v = Value(side, field);
  if (v == nullptr) return false;
  const FieldKind kind = Fields(side)[field].kind;
  if (kind != FieldKind::kCallerBlock32 && kind != FieldKind::kBlock32) return false;
  v->destination = destination;
  v->to_destination = kind == FieldKind::kBlock32;
  if (v->to_destination) v->number = 0;
  return true;
}

bool ShapedCmd::Present(Side side, size_t field) const {
  const FieldValue* v = Value(side, field);
  return v != nullptr && v->present;
}

bool ShapedCmd::IsPresent(const FieldDef& def) const {
  switch (def.presence) {
    case Presence::kAlways:
      return true;
    case Presence::kArgumentZero:
      return argument() == 0;
    case Presence::kArgumentOne:
      return argument() == 1;
    case Presence::kArgumentNonZero:
      return argument() != 0;
    case Presence::kArgumentAboveOne:
      return argument() > 1;
  }
  return false;
}

bool ShapedCmd::Build(Side side, std::span<const uint8_t>& packet) {
  const auto& fields = Fields(side);
  auto& values = Values(side);

  // The argument is decided before the fields it selects.
  if (side == Side::kRequest && (layout_.flags & kArgumentCountsBlocks) != 0) {
    uint16_t blocks = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].presence == Presence::kArgumentAboveOne && values[i].present) ++blocks;
    }
    SetArgument(blocks);
  }
  if (side == Side::kRequest && (layout_.flags & kArgumentSelectsGivenField) != 0) {
    uint16_t form = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].presence == Presence::kArgumentOne && values[i].present) form = 1;
    }
    SetArgument(form);
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].kind != FieldKind::kArgumentRecords) continue;
    const size_t size = values[i].bytes.size();
    if (size % fields[i].value != 0 || size / fields[i].value > 0xFFFF) return false;
    SetArgument(static_cast<uint16_t>(size / fields[i].value));
  }

  uint64_t payload = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& def = fields[i];
    const FieldValue& value = values[i];
    if (!IsPresent(def)) continue;
    const uint64_t length = value.bytes.size();
    switch (def.kind) {
      case FieldKind::kU8:
        payload += 1;
        break;
      case FieldKind::kU32:
      case FieldKind::kConst32:
      case FieldKind::kExact32:
        payload += 4;
        break;
      case FieldKind::kRecord:
        if (def.limit != 0 && RecordNumber(value, def.offset) >= def.limit) return false;
        payload += def.value;
        break;
      case FieldKind::kBlock32:
        if (def.strict && def.limit != 0 && length > def.limit) return false;
        if (length > std::numeric_limits<uint32_t>::max()) return false;
        payload += 4 + length;
        break;
      case FieldKind::kCallerBlock32:
        if (length > std::numeric_limits<uint32_t>::max()) return false;
        payload += 4 + length;
        break;
      case FieldKind::kBlock16:
        if (length > 0xFFFF) return false;
        payload += 2 + length;
        break;
      case FieldKind::kTrailing:
        // The record before announces the length; a buffer of another size
        // would send bytes the object does not have, or drop some.
        if (i == 0 ||
            static_cast<uint64_t>(def.value) * RecordNumber(values[i - 1], def.offset) != length) {
          return false;
        }
        payload += length;
        break;
      case FieldKind::kArgumentRecords:
        payload += length;
        break;
      case FieldKind::kBlockList:
        if (value.blocks.size() > std::numeric_limits<uint32_t>::max()) return false;
        payload += 4;
        for (const auto& block : value.blocks) {
          if (block.size() > std::numeric_limits<uint32_t>::max()) return false;
          payload += 4 + block.size();
        }
        break;
    }
    if (payload > kMaxPayload) return false;
  }

  const uint32_t size = static_cast<uint32_t>(kEmptyPacketSize + payload);
  bool ok = false;
  std::span<uint8_t> area;
  if (side == Side::kRequest) {
    set_request_size(size);
    area = PackRequestHeader(static_cast<uint32_t>(payload), ok);
  } else {
    set_response_size(size);
    area = PackResponseHeader(static_cast<uint32_t>(payload), ok);
  }
  if (!ok) return false;

  PayloadWriter out(area);
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& def = fields[i];
    const FieldValue& value = values[i];
    if (!IsPresent(def)) continue;
    switch (def.kind) {
      case FieldKind::kU8:
        out.WriteU8(static_cast<uint8_t>(value.number));
        break;
      case FieldKind::kU32:
        out.WriteU32(value.number);
        break;
      case FieldKind::kConst32:
      case FieldKind::kExact32:
        out.WriteU32(def.value);
        break;
      case FieldKind::kRecord:
      case FieldKind::kTrailing:
      case FieldKind::kArgumentRecords:
        out.WriteBytes(value.bytes);
        break;
      case FieldKind::kBlock32:
      case FieldKind::kCallerBlock32:
        out.WriteU32(static_cast<uint32_t>(value.bytes.size()));
        out.WriteBytes(value.bytes);
        break;
      case FieldKind::kBlock16:
        out.WriteU16(static_cast<uint16_t>(value.bytes.size()));
        out.WriteBytes(value.bytes);
        break;
      case FieldKind::kBlockList:
        out.WriteU32(static_cast<uint32_t>(value.blocks.size()));
        for (const auto& block : value.blocks) out.WriteU32(static_cast<uint32_t>(block.size()));
        for (const auto& block : value.blocks) out.WriteBytes(block);
        break;
    }
  }
  if (!out.ok() || out.Written() != area.size()) return false;
  packet = side == Side::kRequest ? request_packet() : response_packet();
  return true;
}

bool ShapedCmd::ParseField(const FieldDef& def, FieldValue& value, const FieldValue* previous,
                           PayloadReader& in) {
  std::span<const uint8_t> bytes;
  switch (def.kind) {
    case FieldKind::kU8: {
      uint8_t v = 0;
      if (!in.ReadU8(v)) return false;
      value.number = v;
      break;
    }
    case FieldKind::kU32:
      if (!in.ReadU32(value.number)) return false;
      break;
    case FieldKind::kConst32:
    case FieldKind::kExact32: {
      uint32_t v = 0;
      if (!in.ReadU32(v)) return false;
      if (def.kind == FieldKind::kExact32 && v != def.value) return false;
      break;
    }
    case FieldKind::kRecord:
      if (!in.ReadSpan(def.value, bytes)) return false;
      if (def.limit != 0 && SpanNumber(bytes, def.offset) >= def.limit) return false;
      value.bytes.assign(bytes.begin(), bytes.end());
      break;
    case FieldKind::kBlock32:
    case FieldKind::kBlock16: {
      uint32_t length = 0;
      if (def.kind == FieldKind::kBlock32) {
        if (!in.ReadU32(length)) return false;
      } else {
        uint16_t short_length = 0;
        if (!in.ReadU16(short_length)) return false;
        length = short_length;
      }
      if (def.limit != 0 && length > def.limit) return false;
      if (!in.ReadSpan(length, bytes)) return false;
      if (value.to_destination) {
        if (length != value.destination.size()) return false;
        if (length != 0) std::memcpy(value.destination.data(), bytes.data(), length);
        value.number = length;
      } else {
        value.bytes.assign(bytes.begin(), bytes.end());
      }
      break;
    }
    case FieldKind::kTrailing: {
      if (previous == nullptr) return false;
      const uint64_t length =
          static_cast<uint64_t>(def.value) * RecordNumber(*previous, def.offset);
      if (!in.ReadSpan(length, bytes)) return false;
      value.bytes.assign(bytes.begin(), bytes.end());
      break;
    }
    case FieldKind::kArgumentRecords:
      if (!in.ReadSpan(static_cast<uint64_t>(argument()) * def.value, bytes)) return false;
      value.bytes.assign(bytes.begin(), bytes.end());
      break;
    case FieldKind::kBlockList: {
      uint32_t count = 0;
      if (!in.ReadU32(count)) return false;
      // Each announced block needs at least its 4-byte length; checking this
      // first keeps the length table bounded by the bytes received.
      if (count > in.Remaining() / 4) return false;
      std::vector<uint32_t> lengths(count);
      for (uint32_t& length : lengths) in.ReadU32(length);
      std::vector<std::vector<uint8_t>> blocks;
      blocks.reserve(count);
      for (uint32_t length : lengths) {
        if (!in.ReadSpan(length, bytes)) return false;
        blocks.emplace_back(bytes.begin(), bytes.end());
      }
      value.blocks = std::move(blocks);
      break;
    }
    case FieldKind::kCallerBlock32: {
      uint32_t length = 0;
      if (!in.ReadU32(length)) return false;
      if (length > value.destination.size()) return false;
      if (!in.ReadSpan(length, bytes)) return false;
      if (length != 0) std::memcpy(value.destination.data(), bytes.data(), length);
      value.number = length;
      break;
    }
  }
  value.present = true;
  return true;
}

bool ShapedCmd::Parse(Side side, std::span<const uint8_t> packet) {
  PayloadReader in{std::span<const uint8_t>()};
  const bool header =
      side == Side::kRequest ? UnpackRequestHeader(packet, in) : UnpackResponseHeader(packet, in);
  if (!header) return false;
  const auto& fields = Fields(side);
  auto& values = Values(side);
  try {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!IsPresent(fields[i])) continue;
      if (!ParseField(fields[i], values[i], i > 0 ? &values[i - 1] : nullptr, in)) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  set_parsed_completely(true);
  return true;
}

bool ShapedCmd::PackRequest(std::span<const uint8_t>& packet) {
  try {
    return Build(Side::kRequest, packet);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ShapedCmd::UnpackRequest(std::span<const uint8_t> packet) {
  return Parse(Side::kRequest, packet);
}

bool ShapedCmd::PackResponse(std::span<const uint8_t>& packet) {
  std::span<const uint8_t> error;
  if (!PackErrorResponse(error)) {
    packet = error;
    return !error.empty();
  }
  bool built = false;
  try {
    built = Build(Side::kResponse, packet);
  } catch (const std::bad_alloc&) {
    built = false;
  }
  return (layout_.flags & kResponseReportsFalse) != 0 ? false : built;
}

bool ShapedCmd::UnpackResponse(std::span<const uint8_t> packet) {
  const bool parsed = Parse(Side::kResponse, packet);
  return (layout_.flags & kResponseReportsFalse) != 0 ? false : parsed;
}

}  // namespace dactyra::v100
