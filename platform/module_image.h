// Whether the first bytes of a shared-library file make a complete ELF
// module (or, for Windows, PE module) for a given machine. The loader maps each loadable segment of a
// file straight from its bytes, so a half-copied module whose segments end
// past the file's end kills the process with SIGBUS inside dlopen; the
// checks here are what the loader would need, made before it runs.
// A pure, bounded parser: it reads only the bytes it is given.
#pragma once

#include <cstdint>
#include <span>

namespace dactyra::platform {

// The kind of module this process can load.
struct ModuleMachine {
  bool is_64_bit = true;
  uint16_t machine = 0;  // e_machine: 62 x86-64, 3 i386; PE: 0x8664, 0x14C
};

// The bytes the check looks at: the ELF header and the program header
// table, which toolchains put at the start of the file.
inline constexpr uint32_t kModuleImageHead = 65536;

// Null when `head` (the file's first bytes, up to kModuleImageHead) and
// `file_size` describe a complete shared object for `machine`: the right
// class, byte order, version, type and machine, a program header table
// within `head`, and every loadable and dynamic segment within the file.
// Otherwise a short English reason.
const char* ModuleImageProblem(std::span<const uint8_t> head, uint64_t file_size,
                               ModuleMachine machine);

// The same for a Windows DLL: the DOS and PE headers, the PE32 or PE32+
// optional header of `machine`'s word size, a DLL of that machine, and its
// headers and every section's raw bytes within the file. Windows' loader
// refuses a cut-short image itself; the check names what is wrong where
// the loader only says "not a valid application", and both back ends
// keep one rule.
const char* PeImageProblem(std::span<const uint8_t> head, uint64_t file_size,
                           ModuleMachine machine);

}  // namespace dactyra::platform
