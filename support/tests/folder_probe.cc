// Test module: answers what the library code linked into it computes.
#include <cstring>
#include <string>

#include "platform/text.h"
#include "support/folders.h"

namespace {

void CopyOut(const dactyra::platform::Text& text, char* buffer, int size) {
  const std::string utf8 = dactyra::platform::ToUtf8(text);
  if (size <= 0) return;
  const size_t n = std::min(utf8.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, utf8.data(), n);
  buffer[n] = '\0';
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void ProbePastaBiblioteca(char* buffer,
                                                                            int size) {
  CopyOut(dactyra::PastaBiblioteca(), buffer, size);
}

extern "C" __attribute__((visibility("default"))) void ProbeNaPastaBiblioteca(const char* name,
                                                                              char* buffer,
                                                                              int size) {
  CopyOut(dactyra::NaPastaBiblioteca(dactyra::platform::FromUtf8(name)), buffer, size);
}
