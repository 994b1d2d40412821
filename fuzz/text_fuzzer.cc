// Bytes from Java (modified UTF-8) and from plug-ins (ANSI) decoded to
// UTF-16 and back: decoding never fails, and re-encoding what was decoded
// gives the same text again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/text.h"

using namespace dactyra::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const Text modified = FromModifiedUtf8(bytes);
  if (FromModifiedUtf8(ToModifiedUtf8(modified)) != modified) std::abort();

  const Text standard = FromUtf8(bytes);
  if (FromUtf8(ToUtf8(standard)) != standard) std::abort();
  // Well-formed input survives exactly.
  if (standard.find(u'\uFFFD') == Text::npos && ToUtf8(standard) != bytes) std::abort();

  const Text upper = UpperCase(modified);
  if (upper.size() != modified.size() || !SameTextNoCase(upper, LowerCase(modified))) std::abort();
  if (CompareTextNoCase(modified, standard) != -CompareTextNoCase(standard, modified)) std::abort();
  if (CompareTextAsciiNoCase(modified, AsciiLowerCase(modified)) != 0) std::abort();
  return 0;
}
