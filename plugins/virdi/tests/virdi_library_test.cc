// vxr_virdi.so through the library: the plug-in module that loads it, the
// reader manager that finds it in a folder of module files and names and
// opens its readers, and a scanner component that captures from them.
//
// The plug-in is installed the way it is built to be: UCBioBSP.so in the
// same folder, found through the plug-in's $ORIGIN run path. That is a
// plug-in folder dropped into place with no setup of the system; the
// loader's own path (LD_LIBRARY_PATH) is read once at the start of a process,
// so it could not differ between the tests of one program either. This
// executable does not link UCBioBSP: whether the plug-in finds it is what is
// tested. ctest runs every test in a process of its own; run by hand, the
// test without the library has to come first, since a UCBioBSP that is
// loaded once is handed to every later plug-in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_device.h"
#include "capture/capture_module.h"
#include "capture/reader_manager.h"
#include "capture/tests/module_folders.h"
#include "capture/vxr/vxr_capture_module.h"
#include "platform/env.h"
#include "platform/module.h"
#include "platform/testing/wait.h"
#include "platform/text.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_fp.h"
#include "sim/virdi/ucbiobsp_sim.h"
#include "support/exception.h"

namespace dactyra::testing {
namespace {

using platform::Text;
using platform::testing::WaitUntil;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// The host program and the library in folders of the test's choosing, and
// no further folders from the user's environment.
class LibraryFolderEnv : public platform::EnvWrapper {
 public:
  LibraryFolderEnv(const std::string& host, const std::string& library)
      : EnvWrapper(platform::Env::Default()),
        executable_(T(Native(host + "/java"))),
        library_(T(Native(library + "/libdactyra.so"))) {}
  Text ExecutablePath() override { return executable_; }
  Text ModuleFileNameOf(const void*) override { return library_; }
  std::unique_ptr<platform::RegistryKey> OpenRegistryKey(platform::RegistryRoot,
                                                         const Text&) override {
    return nullptr;
  }

 private:
  const Text executable_;
  const Text library_;
};

struct Component : TComponenteLeitor {
  Text NumSerieLeitor() const override { return u""; }
  int32_t IndiceLeitor() const override { return 0; }
};

class VirdiLibraryTest : public ModuleFolderTest {
 protected:
  void SetUp() override {
    ModuleFolderTest::SetUp();
    lib_ = Folder("lib");
    env_ = std::make_unique<LibraryFolderEnv>(Folder("host"), lib_);
    const std::string config = dir() + "/UCBioBSP.conf";
    // Read by the stand-in at its first call; no thread runs yet.
    ASSERT_EQ(setenv("DACTYRA_UCBIOBSP_CONFIG", config.c_str(), 1), 0);
  }
  void ConfigureUCBioBSP(const std::string& text) {
    std::ofstream(dir() + "/UCBioBSP.conf") << text;
  }
  void InstallPlugin() { Install(lib_, DACTYRA_VIRDI_PLUGIN, "vxr_virdi.so"); }
  void InstallUCBioBSP() { Install(lib_, DACTYRA_UCBIOBSP, "UCBioBSP.so"); }
  void InstallTestPlugin() {
    Configure("vxr_test", "prefix=T\ndevice=A\n");
    Install(lib_, PluginPath("vxr_test"), "vxr_test.so");
  }

  std::unique_ptr<TVxGestorLeitores> Manager() {
    return std::make_unique<TVxGestorLeitores>(true, *env_, TLeitoresUareU::Nenhum());
  }
  static std::vector<std::string> ModuleNames(TVxGestorLeitores& manager) {
    std::vector<std::string> names;
    for (const TCaptureModule* module : manager.Modulos()) {
      names.push_back(platform::ToUtf8(module->Name()));
    }
    return names;
  }
  static std::vector<std::string> Readers(TVxGestorLeitores& manager) {
    std::vector<Text> list;
    manager.PegNumerosSerie(list);
    std::vector<std::string> names;
    for (const Text& name : list) names.push_back(platform::ToUtf8(name));
    return names;
  }

