// Execute and the host command calls over a transport that answers with
// prepared packets.
#include "plugins/lumidigm/v100/execute.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "plugins/lumidigm/tests/scripted_transport.h"
#include "plugins/lumidigm/v100/catalogue.h"
#include "plugins/lumidigm/v100/host_calls.h"

namespace dactyra::v100 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Packet(uint32_t code, uint16_t argument, const Bytes& payload) {
  Bytes p(kEmptyPacketSize + payload.size(), 0);
  WriteHeader(p.data(), {kSync, code, argument, static_cast<uint32_t>(payload.size())});
  std::copy(payload.begin(), payload.end(), p.begin() + kHeaderSize);
  return p;
}

Bytes U32(uint32_t v) {
  Bytes b(4);
  StoreU32(b.data(), v);
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + 3 * i);
  return b;
}

class HostCallTest : public ::testing::Test {
 protected:
  HostCallTest() { info_.transport = &transport_; }
  testing::ScriptedTransport transport_;
  V100TransportInfo info_;
};

TEST_F(HostCallTest, ExecuteReturnsObjectOfReceivedCode) {
  transport_.Answer(Packet(72, 0, U32(10)));
  auto request = CommandFactory(72);
  auto response = Execute(info_, *request);
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(dynamic_cast<Atomic_Get_Acq_Status&>(*response).Status(), 10u);
  ASSERT_EQ(transport_.requests().size(), 1u);
  EXPECT_EQ(transport_.requests()[0], Packet(72, 0, {}));
}

TEST_F(HostCallTest, ExecuteGivesNullWithoutUsablePacket) {
  auto request = CommandFactory(72);
  V100TransportInfo closed;
  EXPECT_EQ(Execute(closed, *request), nullptr) << "no transport";

  transport_.Fail();
  EXPECT_EQ(Execute(info_, *request), nullptr) << "exchange failed";
  transport_.Answer(Packet(75, 0, {}));
  EXPECT_EQ(Execute(info_, *request), nullptr) << "unknown code";
  transport_.AnswerReporting(Packet(72, 0, U32(1)), 11);
  EXPECT_EQ(Execute(info_, *request), nullptr) << "shorter than a header";
  transport_.AnswerReporting(Packet(72, 0, U32(1)), kReceiveBufferSize + 1);
  EXPECT_EQ(Execute(info_, *request), nullptr) << "more than the buffer";

  // A request that cannot be built is never sent.
  const size_t sent = transport_.requests().size();
  auto error = CommandFactory(Atomic_Error::kCode);
  EXPECT_EQ(Execute(info_, *error), nullptr);
  EXPECT_EQ(transport_.requests().size(), sent);
}

TEST_F(HostCallTest, ExecuteReturnsTruncatedResponsePartlyParsed) {
  transport_.Answer(Packet(67, 0, Concat({U32(5), U32(1000), Pattern(10, 1)})));
  auto request = CommandFactory(67);
  auto response = Execute(info_, *request);
  ASSERT_NE(response, nullptr);
  EXPECT_FALSE(response->ParsedCompletely());
  EXPECT_EQ(dynamic_cast<Atomic_Get_Composite_Image&>(*response).LeadingValue(), 5);
}

TEST_F(HostCallTest, CallsReturnNoResponseWhenTheExchangeFails) {
  uint32_t status = 77;
  V100Config config;
  V100CmdSettings settings;
  int32_t leading = 0;
  uint32_t length = 0;
  Bytes image(16);
  for (int i = 0; i < 6; ++i) transport_.Fail();
  EXPECT_EQ(ArmTrigger(info_, 1), kNoResponse);
  EXPECT_EQ(GetAcqStatus(info_, status), kNoResponse);
  EXPECT_EQ(GetCompositeImage(info_, leading, length, image), kNoResponse);
  EXPECT_EQ(GetConfig(info_, config), kNoResponse);
  EXPECT_EQ(GetCmd(info_, settings), kNoResponse);
  EXPECT_EQ(SetCmd(info_, settings), kNoResponse);
  EXPECT_EQ(status, 77u);
  EXPECT_EQ(transport_.pending(), 0u);
}

