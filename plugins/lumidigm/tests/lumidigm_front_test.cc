// The plug-in front against in-process sensors: listing, opening, the
// capture state machine of both arming schemes, the image record, and
// shutdown against a running step.
#include "plugins/lumidigm/front/lumidigm_front.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "plugins/lumidigm/tests/fake_sensor.h"

namespace dactyra::lumidigm {
namespace {

using testing::FakeSensor;
using testing::FakeSensors;

constexpr uint32_t kArm = v100::Atomic_Arm_Trigger::kCode;
constexpr uint32_t kStatus = v100::Atomic_Get_Acq_Status::kCode;

std::shared_ptr<FakeSensor> Sensor(uint16_t high, uint16_t low, uint16_t width = 4,
                                   uint16_t height = 3, bool scheme1 = true) {
  auto s = std::make_shared<FakeSensor>();
  s->config.SetField16(v100::V100Config::kSerialHighOffset, high);
  s->config.SetField16(v100::V100Config::kSerialLowOffset, low);
  s->config.SetField16(v100::V100Config::kWidthOffset, width);
  s->config.SetField16(v100::V100Config::kHeightOffset, height);
  if (scheme1) {
    s->config.SetField16(v100::V100Config::kVendorOffset, 0x0525);
    s->config.SetField16(v100::V100Config::kProductOffset, 0x3424);
  }
  s->image.resize(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < s->image.size(); ++i) s->image[i] = static_cast<uint8_t>(7 * i + 1);
  s->settings.SetField16(2, 0x1111);
  s->settings.SetField16(20, 0x2222);
  s->settings.SetField16(40, 0x3333);
  return s;
}

std::vector<std::string> Texts(const std::vector<uint8_t>& block) {
  uint32_t n = 0;
  std::memcpy(&n, block.data(), 4);
  std::vector<std::string> out;
  for (uint32_t i = 0; i < n; ++i) {
    const char* p = nullptr;
    std::memcpy(&p, block.data() + VXR_DEVICE_LIST_TEXT_OFFSET(i), sizeof p);
    EXPECT_GE(reinterpret_cast<const uint8_t*>(p), block.data());
    EXPECT_LT(reinterpret_cast<const uint8_t*>(p), block.data() + block.size());
    out.emplace_back(p);
  }
  return out;
}

class FrontTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> List(int32_t size, int32_t* answer = nullptr) {
    std::vector<uint8_t> block(static_cast<size_t>(std::max(size, 0)) + 8, 0xEE);
    const int32_t got = front_.GetDeviceList(reinterpret_cast<PVxrDeviceList>(block.data()), size);
    if (answer) *answer = got;
    block.resize(std::max(size, 0));
    return block;
  }
  // Lists, opens `serial` and asks its size.
  V100Device* OpenSized(const char* serial) {
    List(256);
    V100Device* d = front_.OpenDevice(serial);
    TVxrImageSize size{};
    if (d) {
      EXPECT_TRUE(front_.GetMaxSize(d, &size));
    }
    return d;
  }
  bool Image(V100Device* d, std::vector<uint8_t>& buffer) {
    buffer.assign(sizeof(TVxrImage) + d->size_cache.ByteSize, 0);
    return front_.GetImage(d, reinterpret_cast<PVxrImage>(buffer.data()));
  }

