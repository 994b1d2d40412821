// The Virdi plug-in's listing, opening, capturing and handle checks against
// the UCBioBSP stand-in, on a clock the tests set.
#include "plugins/virdi/virdi_plugin.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "plugins/virdi/tests/virdi_fixture.h"
#include "sim/virdi/ucbiobsp_sim.h"

namespace dactyra::virdi::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Bytes of a list buffer, with the pointers of a complete block.
struct ListBuffer {
  explicit ListBuffer(size_t size, uint8_t fill = 0xAB) : bytes(size, fill) {}
  PVxrDeviceList block() { return reinterpret_cast<PVxrDeviceList>(bytes.data()); }
  uint32_t count() const {
    uint32_t n = 0;
    std::memcpy(&n, bytes.data(), 4);
    return n;
  }
  std::vector<std::string> serials() const { return Serials(bytes.data(), bytes.size()); }
  std::vector<uint8_t> bytes;
};

// An image buffer for a device of `byte_size` pixels, with guard bytes
// after it that no call may touch.
struct ImageBuffer {
  static constexpr size_t kGuard = 64;
  explicit ImageBuffer(int32_t byte_size)
      : bytes(sizeof(TVxrImage) + static_cast<size_t>(byte_size) + kGuard, 0xCD),
        pixels(static_cast<size_t>(byte_size)) {}
  PVxrImage image() { return reinterpret_cast<PVxrImage>(bytes.data()); }
  std::vector<uint8_t> Pixels() const {
    return {bytes.begin() + sizeof(TVxrImage), bytes.begin() + sizeof(TVxrImage) + pixels};
  }
  bool GuardIntact() const {
    for (size_t i = bytes.size() - kGuard; i < bytes.size(); ++i) {
      if (bytes[i] != 0xCD) return false;
    }
    return true;
  }
  std::vector<uint8_t> bytes;
  size_t pixels;
};

class VirdiPluginTest : public StandInTest {
 protected:
  std::vector<std::string> List(VirdiPlugin& plugin) {
    ListBuffer probe(8, 0);
    const int32_t needed = plugin.GetDeviceList(probe.block(), 8);
    ListBuffer full(static_cast<size_t>(needed), 0);
    EXPECT_EQ(plugin.GetDeviceList(full.block(), needed), needed);
    return full.serials();
  }

  ManualClock clock_;
};

TEST_F(VirdiPluginTest, SizeNegotiation) {
  const std::vector<std::string> listed = {"Hamster III", "Twin", "Twin", ""};
  Configure(
      "reader=1 320x480 name=Hamster III\n"
      "reader=200 320x480 name=Hidden\n"
      "reader=2 300x400 name=Twin\n"
      "reader=3 300x400 name=Twin\n"
      "reader=4 320x480 name=\n");
  const int32_t needed = ListSize(listed);
  struct Case {
    int32_t size;
    int32_t result;
    // What the buffer holds afterwards: untouched, the count only, or all.
    enum { kUntouched, kCount, kAll } written;
  };
  const Case cases[] = {
      {0, 4, Case::kUntouched},           {1, 4, Case::kUntouched},
      {3, 4, Case::kUntouched},           {-5, 4, Case::kUntouched},
      {INT32_MIN, 4, Case::kUntouched},
      {4, needed, Case::kCount},          {8, needed, Case::kCount},
      {needed - 1, needed, Case::kCount}, {needed, needed, Case::kAll},
      {needed + 9, needed, Case::kAll},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size));
    VirdiPlugin plugin(clock_);
    const uint32_t inits = Calls("UCBioAPI_Init");
    // The buffer holds a whole list whatever the size claims, so that a
    // write beyond the size shows as changed guard bytes.
    ListBuffer buffer(static_cast<size_t>(std::max(c.size, needed) + 16));
    EXPECT_EQ(plugin.GetDeviceList(buffer.block(), c.size), c.result);
    const size_t untouched_from = c.written == Case::kUntouched ? 0
                                  : c.written == Case::kCount   ? 4
                                                                : static_cast<size_t>(needed);
    if (c.written != Case::kUntouched) {
      EXPECT_EQ(buffer.count(), listed.size());
    }
    if (c.written == Case::kAll) {
      EXPECT_THAT(buffer.serials(), ElementsAreArray(listed));
    }
    for (size_t i = untouched_from; i < buffer.bytes.size(); ++i) {
      ASSERT_EQ(buffer.bytes[i], 0xAB) << "byte " << i;
    }
    // Below 4 bytes nothing is asked of UCBioBSP.
    EXPECT_EQ(Calls("UCBioAPI_Init") - inits, c.written == Case::kUntouched ? 0u : 1u);
  }
}