TEST_F(HostCallTest, AtomicErrorGivesSignExtendedCode) {
  uint32_t status = 0;
  transport_.Answer(Packet(224, 0xFFFE, {}));
  EXPECT_EQ(GetAcqStatus(info_, status), -2);
  transport_.Answer(Packet(224, 5, {}));
  EXPECT_EQ(ArmTrigger(info_, 4), 5);
  V100CmdSettings settings;
  transport_.Answer(Packet(224, 0x7FFF, {}));
  EXPECT_EQ(SetCmd(info_, settings), 0x7FFF);
  // An error response without a code is not taken for success.
  transport_.Answer(Packet(224, 0, {}));
  EXPECT_EQ(ArmTrigger(info_, 4), kNoResponse);
}

TEST_F(HostCallTest, UnknownResponseCodeGives139) {
  V100Config config;
  transport_.Answer(Packet(0x1234, 0, {}));
  EXPECT_EQ(GetConfig(info_, config), kNoResponse);
  transport_.Answer(Packet(0x1234, 0, {}));
  EXPECT_EQ(ArmTrigger(info_, 0), kNoResponse);
}

TEST_F(HostCallTest, ArmTriggerSendsTypeAndTakesOnlyItsOwnAnswer) {
  transport_.Answer(Packet(71, 0, {}));
  EXPECT_EQ(ArmTrigger(info_, 4), 0);
  // The answer to some other request (a status poll's, late) is not an
  // arming's, though the call has no outputs to copy.
  transport_.Answer(Packet(72, 0, U32(3)));
  EXPECT_EQ(ArmTrigger(info_, 0), kNoResponse);
  ASSERT_EQ(transport_.requests().size(), 2u);
  EXPECT_EQ(transport_.requests()[0], Packet(71, 4, {}));
  EXPECT_EQ(transport_.requests()[1], Packet(71, 0, {}));
}

TEST_F(HostCallTest, GetAcqStatusReadsStatus) {
  uint32_t status = 0;
  transport_.Answer(Packet(72, 0, U32(0xDEADBEEF)));
  EXPECT_EQ(GetAcqStatus(info_, status), 0);
  EXPECT_EQ(status, 0xDEADBEEFu);
  // Another class, or a truncated answer, leaves the output alone.
  transport_.Answer(Packet(73, 0, Bytes(128, 1)));
  EXPECT_EQ(GetAcqStatus(info_, status), kNoResponse);
  transport_.Answer(Packet(72, 0, {1, 2}));
  EXPECT_EQ(GetAcqStatus(info_, status), kNoResponse);
  EXPECT_EQ(status, 0xDEADBEEFu);
}

TEST_F(HostCallTest, GetConfigReadsWholeRecordOrNothing) {
  V100Config config;
  const Bytes record = Pattern(128, 9);
  transport_.Answer(Packet(73, 0, record));
  ASSERT_EQ(GetConfig(info_, config), 0);
  EXPECT_EQ(Bytes(config.bytes.begin(), config.bytes.end()), record);
  EXPECT_EQ(transport_.requests()[0], Packet(73, 0, U32(128)));

  V100Config untouched = config;
  transport_.Answer(Packet(73, 0, Pattern(100, 1)));
  EXPECT_EQ(GetConfig(info_, config), kNoResponse);
  transport_.Answer(Packet(76, 0, Concat({U32(64), Pattern(64, 2)})));
  EXPECT_EQ(GetConfig(info_, config), kNoResponse);
  EXPECT_EQ(config, untouched);
}

TEST_F(HostCallTest, GetCmdAndSetCmdCarryTheSettings) {
  V100CmdSettings settings;
  const Bytes record = Pattern(64, 4);
  transport_.Answer(Packet(76, 0, Concat({U32(64), record})));
  ASSERT_EQ(GetCmd(info_, settings), 0);
  EXPECT_EQ(Bytes(settings.bytes.begin(), settings.bytes.end()), record);
  EXPECT_EQ(transport_.requests()[0], Packet(76, 0, {}));

  transport_.Answer(Packet(76, 0, Concat({U32(63), record})));
  EXPECT_EQ(GetCmd(info_, settings), kNoResponse);

  settings.SetField16(2, 0);
  settings.SetField16(20, 0);
  transport_.Answer(Packet(77, 0, {}));
  EXPECT_EQ(SetCmd(info_, settings), 0);
  const Bytes& sent = transport_.requests().back();
  ASSERT_EQ(sent.size(), 14u + 4 + 64);
  auto device = CommandFactory(77);
  ASSERT_TRUE(device->UnpackRequest(sent));
  EXPECT_EQ(dynamic_cast<Atomic_Set_Cmd&>(*device).Settings(), settings);
}

