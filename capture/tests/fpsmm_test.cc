// FPSmm modules and devices over the FPSmm stand-in: refusal, counting and
// naming, opening, images pushed on the module's thread, and closing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_device.h"
#include "capture/fpsmm/fpsmm_capture_device.h"
#include "capture/fpsmm/fpsmm_capture_module.h"
#include "capture/tests/module_folders.h"
#include "capture/velmora_error.h"
#include "platform/env.h"
#include "platform/module.h"

namespace dactyra::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A loaded module that hides one export.
class HidingModule : public platform::Module {
 public:
  HidingModule(std::unique_ptr<platform::Module> inner, std::string hidden)
      : Module(inner->file()), inner_(std::move(inner)), hidden_(std::move(hidden)) {}
  void* Symbol(const char* name) const override {
    return hidden_ == name ? nullptr : inner_->Symbol(name);
  }
  const platform::Text& file() const override { return inner_->file(); }

 private:
  std::unique_ptr<platform::Module> inner_;
  std::string hidden_;
};

class HidingEnv : public platform::EnvWrapper {
 public:
  explicit HidingEnv(std::string hidden)
      : EnvWrapper(platform::Env::Default()), hidden_(std::move(hidden)) {}
  std::unique_ptr<platform::Module> LoadModule(const platform::Text& file,
                                               platform::Module::Search search,
                                               platform::Text* error) override {
    auto module = target().LoadModule(file, search, error);
    if (!module) return module;
    return std::make_unique<HidingModule>(std::move(module), hidden_);
  }

 private:
  std::string hidden_;
};

// The images one device delivered, as its OnImage saw them.
struct Images {
  struct Image {
    int32_t width;
    int32_t height;
    std::vector<uint8_t> pixels;
  };
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Image> seen;

  void Attach(TVxCaptureDevice& device) {
    device.SetOnImage([this](TVxCaptureDevice& sender) {
      const size_t n = static_cast<size_t>(sender.ImageWidth()) * sender.ImageHeight();
      Image image{sender.ImageWidth(), sender.ImageHeight(),
                  std::vector<uint8_t>(sender.ImageBuffer(), sender.ImageBuffer() + n)};
      std::lock_guard lock(mutex);
      seen.push_back(std::move(image));
      arrived.notify_all();
    });
  }
  bool WaitFor(size_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(10), [&] { return seen.size() >= count; });
  }
  size_t Count() {
    std::lock_guard lock(mutex);
    return seen.size();
  }
};

// The stand-in's pattern: pixel (x, y) of the k-th image of a run.
std::vector<uint8_t> Pattern(int k, int32_t width, int32_t height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) pixels[y * width + x] = uint8_t((k + x + 3 * y) & 0xFF);
  }
  return pixels;
}

class FpsmmTest : public ModuleFolderTest {
 protected:
  void SetUp() override {
    ModuleFolderTest::SetUp();
    path_ = Install(Folder("modules"), FpsmmSimPath(), "FPSmmFoo.so");
  }
  std::unique_ptr<TFPSmmCaptureModule> Load(platform::Env& env = platform::Env::Default()) {
    return std::make_unique<TFPSmmCaptureModule>(u"foo", T(path_), env);
  }
  std::vector<std::string> Violations() const {
    std::vector<std::string> found;
    for (const std::string& line : Log("FPSmmFoo")) {
      if (line.rfind("violation", 0) == 0) found.push_back(line);
    }
    return found;
  }
  std::string path_;
};

TEST_F(FpsmmTest, RefusedModulesAreUnloadedOnce) {
  struct Case {
    std::string config;
    std::string hidden;
    int init_calls;
  };
  const Case cases[] = {
      {"init=-1\n", "", 1},       {"init=-2147483648\n", "", 1}, {"", "_Init", 0},
      {"", "_GetDeviceCount", 1}, {"", "_EnumDeviceIDs", 1},     {"", "_CreateScannerImpl", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config + c.hidden);
    std::filesystem::remove(dir() + "/FPSmmFoo.log");
    ConfigureFpsmm(c.config);
    HidingEnv env(c.hidden);
    EXPECT_EQ(MessageOf([&] { Load(env); }), "Invalid module 'foo' (" + path_ + ").");
    try {
      Load(env);
    } catch (const EVelmoraFP&) {
    }
    // Two attempts: each loaded, initialised at most once and unloaded once.
    EXPECT_EQ(CountCalls("FPSmmFoo", "load"), 2);
    EXPECT_EQ(CountCalls("FPSmmFoo", "_Init"), 2 * c.init_calls);
    EXPECT_EQ(CountCalls("FPSmmFoo", "unload"), 2);
  }
}

