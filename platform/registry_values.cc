#include "platform/registry_values.h"

#include <charconv>

namespace dactyra::platform {
namespace {

std::optional<RegistryValue> ParseValue(std::string_view data) {
  if (data.starts_with("sz:")) {
    data.remove_prefix(3);
    return RegistryValue{RegistryValue::Type::kText, 0, FromUtf8(data)};
  }
  if (!data.starts_with("dword:")) return std::nullopt;
  data.remove_prefix(6);
  int base = 10;
  if (data.starts_with("0x") || data.starts_with("0X")) {
    data.remove_prefix(2);
    base = 16;
  }
  uint32_t number = 0;
  const char* end = data.data() + data.size();
  const auto [stop, error] = std::from_chars(data.data(), end, number, base);
  if (data.empty() || error != std::errc() || stop != end) return std::nullopt;
  return RegistryValue{RegistryValue::Type::kInteger, number, Text()};
}

}  // namespace

std::optional<RegistryValue> FindRegistryValue(std::string_view file, TextView name) {
  std::string_view rest = file;
  while (!rest.empty()) {
    const size_t cut = rest.find('\n');
    std::string_view line = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (!SameTextNoCase(FromUtf8(line.substr(0, equals)), name)) continue;
    return ParseValue(line.substr(equals + 1));
  }
  return std::nullopt;
}

}  // namespace dactyra::platform
