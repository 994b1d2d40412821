// Over the whole catalogue: what one side builds, the other side parses
// into the same fields. Requests go host to device, responses device to
// host, each with non-trivial values in every field and under every
// argument that selects a different payload.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "plugins/lumidigm/v100/catalogue.h"

namespace dactyra::v100 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t n, uint32_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed * 31 + i * 13 + 1);
  return b;
}

std::unique_ptr<ShapedCmd> MakeShaped(uint32_t code) {
  std::unique_ptr<ICmd> cmd = CommandFactory(code);
  auto* shaped = dynamic_cast<ShapedCmd*>(cmd.get());
  if (shaped == nullptr) return nullptr;
  cmd.release();
  return std::unique_ptr<ShapedCmd>(shaped);
}

// Destination buffers of caller-provided blocks, kept alive for the parse.
struct Destinations {
  std::vector<std::unique_ptr<Bytes>> buffers;
  void Provide(ShapedCmd& cmd, Side side) {
    for (size_t i = 0; i < cmd.FieldCount(side); ++i) {
      if (cmd.Fields(side)[i].kind != FieldKind::kCallerBlock32) continue;
      buffers.push_back(std::make_unique<Bytes>(256, 0));
      cmd.SetDestination(side, i, *buffers.back());
    }
  }
};

// Fills every field of `side` with values derived from `seed` that satisfy
// the class's rules.
void Fill(ShapedCmd& cmd, Side side, uint32_t seed) {
  const auto& fields = cmd.Fields(side);
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& def = fields[i];
    const uint32_t s = seed + static_cast<uint32_t>(i) * 17;
    switch (def.kind) {
      case FieldKind::kU8:
        cmd.SetNumber(side, i, 0xA0 + s % 64);
        break;
      case FieldKind::kU32:
        cmd.SetNumber(side, i, 0x81020304u + s);
        break;
      case FieldKind::kConst32:
      case FieldKind::kExact32:
        break;
      case FieldKind::kRecord: {
        Bytes record = Pattern(def.value, s);
        if (def.limit != 0) StoreU32(record.data() + def.offset, def.limit - 1 - s % 7);
        cmd.SetBytes(side, i, record);
        break;
      }
      case FieldKind::kBlock32:
      case FieldKind::kBlock16:
      case FieldKind::kCallerBlock32: {
        size_t n = 5 + s % 40;
        if (def.limit != 0) n = std::min<size_t>(n, def.limit);
        cmd.SetBytes(side, i, Pattern(n, s));
        break;
      }
      case FieldKind::kTrailing: {
        // Set the count in the record before and give that many units.
        Bytes record(cmd.Bytes(side, i - 1).begin(), cmd.Bytes(side, i - 1).end());
        const uint32_t count = def.value == 1 ? 37 : 2;
        StoreU32(record.data() + def.offset, count);
        cmd.SetBytes(side, i - 1, record);
        cmd.SetBytes(side, i, Pattern(static_cast<size_t>(count) * def.value, s));
        break;
      }
      case FieldKind::kArgumentRecords:
        cmd.SetBytes(side, i, Pattern(3 * static_cast<size_t>(def.value), s));
        break;
      case FieldKind::kBlockList:
        cmd.SetBlocks(side, i, {Pattern(3, s), Bytes{}, Pattern(11, s + 1)});
        break;
    }
  }
}

void ExpectSameFields(const ShapedCmd& sent, const ShapedCmd& got, Side side, size_t packet_size,
                      const std::string& where) {
  uint16_t sent_argument = 0, got_argument = 0;
  sent.GetArgument(sent_argument);
  got.GetArgument(got_argument);
  EXPECT_EQ(got_argument, sent_argument) << where;
  EXPECT_EQ(got.GetCommandCode(), sent.GetCommandCode()) << where;
  const auto& fields = sent.Fields(side);
  size_t compared = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string field = where + " field " + std::to_string(i);
    if (!got.Present(side, i)) continue;  // not selected by this argument
    ++compared;
    switch (fields[i].kind) {
      case FieldKind::kU8:
      case FieldKind::kU32:
        EXPECT_EQ(got.Number(side, i), sent.Number(side, i)) << field;
        break;
      case FieldKind::kConst32:
      case FieldKind::kExact32:
        break;
      case FieldKind::kCallerBlock32:
        EXPECT_EQ(got.Number(side, i), sent.Bytes(side, i).size()) << field;
        break;
      case FieldKind::kBlockList:
        EXPECT_EQ(got.Blocks(side, i), sent.Blocks(side, i)) << field;
        break;
      default:
        EXPECT_EQ(Bytes(got.Bytes(side, i).begin(), got.Bytes(side, i).end()),
                  Bytes(sent.Bytes(side, i).begin(), sent.Bytes(side, i).end()))
            << field;
        break;
    }
  }
  // Only an argument that selects no field may leave the packet empty.
  if (packet_size > kEmptyPacketSize) {
    EXPECT_GT(compared, 0u) << where << ": no field came across";
  }
}

// Arguments worth trying on a side: the default, and every value that
// selects a different set of fields.
std::vector<std::optional<uint16_t>> Arguments(const ShapedCmd& cmd, Side side) {
  std::vector<std::optional<uint16_t>> arguments = {std::nullopt};
  for (const FieldDef& def : cmd.Fields(side)) {
    if (def.presence != Presence::kAlways) {
      arguments.insert(arguments.end(), {0, 1, 2, 7});
      break;
    }
  }
  return arguments;
}

