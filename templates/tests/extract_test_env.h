// Test doubles for the extraction tests: an Env whose module loads, clock,
// registry and disk a test sets, and a folder holding a copy of a recording
// engine under the engine's file name.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/tests/temp_folder.h"
#include "templates/tests/vx_extract_recorder.h"
#include "templates/vx_extract_dll.h"

namespace dactyra::templates::testing {

using platform::Text;

// A registry key holding at most one value.
class FakeKey : public platform::RegistryKey {
 public:
  FakeKey(std::optional<uint32_t> integer, std::optional<Text> text)
      : integer_(integer), text_(std::move(text)) {}
  std::optional<uint32_t> ReadInteger(const Text& name) const override {
    return name == u"SI" ? integer_ : std::nullopt;
  }
  std::optional<Text> ReadText(const Text& name) const override {
    return name == u"SI" ? text_ : std::nullopt;
  }

 private:
  std::optional<uint32_t> integer_;
  std::optional<Text> text_;
};

class ExtractEnv : public platform::EnvWrapper {
 public:
  ExtractEnv() : EnvWrapper(platform::Env::Default()) {}

  // --- modules: every load is recorded; a load by bare name fails with
  // `by_name_error` unless `by_name_target` names a file to load instead.
  std::unique_ptr<platform::Module> LoadModule(const Text& file, platform::Module::Search search,
                                               Text* error) override {
    {
      std::lock_guard held(lock_);
      loads.push_back(file);
    }
    if (file.find(u'/') == Text::npos) {
      if (by_name_target.empty()) {
        if (error) *error = by_name_error;
        return nullptr;
      }
      return target().LoadModule(by_name_target, search, error);
    }
    return target().LoadModule(file, search, error);
  }

  // --- registry: the key exists when `key_exists`, with `si_integer` or
  // `si_text` as its "SI" value.
  std::unique_ptr<platform::RegistryKey> OpenRegistryKey(platform::RegistryRoot root,
                                                         const Text& path) override {
    std::lock_guard held(lock_);
    ++registry_reads;
    if (!key_exists || root != platform::RegistryRoot::kCurrentUser ||
        path != u"\\Software\\Tessiva BR\\dactyra") {
      return nullptr;
    }
    return std::make_unique<FakeKey>(si_integer, si_text);
  }

  // --- clock and disk.
  platform::LocalTime Now() override { return now; }
  bool WriteFileBytes(const Text& path, std::string_view bytes) override {
    if (disk_full) return false;
    return target().WriteFileBytes(path, bytes);
  }

  std::vector<Text> Loads() {
    std::lock_guard held(lock_);
    return loads;
  }

  Text by_name_error = u"VxExtract.so: cannot open shared object file (by name)";
  Text by_name_target;
  bool key_exists = false;
  std::optional<uint32_t> si_integer;
  std::optional<Text> si_text;
  int registry_reads = 0;
  platform::LocalTime now{2024, 3, 1, 0, 0, 1, 0};
  bool disk_full = false;

 private:
  std::mutex lock_;
  std::vector<Text> loads;
};

// A folder standing for the library's own, optionally with a recording
// engine copied in as VxExtract.so.
class LibraryFolder {
 public:
  // The folder, with its trailing delimiter.
  Text text() const { return folder_.text() + u'/'; }
  std::string path() const { return folder_.path(); }
  Text EnginePath() const { return text() + EngineFileName(); }

  void PutEngine(const char* recorder = VX_RECORDER_PATH) {
    std::filesystem::copy_file(recorder, std::filesystem::path(folder_.path()) / "VxExtract.so",
                               std::filesystem::copy_options::overwrite_existing);
  }

  // What the engine loaded from this folder recorded; null when it is not
  // loaded. The engine stays loaded as long as the returned holder lives.
  struct Recorder {
    std::unique_ptr<platform::Module> module;
    VxRecorderState* state = nullptr;
  };
  Recorder Engine() const {
    Recorder r;
    r.module = platform::Env::Default().LoadModule(EnginePath());
    if (r.module) r.state = r.module->Function<VxRecorderStateFn>("VxRecorder_State")();
    return r;
  }

 private:
  platform::testing::TempFolder folder_;
};

}  // namespace dactyra::templates::testing
