// Arbitrary bytes as the start of a module file, checked for both word
// sizes, as ELF and as PE. The checks read nothing outside what they are
// given, and a module found complete stays complete when more bytes follow
// it in the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/module_image.h"

using namespace dactyra::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> head(data, size < kModuleImageHead ? size : kModuleImageHead);
  for (const ModuleMachine machine : {ModuleMachine{true, 62}, ModuleMachine{false, 3}}) {
    const bool complete = ModuleImageProblem(head, size, machine) == nullptr;
    if (complete && ModuleImageProblem(head, size + 4096, machine) != nullptr) std::abort();
    if (complete && head.size() < (machine.is_64_bit ? 64u : 52u)) std::abort();
  }
  for (const ModuleMachine machine : {ModuleMachine{true, 0x8664}, ModuleMachine{false, 0x14C}}) {
    const bool complete = PeImageProblem(head, size, machine) == nullptr;
    if (complete && PeImageProblem(head, size + 4096, machine) != nullptr) std::abort();
    if (complete && head.size() < 64u) std::abort();
  }
  return 0;
}