  // The UCBioBSP the loader gave the plug-in, reached by its bare name (the
  // loader answers with the copy already loaded, and with nothing when none
  // is); its controls must come from the copy beside the plug-in.
  bool AttachStandIn() {
    standin_ = platform::Env::Default().LoadModule(T(Native("UCBioBSP.so")));
    if (standin_ == nullptr) return false;
    count_ = standin_->Function<uint32_t (*)(const char*)>("UCBioSim_Count");
    violations_ = standin_->Function<size_t (*)(char*, size_t)>("UCBioSim_Violations");
    if (count_ == nullptr || violations_ == nullptr) return false;
    EXPECT_EQ(platform::ToUtf8(
                  platform::Env::Default().ModuleFileNameOf(reinterpret_cast<const void*>(count_))),
              Native(lib_ + "/UCBioBSP.so"));
    return true;
  }
  uint32_t Count(const char* what) const { return count_(what); }
  std::string Violations() const {
    std::string text(violations_(nullptr, 0) + 1, '\0');
    text.resize(violations_(text.data(), text.size()));
    return text;
  }
  // Nothing left open or held, and no breach of the library's contract.
  void ExpectAllReleased() const {
    EXPECT_EQ(Count("open devices"), 0u);
    EXPECT_EQ(Count("FIR handles"), 0u);
    EXPECT_EQ(Count("violations"), 0u) << Violations();
  }

  std::string lib_;
  std::unique_ptr<LibraryFolderEnv> env_;
  std::unique_ptr<platform::Module> standin_;
  uint32_t (*count_)(const char*) = nullptr;
  size_t (*violations_)(char*, size_t) = nullptr;
};

TEST_F(VirdiLibraryTest, WithoutUCBioBSPThePluginIsSkippedAndTheOtherModulesLoad) {
  ConfigureUCBioBSP("reader=1 320x480 name=Alpha\n");
  InstallPlugin();
  InstallTestPlugin();
  Install(lib_, FpsmmSimPath(), "FPSmmZed.so");
  // Loaded as a module on its own, it fails with the loader's reason: the
  // missing library by name, where the loader gives it (the Windows loader
  // answers "module not found" and names no dependency).
  EXPECT_THAT(
      MessageOf([&] { TVxrCaptureModule module(u"virdi", T(Native(lib_ + "/vxr_virdi.so"))); }),
#ifdef _WIN32
      HasSubstr(Native("vxr_virdi.so")));
#else
      HasSubstr(Native("UCBioBSP.so")));
#endif
  auto manager = Manager();
  EXPECT_THAT(ModuleNames(*manager), ElementsAre("test", "zed"));
  EXPECT_THAT(Readers(*manager), Contains("T\\A"));
  EXPECT_THAT(Readers(*manager), Not(Contains(StartsWith("ViRDI"))));
  EXPECT_EQ(manager->AbrirDispositivo(u"ViRDI\\Alpha"), nullptr);
  // Nothing loaded UCBioBSP, so the loader does not know it by name.
  EXPECT_FALSE(AttachStandIn());

  // Once the library is installed beside it, the next activation's search
  // takes the plug-in in.
  InstallUCBioBSP();
  Component component;
  manager->IniciouConexao(component);
  EXPECT_THAT(ModuleNames(*manager), ElementsAre("test", "zed", "virdi"));
  EXPECT_THAT(Readers(*manager), Contains("ViRDI\\Alpha"));
  ASSERT_TRUE(AttachStandIn());
  ExpectAllReleased();
}

TEST_F(VirdiLibraryTest, BesideUCBioBSPTheManagerNamesOpensAndCapturesItsReaders) {
  ConfigureUCBioBSP(
      "reader=1 320x480 name=Alpha\n"
      "reader=200 320x480 name=Hidden\n"
      "reader=4 256x360 seed=40 name=Gamma Ray\n"
      "reader=2 300x400 seed=21 name=Twin\n"
      "reader=3 300x400 seed=22 name=Twin\n");
  InstallPlugin();
  InstallUCBioBSP();
  InstallTestPlugin();
  auto manager = Manager();
  ASSERT_TRUE(AttachStandIn());

  EXPECT_THAT(ModuleNames(*manager), ElementsAre("test", "virdi"));
  const std::vector<const TCaptureModule*> modules = manager->Modulos();
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[1]->Prefix(), u"ViRDI");
  EXPECT_EQ(platform::ToUtf8(modules[1]->Path()), Native(lib_ + "/vxr_virdi.so"));