TEST_F(FpsmmTest, AcceptedModuleIsInitialisedOnceAndPrefixedByItsName) {
  auto module = Load();
  EXPECT_EQ(module->Name(), u"foo");
  EXPECT_EQ(module->Prefix(), u"foo");
  EXPECT_EQ(module->Path(), T(path_));
  EXPECT_EQ(CountCalls("FPSmmFoo", "_Init"), 1);
  module.reset();
  EXPECT_EQ(CountCalls("FPSmmFoo", "unload"), 1);
}

TEST_F(FpsmmTest, CountIsTheModulesCountAndTheListHoldsWhatItFilled) {
  struct Case {
    std::string config;
    int32_t count;
    std::vector<platform::Text> names;
  };
  const std::vector<Case> cases = {
      {"count=3\nid=foo\\A1\nid=foo\\B2\n", 3, {u"foo\\A1", u"foo\\B2"}},
      {"id=foo\\A1\nid=FOO\\ç2\n", 2, {u"foo\\A1", u"FOO\\ç2"}},
      {"count=2\nid=foo\\A1\nid=foo\\B2\nid=foo\\C3\n", 2, {u"foo\\A1", u"foo\\B2"}},
      {"count=2\nfill=0\nid=foo\\A1\n", 2, {}},
      {"count=0\nid=foo\\A1\n", 0, {}},
      // A negative count with a good status can size no array: none.
      {"count=-4\nid=foo\\A1\n", 0, {}},
      // A count no machine has would size a 16 GiB array: clamped.
      {"count=2147483647\nid=foo\\A1\n", 1024, {u"foo\\A1"}},
  };
  auto module = Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    ConfigureFpsmm(c.config);
    EXPECT_EQ(module->DeviceCount(), c.count);
    std::vector<platform::Text> names{u"kept"};
    EXPECT_EQ(module->GetDeviceList(names), static_cast<int32_t>(c.names.size()));
    std::vector<platform::Text> expected{u"kept"};
    expected.insert(expected.end(), c.names.begin(), c.names.end());
    EXPECT_EQ(names, expected);
  }
  EXPECT_THAT(Violations(), IsEmpty());
}

TEST_F(FpsmmTest, TheListIsRefreshedOnlyByCounting) {
  ConfigureFpsmm("id=foo\\A1\n");
  auto module = Load();
  std::vector<platform::Text> names;
  // Nothing kept yet: listing counts first.
  EXPECT_EQ(module->GetDeviceList(names), 1);
  ConfigureFpsmm("id=foo\\B2\nid=foo\\C3\n");
  EXPECT_EQ(module->GetDeviceList(names), 1);
  EXPECT_THAT(names, ElementsAre(u"foo\\A1", u"foo\\A1"));
  EXPECT_EQ(module->DeviceCount(), 2);
  names.clear();
  EXPECT_EQ(module->GetDeviceList(names), 2);
  EXPECT_THAT(names, ElementsAre(u"foo\\B2", u"foo\\C3"));
  EXPECT_EQ(CountCalls("FPSmmFoo", "_GetDeviceCount"), 2);
}

TEST_F(FpsmmTest, FailingStatusesRaiseErro) {
  auto module = Load();
  ConfigureFpsmm("count_status=-5\n");
  EXPECT_EQ(MessageOf([&] { module->DeviceCount(); }), "Erro -5");
  ConfigureFpsmm("id=foo\\A\nenum_status=-7\n");
  EXPECT_EQ(MessageOf([&] { module->DeviceCount(); }), "Erro -7");
  ConfigureFpsmm("create_status=-3\n");
  EXPECT_EQ(MessageOf([&] { module->OpenDevice(u"A"); }), "Erro -3");
  ConfigureFpsmm("callbacks_status=-9\n");
  EXPECT_EQ(MessageOf([&] { module->OpenDevice(u"A"); }), "Erro -9");
  ConfigureFpsmm("start_status=-4\n");
  EXPECT_EQ(MessageOf([&] { module->OpenDevice(u"A"); }), "Erro -4");
  // Positive statuses are not failures.
  ConfigureFpsmm("count_status=7\nid=foo\\A\n");
  EXPECT_EQ(module->DeviceCount(), 1);
  EXPECT_NO_THROW(VerificarErro(0));
  EXPECT_NO_THROW(VerificarErro(1));
  EXPECT_EQ(MessageOf([] { VerificarErro(-1); }), "Erro -1");
  EXPECT_THAT(Violations(), IsEmpty());
}