TEST_F(VirdiPluginTest, EmptyAndFailedListings) {
  struct Case {
    const char* name;
    const char* config;
    // Listings made, and what the last one yields.
    int listings;
    uint32_t inits;
    uint32_t enumerations;
    std::vector<std::string> serials;
  };
  const Case cases[] = {
      {"no reader", "", 1, 1, 1, {}},
      {"only ID 200", "reader=200 320x480 name=Hidden\n", 1, 1, 1, {}},
      {"initialisation fails for good", "init_failures=99\nreader=1 320x480 name=A\n", 3, 3, 0, {}},
      // Retried at the next listing, then kept.
      {"initialisation fails once", "init_failures=1\nreader=1 320x480 name=A\n", 3, 2, 1, {"A"}},
      // The handle is kept: only enumeration is retried.
      {"enumeration fails", "enumerate=fail\nreader=1 320x480 name=A\n", 3, 1, 3, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Configure(c.config);
    VirdiPlugin plugin(clock_);
    int32_t result = 0;
    ListBuffer buffer(64, 0xAB);
    for (int i = 0; i < c.listings; ++i) {
      std::fill(buffer.bytes.begin(), buffer.bytes.end(), 0xAB);
      result = plugin.GetDeviceList(buffer.block(), 64);
    }
    EXPECT_EQ(buffer.count(), c.serials.size());
    EXPECT_EQ(result, ListSize(c.serials));
    if (c.serials.empty()) {
      EXPECT_EQ(buffer.bytes[4], 0xAB);
    } else {
      EXPECT_THAT(buffer.serials(), ElementsAreArray(c.serials));
    }
    EXPECT_EQ(Calls("UCBioAPI_Init"), c.inits);
    EXPECT_EQ(Calls("UCBioAPI_EnumerateDevice"), c.enumerations);
  }
}

TEST_F(VirdiPluginTest, AListIsFreshForOneSecondOfTicksAcrossTheirWrap) {
  // Reader 1 leaves after the first enumeration, reader 3 arrives at the
  // second: a fresh list still shows the first enumeration's readers.
  Configure(
      "reader=1 320x480 present=1-1 name=Leaving\n"
      "reader=2 320x480 name=Staying\n"
      "reader=3 320x480 present=2- name=Arriving\n");
  const std::vector<std::string> first = {"Leaving", "Staying"};
  const std::vector<std::string> second = {"Staying", "Arriving"};
  struct Step {
    uint32_t tick;
    uint32_t enumerations;
    std::vector<std::string> serials;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"plain", {{5000, 1, first}, {5999, 1, first}, {6000, 2, second}, {6100, 2, second}}},
      // 0xFFFFFE00 + 1000 wraps to 0x1E8.
      {"across the wrap",
       {{0xFFFFFE00u, 1, first},
        {0xFFFFFFFFu, 1, first},
        {0x0u, 1, first},
        {0x1E7u, 1, first},
        {0x1E8u, 2, second}}},
      {"the clock stepping back a little counts as long ago",
       {{5000, 1, first}, {4999, 2, second}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Configure(
        "reader=1 320x480 present=1-1 name=Leaving\n"
        "reader=2 320x480 name=Staying\n"
        "reader=3 320x480 present=2- name=Arriving\n");
    VirdiPlugin plugin(clock_);
    for (const Step& step : c.steps) {
      SCOPED_TRACE("tick " + std::to_string(step.tick));
      clock_.now = step.tick;
      EXPECT_THAT(List(plugin), ElementsAreArray(step.serials));
      EXPECT_EQ(Calls("UCBioAPI_EnumerateDevice"), step.enumerations);
    }
  }
}

// Readers for the opening and capturing tests.
constexpr const char* kReaders =
    "reader=1 320x480 name=Alpha\n"
    "reader=2 300x400 seed=21 name=Twin\n"
    "reader=3 300x400 seed=22 name=Twin\n"
    "reader=255 320x480 name=Reserved\n"
    "reader=200 320x480 name=Hidden\n"
    "reader=4 320x480 open=fail name=Locked\n"
    "reader=5 320x480 info=fail name=Mute\n"
    "reader=6 0x480 name=Flat\n"
    "reader=7 480x-1 name=Negative\n"
    "reader=8 70000x70000 name=Huge\n"
    "reader=9 46341x46341 name=Just too big\n"
    "reader=10 46340x46340 name=Just right\n"
    "reader=11 320x480 capture=fail name=Failing\n"
    "reader=12 320x480 capture=noframe name=No finger\n"
    "reader=13 320x480 capture=nullframe name=Null frame\n"
    "reader=14 320x480 frames=0 name=Silent\n"
    "reader=15 320x480 frames=1 seed=77 name=Single\n"
    "reader=16 320x480 capture=timeout name=Slow\n";

TEST_F(VirdiPluginTest, OpensTheFirstReaderOfExactlyThatNameWithASizeItCanHold) {
  struct Case {
    const char* serial;
    bool opens;
    TVxrImageSize size;
    // UCBioBSP calls the attempt makes.
    uint32_t opened;
    uint32_t closed;
  };
  const Case cases[] = {
      {"Alpha", true, {320, 480, 153600}, 1, 0},
      {"Twin", true, {300, 400, 120000}, 1, 0},
      {"Just right", true, {46340, 46340, 2147395600}, 1, 0},
      {"alpha", false, {}, 0, 0},
      {"Alpha ", false, {}, 0, 0},
      {"Unknown", false, {}, 0, 0},
      {"", false, {}, 0, 0},
      {"Reserved", false, {}, 0, 0},
      {"Hidden", false, {}, 0, 0},
      {"Locked", false, {}, 1, 0},
      // Opened, then closed again when its size is unusable.
      {"Mute", false, {}, 1, 1},
      {"Flat", false, {}, 1, 1},
      {"Negative", false, {}, 1, 1},
      {"Huge", false, {}, 1, 1},
      {"Just too big", false, {}, 1, 1},
  };
  Configure(kReaders);
  VirdiPlugin plugin(clock_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    const uint32_t opened = Calls("UCBioAPI_OpenDevice");
    const uint32_t closed = Calls("UCBioAPI_CloseDevice");
    TVxrCaptureHandle handle = plugin.OpenDevice(c.serial);
    EXPECT_EQ(handle != nullptr, c.opens);
    EXPECT_EQ(Calls("UCBioAPI_OpenDevice") - opened, c.opened);
    EXPECT_EQ(Calls("UCBioAPI_CloseDevice") - closed, c.closed);
    if (!handle) continue;
    TVxrImageSize size{-1, -1, -1};
    EXPECT_TRUE(plugin.GetMaxSize(handle, &size));
    EXPECT_EQ(size.Width, c.size.Width);
    EXPECT_EQ(size.Height, c.size.Height);
    EXPECT_EQ(size.ByteSize, c.size.ByteSize);
    EXPECT_TRUE(plugin.CloseDevice(handle));
  }
  EXPECT_FALSE(plugin.OpenDevice(nullptr));
  // All of it from one enumeration.
  EXPECT_EQ(Calls("UCBioAPI_EnumerateDevice"), 1u);
}

TEST_F(VirdiPluginTest, OpeningListsOnlyWhenTheListIsStale) {
  Configure(kReaders);
  VirdiPlugin plugin(clock_);
  clock_.now = 100;
  // Never listed: opening enumerates (and initialises) first.
  TVxrCaptureHandle first = plugin.OpenDevice("Alpha");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Calls("UCBioAPI_Init"), 1u);
  EXPECT_EQ(Calls("UCBioAPI_EnumerateDevice"), 1u);
  EXPECT_TRUE(plugin.CloseDevice(first));
  clock_.now = 1099;
  TVxrCaptureHandle second = plugin.OpenDevice("Alpha");
  EXPECT_EQ(Calls("UCBioAPI_EnumerateDevice"), 1u);
  EXPECT_TRUE(plugin.CloseDevice(second));
  clock_.now = 1100;
  TVxrCaptureHandle third = plugin.OpenDevice("Alpha");
  EXPECT_EQ(Calls("UCBioAPI_EnumerateDevice"), 2u);
  EXPECT_TRUE(plugin.CloseDevice(third));
  EXPECT_EQ(Calls("UCBioAPI_Init"), 1u);
}

TEST_F(VirdiPluginTest, CapturesTheLastFrameOfASuccessfulCapture) {
  struct Case {
    const char* serial;
    bool image;
    std::vector<uint8_t> pixels;
    // The FIR handle is released exactly when the capture succeeded.
    uint32_t firs_freed;
  };
  const Case cases[] = {
      {"Alpha", true, LastFrame(1, 320, 480), 1},
      {"Twin", true, LastFrame(21, 300, 400), 1},
      {"Single", true, LastFrame(77, 320, 480, 1), 1},
      {"Failing", false, {}, 0},
      {"No finger", false, {}, 1},
      {"Null frame", false, {}, 1},
      {"Silent", false, {}, 1},
  };
  Configure(kReaders);
  VirdiPlugin plugin(clock_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    TVxrCaptureHandle handle = plugin.OpenDevice(c.serial);
    ASSERT_NE(handle, nullptr);
    TVxrImageSize size{};
    ASSERT_TRUE(plugin.GetMaxSize(handle, &size));
    const uint32_t captures = Calls("UCBioAPI_Capture");
    const uint32_t freed = Calls("UCBioAPI_FreeFIRHandle");
    ImageBuffer buffer(size.ByteSize);
    const std::vector<uint8_t> before = buffer.bytes;
    EXPECT_EQ(plugin.GetImage(handle, buffer.image()), c.image);
    EXPECT_EQ(Calls("UCBioAPI_Capture") - captures, 1u);
    EXPECT_EQ(Calls("UCBioAPI_FreeFIRHandle") - freed, c.firs_freed);
    EXPECT_TRUE(buffer.GuardIntact());
    if (c.image) {
      const TVxrImage& image = *buffer.image();
      EXPECT_EQ(image.Size.Width, size.Width);
      EXPECT_EQ(image.Size.Height, size.Height);
      EXPECT_EQ(image.Size.ByteSize, size.ByteSize);
      EXPECT_EQ(image.Format, 0);
      EXPECT_EQ(image.Resolution, 500);
      EXPECT_TRUE(buffer.Pixels() == c.pixels) << "not the last frame";
    } else {
      EXPECT_TRUE(buffer.bytes == before) << "written without an image";
    }
    EXPECT_TRUE(plugin.CloseDevice(handle));
  }
}

TEST_F(VirdiPluginTest, ACaptureWithoutAFingerEndsWithItsTimeOut) {
  Configure(kReaders);
  VirdiPlugin plugin(clock_);
  TVxrCaptureHandle handle = plugin.OpenDevice("Slow");
  ASSERT_NE(handle, nullptr);
  ImageBuffer buffer(320 * 480);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(plugin.GetImage(handle, buffer.image()));
  const auto waited = std::chrono::steady_clock::now() - start;
  // The stand-in waits the time-out it is given (and checks it is 3000).
  EXPECT_GE(waited, std::chrono::milliseconds(3000));
  EXPECT_LT(waited, std::chrono::milliseconds(6000));
  EXPECT_EQ(Calls("UCBioAPI_FreeFIRHandle"), 0u);
  EXPECT_TRUE(plugin.CloseDevice(handle));
}

TEST_F(VirdiPluginTest, AReaderUnpluggedAfterOpeningCapturesNothing) {
  Configure("reader=1 320x480 present=1-1 name=Leaving\n");
  VirdiPlugin plugin(clock_);
  TVxrCaptureHandle handle = plugin.OpenDevice("Leaving");
  ASSERT_NE(handle, nullptr);
  ImageBuffer buffer(320 * 480);
  EXPECT_TRUE(plugin.GetImage(handle, buffer.image()));
  clock_.now += kListFreshMs;
  EXPECT_TRUE(List(plugin).empty());
  EXPECT_FALSE(plugin.GetImage(handle, buffer.image()));
  EXPECT_EQ(Calls("UCBioAPI_Capture"), 2u);
  EXPECT_EQ(Calls("UCBioAPI_FreeFIRHandle"), 1u);
  // Still a handle of this plug-in until it is closed.
  TVxrImageSize size{};
  EXPECT_TRUE(plugin.GetMaxSize(handle, &size));
  EXPECT_TRUE(plugin.CloseDevice(handle));
}

TEST_F(VirdiPluginTest, RefusesHandlesItDoesNotHoldWithoutReadingThem) {
  Configure(kReaders);
  VirdiPlugin plugin(clock_);
  VirdiPlugin other(clock_);
  TVxrCaptureHandle closed = plugin.OpenDevice("Alpha");
  ASSERT_NE(closed, nullptr);
  ASSERT_TRUE(plugin.CloseDevice(closed));
  TVxrCaptureHandle foreign_device = other.OpenDevice("Twin");
  ASSERT_NE(foreign_device, nullptr);
  // Another plug-in's object, even one that begins with this prefix's
  // address.
  struct {
    const char* tag = kPrefix;
    uint16_t id = 1;
    int32_t sizes[3] = {320, 480, 153600};
  } lookalike;
  int32_t stranger[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    const char* name;
    TVxrCaptureHandle handle;
  };
  const Case cases[] = {
      {"null", nullptr},
      // Freed: under ASan, any read of it fails the test.
      {"closed", closed},
      {"another instance's", foreign_device},
      {"a lookalike", reinterpret_cast<TVxrCaptureHandle>(&lookalike)},
      {"a stranger", reinterpret_cast<TVxrCaptureHandle>(stranger)},
  };
  const char* const functions[] = {"UCBioAPI_Init",         "UCBioAPI_EnumerateDevice",
                                   "UCBioAPI_OpenDevice",   "UCBioAPI_GetDeviceInfo",
                                   "UCBioAPI_CloseDevice",  "UCBioAPI_Capture",
                                   "UCBioAPI_FreeFIRHandle"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> calls;
    for (const char* function : functions) calls.push_back(Calls(function));
    TVxrImageSize size{7, 7, 7};
    ImageBuffer buffer(16);
    const std::vector<uint8_t> before = buffer.bytes;
    EXPECT_FALSE(plugin.GetMaxSize(c.handle, &size));
    EXPECT_FALSE(plugin.GetImage(c.handle, buffer.image()));
    EXPECT_FALSE(plugin.CloseDevice(c.handle));
    EXPECT_EQ(size.Width, 7);
    EXPECT_TRUE(buffer.bytes == before);
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(Calls(functions[i]), calls[i]) << functions[i];
    }
  }
  // The other instance's device is still its own.
  TVxrImageSize size{};
  EXPECT_TRUE(other.GetMaxSize(foreign_device, &size));
  EXPECT_FALSE(plugin.GetMaxSize(nullptr, nullptr));
  EXPECT_TRUE(other.CloseDevice(foreign_device));
}