  const std::vector<std::string> readers = {"T\\A", "ViRDI\\Alpha", "ViRDI\\Gamma Ray",
                                            "ViRDI\\Twin", "ViRDI\\Twin"};
  EXPECT_EQ(manager->NumLeitores(), 5);
  EXPECT_EQ(Readers(*manager), readers);
  // Counting and listing a moment apart: one enumeration.
  EXPECT_EQ(Count("UCBioAPI_EnumerateDevice"), 1u);
  EXPECT_EQ(manager->ContarLeitores(), 5);
  for (size_t i = 0; i < readers.size(); ++i) {
    EXPECT_EQ(platform::ToUtf8(manager->PegNumSerieLeitor(static_cast<int32_t>(i))), readers[i]);
  }
  EXPECT_EQ(manager->PegNumSerieLeitor(5), u"");

  struct Case {
    const char16_t* name;
    std::string error;  // empty: opens
    uint64_t seed;
    int width, height;
  };
  const Case cases[] = {
      // A name listed twice opens the first; the prefix is matched by the
      // manager ignoring letter case, the serial by the plug-in exactly.
      {u"ViRDI\\Twin", "", 21, 300, 400},
      {u"virdi\\Alpha", "", 1, 320, 480},
      {u"ViRDI\\Gamma Ray", "", 40, 256, 360},
      {u"ViRDI\\twin", "Could not open device ViRDI\\twin", 0, 0, 0},
      {u"ViRDI\\Hidden", "Could not open device ViRDI\\Hidden", 0, 0, 0},
  };
  uint32_t captures = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.name));
    if (!c.error.empty()) {
      EXPECT_EQ(MessageOf([&] { manager->AbrirDispositivo(c.name); }), c.error);
      continue;
    }
    std::unique_ptr<TVxCaptureDevice> device = manager->AbrirDispositivo(c.name);
    ASSERT_NE(device, nullptr);
    std::vector<uint8_t> seen;
    device->SetOnImage([&](TVxCaptureDevice& sender) {
      const uint8_t* pixels = sender.ImageBuffer();
      seen.assign(pixels, pixels + sender.ImageWidth() * sender.ImageHeight());
    });
    device->Allocate();
    ASSERT_TRUE(device->WaitImage());
    device->DoImage();
    ++captures;
    EXPECT_EQ(device->ImageWidth(), c.width);
    EXPECT_EQ(device->ImageHeight(), c.height);
    // The last of the capture's three frames.
    EXPECT_TRUE(seen == sim::virdi::FramePixels(c.seed, c.width, c.height, 2));
    manager->FecharDispositivo(*device);
  }
  // No module carries the prefix: no device, and no call into UCBioBSP.
  EXPECT_EQ(manager->AbrirDispositivo(u"ViRDI2\\Alpha"), nullptr);
  EXPECT_EQ(Count("UCBioAPI_Capture"), captures);
  EXPECT_EQ(Count("UCBioAPI_OpenDevice"), captures);
  EXPECT_EQ(Count("UCBioAPI_FreeFIRHandle"), captures);
  ExpectAllReleased();
}

// Reader names carry the process id: the single-use guard is shared by every
// process of the user, and test programs run side by side.
std::string Own(const std::string& name) { return name + std::to_string(getpid()); }

struct Seen {
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> images;
  std::vector<std::pair<int, int>> sizes;
  size_t size() {
    std::lock_guard lock(mutex);
    return images.size();
  }
};

void Collect(TVelmoraFP& fp, Seen& seen) {
  fp.OnCapturou = [&seen](TVelmoraFP& sender, int32_t) {
    const TGrayImage* image = sender.ImagemAtual();
    std::vector<uint8_t> pixels;
    pixels.insert(pixels.end(), image->Bits.Pixels().begin(), image->Bits.Pixels().end());
    std::lock_guard lock(seen.mutex);
    seen.images.push_back(std::move(pixels));
    seen.sizes.emplace_back(image->Width, image->Height);
  };
}

