// Byte-level behaviour of the packet framework and of the catalogue classes
// whose rules go beyond the common shapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "plugins/lumidigm/v100/catalogue.h"

namespace dactyra::v100 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Packet(uint32_t code, uint16_t argument, const Bytes& payload,
             std::optional<uint32_t> announced = std::nullopt) {
  Bytes p(kHeaderSize + payload.size() + kTrailerSize, 0);
  WriteHeader(p.data(),
              {kSync, code, argument, announced.value_or(static_cast<uint32_t>(payload.size()))});
  std::copy(payload.begin(), payload.end(), p.begin() + kHeaderSize);
  return p;
}

void Append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

template <typename T>
std::unique_ptr<T> Make() {
  std::unique_ptr<ICmd> cmd = CommandFactory(T::kCode);
  auto* typed = dynamic_cast<T*>(cmd.get());
  EXPECT_NE(typed, nullptr) << T::kCode;
  cmd.release();
  return std::unique_ptr<T>(typed);
}

Bytes Built(std::span<const uint8_t> s) { return Bytes(s.begin(), s.end()); }

TEST(V100Packet, HeaderOnlyRequestIsFourteenBytes) {
  auto cmd = Make<Atomic_Get_Acq_Status>();
  std::span<const uint8_t> out;
  ASSERT_TRUE(cmd->PackRequest(out));
  EXPECT_EQ(Built(out), (Bytes{0x0D, 0x56, 0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(cmd->GetRequestSize(), 14u);
}

TEST(V100Packet, ArmTriggerCarriesTypeInArgument) {
  auto cmd = Make<Atomic_Arm_Trigger>();
  uint16_t argument = 0;
  cmd->GetArgument(argument);
  EXPECT_EQ(argument, 1u) << "trigger type after creation";
  cmd->SetTriggerType(4);
  std::span<const uint8_t> out;
  ASSERT_TRUE(cmd->PackRequest(out));
  ASSERT_EQ(out.size(), 14u);
  EXPECT_EQ(out[2], 71);
  EXPECT_EQ(out[6], 0x04);
  EXPECT_EQ(out[7], 0x00);
}

TEST(V100Packet, GetConfigRequestIsEighteenBytes) {
  auto cmd = Make<Atomic_Get_Config>();
  std::span<const uint8_t> out;
  ASSERT_TRUE(cmd->PackRequest(out));
  EXPECT_EQ(Built(out), (Bytes{0x0D, 0x56, 73, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0x80, 0, 0, 0, 0, 0}));
  // The device side keeps the size asked for.
  auto device = Make<Atomic_Get_Config>();
  Bytes request = Packet(73, 0, {0x40, 0, 0, 0});
  ASSERT_TRUE(device->UnpackRequest(request));
  EXPECT_EQ(device->RequestedSize(), 64u);
}

TEST(V100Packet, ErrorResponseUsesOwnCodeAndLowBitsOfErrorCode) {
  auto cmd = Make<Atomic_Get_Config>();
  cmd->SetErrorCode(5);
  std::span<const uint8_t> out;
  EXPECT_FALSE(cmd->PackErrorResponse(out));
  const Bytes error = Built(out);
  EXPECT_EQ(error, (Bytes{0x0D, 0x56, 73, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(cmd->GetResponseSize(), 14u);

  // PackResponse hands out the same error response and reports success.
  std::span<const uint8_t> response;
  EXPECT_TRUE(cmd->PackResponse(response));
  EXPECT_EQ(Built(response), error);

  cmd->SetErrorCode(0x12345);
  ASSERT_TRUE(cmd->PackResponse(response));
  EXPECT_EQ(response[6], 0x45);
  EXPECT_EQ(response[7], 0x23);

  cmd->SetErrorCode(0);
  std::span<const uint8_t> none;
  EXPECT_TRUE(cmd->PackErrorResponse(none));
  EXPECT_TRUE(none.empty());
}

TEST(V100Packet, AtomicErrorSignExtendsAndHasNoRequest) {
  auto cmd = Make<Atomic_Error>();
  EXPECT_EQ(cmd->GetRequestSize(), 0u);
  std::span<const uint8_t> out;
  EXPECT_FALSE(cmd->PackRequest(out));
  EXPECT_FALSE(cmd->UnpackRequest(Packet(224, 1, {})));

  ASSERT_TRUE(cmd->UnpackResponse(Packet(224, 0xFFFE, {})));
  EXPECT_EQ(cmd->GetError(), -2);
  EXPECT_TRUE(cmd->SetError(7));
  ASSERT_TRUE(cmd->PackResponse(out));
  EXPECT_EQ(Built(out), (Bytes{0x0D, 0x56, 224, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(V100Packet, ShortPacketLeavesObjectUntouched) {
  auto cmd = Make<Atomic_Get_Acq_Status>();
  cmd->SetArgument(9);
  Bytes header = Packet(72, 3, {1, 2, 3, 4});
  EXPECT_FALSE(cmd->UnpackResponse(std::span<const uint8_t>(header.data(), 11)));
  uint16_t argument = 0;
  cmd->GetArgument(argument);
  EXPECT_EQ(argument, 9u);
  EXPECT_EQ(cmd->GetCommandCode(), 72u);
  EXPECT_FALSE(cmd->ParsedCompletely());
}

TEST(V100Packet, HeaderFieldsAreTakenOverWithoutCheckingSync) {
  auto cmd = Make<Atomic_Process>();
  Bytes p = Packet(4242, 0xBEEF, {});
  p[0] = 0x11;
  p[1] = 0x22;
  ASSERT_TRUE(cmd->UnpackResponse(p));
  EXPECT_EQ(cmd->ReceivedSync(), 0x2211u);
  EXPECT_EQ(cmd->GetCommandCode(), 4242u);
  uint16_t argument = 0;
  cmd->GetArgument(argument);
  EXPECT_EQ(argument, 0xBEEFu);
}

TEST(V100Parse, StopsAtReceivedBytesAndLeavesObjectPartlyFilled) {
  auto cmd = Make<Atomic_Get_Composite_Image>();
  Bytes payload;
  Append32(payload, 0xFFFFFFFF);  // leading value -1
  Append32(payload, 100);         // image length past the end
  Bytes image = Pattern(50, 1);
  payload.insert(payload.end(), image.begin(), image.end());
  EXPECT_FALSE(cmd->UnpackResponse(Packet(67, 0, payload)));
  EXPECT_FALSE(cmd->ParsedCompletely());
  EXPECT_EQ(cmd->LeadingValue(), -1);
  EXPECT_TRUE(cmd->Image().empty());
  EXPECT_EQ(cmd->ReceivedPayloadSize(), payload.size());
}

TEST(V100Parse, StopsAtAnnouncedPayloadEvenWhenMoreBytesFollow) {
  auto cmd = Make<Atomic_Get_Acq_Status>();
  Bytes p = Packet(72, 0, {4, 0, 0, 0}, /*announced=*/2);
  EXPECT_FALSE(cmd->UnpackResponse(p));
  EXPECT_EQ(cmd->Status(), 0u);

  // An announced size beyond the received bytes limits nothing further.
  auto big = Make<Atomic_Get_Template>();
  Bytes q = Packet(69, 0, {8, 0, 0, 0, 1, 2}, /*announced=*/0xFFFFFFF0);
  EXPECT_FALSE(big->UnpackResponse(q));
  EXPECT_TRUE(big->Bytes(Side::kResponse, 0).empty());
}

TEST(V100Catalogue, GetCmdResponseMustAnnounceSixtyFour) {
  Bytes record = Pattern(64, 3);
  for (uint32_t value : {63u, 65u, 64u}) {
    Bytes payload;
    Append32(payload, value);
    payload.insert(payload.end(), record.begin(), record.end());
    auto cmd = Make<Atomic_Get_Cmd>();
    const bool parsed = cmd->UnpackResponse(Packet(76, 0, payload));
    EXPECT_EQ(parsed, value == 64) << value;
    if (parsed) {
      EXPECT_EQ(Built(cmd->Settings().bytes), record);
    }
  }
}

TEST(V100Catalogue, MatchExCountsItsBlocksInTheArgument) {
  auto cmd = Make<Atomic_Match_Ex>();
  ASSERT_TRUE(cmd->SetBytes(Side::kRequest, 0, Pattern(10, 1)));
  ASSERT_TRUE(cmd->SetBytes(Side::kRequest, 1, Pattern(20, 2)));
  std::span<const uint8_t> out;
  ASSERT_TRUE(cmd->PackRequest(out));
  EXPECT_EQ(out.size(), 14u + 4 + 10 + 4 + 20);
  EXPECT_EQ(LoadU16(out.data() + 6), 2u);
  EXPECT_EQ(LoadU32(out.data() + 8), 38u);
  // Building twice does not count the blocks twice.
  ASSERT_TRUE(cmd->PackRequest(out));
  EXPECT_EQ(LoadU16(out.data() + 6), 2u);

  auto device = Make<Atomic_Match_Ex>();
  ASSERT_TRUE(device->UnpackRequest(Built(out)));
  EXPECT_EQ(Built(device->Bytes(Side::kRequest, 1)), Pattern(20, 2));

  auto single = Make<Atomic_Match_Ex>();
  ASSERT_TRUE(single->SetBytes(Side::kRequest, 0, Pattern(10, 1)));
  ASSERT_TRUE(single->PackRequest(out));
  EXPECT_EQ(LoadU16(out.data() + 6), 1u);
  EXPECT_EQ(out.size(), 14u + 4 + 10);

  // With argument 1 the device reads only the first block, even when more
  // bytes follow; a first block longer than the packet fails.
  Bytes payload;
  Append32(payload, 2);
  payload.insert(payload.end(), {7, 8});
  Append32(payload, 1);
  payload.push_back(9);
  auto one = Make<Atomic_Match_Ex>();
  ASSERT_TRUE(one->UnpackRequest(Packet(96, 1, payload)));
  EXPECT_FALSE(one->Present(Side::kRequest, 1));
  auto two = Make<Atomic_Match_Ex>();
  ASSERT_TRUE(two->UnpackRequest(Packet(96, 2, payload)));
  EXPECT_EQ(Built(two->Bytes(Side::kRequest, 1)), Bytes{9});
  Bytes too_long;
  Append32(too_long, 1000);
  too_long.resize(40);
  EXPECT_FALSE(Make<Atomic_Match_Ex>()->UnpackRequest(Packet(96, 1, too_long)));
}

TEST(V100Catalogue, SpoofGetTemplateArgumentSelectsPayload) {
  auto cmd = Make<Atomic_Spoof_Get_Template>();
  uint16_t argument = 0;
  cmd->GetArgument(argument);
  EXPECT_EQ(argument, 0xFFFFu);
  cmd->SetArgument(0);
  ASSERT_TRUE(cmd->SetBytes(Side::kRequest, 0, Pattern(6, 1)));
  std::span<const uint8_t> out;
  ASSERT_TRUE(cmd->PackRequest(out));
  EXPECT_EQ(out.size(), 14u);

  cmd->SetArgument(2);
  ASSERT_TRUE(cmd->PackRequest(out));
  EXPECT_EQ(out.size(), 14u + 4 + 6);

  // Argument 0 on the device side reads no payload, whatever follows.
  auto device = Make<Atomic_Spoof_Get_Template>();
  EXPECT_TRUE(device->UnpackRequest(Packet(97, 0, {0xFF, 0xFF, 0xFF, 0xFF})));
  EXPECT_TRUE(device->Bytes(Side::kRequest, 0).empty());
}

TEST(V100Catalogue, SystemMetricsCountsEntriesByArgument) {
  Bytes entries = Pattern(84, 5);
  auto cmd = Make<Atomic_ID_Get_System_Metrics>();
  ASSERT_TRUE(cmd->UnpackResponse(Packet(125, 3, entries)));
  EXPECT_EQ(Built(cmd->Bytes(Side::kResponse, 0)), entries);

  auto short_cmd = Make<Atomic_ID_Get_System_Metrics>();
  EXPECT_FALSE(short_cmd->UnpackResponse(Packet(125, 4, entries)));

  // The device side derives the argument from the entries it holds.
  auto device = Make<Atomic_ID_Get_System_Metrics>();
  ASSERT_TRUE(device->SetBytes(Side::kResponse, 0, Pattern(56, 1)));
  std::span<const uint8_t> out;
  ASSERT_TRUE(device->PackResponse(out));
  EXPECT_EQ(LoadU16(out.data() + 6), 2u);
  ASSERT_TRUE(device->SetBytes(Side::kResponse, 0, Pattern(30, 1)));
  EXPECT_FALSE(device->PackResponse(out)) << "not a whole number of entries";
}

TEST(V100Catalogue, BlockLimitsOfIdentifyAndFirmware) {
  for (uint32_t n : {2048u, 2049u}) {
    Bytes payload;
    Append32(payload, n);
    Bytes block = Pattern(n, 1);
    payload.insert(payload.end(), block.begin(), block.end());
    auto cmd = Make<Macro_ID_Identify_378>();
    EXPECT_EQ(cmd->UnpackRequest(Packet(119, 0, payload)), n == 2048) << n;
  }
  // The firmware limit fails before the block is looked at.
  Bytes over;
  Append32(over, 10'485'761);
  EXPECT_FALSE(Make<Macro_Update_Firmware>()->UnpackRequest(Packet(162, 0, over, 0x7FFFFFFF)));
  Bytes at_limit;
  Append32(at_limit, 10'485'760);
  at_limit.resize(4 + 10'485'760, 0x5A);
  auto firmware = Make<Macro_Update_Firmware>();
  ASSERT_TRUE(firmware->UnpackRequest(Packet(162, 0, at_limit)));
  EXPECT_EQ(firmware->Bytes(Side::kRequest, 0).size(), 10'485'760u);
}

TEST(V100Catalogue, GetUserArgumentSelectsRequestForm) {
  auto cmd = Make<Atomic_Get_User>();
  std::span<const uint8_t> out;
  uint16_t argument = 9;
  // Nothing given: the record form, with an empty record.
  cmd->SetArgument(5);
  ASSERT_TRUE(cmd->PackRequest(out));
  EXPECT_EQ(out.size(), 14u + 272);
  cmd->GetArgument(argument);
  EXPECT_EQ(argument, 0u);

  // The 32-bit value given: argument 1, whatever the caller set before.
  cmd->SetArgument(0);
  ASSERT_TRUE(cmd->SetNumber(Side::kRequest, 1, 0xCAFE));
  ASSERT_TRUE(cmd->PackRequest(out));
  ASSERT_EQ(out.size(), 18u);
  EXPECT_EQ(LoadU32(out.data() + 8), 4u);
  EXPECT_EQ(LoadU32(out.data() + 12), 0xCAFEu);
  cmd->GetArgument(argument);
  EXPECT_EQ(argument, 1u);
  cmd->SetArgument(5);
  ASSERT_TRUE(cmd->PackRequest(out));
  EXPECT_EQ(out.size(), 18u);

  // The record given afterwards: argument 0 and the record.
  Bytes entry(272, 0x11);
  StoreU32(entry.data() + 12, 7);
  ASSERT_TRUE(cmd->SetBytes(Side::kRequest, 0, entry));
  ASSERT_TRUE(cmd->PackRequest(out));
  ASSERT_EQ(out.size(), 14u + 272);
  EXPECT_EQ(Bytes(out.begin() + 12, out.end() - 2), entry);
  cmd->GetArgument(argument);
  EXPECT_EQ(argument, 0u);

  // The header-only form is still understood when parsing.
  auto device = Make<Atomic_Get_User>();
  ASSERT_TRUE(device->UnpackRequest(Packet(136, 5, {})));
  EXPECT_FALSE(device->Present(Side::kRequest, 0));
  EXPECT_FALSE(device->Present(Side::kRequest, 1));
}

TEST(V100Catalogue, UserEntryValueAtOffsetTwelveMustStayBelow256) {
  for (uint32_t value : {255u, 256u}) {
    Bytes entry(272, 0);
    StoreU32(entry.data() + 12, value);
    auto host = Make<Macro_Enroll_User>();
    ASSERT_TRUE(host->SetBytes(Side::kRequest, 0, entry));
    std::span<const uint8_t> out;
    EXPECT_EQ(host->PackRequest(out), value < 256) << value;
    auto device = Make<Macro_Verify_User>();
    EXPECT_EQ(device->UnpackRequest(Packet(131, 0, entry)), value < 256) << value;
  }
}

TEST(V100Catalogue, FileDeleteNameIsAtMostSixtyFourBytes) {
  for (size_t n : {64u, 65u}) {
    auto host = Make<Atomic_File_Delete>();
    ASSERT_TRUE(host->SetBytes(Side::kRequest, 0, Pattern(n, 1)));
    std::span<const uint8_t> out;
    EXPECT_EQ(host->PackRequest(out), n == 64) << n;

    Bytes payload;
    Append32(payload, static_cast<uint32_t>(n));
    Bytes name = Pattern(n, 1);
    payload.insert(payload.end(), name.begin(), name.end());
    Append32(payload, 1);
    EXPECT_EQ(Make<Atomic_File_Delete>()->UnpackRequest(Packet(181, 0, payload)), n == 64) << n;
  }
}

TEST(V100Catalogue, ConfigComportCopiesIntoCallersBuffer) {
  auto host = Make<Atomic_Config_Comport>();
  std::span<const uint8_t> out;
  ASSERT_TRUE(host->PackRequest(out));
  EXPECT_EQ(LoadU32(out.data() + 12), 4u) << "block length after creation";

  ASSERT_TRUE(host->SetBlock(Pattern(8, 3)));
  ASSERT_TRUE(host->PackRequest(out));
  Bytes request = Built(out);

  Bytes small(7, 0xEE);
  auto refuses = Make<Atomic_Config_Comport>();
  refuses->SetDestination(small);
  EXPECT_FALSE(refuses->UnpackRequest(request));
  EXPECT_EQ(small, Bytes(7, 0xEE));
  EXPECT_FALSE(Make<Atomic_Config_Comport>()->UnpackRequest(request)) << "no buffer given";

  Bytes fits(8, 0);
  auto device = Make<Atomic_Config_Comport>();
  device->SetDestination(fits);
  ASSERT_TRUE(device->UnpackRequest(request));
  EXPECT_EQ(fits, Pattern(8, 3));
  EXPECT_EQ(device->ReceivedLength(), 8u);
}

TEST(V100Catalogue, TrailingBlocksFollowTheRecordsCount) {
  V100UserRecord record;
  record.SetField32(V100UserRecord::kBlockCountOffset, 2);
  auto device = Make<Atomic_ID_Get_User_Record>();
  ASSERT_TRUE(device->SetBytes(Side::kResponse, 0, record.bytes));
  ASSERT_TRUE(device->SetBytes(Side::kResponse, 1, Pattern(2048, 1)));
  std::span<const uint8_t> out;
  EXPECT_FALSE(device->PackResponse(out)) << "record announces two blocks, one given";
  ASSERT_TRUE(device->SetBytes(Side::kResponse, 1, Pattern(4096, 1)));
  ASSERT_TRUE(device->PackResponse(out));
  EXPECT_EQ(out.size(), 14u + 44 + 4096);

  // A count that runs past the received bytes fails without reading on.
  record.SetField32(V100UserRecord::kBlockCountOffset, 0xFFFFFFFF);
  Bytes payload(record.bytes.begin(), record.bytes.end());
  payload.resize(44 + 100);
  auto host = Make<Atomic_ID_Get_User_Record>();
  EXPECT_FALSE(host->UnpackResponse(Packet(116, 0, payload)));
  EXPECT_EQ(Built(host->Bytes(Side::kResponse, 0)), Built(record.bytes));
  EXPECT_TRUE(host->Bytes(Side::kResponse, 1).empty());
}

TEST(V100Catalogue, VerifyManyRefusesCountsBeyondThePacket) {
  Bytes payload;
  Append32(payload, 0x40000000);
  Append32(payload, 1);
  EXPECT_FALSE(Make<Macro_ID_Verify_Many>()->UnpackRequest(Packet(164, 0, payload)));

  Bytes lengths_past_end;
  Append32(lengths_past_end, 2);
  Append32(lengths_past_end, 1);
  Append32(lengths_past_end, 0xFFFFFFFF);
  lengths_past_end.push_back(1);
  EXPECT_FALSE(Make<Macro_ID_Verify_Many>()->UnpackRequest(Packet(164, 0, lengths_past_end)));
}

TEST(V100Catalogue, FixedValuesAreReadAsTheClassSays) {
  // Atomic_Get_Status reads 32 bytes whatever its value announces.
  Bytes status;
  Append32(status, 7);
  Bytes record = Pattern(32, 9);
  status.insert(status.end(), record.begin(), record.end());
  auto get_status = Make<Atomic_Get_Status>();
  ASSERT_TRUE(get_status->UnpackResponse(Packet(74, 0, status)));
  EXPECT_EQ(get_status->Number(Side::kResponse, 0), 7u);
  EXPECT_EQ(Built(get_status->Bytes(Side::kResponse, 1)), record);

  // Macro_Vid_Stream skips its first value.
  Bytes stream;
  Append32(stream, 99);
  Append32(stream, 0x01020304);
  auto vid = Make<Macro_Vid_Stream>();
  ASSERT_TRUE(vid->UnpackRequest(Packet(6, 0, stream)));
  EXPECT_EQ(vid->Number(Side::kRequest, 1), 0x01020304u);
  std::span<const uint8_t> out;
  ASSERT_TRUE(vid->PackRequest(out));
  EXPECT_EQ(LoadU32(out.data() + 12), 4u);
}

TEST(V100Catalogue, DefaultsAfterCreation) {
  EXPECT_EQ(CommandFactory(65)->GetRequestSize(), 18u);
  EXPECT_EQ(CommandFactory(77)->GetRequestSize(), 18u);
  EXPECT_EQ(CommandFactory(67)->GetRequestSize(), 14u);
  EXPECT_EQ(CommandFactory(67)->GetResponseSize(), 14u);
  auto led = Make<Atomic_Set_LED>();
  EXPECT_EQ(led->Number(Side::kRequest, 0), 4u);
  EXPECT_EQ(Make<Atomic_Get_FIR_Image>()->Number(Side::kRequest, 0), 255u);
  EXPECT_EQ(Make<Atomic_Get_Status>()->Number(Side::kResponse, 0), 32u);
  EXPECT_EQ(Make<Atomic_Get_Config>()->RequestedSize(), 128u);
  EXPECT_EQ(CommandFactory(67)->GetErrorCode(), 0);
}

TEST(V100Catalogue, SaveLastCaptureReportsFalseButDoesItsWork) {
  auto device = Make<Macro_Save_Last_Capture>();
  std::span<const uint8_t> out;
  EXPECT_FALSE(device->PackResponse(out));
  ASSERT_EQ(out.size(), 14u);
  auto host = Make<Macro_Save_Last_Capture>();
  EXPECT_FALSE(host->UnpackResponse(Built(out)));
  EXPECT_TRUE(host->ParsedCompletely());
}

TEST(V100Catalogue, EnrollUserRecordLaysOutCallerFields) {
  V100EnrollInput input;
  input.first.fill(1);
  input.second.fill(2);
  input.third.fill(3);
  input.block_count = 0x0A0B0C0D;
  auto cmd = Make<Macro_ID_Enroll_User_Record>();
  ASSERT_TRUE(cmd->SetUserRecord(input));
  V100UserRecord record = cmd->GetUserRecord();
  EXPECT_EQ(record.bytes[0], 1);
  EXPECT_EQ(record.bytes[15], 1);
  EXPECT_EQ(record.bytes[16], 2);
  EXPECT_EQ(record.bytes[32], 3);
  EXPECT_EQ(record.bytes[39], 3);
  EXPECT_EQ(record.Field32(40), 0x0A0B0C0Du);
}

TEST(V100Catalogue, FactoryKnowsOnlyCatalogueCodes) {
  for (uint32_t code :
       {0u, 1u, 5u, 64u, 75u, 85u, 102u, 114u, 138u, 141u, 223u, 225u, 0x100u + 67u, 0xFFFFFFFFu}) {
    EXPECT_EQ(CommandFactory(code), nullptr) << code;
  }
  size_t count = 0;
  for (const CommandLayout& layout : CatalogueLayouts()) {
    auto cmd = CommandFactory(layout.code);
    ASSERT_NE(cmd, nullptr) << layout.name;
    EXPECT_EQ(cmd->GetCommandCode(), layout.code);
    ++count;
  }
  EXPECT_EQ(count, 59u) << "every code but Atomic_Error has a layout";
  EXPECT_NE(dynamic_cast<Atomic_Error*>(CommandFactory(224).get()), nullptr);
}

}  // namespace
}  // namespace dactyra::v100
