#include "capture/tests/module_folders.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace dactyra::testing {

std::string FpsmmSimPath() { return DACTYRA_FPSMM_SIM; }

void ModuleFolderTest::SetUp() {
  PluginTest::SetUp();
  // Read by an FPSmm copy when it loads; no thread runs yet.
  ASSERT_EQ(setenv("FPSMM_SIM_CONFIG", (dir() + "/fpsmm.conf").c_str(), 1), 0);
}

std::string ModuleFolderTest::Folder(const std::string& name) const {
  const std::string folder = Native(dir() + "/" + name);
  std::filesystem::create_directories(folder);
  return folder;
}

std::string ModuleFolderTest::Install(const std::string& folder, const std::string& source,
                                      const std::string& file_name) const {
  const std::string target = Native(folder + "/" + file_name);
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
  return target;
}

void ModuleFolderTest::ConfigureFpsmm(const std::string& config) {
  const std::string file = dir() + "/fpsmm.conf";
  {
    std::ofstream out(file + ".new", std::ios::trunc);
    out << config;
  }
  std::filesystem::rename(file + ".new", file);
}

}  // namespace dactyra::testing