TEST_F(VirdiLibraryTest, AScannerComponentCapturesTheStandInsFrames) {
  ConfigureUCBioBSP("reader=1 320x480 name=" + Own("Alpha") + "\n" +
                    "reader=200 320x480 name=Hidden\n" +
                    "reader=2 300x400 seed=7 name=" + Own("Beta") + "\n");
  InstallPlugin();
  InstallUCBioBSP();
  auto manager = Manager();
  TAcessoGestor access(*manager);
  ASSERT_TRUE(AttachStandIn());

  struct Case {
    std::string name;  // empty: by index
    int32_t index;
    std::string settled;
    uint64_t seed;
    int width, height;
  };
  const Case cases[] = {
      {"ViRDI\\" + Own("Beta"), -1, "ViRDI\\" + Own("Beta"), 7, 300, 400},
      {"", 0, "ViRDI\\" + Own("Alpha"), 1, 320, 480},
      {"", 1, "ViRDI\\" + Own("Beta"), 7, 300, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settled + " by " + (c.name.empty() ? "index" : "name"));
    Seen seen;
    {
      TVelmoraFP fp(access);
      EXPECT_EQ(fp.NumLeitores(), 2);
      if (!c.name.empty()) fp.SetNumSerieLeitor(T(c.name));
      fp.SetIndiceLeitor(c.index);
      Collect(fp, seen);
      fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
      ASSERT_TRUE(fp.Ativo());
      EXPECT_EQ(platform::ToUtf8(fp.NumSerieLeitor()), c.settled);
      ASSERT_TRUE(WaitUntil([&] { return seen.size() >= 2; }));
      fp.SetModoOperacao(TModoOperacao::moInativo);
      EXPECT_FALSE(fp.Ativo());
    }
    // Every capture hands over its last frame, row by row unchanged.
    const std::vector<uint8_t> last = sim::virdi::FramePixels(c.seed, c.width, c.height, 2);
    std::lock_guard lock(seen.mutex);
    for (size_t k = 0; k < seen.images.size(); ++k) {
      EXPECT_EQ(seen.sizes[k], std::make_pair(c.width, c.height)) << "image " << k;
      EXPECT_TRUE(seen.images[k] == last) << "image " << k;
    }
    ExpectAllReleased();
  }
}

TEST_F(VirdiLibraryTest, DeactivationWhileFramesArriveEndsTheCaptureAndClosesTheReader) {
  // Slow frames: each deactivation lands inside a capture, between or
  // during callbacks.
  ConfigureUCBioBSP("reader=5 64x48 frames=4 frame_ms=15 name=" + Own("Slow") + "\n" +
                    "reader=6 64x48 capture=timeout name=" + Own("Idle") + "\n");
  InstallPlugin();
  InstallUCBioBSP();
  auto manager = Manager();
  TAcessoGestor access(*manager);
  ASSERT_TRUE(AttachStandIn());

  // What the handlers fill outlives the components.
  Seen seen, none;
  TVelmoraFP fp(access);
  fp.SetNumSerieLeitor(T("ViRDI\\" + Own("Slow")));
  Collect(fp, seen);
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const uint32_t before = Count("UCBioAPI_Capture");
    fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
    ASSERT_TRUE(WaitUntil([&] { return Count("UCBioAPI_Capture") > before; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(7 * round));
    fp.SetModoOperacao(TModoOperacao::moInativo);
    EXPECT_EQ(Count("open devices"), 0u);
  }
  // After the cut captures, a whole one still arrives.
  fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  ASSERT_TRUE(WaitUntil([&] { return seen.size() >= 1; }));
  fp.SetModoOperacao(TModoOperacao::moInativo);
  EXPECT_EQ(Count("open devices"), 0u);

  // A reader whose capture finds no finger: the component idles in capture
  // after capture until it is deactivated, with no image.
  TVelmoraFP idle(access);
  idle.SetNumSerieLeitor(T("ViRDI\\" + Own("Idle")));
  Collect(idle, none);
  const uint32_t before = Count("UCBioAPI_Capture");
  idle.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  ASSERT_TRUE(WaitUntil([&] { return Count("UCBioAPI_Capture") > before; }));
  idle.SetModoOperacao(TModoOperacao::moInativo);
  EXPECT_EQ(none.size(), 0u);

  std::lock_guard lock(seen.mutex);
  for (const std::vector<uint8_t>& image : seen.images) {
    EXPECT_TRUE(image == sim::virdi::FramePixels(5, 64, 48, 3));
  }
  ExpectAllReleased();
}

}  // namespace
}  // namespace dactyra::testing
