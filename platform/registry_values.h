// The "values" file of a key in the file-backed registry store
// (registry.h): one value per line, "name=dword:<number>" or
// "name=sz:<text>". A pure parser of the file's bytes, kept apart from the
// store so that it can be tried on any bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/text.h"

namespace dactyra::platform {

struct RegistryValue {
  enum class Type { kInteger, kText } type = Type::kInteger;
  uint32_t integer = 0;
  Text text;
};

// The value `name` in `file`: the first line whose name equals it, letter
// case ignored, decides. Lines end at "\n" (a "\r" before it is dropped);
// blank lines, lines beginning with '#' and lines without '=' are skipped.
// A deciding line whose data is neither "sz:<text>" nor "dword:<decimal or
// 0x hexadecimal>" that fits 32 bits gives no value.
std::optional<RegistryValue> FindRegistryValue(std::string_view file, TextView name);

}  // namespace dactyra::platform
