// The reader manager over folders of module files: which files become
// modules, counting and naming readers across plug-ins, FPSmm modules and
// DigitalPersona, opening by name, the component list, and all of it from
// several threads at once.
#include "capture/reader_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_device.h"
#include "capture/capture_module.h"
#include "capture/tests/environment_key.h"
#include "capture/tests/module_folders.h"
#include "platform/env.h"
#include "platform/registry.h"
#include "platform/testing/wait.h"
#include "support/exception.h"

namespace dactyra::testing {
namespace {

using platform::Text;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// The text with its ASCII letters made capitals: the same folder to a
// system that ignores letter case in its paths.
std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Places the host program and the library where a test wants them, refuses
// chosen files, and records the searches and loads.
class FolderEnv : public platform::EnvWrapper {
 public:
  FolderEnv() : EnvWrapper(platform::Env::Default()) {}

  void Place(const std::string& executable, const std::string& library) {
    std::lock_guard lock(mutex_);
    executable_ = T(Native(executable));
    library_ = T(Native(library));
  }
  void SetExtraFolders(const std::string& folders) {
    std::lock_guard lock(mutex_);
    extra_ = T(folders);
  }
  // Bare module names are found in `folder` first, as Windows' loader looks
  // in the program's folder first.
  void ResolveBareNamesIn(const std::string& folder) {
    std::lock_guard lock(mutex_);
    bare_names_ = folder;
  }
  void Refuse(const std::string& file_name, bool refuse) {
    std::lock_guard lock(mutex_);
    if (refuse) {
      refused_.insert(Native(file_name));
    } else {
      refused_.erase(Native(file_name));
    }
  }
  std::vector<std::string> Searches() {
    std::lock_guard lock(mutex_);
    return searches_;
  }
  int Loads(const std::string& file_name) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(loads_.begin(), loads_.end(), Native(file_name)));
  }

  Text ExecutablePath() override {
    std::lock_guard lock(mutex_);
    return executable_;
  }
  Text ModuleFileNameOf(const void*) override {
    std::lock_guard lock(mutex_);
    return library_;
  }
  std::vector<Text> ListFiles(const Text& folder, const Text& mask) override {
    {
      std::lock_guard lock(mutex_);
      searches_.push_back(platform::ToUtf8(folder + mask));
    }
    return target().ListFiles(folder, mask);
  }
  std::unique_ptr<platform::Module> LoadModule(const Text& file, platform::Module::Search search,
                                               Text* error) override {
    const std::string name = std::filesystem::path(platform::ToUtf8(file)).filename().string();
    Text path = file;
    {
      std::lock_guard lock(mutex_);
      loads_.push_back(name);
      if (refused_.count(name)) {
        if (error) *error = u"refused by the test";
        return nullptr;
      }
      if (!bare_names_.empty() && file.find_first_of(u"/\\") == Text::npos &&
          std::filesystem::exists(Native(bare_names_ + "/" + name))) {
        path = T(Native(bare_names_ + "/" + name));
      }
    }
    return target().LoadModule(path, search, error);
  }
  std::unique_ptr<platform::RegistryKey> OpenRegistryKey(platform::RegistryRoot root,
                                                         const Text& path) override {
    std::lock_guard lock(mutex_);
    // Only what the test sets: the user's own environment stays out.
    if (root == platform::RegistryRoot::kCurrentUser && path == u"Environment" && extra_) {
      return std::make_unique<ModuleFoldersKey>(*extra_);
    }
    return nullptr;
  }

 private:
  std::mutex mutex_;
  Text executable_;
  Text library_;
  std::optional<Text> extra_;
  std::string bare_names_;
  std::set<std::string> refused_;
  std::vector<std::string> searches_;
  std::vector<std::string> loads_;
};

// DigitalPersona as the manager sees it; checks that its calls never
// overlap.
struct FakeUareU {
  static inline std::mutex mutex;
  static inline std::atomic<bool> present{false};
  static inline std::atomic<bool> loaded{false};
  static inline std::atomic<int> loads{0};
  static inline std::atomic<int> unloads{0};
  static inline std::atomic<int> inside{0};
  static inline std::atomic<int> overlaps{0};
  static inline std::vector<Text> ids;

  struct Inside {
    Inside() {
      if (inside.fetch_add(1) != 0) ++overlaps;
      if (probe) probe();
    }
    ~Inside() { --inside; }
  };