TEST_F(VirdiPluginTest, CapturesRunBesideEachOtherAndBesideListing) {
  Configure(
      "reader=1 320x480 name=Left\n"
      "reader=2 320x480 name=Right\n"
      "reader=3 320x480 name=Third\n");
  VirdiPlugin plugin(clock_);
  TVxrCaptureHandle left = plugin.OpenDevice("Left");
  TVxrCaptureHandle right = plugin.OpenDevice("Right");
  ASSERT_NE(left, nullptr);
  ASSERT_NE(right, nullptr);
  constexpr int kImages = 5;
  int images[2] = {0, 0};
  auto capture = [&](TVxrCaptureHandle handle, int& count) {
    ImageBuffer buffer(320 * 480);
    for (int i = 0; i < kImages; ++i) {
      TVxrImageSize size{};
      if (plugin.GetMaxSize(handle, &size) && plugin.GetImage(handle, buffer.image())) ++count;
    }
  };
  std::thread a(capture, left, std::ref(images[0]));
  std::thread b(capture, right, std::ref(images[1]));
  // Listing, opening and closing go on meanwhile.
  for (int i = 0; i < 50; ++i) {
    clock_.now += 300;
    EXPECT_THAT(List(plugin), ElementsAre("Left", "Right", "Third"));
    TVxrCaptureHandle third = plugin.OpenDevice("Third");
    EXPECT_NE(third, nullptr);
    EXPECT_TRUE(plugin.CloseDevice(third));
    EXPECT_FALSE(plugin.CloseDevice(third));
  }
  a.join();
  b.join();
  EXPECT_EQ(images[0], kImages);
  EXPECT_EQ(images[1], kImages);
  EXPECT_TRUE(plugin.CloseDevice(left));
  EXPECT_TRUE(plugin.CloseDevice(right));
}

}  // namespace
}  // namespace dactyra::virdi::testing