TEST_F(FpsmmTest, OpeningPassesPrefixAndSerialAndFollowsSetSomething) {
  struct Case {
    std::string config;
    platform::Text serial;
    std::string error;              // empty when it opens
    std::string init_scanner_line;  // empty when InitScanner is not called
  };
  const std::vector<Case> cases = {
      {"", u"X1", "", "InitScanner 1 foo\\X1"},
      {"", u"", "", "InitScanner 1 foo"},
      {"", u"a\\b", "", "InitScanner 1 foo\\a\\b"},
      {"set_something=-1\n", u"X1", "Could not open device X1", ""},
      {"init_scanner=-2\n", u"X1", "Could not open device X1", "InitScanner 1 foo\\X1"},
      {"set_something=1\n", u"X1", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config + platform::ToUtf8(c.serial));
    std::filesystem::remove(dir() + "/FPSmmFoo.log");
    ConfigureFpsmm(c.config + "images=0\n");
    auto module = Load();
    std::unique_ptr<TVxCaptureDevice> device;
    EXPECT_EQ(MessageOf([&] { device = module->OpenDevice(c.serial); }),
              c.error.empty() ? "(no error)" : c.error);
    EXPECT_EQ(CountCalls("FPSmmFoo", "SetSomething 1 1"), 1);
    if (c.init_scanner_line.empty()) {
      EXPECT_EQ(CountCalls("FPSmmFoo", "InitScanner"), 0);
    } else {
      EXPECT_THAT(Log("FPSmmFoo"), ::testing::Contains(c.init_scanner_line));
    }
    if (device) {
      EXPECT_FALSE(device->Active());
      EXPECT_FALSE(device->UseThread());
      EXPECT_EQ(CountCalls("FPSmmFoo", "StartCapture 1"), 1);
      device->Close();
      EXPECT_EQ(CountCalls("FPSmmFoo", "StopCapture 1 done"), 1);
    } else {
      EXPECT_EQ(CountCalls("FPSmmFoo", "SetCallbacks"), 0);
    }
    device.reset();
    module.reset();
    EXPECT_THAT(Violations(), IsEmpty());
  }
}

TEST_F(FpsmmTest, ImagesOfChangingSizesArriveWholeOnTheModulesThread) {
  ConfigureFpsmm(
      "pixels=pattern\nsize=4x3\nsize=7x5\nsize=7x5\nsize=2x9\nimages=4\ninterval_ms=1\n");
  auto module = Load();
  Images images;
  std::atomic<bool> on_caller_thread{false};
  const auto caller = std::this_thread::get_id();
  auto device = module->OpenDevice(u"X1");
  images.Attach(*device);
  // Set after the open: images that came first went to no handler.
  device->SetOnImage([&, handler = device->OnImage()](TVxCaptureDevice& sender) {
    if (std::this_thread::get_id() == caller) on_caller_thread = true;
    handler(sender);
  });
  ASSERT_TRUE(WaitForCalls("FPSmmFoo", "image 1", 4));
  device->Close();
  EXPECT_FALSE(on_caller_thread);
  // Images delivered before the handler was set were dropped by the device;
  // those seen are the last ones of the run, in order.
  const std::vector<std::pair<int32_t, int32_t>> sizes = {{4, 3}, {7, 5}, {7, 5}, {2, 9}};
  const size_t seen = images.Count();
  ASSERT_GE(seen, 1u);
  for (size_t i = 0; i < seen; ++i) {
    const int k = static_cast<int>(sizes.size() - seen + i);
    SCOPED_TRACE(k);
    EXPECT_EQ(images.seen[i].width, sizes[k].first);
    EXPECT_EQ(images.seen[i].height, sizes[k].second);
    EXPECT_EQ(images.seen[i].pixels, Pattern(k, sizes[k].first, sizes[k].second));
  }
  EXPECT_THAT(Violations(), IsEmpty());
}