  static void Reset(bool is_present, std::vector<Text> names) {
    present = is_present;
    loaded = false;
    loads = unloads = overlaps = 0;
    probe = nullptr;
    std::lock_guard lock(mutex);
    ids = std::move(names);
    captures.clear();
  }

  // Runs inside every call of the binding (a test's probe), when set.
  static inline std::function<void()> probe;
  static inline std::vector<std::string> captures;

  class Fake final : public TLeitoresUareU {
   public:
    bool Carregar(platform::Env&) const override {
      Inside in;
      ++loads;
      loaded = present.load();
      return loaded.load();
    }
    void Descarregar() const override {
      Inside in;
      ++unloads;
      loaded = false;
    }
    int ContarDispositivos() const override {
      Inside in;
      std::lock_guard lock(mutex);
      return loaded ? static_cast<int>(ids.size()) : 0;
    }
    Text NomeLeitor(int index) const override {
      Inside in;
      std::lock_guard lock(mutex);
      if (!loaded || index < 0 || index >= static_cast<int>(ids.size())) {
        throw Exception(u"Can not retrieve scanner id");
      }
      return ids[static_cast<size_t>(index)];
    }
    int IniciarCaptura(const Text& name, TSMImageProc, void*) const override {
      Inside in;
      std::lock_guard lock(mutex);
      captures.push_back("start " + platform::ToUtf8(name));
      return 0;
    }
    int PararCaptura(const Text& name) const override {
      Inside in;
      std::lock_guard lock(mutex);
      captures.push_back("stop " + platform::ToUtf8(name));
      return 0;
    }
  };

  static const TLeitoresUareU& Binding() {
    static const Fake binding;
    return binding;
  }
};

struct Component : TComponenteLeitor {
  Component(Text reader, int32_t index) : name(std::move(reader)), index(index) {}
  Text NumSerieLeitor() const override { return name; }
  int32_t IndiceLeitor() const override { return index; }
  Text name;
  int32_t index;
};

class ReaderManagerTest : public ModuleFolderTest {
 protected:
  void SetUp() override {
    ModuleFolderTest::SetUp();
    host_ = Folder("host");
    lib_ = Folder("lib");
    env_.Place(host_ + "/java", lib_ + "/libdactyra.so");
    FakeUareU::Reset(false, {});
  }

  std::unique_ptr<TVxGestorLeitores> Manager(bool preload = true) {
    return std::make_unique<TVxGestorLeitores>(preload, env_, FakeUareU::Binding());
  }
  void Plugin(const std::string& folder, const std::string& file) {
    Install(folder, PluginPath("vxr_test"), file);
  }
  void Fpsmm(const std::string& folder, const std::string& file) {
    Install(folder, FpsmmSimPath(), file);
  }
  static std::vector<std::string> Names(TVxGestorLeitores& manager) {
    std::vector<std::string> names;
    for (const TCaptureModule* module : manager.Modulos()) {
      names.push_back(platform::ToUtf8(module->Name()));
    }
    return names;
  }
  static std::vector<std::string> Files(TVxGestorLeitores& manager) {
    std::vector<std::string> files;
    for (const TCaptureModule* module : manager.Modulos()) {
      files.push_back(platform::ToUtf8(module->Path()));
    }
    return files;
  }
  int Searches() { return static_cast<int>(env_.Searches().size()); }

  FolderEnv env_;
  std::string host_;
  std::string lib_;
};

