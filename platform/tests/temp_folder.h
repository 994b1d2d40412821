// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/text.h"

namespace dactyra::platform::testing {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dactyra-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = std::filesystem::canonical(pattern.c_str()).string();
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  Text text() const { return FromUtf8(path_); }
  // `name` inside the folder, as text.
  Text operator/(std::u16string_view name) const { return text() + u'/' + Text(name); }

 private:
  std::string path_;
};

}  // namespace dactyra::platform::testing