TEST_F(FpsmmTest, EveryImageReachesAHandlerSetBeforeTheFirstOne) {
  ConfigureFpsmm("pixels=pattern\nsize=3x2\nsize=5x4\nimages=6\ninterval_ms=100\n");
  auto module = Load();
  Images images;
  auto device = module->OpenDevice(u"X1");
  images.Attach(*device);
  ASSERT_TRUE(images.WaitFor(6));
  device->Close();
  ASSERT_EQ(images.Count(), 6u);
  for (int k = 0; k < 6; ++k) {
    const int32_t w = k % 2 ? 5 : 3, h = k % 2 ? 4 : 2;
    EXPECT_EQ(images.seen[k].width, w);
    EXPECT_EQ(images.seen[k].pixels, Pattern(k, w, h)) << k;
  }
  EXPECT_EQ(images.Count(), 6u);
}

TEST_F(FpsmmTest, ImagesWithoutAUsableSizeAreDroppedWithoutTouchingTheBuffer) {
  ConfigureFpsmm("images=0\n");
  auto module = Load();
  auto owned = module->OpenDevice(u"X1");
  auto& device = static_cast<TFPsmmCaptureDeviceImpl&>(*owned);
  Images images;
  images.Attach(device);
  const std::vector<uint8_t> first = Pattern(0, 4, 3);
  device.ImagemRecebida(4, 3, first.data());
  ASSERT_EQ(images.Count(), 1u);
  const uint8_t* buffer = device.ImageBuffer();
  // Sizes that are not sizes, and sizes whose pixel count does not fit 32
  // bits: the pixel pointer is never read (it is too short for any of them).
  const std::pair<int32_t, int32_t> bad[] = {
      {0, 3},
      {4, 0},
      {-1, 3},
      {4, -3},
      {INT32_MIN, INT32_MIN},
      {-2, -2},
      {46341, 46341},
      {65536, 65536},
      {INT32_MAX, 2},
      {2, INT32_MAX},
      {INT32_MAX, INT32_MAX},
  };
  const uint8_t tiny[1] = {0xEE};
  for (const auto& [w, h] : bad) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    device.ImagemRecebida(w, h, tiny);
    EXPECT_EQ(images.Count(), 1u);
    EXPECT_EQ(device.ImageWidth(), 4);
    EXPECT_EQ(device.ImageHeight(), 3);
    EXPECT_EQ(device.ImageBuffer(), buffer);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 12), first);
  }
  device.ImagemRecebida(4, 3, nullptr);
  EXPECT_EQ(images.Count(), 1u);
  device.Close();
}

TEST_F(FpsmmTest, UnusableSizesFromTheModuleAreDroppedAndCaptureGoesOn) {
  // The stand-in hands a 16-byte buffer with these sizes: any read of it
  // under the announced size is out of bounds.
  ConfigureFpsmm(
      "pixels=pattern\nsize=0x5\nsize=-3x4\nsize=46341x46341\nsize=65536x65536\nsize=4x3\n"
      "images=5\ninterval_ms=1\n");
  auto module = Load();
  Images images;
  auto device = module->OpenDevice(u"X1");
  images.Attach(*device);
  ASSERT_TRUE(WaitForCalls("FPSmmFoo", "image 1 4x3"));
  device->Close();
  ASSERT_LE(images.Count(), 1u);
  if (images.Count() == 1) {
    EXPECT_EQ(images.seen[0].pixels, Pattern(4, 4, 3));
  }
}

TEST_F(FpsmmTest, CommandsAndWaitsNeverReachTheModule) {
  ConfigureFpsmm("images=0\n");
  auto module = Load();
  auto device = module->OpenDevice(u"X1");
  const size_t lines = Log("FPSmmFoo").size();
  EXPECT_EQ(device->SendCommandStr(u"cmd", u"args", false), u"");
  EXPECT_EQ(device->SendCommandStr(u"cmd", u"args", true), u"");
  EXPECT_FALSE(device->WaitImage());
  EXPECT_EQ(Log("FPSmmFoo").size(), lines);
  device->Close();
}

