// What a library call raised, for tests that compare its message.
#pragma once

#include <functional>
#include <string>
#include <type_traits>

#include "platform/text.h"
#include "support/exception.h"

namespace dactyra::testing {

// The message of the library exception `action` raises, or "(no error)" when
// it returns: as UTF-8 (`MessageOf(...)`), or as the library's text
// (`MessageOf<platform::Text>(...)`) for messages compared with UTF-16
// literals. Any other exception passes through and fails the test.
template <typename String = std::string>
String MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    if constexpr (std::is_same_v<String, platform::Text>) {
      return e.message();
    } else {
      return platform::ToUtf8(e.message());
    }
  }
  if constexpr (std::is_same_v<String, platform::Text>) {
    return u"(no error)";
  } else {
    return "(no error)";
  }
}

}  // namespace dactyra::testing
