// Loading, binding and refusing plug-in files; counting, listing and
// opening their devices.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/tests/plugin_env.h"
#include "capture/tests/plugin_fixture.h"
#include "capture/velmora_error.h"
#include "capture/vxr/vxr_capture_module.h"
#include "platform/env.h"
#include "plugins/interface/vxr_plugin.h"

namespace dactyra::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kListCall = "GetDeviceList " + std::to_string(sizeof(TVxrDeviceList));

std::unique_ptr<TVxrCaptureModule> LoadModule(const std::string& stem,
                                              const std::string& name = "test",
                                              platform::Env& env = platform::Env::Default()) {
  return std::make_unique<TVxrCaptureModule>(T(name), T(PluginPath(stem)), env);
}

// Bytes of a complete list with these serials.
int ListSize(const std::vector<std::string>& serials) {
  size_t size = VXR_DEVICE_LIST_EMPTY_SIZE;
  for (const std::string& serial : serials) size += VXR_DEVICE_LIST_ENTRY_SIZE(serial.size());
  return static_cast<int>(size);
}

class VxrModuleTest : public PluginTest {};

TEST_F(VxrModuleTest, BindsPlainNamesAndReadsThePrefixOnce) {
  Configure("vxr_test", "prefix=Lumidigm\ndevice=0A1B2C3D\n");
  auto module = LoadModule("vxr_test", "lumidigm");
  EXPECT_EQ(module->Name(), u"lumidigm");
  EXPECT_EQ(module->Path(), T(PluginPath("vxr_test")));
  EXPECT_EQ(module->Prefix(), u"Lumidigm");
  EXPECT_EQ(module->DeviceCount(), 1);
  EXPECT_EQ(module->DeviceCount(), 1);
  EXPECT_EQ(CountCalls("vxr_test", "GetPrefix"), 1);
}

TEST_F(VxrModuleTest, BindsDecoratedOnlyNames) {
  // A plug-in built for 32-bit Windows exports "_Name@n" only.
  PluginEnv env({.missing = {}, .decorated_only = true});
  Configure("vxr_test", "prefix=Deco\ndevice=S1\nimages=1\nidle=return\n");
  auto module = LoadModule("vxr_test", "test", env);
  EXPECT_EQ(module->Prefix(), u"Deco");
  for (const auto& [name, bytes] : ExportArgumentBytes()) {
    SCOPED_TRACE(name);
    // The plain name first, then the decorated one, which binds.
    const auto lookups = env.lookups();
    const auto plain = std::find(lookups.begin(), lookups.end(), name);
    ASSERT_NE(plain, lookups.end());
    EXPECT_EQ(std::find(plain, lookups.end(), Decorated(name)), plain + 1);
  }
  std::vector<platform::Text> names;
  EXPECT_EQ(module->GetDeviceList(names), 1);
  EXPECT_THAT(names, ElementsAre(u"Deco\\S1"));
  auto device = module->OpenDevice(u"S1");
  device->Allocate();
  EXPECT_TRUE(device->WaitImage());
  EXPECT_EQ(device->SendCommandStr(u"cmd", u"", false), u"");
  device->Close();
  EXPECT_EQ(CountCalls("vxr_test", "ShutdownDevice 1"), 1);
  EXPECT_EQ(CountCalls("vxr_test", "CloseDevice 1"), 1);
  EXPECT_EQ(CountCalls("vxr_test", "SendCommand 1"), 1);
}

TEST_F(VxrModuleTest, RefusesAPluginWithoutARequiredExportAndUnloadsItOnce) {
  Configure("vxr_test", "prefix=None\n");
  // Our own hold on the file: a second unload by the library would run the
  // file's unload code while we still hold it.
  auto held = platform::Env::Default().LoadModule(T(PluginPath("vxr_test")));
  ASSERT_NE(held, nullptr);
  const std::string log = dir() + "/vxr_test.log";
  for (const char* missing : {"VXR_GetPrefix", "VXR_GetDeviceList", "VXR_OpenDevice",
                              "VXR_CloseDevice", "VXR_GetMaxSize", "VXR_GetImage"}) {
    for (const bool decorated : {false, true}) {
      SCOPED_TRACE(std::string(missing) + (decorated ? " decorated" : " plain"));
      std::filesystem::remove(log);
      PluginEnv env({.missing = {missing}, .decorated_only = decorated});
      try {
        LoadModule("vxr_test", "test", env);
        ADD_FAILURE() << "module accepted";
      } catch (const EVelmoraFP& e) {
        EXPECT_EQ(e.message(), u"Invalid module.");
      }
      // Both names were looked for; nothing of the plug-in ran, and its one
      // load was undone.
      const auto lookups = env.lookups();
      EXPECT_NE(std::find(lookups.begin(), lookups.end(), missing), lookups.end());
      EXPECT_NE(std::find(lookups.begin(), lookups.end(), Decorated(missing)), lookups.end());
      EXPECT_THAT(Log("vxr_test"), IsEmpty());
      EXPECT_EQ(env.loaded(), 0);
    }
  }
  // Had the library not unloaded its own loads, the file would stay.
  held.reset();
  EXPECT_THAT(Log("vxr_test"), ElementsAre("unload"));
}