TEST_F(ReaderManagerTest, WhichFilesBecomeModules) {
  enum Kind { kPlugin, kRefusedPlugin, kFpsmm, kJunk, kCutPlugin };
  struct Case {
    std::string what;
    std::vector<std::pair<Kind, std::string>> files;
    std::vector<std::string> modules;
  };
  const std::vector<Case> cases = {
      {"a 64-bit twin is skipped", {{kPlugin, "vxr_a.so"}, {kPlugin, "vxr_a_64.so"}}, {"a"}},
      {"_64 whatever the extension's case, X64 is no twin",
       {{kPlugin, "vxr_b_64.SO"}, {kPlugin, "vxr_b_X64.so"}},
       {"b_x64"}},
      {"the skip list does not end the pass",
       {{kFpsmm, "FPSmmCyte.so"},
        {kFpsmm, "FPSmmFoo.so"},
        {kFpsmm, "FPSmmLumidigm.so"},
        {kFpsmm, "FPSmmUAREU.so"},
        {kFpsmm, "FPSmmZed.so"}},
       {"foo", "zed"}},
      {"names are unique ignoring case, across kinds too",
       {{kPlugin, "vxr_a.so"}, {kPlugin, "VXR_A.so"}, {kFpsmm, "FPSmmA.so"}},
       {"a"}},
      {"refused and unreadable files are left out",
       {{kRefusedPlugin, "vxr_bad.so"},
        {kJunk, "vxr_junk.so"},
        {kFpsmm, "FPSmmRefuse.so"},
        {kJunk, "FPSmmJunk.so"},
        {kPlugin, "vxr_ok.so"}},
       {"ok"}},
      // Mapped, it would end the process with SIGBUS.
      {"a half-copied plug-in is left out",
       {{kCutPlugin, "vxr_half.so"}, {kPlugin, "vxr_whole.so"}},
       {"whole"}},
      {"plug-ins first, each pass in name order",
       {{kFpsmm, "FPSmmBar.so"}, {kPlugin, "vxr_z.so"}, {kPlugin, "vxr_M.so"}},
       {"m", "z", "bar"}},
      {"other names are no modules",
       {{kPlugin, "vxr_a.so.1"}, {kPlugin, "xvxr_a.so"}, {kFpsmm, "FPSm_x.so"}},
       {}},
  };
  ConfigureFpsmm("[FPSmmRefuse]\ninit=-1\n");
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = Folder("case" + std::to_string(n++));
    for (const auto& [kind, file] : c.files) {
      switch (kind) {
        case kPlugin:
          Plugin(folder, file);
          break;
        case kRefusedPlugin:
          // A loadable module without the plug-in exports.
          Install(folder, DACTYRA_FPSMM_SIM, file);
          break;
        case kFpsmm:
          Fpsmm(folder, file);
          break;
        case kJunk:
          std::ofstream(Native(folder + "/" + file)) << "not a module";
          break;
        case kCutPlugin:
          std::filesystem::resize_file(Install(folder, PluginPath("vxr_test"), file), 4096);
          break;
      }
    }
    env_.Place(folder + "/java", folder + "/libdactyra.so");
    auto manager = Manager();
    EXPECT_EQ(Names(*manager), c.modules);
  }
}

TEST_F(ReaderManagerTest, HostFolderFirstThenTheLibrarysThenFurtherFolders) {
  Plugin(host_, "VXR_A.SO");
  Plugin(lib_, "vxr_a.so");
  Plugin(lib_, "vxr_l.so");
  Fpsmm(lib_, "FPSmmFoo.so");
  const std::string extra1 = Folder("extra1"), extra2 = Folder("extra2");
  Plugin(extra1, "vxr_e.so");
  Plugin(extra2, "vxr_l.so");
  Fpsmm(extra2, "FPSmmBar.so");
  // Separated as the system's search paths are.
  const std::string sep = Native("/") == "/" ? ":" : ";";
  env_.SetExtraFolders(extra1 + sep + sep + extra2 + sep + host_);
  auto manager = Manager();
  EXPECT_THAT(Names(*manager), ElementsAre("a", "l", "foo", "e", "bar"));
  EXPECT_THAT(Files(*manager),
              ElementsAre(Native(host_ + "/VXR_A.SO"), Native(lib_ + "/vxr_l.so"),
                          Native(lib_ + "/FPSmmFoo.so"), Native(extra1 + "/vxr_e.so"),
                          Native(extra2 + "/FPSmmBar.so")));
  // Each folder once, both passes each: the host folder named again is not
  // searched again, and the empty entry is no folder.
  EXPECT_EQ(Searches(), 8);
}

