// A fresh private folder for one test or benchmark, removed with everything
// in it afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace dactyra::platform::testing {

class TempFolder {
 public:
  // `stem` begins the folder's name in the system's temporary folder, so a
  // folder left behind by a killed run says whose it was. Raises when no
  // folder can be made: a test must not go on without one.
  explicit TempFolder(std::string_view stem = "dactyra-test") {
    namespace fs = std::filesystem;
    std::random_device seed;
    std::mt19937_64 names(seed());
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[17];
      constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
      uint64_t bits = names();
      for (int i = 0; i < 16; ++i, bits >>= 5) suffix[i] = kDigits[bits & 31];
      suffix[16] = 0;
      const fs::path candidate = base / (std::string(stem) + "-" + suffix);
      std::error_code error;
      // Only a folder this call made is ours: an existing name is tried
      // again with another, never reused.
      if (fs::create_directory(candidate, error)) {
        fs::permissions(candidate, fs::perms::owner_all, error);
        path_ = fs::canonical(candidate).string();
        return;
      }
      if (error && !fs::exists(candidate, error)) break;
    }
    throw std::runtime_error("cannot make a temporary folder in " + base.string());
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  Text text() const { return FromUtf8(path_); }
  // `name` inside the folder, as text, with the system's delimiter.
  Text operator/(std::u16string_view name) const { return text() + kDelimiter + Text(name); }

#ifdef _WIN32
  static constexpr char16_t kDelimiter = u'\\';
#else
  static constexpr char16_t kDelimiter = u'/';
#endif

 private:
  std::string path_;
};

}  // namespace dactyra::platform::testing