  FakeSensors sensors_;
  LumidigmFront front_{sensors_};
};

TEST_F(FrontTest, ListingSizesAndTexts) {
  sensors_.sensors = {Sensor(0x1234, 0x00AB), nullptr, Sensor(0xBEEF, 0x0001)};
  const size_t entry = VXR_DEVICE_LIST_ENTRY_SIZE(8);
  const int32_t required = static_cast<int32_t>(4 + 2 * entry);
  struct Case {
    int32_t size;
    bool count_written;
    bool texts_written;
  };
  for (const Case c : {Case{0, false, false}, Case{3, false, false}, Case{4, true, false},
                       Case{required - 1, true, false}, Case{required, true, true}}) {
    int32_t answer = 0;
    const std::vector<uint8_t> block = List(c.size, &answer);
    SCOPED_TRACE(c.size);
    EXPECT_EQ(answer, c.size < 4 ? 4 : required);
    for (size_t i = 0; i < block.size() && !c.count_written; ++i) EXPECT_EQ(block[i], 0xEE);
    if (c.count_written) {
      uint32_t n = 0;
      std::memcpy(&n, block.data(), 4);
      EXPECT_EQ(n, 2u);
      if (!c.texts_written) {
        for (size_t i = 4; i < block.size(); ++i) EXPECT_EQ(block[i], 0xEE);
      }
    }
    if (c.texts_written) {
      EXPECT_EQ(Texts(block), (std::vector<std::string>{"123400AB", "BEEF0001"}));
    }
  }
}

TEST_F(FrontTest, EmptyListingEmptiesFailedCountKeeps) {
  sensors_.sensors = {Sensor(1, 2)};
  List(256);
  EXPECT_EQ(front_.Serials(), std::vector<std::string>{"00010002"});
  sensors_.count_fails = true;
  int32_t answer = 0;
  std::vector<uint8_t> block = List(256, &answer);
  EXPECT_EQ(answer, 4);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(front_.Serials(), std::vector<std::string>{"00010002"}) << "failed count keeps";
  sensors_.count_fails = false;
  sensors_.sensors.clear();
  List(256, &answer);
  EXPECT_EQ(answer, 4);
  EXPECT_TRUE(front_.Serials().empty()) << "empty listing empties";
}

TEST_F(FrontTest, SilentSensorLeftOutAndNumbersKept) {
  auto quiet = Sensor(0xAAAA, 1);
  quiet->silent = true;
  auto second = Sensor(0xBBBB, 2);
  sensors_.sensors = {quiet, second};
  List(256);
  EXPECT_EQ(front_.Serials(), std::vector<std::string>{"BBBB0002"});
  // The device number found for the serial is used, not its position.
  V100Device* d = front_.OpenDevice("BBBB0002");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->transport.device_number, 1u);
  EXPECT_TRUE(front_.CloseDevice(d));
}

TEST_F(FrontTest, OpeningIsExactAndHandlesAreChecked) {
  sensors_.sensors = {Sensor(0xABCD, 0xEF01)};
  List(256);
  EXPECT_EQ(front_.OpenDevice("abcdef01"), nullptr);
  EXPECT_EQ(front_.OpenDevice("ABCDEF0"), nullptr);
  EXPECT_EQ(front_.OpenDevice(nullptr), nullptr);
  V100Device* d = front_.OpenDevice("ABCDEF01");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->tag, kPrefix);

  TVxrImageSize size{};
  std::vector<uint8_t> image(64);
  V100Device foreign;
  for (V100Device* bad : {static_cast<V100Device*>(nullptr), &foreign}) {
    EXPECT_FALSE(front_.GetMaxSize(bad, &size));
    EXPECT_FALSE(front_.GetImage(bad, reinterpret_cast<PVxrImage>(image.data())));
    EXPECT_FALSE(front_.ShutdownDevice(bad));
    EXPECT_FALSE(front_.CloseDevice(bad));
  }
  EXPECT_TRUE(front_.CloseDevice(d));
  // A freed handle is refused without being read (ASan would report a read).
  EXPECT_FALSE(front_.CloseDevice(d));
  EXPECT_FALSE(front_.GetMaxSize(d, &size));
}

TEST_F(FrontTest, SizeAndImageRecord) {
  sensors_.sensors = {Sensor(1, 1, 300, 400)};
  List(256);
  V100Device* d = front_.OpenDevice("00010001");
  ASSERT_NE(d, nullptr);
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + 16);
  EXPECT_FALSE(front_.GetImage(d, reinterpret_cast<PVxrImage>(buffer.data())))
      << "no size asked yet";
  EXPECT_EQ(sensors_.sensors[0]->Count(kStatus), 0u) << "refused before any traffic";
  TVxrImageSize size{};
  ASSERT_TRUE(front_.GetMaxSize(d, &size));
  EXPECT_EQ(size.Width, 300);
  EXPECT_EQ(size.Height, 400);
  EXPECT_EQ(size.ByteSize, 120000);
  front_.CloseDevice(d);
}