#ifndef _WIN32
// POSIX modes and owners here; the Win32 folder check is the Env contract's.
// A module runs as this user: a folder that another user could plant one
// in is skipped, and said so once on standard error, however often the
// folders are searched again.
TEST_F(ReaderManagerTest, FoldersOthersCouldWriteAreSkippedAndReportedOnce) {
  const std::string open = Folder("open"), group = Folder("group"), given = Folder("given");
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  ASSERT_EQ(chmod(group.c_str(), 0775), 0);
  // A folder of ours in a parent where anyone may rename it away.
  const std::string inside = Folder("shared/inside");
  ASSERT_EQ(chmod(Folder("shared").c_str(), 0777), 0);
  // "relative" exists below the current folder: it must not be found there.
  Folder("relative");
  // Each refused entry, and what its report names.
  std::vector<std::pair<std::string, std::string>> refused = {
      {open, open}, {group, group}, {inside, Folder("shared")}, {"relative", "relative"}};
  if (chown(given.c_str(), 65534, 65534) == 0) {  // only root gives folders away
    refused.push_back({given, "belongs to user 65534"});
  }
  std::string extra;
  for (const auto& [folder, named] : refused) {
    const std::string file = "vxr_" + std::filesystem::path(folder).filename().string() + ".so";
    Plugin(folder[0] == '/' ? folder : Folder(folder), file);
    extra += folder + ":";
  }
  Plugin(host_, "vxr_host.so");
  env_.SetExtraFolders(extra + host_);

  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir());
  ::testing::internal::CaptureStderr();
  auto manager = Manager();
  Component by_index(u"Test\\S1", 0);
  manager->IniciouConexao(by_index);  // searches every folder again
  const std::string report = ::testing::internal::GetCapturedStderr();
  std::filesystem::current_path(previous);

  EXPECT_THAT(Names(*manager), ElementsAre("host"));
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), std::ssize(refused)) << report;
  for (const auto& [folder, named] : refused) {
    EXPECT_NE(report.find(named), std::string::npos) << named << " in:\n" << report;
  }
}
#endif  // _WIN32

// A program whose own path cannot be read: the current folder is where the
// user stood, not the program's folder, and is never searched for it.
TEST_F(ReaderManagerTest, AnUnknownProgramFolderIsNotTheCurrentFolder) {
  const std::string here = Folder("here");
  Plugin(here, "vxr_here.so");
  Plugin(lib_, "vxr_lib.so");
  env_.Place("", lib_ + "/libdactyra.so");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(here);
  auto manager = Manager();
  std::filesystem::current_path(previous);
  EXPECT_THAT(Names(*manager), ElementsAre("lib"));
}