TEST_F(VxrModuleTest, RefusesAPluginWhosePrefixIsNull) {
  Configure("vxr_test", "null_prefix=1\n");
  EXPECT_THROW(LoadModule("vxr_test"), EVelmoraFP);
  EXPECT_THAT(Log("vxr_test"), ElementsAre("load", "GetPrefix", "unload"));
}

TEST_F(VxrModuleTest, AFileThatDoesNotLoadRaisesTheSystemMessage) {
  const std::string missing = Native(dir() + "/vxr_missing.so");
  try {
    TVxrCaptureModule module(u"missing", T(missing));
    FAIL() << "module created";
  } catch (const EVelmoraFP&) {
    FAIL() << "a load failure is not a refused module";
  } catch (const Exception& e) {
    EXPECT_FALSE(e.message().empty());
  }
}

TEST_F(VxrModuleTest, PrefixComesFromTheAnsiCodePage) {
  Configure("vxr_test", "prefix=" + platform::ToAnsi(u"Lum\u00ED") + "\n");
  EXPECT_EQ(LoadModule("vxr_test")->Prefix(), u"Lum\u00ED");
}

TEST_F(VxrModuleTest, TwoCopiesLoadedAtOnceBehaveApart) {
  for (const char* copy : {"vxr_a", "vxr_b"}) {
    std::filesystem::copy_file(PluginPath("vxr_test"), Native(dir() + "/" + copy + ".so"));
  }
  Configure("vxr_a", "prefix=A\ndevice=1\n");
  Configure("vxr_b", "prefix=B\ndevice=2\ndevice=3\n");
  TVxrCaptureModule a(u"a", T(Native(dir() + "/vxr_a.so")));
  TVxrCaptureModule b(u"b", T(Native(dir() + "/vxr_b.so")));
  std::vector<platform::Text> names;
  EXPECT_EQ(a.GetDeviceList(names), 1);
  EXPECT_EQ(b.GetDeviceList(names), 2);
  EXPECT_THAT(names, ElementsAre(u"A\\1", u"B\\2", u"B\\3"));
}

TEST_F(VxrModuleTest, NoDevicesTakesOneCallEach) {
  Configure("vxr_test", "prefix=Lumidigm\n");
  auto module = LoadModule("vxr_test");
  EXPECT_EQ(module->DeviceCount(), 0);
  EXPECT_EQ(CountCalls("vxr_test", "GetDeviceList"), 1);
  std::vector<platform::Text> names{u"kept"};
  EXPECT_EQ(module->GetDeviceList(names), 0);
  EXPECT_THAT(names, ElementsAre(u"kept"));
  EXPECT_EQ(CountCalls("vxr_test", "GetDeviceList"), 2);
  EXPECT_EQ(CountCalls("vxr_test", kListCall), 2);
}

TEST_F(VxrModuleTest, ListsNamesInPluginOrderAfterTwoCalls) {
  Configure("vxr_test", "prefix=Lumidigm\ndevice=A1\ndevice=\ndevice=B2\n");
  auto module = LoadModule("vxr_test");
  EXPECT_EQ(module->DeviceCount(), 3);
  std::vector<platform::Text> names;
  EXPECT_EQ(module->GetDeviceList(names), 3);
  EXPECT_THAT(names, ElementsAre(u"Lumidigm\\A1", u"Lumidigm", u"Lumidigm\\B2"));
  const int size = ListSize({"A1", "", "B2"});
  EXPECT_THAT(Log("vxr_test"), ElementsAre("load", "GetPrefix", kListCall, kListCall,
                                           "GetDeviceList " + std::to_string(size)));
}

