// Test doubles for the extraction tests: an Env whose module loads, clock,
// registry and disk a test sets, and a folder holding a copy of a recording
// engine under the engine's file name.
#pragma once

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/testing/temp_folder.h"
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

// A real folder whose answers a test may change: entries named in `links`
// list as links, and writes fail while `*disk_full` holds. Sub-folders
// opened through it answer the same way.
class TestFolder : public platform::Folder {
 public:
  TestFolder(std::unique_ptr<platform::Folder> real, const std::vector<Text>& links,
             const bool& disk_full)
      : real_(std::move(real)), links_(links), disk_full_(disk_full) {}

  std::vector<Entry> List() override {
    std::vector<Entry> entries = real_->List();
    for (Entry& e : entries) {
      if (std::find(links_.begin(), links_.end(), e.name) != links_.end()) {
        e.kind = EntryKind::kLink;
      }
    }
    return entries;
  }
  std::unique_ptr<platform::Folder> OpenFolder(const Text& name, bool create,
                                               Text* error) override {
    if (std::find(links_.begin(), links_.end(), name) != links_.end()) return nullptr;
    auto sub = real_->OpenFolder(name, create, error);
    return sub ? std::make_unique<TestFolder>(std::move(sub), links_, disk_full_) : nullptr;
  }
  bool DeleteFile(const Text& name) override { return real_->DeleteFile(name); }
  bool RemoveFolder(const Text& name) override { return real_->RemoveFolder(name); }
  bool WriteFile(const Text& name, std::string_view bytes) override {
    return !disk_full_ && real_->WriteFile(name, bytes);
  }

 private:
  std::unique_ptr<platform::Folder> real_;
  const std::vector<Text>& links_;
  const bool& disk_full_;
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

  // --- clock and disk: folders answer as TestFolder does.
  platform::LocalTime Now() override { return now; }
  std::unique_ptr<platform::Folder> OpenFolder(const Text& path, Text* error) override {
    auto real = target().OpenFolder(path, error);
    return real ? std::make_unique<TestFolder>(std::move(real), links, disk_full) : nullptr;
  }

  std::vector<Text> Loads() {
    std::lock_guard held(lock_);
    return loads;
  }

  Text by_name_error = EngineFileName() + u": cannot open shared object file (by name)";
  Text by_name_target;
  bool key_exists = false;
  std::optional<uint32_t> si_integer;
  std::optional<Text> si_text;
  int registry_reads = 0;
  platform::LocalTime now{2024, 3, 1, 0, 0, 1, 0};
  bool disk_full = false;
  // Entry names that folders list as links.
  std::vector<Text> links;

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
    std::filesystem::copy_file(recorder,
                               std::filesystem::path(folder_.path()) /
                                   platform::ToUtf8(EngineFileName()),
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