TEST_F(ReaderManagerTest, OneFolderIsSearchedOnce) {
  struct Case {
    std::string what;
    std::string library;
    int searches;
  };
  const std::vector<Case> cases = {
      {"the same folder", host_ + "/libdactyra.so", 2},
      {"the same text but for ASCII case", host_ + "/LIBDACTYRA.so", 2},
      {"a folder in other letters", Upper(host_) + "/libdactyra.so", 2},
      {"two folders", lib_ + "/libdactyra.so", 4},
      {"a library the system cannot place: no root folder search", "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    env_.Place(host_ + "/java", c.library);
    const int before = Searches();
    auto manager = Manager();
    EXPECT_EQ(Searches() - before, c.searches);
  }
  for (const std::string& search : env_.Searches()) {
    EXPECT_NE(search.rfind(Native("/vxr_"), 0), 0u);
  }
}

TEST_F(ReaderManagerTest, LaterActivationsFindNewAndRetriedFiles) {
  Plugin(host_, "vxr_a.so");
  env_.Refuse("vxr_a.so", true);
  auto manager = Manager();
  EXPECT_THAT(Names(*manager), IsEmpty());

  // Addressed by name but nothing loaded: search again; the file is tried
  // again and fails again.
  Component by_name(u"Test\\S1", -1);
  manager->IniciouConexao(by_name);
  EXPECT_EQ(env_.Loads("vxr_a.so"), 2);
  env_.Refuse("vxr_a.so", false);
  manager->IniciouConexao(by_name);
  EXPECT_THAT(Names(*manager), ElementsAre("a"));

  // Addressed by name with a module loaded: no search.
  Plugin(lib_, "vxr_b.so");
  const int searches = Searches();
  manager->IniciouConexao(by_name);
  EXPECT_EQ(Searches(), searches);
  EXPECT_THAT(Names(*manager), ElementsAre("a"));

  // Addressed by index: search; only the new file is loaded.
  Component by_index(u"Test\\S1", 0);
  manager->IniciouConexao(by_index);
  EXPECT_THAT(Names(*manager), ElementsAre("a", "b"));
  EXPECT_EQ(env_.Loads("vxr_a.so"), 3);
  EXPECT_EQ(env_.Loads("vxr_b.so"), 1);

  // Created without the first search.
  auto lazy = Manager(false);
  EXPECT_THAT(Names(*lazy), IsEmpty());
  lazy->IniciouConexao(by_name);
  EXPECT_THAT(Names(*lazy), ElementsAre("a", "b"));
}

TEST_F(ReaderManagerTest, CountsAndNamesPluginsFpsmmAndUareUInOrder) {
  Plugin(host_, "vxr_a.so");
  Configure("vxr_a", "prefix=Alpha\ndevice=S1\ndevice=S2\n");
  Plugin(host_, "vxr_e.so");
  Configure("vxr_e", "prefix=Empty\n");
  Fpsmm(host_, "FPSmmFoo.so");
  ConfigureFpsmm("count=3\nid=foo\\X1\nid=foo\\X2\n");
  FakeUareU::Reset(true, {u"UareU\\g1"});
  auto manager = Manager();

  // One list: DigitalPersona's readers are the UareU module's, after the
  // module files'.
  EXPECT_EQ(manager->NumLeitores(), 6);
  EXPECT_EQ(manager->ContarLeitores(), 6);
  std::vector<Text> names{u"kept"};
  EXPECT_EQ(manager->PegNumerosSerie(names), 5);
  EXPECT_THAT(names, ElementsAre(u"kept", u"Alpha\\S1", u"Alpha\\S2", u"foo\\X1", u"foo\\X2",
                                 u"UareU\\g1"));

  const std::vector<Text> all = {u"Alpha\\S1", u"Alpha\\S2", u"foo\\X1", u"foo\\X2",
                                 u"UareU\\g1", u"",          u""};
  for (int32_t i = 0; i < static_cast<int32_t>(all.size()); ++i) {
    EXPECT_EQ(manager->PegNumSerieLeitor(i), all[i]) << i;
  }
  EXPECT_EQ(manager->PegNumSerieLeitor(INT32_MAX), u"");
  EXPECT_EQ(MessageOf([&] { manager->PegNumSerieLeitor(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(MessageOf([&] { manager->PegNumSerieLeitor(INT32_MIN); }),
            "List index out of bounds (-2147483648)");

  // Without DigitalPersona its readers are simply not there.
  FakeUareU::Reset(false, {u"UareU\\g1"});
  EXPECT_EQ(manager->ContarLeitores(), 5);
  EXPECT_EQ(manager->PegNumSerieLeitor(4), u"");
  EXPECT_EQ(FakeUareU::overlaps.load(), 0);
}

// Closing a UareU device waits for the binding's delivery thread: no call
// of the UareU module may hold the manager lock, which another thread can
// take meanwhile.
TEST_F(ReaderManagerTest, TheUareUModuleIsNeverCalledUnderTheManagerLock) {
  Plugin(host_, "vxr_a.so");
  Configure("vxr_a", "prefix=Alpha\ndevice=S1\n");
  FakeUareU::Reset(true, {u"UareU\\g1"});
  auto manager = Manager();
  std::atomic<int> held{0};
  std::vector<std::thread> probes;
  FakeUareU::probe = [&] {
    auto done = std::make_shared<std::atomic<bool>>(false);
    probes.emplace_back([&manager, done] {
      manager->Modulos();
      *done = true;
    });
    if (!platform::testing::WaitUntil([&] { return done->load(); }, std::chrono::seconds(2))) {
      ++held;
    }
  };
  Component component(u"UareU\\g1", -1);
  manager->Adicionar(&component);
  manager->IniciouConexao(component);
  EXPECT_EQ(manager->NumLeitores(), 2);
  EXPECT_EQ(manager->PegNumSerieLeitor(1), u"UareU\\g1");
  auto device = manager->AbrirDispositivo(u"uareu\\g1");
  ASSERT_NE(device, nullptr);
  manager->FecharDispositivo(*device);
  manager->Remover(&component);
  FakeUareU::probe = nullptr;
  for (auto& probe : probes) probe.join();
  EXPECT_EQ(held.load(), 0);
  EXPECT_EQ(FakeUareU::unloads.load(), 1);
  EXPECT_THAT(FakeUareU::captures, ElementsAre("start UareU\\g1", "stop UareU\\g1"));
}

TEST_F(ReaderManagerTest, PluginFpsmmAndDigitalPersonaStandInsInOneFolder) {
  Plugin(host_, "vxr_a.so");
  Configure("vxr_a", "prefix=Alpha\ndevice=S1\n");
  Fpsmm(host_, "FPSmmFoo.so");
  ConfigureFpsmm("count=3\nid=foo\\X1\nid=foo\\X2\n");
  Install(host_, Native(std::string(DACTYRA_DP_SIM_DIR) + "/DPFPApi.so"), "DPFPApi.so");
  const std::string dp_config = dir() + "/dp.conf";
  std::ofstream(dp_config) << "[reader]\nlibrary = dpfpapi\n"
                              "guid = 000102030405060708090A0B0C0D0E0F\n"
                              "id = {CAFE}\nproduct = U.are.U 4000B\n";
  ASSERT_EQ(setenv("DACTYRA_DP_SIM", dp_config.c_str(), 1), 0);
  env_.ResolveBareNamesIn(host_);
  const TLeitoresUareU& uareu = TLeitoresUareU::Padrao();
  // The binding keeps the Env until it unloads.
  struct Unload {
    const TLeitoresUareU& uareu;
    ~Unload() { uareu.Descarregar(); }
  } unload{uareu};

  TVxGestorLeitores manager(true, env_, uareu);
  EXPECT_THAT(Names(manager), ElementsAre("a", "foo"));
  EXPECT_EQ(manager.ContarLeitores(), 5);
  const std::vector<Text> all = {u"Alpha\\S1", u"foo\\X1", u"foo\\X2", u"UareU\\CAFE", u""};
  for (int32_t i = 0; i < static_cast<int32_t>(all.size()); ++i) {
    EXPECT_EQ(manager.PegNumSerieLeitor(i), all[i]) << i;
  }
  EXPECT_EQ(env_.Loads("DPFPApi.so"), 1);

  // The last component gone, the library goes; the next activation loads
  // it again.
  Component component(u"UareU\\CAFE", -1);
  manager.Adicionar(&component);
  manager.Remover(&component);
  Component next(u"UareU\\CAFE", -1);
  manager.Adicionar(&next);
  manager.IniciouConexao(next);
  EXPECT_EQ(env_.Loads("DPFPApi.so"), 2);
  EXPECT_EQ(manager.ContarLeitores(), 5);
  manager.Remover(&next);
}

TEST_F(ReaderManagerTest, NoReadersAtAll) {
  auto manager = Manager();
  EXPECT_EQ(manager->ContarLeitores(), 0);
  EXPECT_EQ(manager->PegNumSerieLeitor(0), u"");
  EXPECT_EQ(manager->AbrirDispositivo(u"Test\\S1"), nullptr);
}

TEST_F(ReaderManagerTest, AModulesErrorFailsTheWholeOperationAndReleasesTheLock) {
  Fpsmm(host_, "FPSmmFoo.so");
  Plugin(host_, "vxr_a.so");
  Configure("vxr_a", "prefix=Alpha\ndevice=S1\n");
  ConfigureFpsmm("count_status=-5\n");
  auto manager = Manager();
  EXPECT_EQ(MessageOf([&] { manager->ContarLeitores(); }), "Erro -5");
  EXPECT_EQ(MessageOf([&] { manager->PegNumSerieLeitor(0); }), "Erro -5");
  // The plug-in before it was asked; the lock is free for another thread.
  std::thread other([&] {
    ConfigureFpsmm("id=foo\\X1\n");
    EXPECT_EQ(manager->ContarLeitores(), 2);
  });
  other.join();
}

TEST_F(ReaderManagerTest, OpensThroughTheModuleThePrefixNames) {
  Plugin(host_, "vxr_l.so");
  Configure("vxr_l", "prefix=Lumidigm\ndevice=0A1B2C3D\ndevice=\nidle=return\n");
  Fpsmm(host_, "FPSmmFoo.so");
  ConfigureFpsmm("images=0\n");
  auto manager = Manager();
  struct Case {
    Text name;
    std::string stem;  // empty when nothing opens
    std::string call;  // the call the module saw
  };
  const std::vector<Case> cases = {
      {u"lumidigm\\0A1B2C3D", "vxr_l", "OpenDevice [0A1B2C3D]"},
      {u"Lumidigm", "vxr_l", "OpenDevice []"},
      {u"Lumidigm\\", "vxr_l", "OpenDevice []"},
      {u" LUMIDIGM \\0A1B2C3D", "vxr_l", "OpenDevice [0A1B2C3D]"},
      {u"\"Lumidigm\"\\0A1B2C3D", "vxr_l", "OpenDevice [0A1B2C3D]"},
      {u"foo\\X1", "FPSmmFoo", "InitScanner 1 foo\\X1"},
      {u"FOO\\X2", "FPSmmFoo", "InitScanner 2 foo\\X2"},
      {u"Other\\0A1B2C3D", "", ""},
      {u"\\0A1B2C3D", "", ""},
      {u"Lumidigm2\\0A1B2C3D", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.name));
    const size_t plugin_lines = Log("vxr_l").size();
    auto device = manager->AbrirDispositivo(c.name);
    if (c.stem.empty()) {
      EXPECT_EQ(device, nullptr);
      EXPECT_EQ(Log("vxr_l").size(), plugin_lines);
      continue;
    }
    ASSERT_NE(device, nullptr);
    EXPECT_THAT(Log(c.stem), ::testing::Contains(c.call));
    manager->FecharDispositivo(*device);
  }
  EXPECT_EQ(CountCalls("vxr_l", "CloseDevice"), 5);
  EXPECT_EQ(CountCalls("FPSmmFoo", "StopCapture"), 4);
}

TEST_F(ReaderManagerTest, WithTwoModulesOfOnePrefixTheLastAnswersAndEarlierDevicesAreClosed) {
  Plugin(host_, "vxr_a.so");
  Plugin(host_, "vxr_b.so");
  Configure("vxr_a", "prefix=Same\ndevice=S\nidle=return\n");
  Configure("vxr_b", "prefix=same\ndevice=S\nidle=return\n");
  auto manager = Manager();

  auto device = manager->AbrirDispositivo(u"Same\\S");
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(CountCalls("vxr_a", "OpenDevice [S]"), 1);
  EXPECT_EQ(CountCalls("vxr_b", "OpenDevice [S]"), 1);
  EXPECT_EQ(CountCalls("vxr_a", "CloseDevice 1"), 1);
  EXPECT_EQ(CountCalls("vxr_b", "CloseDevice"), 0);
  manager->FecharDispositivo(*device);
  EXPECT_EQ(CountCalls("vxr_b", "CloseDevice 1"), 1);

  // The last module fails: its error reaches the caller and the device the
  // first one opened is closed.
  Configure("vxr_b", "prefix=same\ndevice=S\nopen_fails=1\n");
  EXPECT_EQ(MessageOf([&] { manager->AbrirDispositivo(u"Same\\S"); }),
            "Could not open device same\\S");
  EXPECT_EQ(CountCalls("vxr_a", "CloseDevice 2"), 1);

  // The first one fails: the search ends there.
  Configure("vxr_a", "prefix=Same\ndevice=S\nopen_fails=1\n");
  Configure("vxr_b", "prefix=same\ndevice=S\n");
  EXPECT_EQ(MessageOf([&] { manager->AbrirDispositivo(u"Same\\S"); }),
            "Could not open device Same\\S");
  EXPECT_EQ(CountCalls("vxr_b", "OpenDevice"), 2);
}

TEST_F(ReaderManagerTest, TheLastComponentUnloadsUareUAndAnActivationLoadsItAgain) {
  FakeUareU::Reset(true, {u"UareU\\g1"});
  auto manager = Manager();
  Component c1(u"UareU\\g1", -1), c2(u"Test\\S1", 0);
  manager->Adicionar(&c1);
  manager->Adicionar(&c2);
  manager->IniciouConexao(c1);
  EXPECT_EQ(FakeUareU::loads.load(), 1);
  manager->Remover(&c1);
  EXPECT_EQ(FakeUareU::unloads.load(), 0);
  manager->Remover(&c2);
  EXPECT_EQ(FakeUareU::unloads.load(), 1);
  EXPECT_FALSE(FakeUareU::loaded.load());

  Component c3(u"UareU\\g1", -1);
  manager->Adicionar(&c3);
  manager->IniciouConexao(c3);
  EXPECT_EQ(FakeUareU::loads.load(), 2);
  EXPECT_TRUE(FakeUareU::loaded.load());
  manager->Remover(&c3);
  EXPECT_EQ(FakeUareU::unloads.load(), 2);
}

TEST_F(ReaderManagerTest, ReadersOutsideTheListDoNotLoadUareU) {
  auto manager = Manager();
  const std::vector<std::pair<Text, bool>> cases = {
      {u"VX:1", false},       {u"ZK\\1", false}, {u"bio-i", false}, {u"BIO-I 7", false},
      {u"vx:1", true},        {u"zk\\1", true},  {u"bio-", true},   {u"UareU\\g", true},
      {u"Lumidigm\\1", true}, {u"", true},
  };
  for (const auto& [name, loads] : cases) {
    SCOPED_TRACE(platform::ToUtf8(name));
    const int before = FakeUareU::loads;
    manager->IniciouConexao(Component(name, -1));
    EXPECT_EQ(FakeUareU::loads - before, loads ? 1 : 0);
  }
}

TEST(ReaderNames, Classes) {
  struct Case {
    Text name;
    bool sem_lista;
    bool bio_i;
    Text uareu;
  };
  const std::vector<Case> cases = {
      {u"VX:abc", true, false, u"VX:abc"}, {u"ZK\\12", true, false, u"ZK\\12"},
      {u"VX", false, false, u"VX"},        {u"Vx:abc", false, false, u"Vx:abc"},
      {u"bio-iX", false, true, u"bio-iX"}, {u"BIO-I", false, true, u"BIO-I"},
      {u"bio-", false, false, u"bio-"},    {u"{1234-ABCD}", false, false, u"UareU\\1234-ABCD"},
      {u"{x", false, false, u"UareU\\"},   {u"{", false, false, u"UareU\\"},
      {u"{}", false, false, u"UareU\\"},   {u"", false, false, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.name));
    EXPECT_EQ(EhLeitorSemLista(c.name), c.sem_lista);
    EXPECT_EQ(ComecaComBioI(c.name), c.bio_i);
    EXPECT_EQ(NomeGuidParaUareU(c.name), c.uareu);
  }
}

TEST_F(ReaderManagerTest, EveryOperationAtOnceFromSeveralThreads) {
  Plugin(host_, "vxr_a.so");
  Configure("vxr_a", "prefix=A\ndevice=S1\ndevice=S2\nidle=return\nquiet=1\n");
  Fpsmm(host_, "FPSmmFoo.so");
  ConfigureFpsmm("id=foo\\X1\nimages=0\nquiet=1\n");
  FakeUareU::Reset(true, {u"UareU\\g1", u"UareU\\g2"});
  auto manager = Manager();
  constexpr int kRounds = 40;
  std::atomic<int> failures{0};
  Component keeper(u"A\\S1", -1);
  manager->Adicionar(&keeper);
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (manager->ContarLeitores() != 5) ++failures;
      if (manager->PegNumSerieLeitor(4) != u"UareU\\g2") ++failures;
    }
  });
  for (const Text name : {u"A\\S1", u"foo\\X1"}) {
    threads.emplace_back([&, name] {
      for (int i = 0; i < kRounds; ++i) {
        auto device = manager->AbrirDispositivo(name);
        if (!device) {
          ++failures;
          continue;
        }
        manager->FecharDispositivo(*device);
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      Component component(u"A\\S2", i % 2 ? -1 : 0);
      manager->Adicionar(&component);
      manager->IniciouConexao(component);
      manager->Remover(&component);
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(FakeUareU::overlaps.load(), 0);
  // The keeper stayed: DigitalPersona was never unloaded under it.
  EXPECT_EQ(FakeUareU::unloads.load(), 0);
  EXPECT_THAT(Names(*manager), ElementsAre("a", "foo"));
  manager->Remover(&keeper);
  EXPECT_EQ(FakeUareU::unloads.load(), 1);
}

TEST(ReaderManagerSingleton, OneManagerHoweverManyAskAtOnce) {
  std::vector<TVxGestorLeitores*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] { seen[i] = &GarantirGestor(true); });
  }
  for (auto& thread : threads) thread.join();
  for (TVxGestorLeitores* manager : seen) EXPECT_EQ(manager, seen[0]);
  EXPECT_EQ(&GarantirGestor(false), seen[0]);
  EXPECT_EQ(&GarantirGestor(true, platform::Env::Default()), seen[0]);
}

}  // namespace
}  // namespace dactyra::testing
