#include "capture/tests/plugin_fixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/testing/wait.h"

namespace dactyra::testing {

std::string PluginPath(const std::string& file_name) {
  return Native(std::string(DACTYRA_TEST_PLUGIN_DIR) + "/" + file_name + ".so");
}

std::string Native(std::string path) {
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.ends_with(".so")) path.replace(path.size() - 3, 3, ".dll");
  if (path.ends_with(".SO")) path.replace(path.size() - 3, 3, ".DLL");
#endif
  return path;
}

platform::Text T(const std::string& utf8) { return platform::FromUtf8(utf8); }

void PluginTest::SetUp() {
  folder_ = std::make_unique<platform::testing::TempFolder>("dactyra-capture");
  dir_ = Native(folder_->path());
  // Read by a plug-in copy when it loads; no thread runs yet.
  ASSERT_EQ(setenv("VXR_TEST_DIR", dir_.c_str(), 1), 0);
}

void PluginTest::TearDown() { folder_.reset(); }

void PluginTest::Configure(const std::string& stem, const std::string& config) {
  // Written aside and renamed, so that a plug-in call never reads half a file.
  const std::string file = dir_ + "/" + stem + ".conf";
  {
    std::ofstream out(file + ".new", std::ios::trunc);
    out << config;
  }
  std::filesystem::rename(file + ".new", file);
}

std::vector<std::string> PluginTest::Log(const std::string& stem) const {
  std::vector<std::string> lines;
  std::ifstream in(dir_ + "/" + stem + ".log");
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

int PluginTest::CountCalls(const std::string& stem, const std::string& start) const {
  int n = 0;
  for (const std::string& line : Log(stem)) {
    if (line.rfind(start, 0) == 0) ++n;
  }
  return n;
}

bool PluginTest::WaitForCalls(const std::string& stem, const std::string& start, int count) const {
  return platform::testing::WaitUntil([&] { return CountCalls(stem, start) >= count; });
}

}  // namespace dactyra::testing
