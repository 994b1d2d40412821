// The simulated sensor's answers held ready (the composite image, sent from
// where the model keeps it) against the plain reference: a response packed
// afresh by the command classes for each request, with the faults that
// change an answer working on a copy and leaving the held packet whole.
#include "sim/lumidigm/sensor_model.h"

#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "plugins/lumidigm/v100/catalogue.h"

namespace dactyra::sim::lumidigm {
namespace {

using namespace dactyra::v100;

std::vector<uint8_t> Request(ICmd& command) {
  std::span<const uint8_t> packet;
  EXPECT_TRUE(command.PackRequest(packet));
  return {packet.begin(), packet.end()};
}

std::vector<uint8_t> ImageRequest() {
  Atomic_Get_Composite_Image command;
  return Request(command);
}

// The plain reference: the composite image response packed afresh.
std::vector<uint8_t> ReferenceImageResponse(const SensorConfig& config, const SensorModel& model) {
  Atomic_Get_Composite_Image command;
  command.SetLeadingValue(config.leading_value);
  EXPECT_TRUE(command.SetImage(model.image()));
  std::span<const uint8_t> packet;
  EXPECT_TRUE(command.PackResponse(packet));
  return {packet.begin(), packet.end()};
}

std::vector<uint8_t> Sent(const Answer& a) {
  const auto bytes = a.Bytes();
  return {bytes.begin(), bytes.end()};
}

SensorConfig Small(std::vector<Fault> faults = {}) {
  SensorConfig config;
  config.width = 40;
  config.height = 30;
  config.leading_value = -7;
  config.faults = std::move(faults);
  return config;
}

TEST(SensorModelTest, ImageAnswersMatchTheReferenceEveryTime) {
  const SensorConfig config = Small();
  SensorModel model(config);
  const auto reference = ReferenceImageResponse(config, model);
  ASSERT_EQ(reference.size(), kEmptyPacketSize + 8 + 40 * 30);
  for (int i = 0; i < 3; ++i) {
    const Answer a = model.Respond(ImageRequest());
    EXPECT_EQ(Sent(a), reference) << "exchange " << i;
    EXPECT_EQ(a.announced, reference.size());
    // Other answers in between do not disturb the held packet.
    Atomic_Get_Acq_Status status;
    const Answer other = model.Respond(Request(status));
    EXPECT_EQ(other.held, nullptr);
    EXPECT_EQ(ReadHeader(other.Bytes().data()).command, Atomic_Get_Acq_Status::kCode);
  }
}

TEST(SensorModelTest, FaultsOnTheImageChangeACopyOnly) {
  struct Case {
    const char* fault;
    int64_t extra;      // bytes beyond the reference
    bool wrong_code;    // the code field replaced
    bool error_packet;  // an Atomic_Error instead
  };
  const Case cases[] = {
      {"wrong-code@1", 0, true, false},
      {"long-answer:5@1", 5, false, false},
      {"error:65534@1", 0, false, true},
      {"short-image:100@1", 100 - 40 * 30, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const auto fault = ParseFault(c.fault);
    ASSERT_TRUE(fault);
    const SensorConfig config = Small({*fault});
    SensorModel model(config);
    const auto reference = ReferenceImageResponse(config, model);
    // The first exchange builds the held packet and is struck by the fault.
    const Answer struck = model.Respond(ImageRequest());
    EXPECT_EQ(struck.held, nullptr);
    const auto sent = Sent(struck);
    if (c.error_packet) {
      EXPECT_NE(ReadHeader(sent.data()).command, Atomic_Get_Composite_Image::kCode);
    } else {
      ASSERT_EQ(static_cast<int64_t>(sent.size()),
                static_cast<int64_t>(reference.size()) + c.extra);
      EXPECT_EQ(ReadHeader(sent.data()).command == Atomic_Get_Composite_Image::kCode,
                !c.wrong_code);
      if (c.extra >= 0) {
        EXPECT_TRUE(std::equal(sent.begin() + kHeaderSize, sent.begin() + reference.size(),
                               reference.begin() + kHeaderSize));
      } else {
        // A whole packet of its own: the image's length, then its first bytes.
        Atomic_Get_Composite_Image parsed;
        ASSERT_TRUE(parsed.UnpackResponse(sent));
        EXPECT_TRUE(
            std::equal(parsed.Image().begin(), parsed.Image().end(), model.image().begin()));
        EXPECT_EQ(parsed.Image().size(), 100u);
      }
    }
    // The next exchange, not struck, answers with the reference again.
    EXPECT_EQ(Sent(model.Respond(ImageRequest())), reference);
  }
}

}  // namespace
}  // namespace dactyra::sim::lumidigm