// Drives one device until an image comes or `calls` run out; returns the
// number of calls that gave false before the image (or -1).
int CallsUntilImage(LumidigmFront& front, V100Device* d, std::vector<uint8_t>& buffer,
                    int calls = 20) {
  buffer.assign(sizeof(TVxrImage) + d->size_cache.ByteSize, 0);
  for (int i = 0; i < calls; ++i) {
    if (front.GetImage(d, reinterpret_cast<PVxrImage>(buffer.data()))) return i;
  }
  return -1;
}

TEST_F(FrontTest, BothArmingSchemesDeliverTheImage) {
  for (const bool scheme1 : {true, false}) {
    SCOPED_TRACE(scheme1 ? "scheme 1" : "scheme 4");
    auto s = Sensor(2, 3, 4, 3, scheme1);
    sensors_.sensors = {s};
    V100Device* d = OpenSized("00020003");
    ASSERT_NE(d, nullptr);
    // First call: status, re-arm (settle on 0), arm 1 or 4. Then 4, then 0.
    s->statuses = {1, 0, 4};
    if (!scheme1) s->statuses.push_back(0);  // the settle after the type-4 disarm
    s->statuses.push_back(0);
    s->statuses.push_back(0);  // the re-arm's settle after the image
    std::vector<uint8_t> buffer;
    EXPECT_EQ(CallsUntilImage(front_, d, buffer), 2);
    const auto* record = reinterpret_cast<const TVxrImage*>(buffer.data());
    EXPECT_EQ(record->Size.Width, 4);
    EXPECT_EQ(record->Size.ByteSize, 12);
    EXPECT_EQ(record->Format, 0);
    EXPECT_EQ(record->Resolution, 500);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + sizeof(TVxrImage), buffer.end()), s->image);
    EXPECT_EQ(s->Count(kArm, scheme1 ? 1 : 4), 2u) << "armed at start and after the image";
    if (!scheme1) {
      EXPECT_EQ(s->Count(kArm, 1), 1u) << "type 1 after the type-4 trigger";
    }
    EXPECT_EQ(s->settings.Field16(2), 0);
    EXPECT_EQ(s->settings.Field16(20), 0);
    EXPECT_EQ(s->settings.Field16(40), 0x3333) << "other settings written back as read";
    EXPECT_TRUE(front_.CloseDevice(d));
  }
}

TEST_F(FrontTest, LeadingValuesAndImagesOfTheWrongLength) {
  struct Case {
    int32_t leading;
    size_t image_bytes;
    bool delivered;
  };
  // W x H is 12: one byte more or less, or none at all, is no image.
  for (const Case c : {Case{199, 12, true}, Case{200, 12, false}, Case{-1, 12, true},
                       Case{0, 13, false}, Case{0, 11, false}, Case{0, 5, false},
                       Case{0, 0, false}}) {
    SCOPED_TRACE(c.leading);
    auto s = Sensor(9, 9);
    s->leading_value = c.leading;
    s->image.assign(c.image_bytes, 0x5A);
    sensors_.sensors = {s};
    V100Device* d = OpenSized("00090009");
    ASSERT_NE(d, nullptr);
    s->statuses = {1, 0, 4, 0, 0};
    std::vector<uint8_t> buffer;
    // Arm, status 4, status 0 with the fetch: the third call decides.
    EXPECT_EQ(CallsUntilImage(front_, d, buffer, 3), c.delivered ? 2 : -1);
    const size_t armings = s->Count(kArm, 1);
    EXPECT_EQ(armings, 2u) << "re-armed whether delivered or not";
    EXPECT_TRUE(front_.CloseDevice(d));
  }
}