TEST_F(FpsmmTest, AllocateBuffersTheLargestImage) {
  ConfigureFpsmm("images=0\nmax=8x6\n");
  auto module = Load();
  auto device = module->OpenDevice(u"X1");
  device->Allocate();
  EXPECT_EQ(device->ImageWidth(), 8);
  EXPECT_EQ(device->ImageHeight(), 6);
  EXPECT_NE(device->ImageBuffer(), nullptr);
  device->Close();
}

TEST_F(FpsmmTest, ClosingStopsOnceAndReleasingAnOpenDeviceStopsIt) {
  ConfigureFpsmm("images=0\n");
  auto module = Load();
  auto device = module->OpenDevice(u"X1");
  device->Close();
  device->Close();
  device.reset();
  EXPECT_EQ(CountCalls("FPSmmFoo", "StopCapture 1 done"), 1);
  device = module->OpenDevice(u"X2");
  device.reset();
  EXPECT_EQ(CountCalls("FPSmmFoo", "StopCapture 2 done"), 1);
  // A stop the module refuses leaves the device capturing: the next Close
  // tries again.
  device = module->OpenDevice(u"X3");
  ConfigureFpsmm("images=0\nstop_status=-6\n");
  EXPECT_EQ(MessageOf([&] { device->Close(); }), "Erro -6");
  ConfigureFpsmm("images=0\n");
  device->Close();
  EXPECT_EQ(CountCalls("FPSmmFoo", "StopCapture 3 done"), 1);
  device.reset();
  module.reset();
  EXPECT_THAT(Violations(), IsEmpty());
}

// A device released while its module refuses to stop: the module goes on
// calling back, and reaches no freed device.
TEST_F(FpsmmTest, ADeviceReleasedAfterARefusedStopIsNoLongerReached) {
  ConfigureFpsmm("pixels=pattern\nsize=3x3\ninterval_ms=1\n");
  auto module = Load();
  Images images;
  auto device = module->OpenDevice(u"X1");
  images.Attach(*device);
  ASSERT_TRUE(images.WaitFor(1));
  ConfigureFpsmm("pixels=pattern\nsize=3x3\ninterval_ms=1\nstop_status=-6\n");
  device.reset();
  const size_t after_release = images.Count();
  EXPECT_EQ(CountCalls("FPSmmFoo", "StopCapture 1 done"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(images.Count(), after_release);
  // The scanner object that refused to stop is still capturing when its
  // module goes: the stand-in ends that run itself and says so.
  module.reset();
  EXPECT_THAT(Violations(), ElementsAre("violation: unloaded while capturing 1"));
}

TEST_F(FpsmmTest, CloseFromInsideTheImageHandlerEndsTheRun) {
  ConfigureFpsmm("pixels=pattern\nsize=3x3\ninterval_ms=1\n");
  auto module = Load();
  std::atomic<int> calls{0};
  std::unique_ptr<TVxCaptureDevice> device;
  std::mutex ready;
  {
    std::lock_guard lock(ready);
    device = module->OpenDevice(u"X1");
    device->SetOnImage([&](TVxCaptureDevice& sender) {
      { std::lock_guard wait(ready); }
      ++calls;
      sender.Close();
    });
  }
  ASSERT_TRUE(WaitForCalls("FPSmmFoo", "StopCapture 1"));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(calls.load(), 1);
  device.reset();
  EXPECT_THAT(Violations(), IsEmpty());
}

TEST_F(FpsmmTest, CloseWhileImagesPourInFromAnotherThread) {
  ConfigureFpsmm("pixels=pattern\nsize=16x16\nsize=8x4\ninterval_ms=0\nquiet=1\n");
  auto module = Load();
  for (int round = 0; round < 20; ++round) {
    Images images;
    auto device = module->OpenDevice(u"X1");
    images.Attach(*device);
    std::this_thread::sleep_for(std::chrono::microseconds(200 * (round % 5)));
    std::thread closer([&] { device->Close(); });
    closer.join();
    const size_t after_close = images.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(images.Count(), after_close);
    for (const auto& image : images.seen) {
      EXPECT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * image.height);
    }
  }
  module.reset();
  EXPECT_THAT(Violations(), IsEmpty());
}

}  // namespace
}  // namespace dactyra::testing