TEST_F(HostCallTest, GetCompositeImageCopiesIntoCallersBuffer) {
  const Bytes image = Pattern(24, 6);
  Bytes destination(24, 0);
  int32_t leading = 0;
  uint32_t length = 0;
  transport_.Answer(Packet(67, 0, Concat({U32(0xFFFFFFFF), U32(24), image})));
  ASSERT_EQ(GetCompositeImage(info_, leading, length, destination), 0);
  EXPECT_EQ(leading, -1);
  EXPECT_EQ(length, 24u);
  EXPECT_EQ(destination, image);
  EXPECT_EQ(transport_.requests()[0], Packet(67, 0, {}));

  // An image larger than the caller's buffer is refused, not cut.
  Bytes small(23, 0xAA);
  transport_.Answer(Packet(67, 0, Concat({U32(1), U32(24), image})));
  EXPECT_EQ(GetCompositeImage(info_, leading, length, small), kNoResponse);
  EXPECT_EQ(small, Bytes(23, 0xAA));
  EXPECT_EQ(leading, -1);

  transport_.Answer(Packet(67, 0, Concat({U32(1), U32(24), Pattern(20, 1)})));
  EXPECT_EQ(GetCompositeImage(info_, leading, length, destination), kNoResponse);
  EXPECT_EQ(destination, image);
}

// The plain way to the same result: parse the image into the response's
// own buffer, then copy it out when it fills the caller's exactly. The host
// call parses it straight into the caller's buffer instead; both must agree
// on every answer.
int32_t PlainGetCompositeImage(V100TransportInfo& info, int32_t& leading_value,
                               uint32_t& image_length, std::span<uint8_t> destination) {
  auto request = CommandFactory(Atomic_Get_Composite_Image::kCode);
  std::unique_ptr<ICmd> response = Execute(info, *request);
  if (response == nullptr) return kNoResponse;
  if (auto* error = dynamic_cast<Atomic_Error*>(response.get())) {
    uint16_t code = 0;
    error->GetArgument(code);
    return code != 0 ? static_cast<int32_t>(static_cast<int16_t>(code)) : kNoResponse;
  }
  auto* typed = dynamic_cast<Atomic_Get_Composite_Image*>(response.get());
  if (typed == nullptr || !typed->ParsedCompletely()) return kNoResponse;
  if (typed->Image().size() != destination.size()) return kNoResponse;
  std::copy(typed->Image().begin(), typed->Image().end(), destination.begin());
  leading_value = typed->LeadingValue();
  image_length = static_cast<uint32_t>(typed->Image().size());
  return 0;
}

TEST_F(HostCallTest, GetCompositeImageAgreesWithThePlainCopy) {
  const Bytes image = Pattern(24, 6);
  const Bytes answers[] = {
      Packet(67, 0, Concat({U32(0xFFFFFFFF), U32(24), image})),  // fits
      Packet(67, 0, Concat({U32(199), U32(24), image})),
      Packet(67, 0, Concat({U32(1), U32(25), Pattern(25, 1)})),  // one byte long
      Packet(67, 0, Concat({U32(1), U32(23), Pattern(23, 1)})),  // one byte short
      Packet(67, 0, Concat({U32(1), U32(0), {}})),               // none
      Packet(67, 0, Concat({U32(1), U32(1000), Pattern(30, 1)})),  // cut off
      Packet(67, 0, U32(7)),                                     // no image at all
      Packet(224, 0xFFF0, {}),                                   // the error response
      Packet(72, 0, U32(0)),                                     // another command's
  };
  for (const Bytes& answer : answers) {
    SCOPED_TRACE(::testing::PrintToString(answer.size()));
    struct Result {
      int32_t status, leading = 5;
      uint32_t length = 9;
      Bytes pixels = Bytes(24, 0xAA);
    } plain, ours;
    transport_.Answer(answer);
    plain.status = PlainGetCompositeImage(info_, plain.leading, plain.length, plain.pixels);
    transport_.Answer(answer);
    ours.status = GetCompositeImage(info_, ours.leading, ours.length, ours.pixels);
    EXPECT_EQ(ours.status, plain.status);
    EXPECT_EQ(ours.leading, plain.leading);
    EXPECT_EQ(ours.length, plain.length);
    EXPECT_EQ(ours.pixels, plain.pixels);
  }
}

}  // namespace
}  // namespace dactyra::v100