TEST_F(FrontTest, StatusThreeAndFailedPollsRearm) {
  auto s = Sensor(5, 5);
  sensors_.sensors = {s};
  V100Device* d = OpenSized("00050005");
  ASSERT_NE(d, nullptr);
  std::vector<uint8_t> buffer;
  s->statuses = {1, 0};
  EXPECT_EQ(CallsUntilImage(front_, d, buffer, 1), -1);
  EXPECT_EQ(s->Count(kArm, 1), 1u);
  s->statuses = {3, 0};
  EXPECT_EQ(CallsUntilImage(front_, d, buffer, 1), -1);
  EXPECT_EQ(s->Count(kArm, 1), 2u) << "status 3 re-arms";
  EXPECT_TRUE(sensors_.pauses.empty()) << "an answering sensor is not paused for";
  // Gone and not found again: each call pauses once before its false.
  s->silent = true;
  EXPECT_EQ(CallsUntilImage(front_, d, buffer, 3), -1);
  EXPECT_EQ(sensors_.pauses,
            (std::vector<uint32_t>{kAbsentPauseMs, kAbsentPauseMs, kAbsentPauseMs}));
  // Back: it is found again and the calls go on without pauses.
  // The first call finds it and re-arms (settle on 0), then 4, then 0.
  s->silent = false;
  s->statuses = {0, 4, 0, 0};
  EXPECT_EQ(CallsUntilImage(front_, d, buffer, 6), 2);
  EXPECT_EQ(sensors_.pauses.size(), 3u);
  EXPECT_TRUE(front_.CloseDevice(d));
}

TEST_F(FrontTest, ShutdownDisarmsOnceAndStopsCapture) {
  auto s = Sensor(6, 6);
  sensors_.sensors = {s};
  V100Device* d = OpenSized("00060006");
  ASSERT_NE(d, nullptr);
  const size_t before = s->Count(kArm, 0);
  EXPECT_TRUE(front_.ShutdownDevice(d));
  EXPECT_TRUE(front_.ShutdownDevice(d));
  EXPECT_EQ(s->Count(kArm, 0), before + 1);
  EXPECT_FALSE(s->open());
  std::vector<uint8_t> buffer;
  const size_t traffic = s->received().size();
  EXPECT_EQ(CallsUntilImage(front_, d, buffer, 3), -1);
  TVxrImageSize size{};
  EXPECT_TRUE(front_.GetMaxSize(d, &size)) << "answers from the stored configuration";
  EXPECT_TRUE(front_.CloseDevice(d));
  EXPECT_EQ(s->received().size(), traffic) << "no traffic after shutdown";
}

// Shutdown from another thread while a step waits inside an exchange: the
// transport closes only after the step, which ends at its next poll.
TEST_F(FrontTest, ShutdownWaitsForRunningStep) {
  for (int round = 0; round < 20; ++round) {
    auto s = Sensor(7, 7, 4, 3, false);
    sensors_.sensors = {s};
    V100Device* d = OpenSized("00070007");
    ASSERT_NE(d, nullptr);
    std::atomic<bool> inside{false};
    // Status 1 for ever: the device never settles, so only stop ends the
    // settle loop of the re-arm.
    s->statuses.assign(100000, 1);
    s->on_exchange = [&](uint32_t code) {
      if (code == kStatus) inside.store(true);
    };
    std::thread capture([&] {
      std::vector<uint8_t> buffer;
      while (CallsUntilImage(front_, d, buffer, 1) < 0 && !d->stop.load()) {
      }
    });
    while (!inside.load()) std::this_thread::yield();
    EXPECT_TRUE(front_.ShutdownDevice(d));
    capture.join();
    EXPECT_FALSE(s->open());
    EXPECT_TRUE(front_.CloseDevice(d));
  }
}

}  // namespace
}  // namespace dactyra::lumidigm