TEST_F(VxrModuleTest, EmptyPrefixListsBareSerials) {
  Configure("vxr_test", "prefix=\ndevice=A1\ndevice=B2\n");
  auto module = LoadModule("vxr_test");
  EXPECT_EQ(module->Prefix(), u"");
  std::vector<platform::Text> names;
  module->GetDeviceList(names);
  EXPECT_THAT(names, ElementsAre(u"A1", u"B2"));
}

TEST_F(VxrModuleTest, EmptySerialOpensWithAnEmptyText) {
  Configure("vxr_test", "prefix=Lumidigm\ndevice=\n");
  auto module = LoadModule("vxr_test");
  auto device = module->OpenDevice(u"");
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(device->Active());
  EXPECT_TRUE(device->UseThread());
  EXPECT_EQ(CountCalls("vxr_test", "OpenDevice []"), 1);
  device->Close();
}

TEST_F(VxrModuleTest, OpenFailureNamesPrefixAndSerial) {
  Configure("vxr_test", "prefix=Lumidigm\ndevice=A1\n");
  auto module = LoadModule("vxr_test");
  EXPECT_EQ(MessageOf([&] { module->OpenDevice(u"ZZ"); }), "Could not open device Lumidigm\\ZZ");
}

TEST_F(VxrModuleTest, FirstAnswerBelowFourFailsCountingAndListing) {
  Configure("vxr_test", "device=A1\nlist_result=3\n");
  auto module = LoadModule("vxr_test");
  EXPECT_EQ(MessageOf([&] { module->DeviceCount(); }), "@@@0");
  std::vector<platform::Text> names;
  EXPECT_EQ(MessageOf([&] { module->GetDeviceList(names); }), "test: GDL: Size error(0): 3");
  Configure("vxr_test", "device=A1\nlist_result=-20\n");
  EXPECT_EQ(MessageOf([&] { module->GetDeviceList(names); }), "test: GDL: Size error(0): -20");
  EXPECT_EQ(CountCalls("vxr_test", "GetDeviceList"), 3);
}

struct SizeErrorCase {
  const char* label;
  std::string config;
  std::vector<std::string> serials;
  // The message after "test: GDL: Size error" with SIZE for the block size.
  std::string message;
  std::vector<platform::Text> kept;
};

std::string ReplaceSize(std::string text, int size) {
  const size_t at = text.find("SIZE");
  if (at != std::string::npos) text.replace(at, 4, std::to_string(size));
  return text;
}

TEST_F(VxrModuleTest, MalformedListsFailWithTheirCheck) {
  const int two = ListSize({"AB", "CD"});
  const std::string text_start = std::to_string(VXR_DEVICE_LIST_TEXT_OFFSET(2));
  const std::vector<SizeErrorCase> cases = {
      {"count beyond the block", "device=A\nlist_count=5\n", {"A"}, "(1): SIZE, 5", {}},
      {"second pointer at the end",
       "device=AB\ndevice=CD\nlist_pointer=1:" + std::to_string(two) + "\n",
       {"AB", "CD"},
       "(2): SIZE, 1",
       {u"P\\AB"}},
      {"first pointer inside the pointer array",
       "device=AB\nlist_pointer=0:4\n",
       {"AB"},
       "(2): SIZE, 0",
       {}},
      {"second pointer before the first",
       "device=AB\ndevice=CD\nlist_pointer=1:" +
           std::to_string(VXR_DEVICE_LIST_TEXT_OFFSET(2) - 1) + "\n",
       {"AB", "CD"},
       "(3): SIZE, 0",
       {}},
      {"second pointer equal to the first",
       "device=AB\ndevice=CD\nlist_pointer=1:" + text_start + "\n",
       {"AB", "CD"},
       "(3): SIZE, 0",
       {}},
      {"last text unterminated",
       "device=AB\ndevice=CD\ndevice=EF\nlist_unterminated=2\n",
       {"AB", "CD", "EF"},
       "(4): SIZE, 2",
       {u"P\\AB", u"P\\CD"}},
      {"first text runs into the second",
       "device=AB\ndevice=CD\nlist_unterminated=0\n",
       {"AB", "CD"},
       "(4): SIZE, 0",
       {}},
  };
  for (const SizeErrorCase& c : cases) {
    SCOPED_TRACE(c.label);
    Configure("vxr_test", "prefix=P\n" + c.config);
    auto module = LoadModule("vxr_test");
    std::vector<platform::Text> names;
    EXPECT_EQ(MessageOf([&] { module->GetDeviceList(names); }),
              "test: GDL: Size error" + ReplaceSize(c.message, ListSize(c.serials)));
    EXPECT_EQ(names, c.kept);
  }
}

}  // namespace
}  // namespace dactyra::testing
