// Test support for module searches: folders of module files copied from the
// built stand-ins under the names a test needs, and the FPSmm stand-in's
// configuration and logs.
#pragma once

#include <string>

#include "capture/tests/plugin_fixture.h"

namespace dactyra::testing {

// The built FPSmm stand-in.
std::string FpsmmSimPath();

class ModuleFolderTest : public PluginTest {
 protected:
  void SetUp() override;

  // The folder `name` below the test's own folder, created when missing.
  std::string Folder(const std::string& name) const;
  // Copies `source` (a built file) into `folder` as `file_name` and returns
  // its path. Copies, not links: the loader takes links to one file for one
  // module.
  std::string Install(const std::string& folder, const std::string& source,
                      const std::string& file_name) const;
  // Writes the FPSmm stand-in's configuration (every copy reads it).
  void ConfigureFpsmm(const std::string& config);
};

}  // namespace dactyra::testing
