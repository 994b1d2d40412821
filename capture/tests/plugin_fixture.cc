#include "capture/tests/plugin_fixture.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/exception.h"

namespace dactyra::testing {

std::string PluginPath(const std::string& file_name) {
  return std::string(DACTYRA_TEST_PLUGIN_DIR) + "/" + file_name + ".so";
}

platform::Text T(const std::string& utf8) { return platform::FromUtf8(utf8); }

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return platform::ToUtf8(e.message());
  }
  return "(no error)";
}

void PluginTest::SetUp() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "dactyra-capture-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  // Read by a plug-in copy when it loads; no thread runs yet.
  ASSERT_EQ(setenv("VXR_TEST_DIR", dir_.c_str(), 1), 0);
}

void PluginTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

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
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < give_up) {
    if (CountCalls(stem, start) >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

}  // namespace dactyra::testing
