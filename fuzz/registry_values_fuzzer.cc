// Arbitrary bytes as a registry key's "values" file: the first byte gives
// the length of the value name to look up (the next bytes, at most 31),
// the rest is the file. Beyond surviving any bytes, the answer must not
// depend on what follows the line that decides it, on "\r\n" line ends or
// on the letter case of the name asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry_values.h"

using namespace dactyra::platform;

namespace {

bool Same(const std::optional<RegistryValue>& a, const std::optional<RegistryValue>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->type == b->type && a->integer == b->integer && a->text == b->text);
}

std::string WithCrLf(std::string_view file) {
  std::string out;
  for (const char c : file) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t name_length = std::min<size_t>(data[0] % 32, size - 1);
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Text name = FromUtf8(bytes.substr(0, name_length));
  const std::string_view file = bytes.substr(name_length);

  const std::optional<RegistryValue> found = FindRegistryValue(file, name);
  if (found && found->type == RegistryValue::Type::kText &&
      found->text.find(u'\n') != Text::npos) {
    std::abort();
  }
  if (found && found->type == RegistryValue::Type::kInteger && !found->text.empty()) std::abort();

  // A decided lookup stays decided whatever lines come after.
  if (found && !Same(FindRegistryValue(std::string(file) + "\nx=sz:later\n" + std::string(file),
                                       name),
                     found)) {
    std::abort();
  }
  // Line ends written the Windows way read the same, unless the file holds
  // carriage returns of its own.
  if (file.find('\r') == std::string_view::npos &&
      !Same(FindRegistryValue(WithCrLf(file), name), found)) {
    std::abort();
  }
  if (!Same(FindRegistryValue(file, AsciiUpperCase(name)), found)) std::abort();
  return 0;
}