struct Direction {
  Side side;
  const char* name;
};

TEST(V100CatalogueRoundTrip, EveryClassBothWays) {
  std::set<uint32_t> covered;
  for (const CommandLayout& layout : CatalogueLayouts()) {
    for (Direction dir :
         {Direction{Side::kRequest, "request"}, Direction{Side::kResponse, "response"}}) {
      auto probe = MakeShaped(layout.code);
      ASSERT_NE(probe, nullptr) << layout.name;
      for (std::optional<uint16_t> argument : Arguments(*probe, dir.side)) {
        const std::string where = std::string(layout.name) + " " + dir.name + " argument " +
                                  (argument ? std::to_string(*argument) : "default");
        auto sender = MakeShaped(layout.code);
        auto receiver = MakeShaped(layout.code);
        if (argument) sender->SetArgument(*argument);
        Fill(*sender, dir.side, layout.code);
        Destinations destinations;
        destinations.Provide(*receiver, dir.side);

        std::span<const uint8_t> packet;
        bool built =
            dir.side == Side::kRequest ? sender->PackRequest(packet) : sender->PackResponse(packet);
        const bool reports_false =
            dir.side == Side::kResponse && (layout.flags & kResponseReportsFalse) != 0;
        ASSERT_EQ(built, !reports_false) << where;
        ASSERT_GE(packet.size(), kEmptyPacketSize) << where;
        EXPECT_EQ(packet.size(),
                  dir.side == Side::kRequest ? sender->GetRequestSize() : sender->GetResponseSize())
            << where;
        EXPECT_EQ(LoadU32(packet.data() + 8), packet.size() - kEmptyPacketSize) << where;
        EXPECT_EQ(LoadU16(packet.data()), kSync) << where;
        EXPECT_EQ(packet[packet.size() - 2], 0) << where << ": trailer";
        EXPECT_EQ(packet[packet.size() - 1], 0) << where << ": trailer";

        const Bytes copy(packet.begin(), packet.end());
        const bool parsed = dir.side == Side::kRequest ? receiver->UnpackRequest(copy)
                                                       : receiver->UnpackResponse(copy);
        EXPECT_EQ(parsed, !reports_false) << where;
        EXPECT_TRUE(receiver->ParsedCompletely()) << where;
        ExpectSameFields(*sender, *receiver, dir.side, copy.size(), where);
        if (dir.side == Side::kRequest) {
          for (const auto& buffer : destinations.buffers) {
            const auto sent = sender->Bytes(dir.side, 0);
            EXPECT_TRUE(std::equal(sent.begin(), sent.end(), buffer->begin())) << where;
          }
        }

        // Cutting the packet anywhere inside its payload ends the parse.
        if (copy.size() > kEmptyPacketSize) {
          for (size_t cut : {kHeaderSize + 0u, static_cast<uint32_t>(copy.size()) - 3u}) {
            auto truncated = MakeShaped(layout.code);
            Destinations more;
            more.Provide(*truncated, dir.side);
            if (dir.side == Side::kRequest) {
              truncated->UnpackRequest(std::span<const uint8_t>(copy.data(), cut));
            } else {
              truncated->UnpackResponse(std::span<const uint8_t>(copy.data(), cut));
            }
            EXPECT_FALSE(truncated->ParsedCompletely()) << where << " cut at " << cut;
          }
        }
      }
    }
    covered.insert(layout.code);
  }
  EXPECT_EQ(covered.size(), 59u);
}

TEST(V100CatalogueRoundTrip, AtomicErrorResponse) {
  auto device = CommandFactory(Atomic_Error::kCode);
  auto* error = dynamic_cast<Atomic_Error*>(device.get());
  ASSERT_NE(error, nullptr);
  error->SetError(0x8001);
  std::span<const uint8_t> packet;
  ASSERT_TRUE(error->PackResponse(packet));
  auto host = CommandFactory(Atomic_Error::kCode);
  ASSERT_TRUE(host->UnpackResponse(Bytes(packet.begin(), packet.end())));
  EXPECT_EQ(dynamic_cast<Atomic_Error&>(*host).GetError(), -32767);
}

// Table sanity: the offsets the layouts check or count by lie inside their
// records, and trailing parts follow a record.
TEST(V100CatalogueRoundTrip, LayoutTableIsConsistent) {
  uint32_t previous = 0;
  for (const CommandLayout& layout : CatalogueLayouts()) {
    EXPECT_GT(layout.code, previous) << "sorted and unique";
    previous = layout.code;
    for (const auto* fields : {&layout.request, &layout.response}) {
      for (size_t i = 0; i < fields->size(); ++i) {
        const FieldDef& def = (*fields)[i];
        if (def.kind == FieldKind::kRecord && def.limit != 0) {
          EXPECT_LE(def.offset + 4, def.value) << layout.name;
        }
        if (def.kind == FieldKind::kTrailing) {
          ASSERT_GT(i, 0u) << layout.name;
          EXPECT_EQ((*fields)[i - 1].kind, FieldKind::kRecord) << layout.name;
          EXPECT_LE(def.offset + 4, (*fields)[i - 1].value) << layout.name;
        }
      }
    }
  }
}

}  // namespace
}  // namespace dactyra::v100
