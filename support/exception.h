// The library's base exception: a failure that carries a message text.
// Every failure raised inside the library derives from it; the Java entry
// points turn it into a Java exception with the same message.
#pragma once

#include <exception>
#include <string>

#include "platform/text.h"

namespace dactyra {

class Exception : public std::exception {
 public:
  explicit Exception(platform::Text message)
      : message_(std::move(message)), utf8_(platform::ToUtf8(message_)) {}

  const platform::Text& message() const noexcept { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  platform::Text message_;
  std::string utf8_;
};

}  // namespace dactyra
