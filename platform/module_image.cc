#include "platform/module_image.h"

namespace dactyra::platform {
namespace {

constexpr uint16_t kSharedObject = 3;  // ET_DYN
constexpr uint32_t kLoad = 1;          // PT_LOAD
constexpr uint32_t kDynamic = 2;       // PT_DYNAMIC
constexpr uint16_t kExtendedCount = 0xFFFF;

// Little-endian fields; every machine this system runs on is one.
uint64_t Field(std::span<const uint8_t> bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= uint64_t{bytes[at + i]} << (8 * i);
  return value;
}

// The offsets of the fields read, by class.
struct Layout {
  size_t header_size, phoff, phoff_width, phentsize, phnum;
  size_t entry_size, p_offset, p_filesz, p_memsz, word;
};
constexpr Layout k64{64, 32, 8, 54, 56, 56, 8, 32, 40, 8};
constexpr Layout k32{52, 28, 4, 42, 44, 32, 4, 16, 20, 4};

}  // namespace

const char* ModuleImageProblem(std::span<const uint8_t> head, uint64_t file_size,
                               ModuleMachine machine) {
  if (head.size() > file_size) return "more bytes than the file holds";
  if (head.size() < 16 || head[0] != 0x7F || head[1] != 'E' || head[2] != 'L' || head[3] != 'F') {
    return "not an ELF file";
  }
  const Layout& l = machine.is_64_bit ? k64 : k32;
  if (head[4] != (machine.is_64_bit ? 2 : 1)) return "an ELF file of another word size";
  if (head[5] != 1 || head[6] != 1) return "an ELF file of another byte order or version";
  if (head.size() < l.header_size) return "cut short in its ELF header";
  if (Field(head, 16, 2) != kSharedObject) return "not a shared object";
  if (Field(head, 18, 2) != machine.machine) return "a module of another machine";

  const uint64_t phoff = Field(head, l.phoff, l.phoff_width);
  const uint64_t entry_size = Field(head, l.phentsize, 2);
  const uint64_t count = Field(head, l.phnum, 2);
  if (entry_size != l.entry_size || count == 0 || count == kExtendedCount) {
    return "a program header table the loader cannot read";
  }
  // Count and entry size are 16-bit, so their product cannot overflow;
  // the offsets are the file's and may be anything, so they are compared
  // against what remains, never added to.
  const uint64_t table = count * entry_size;
  if (phoff > head.size() || table > head.size() - phoff) {
    return "cut short in its program header table";
  }
  bool loads = false;
  for (uint64_t i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(phoff + i * entry_size);
    const uint32_t type = static_cast<uint32_t>(Field(head, at, 4));
    if (type != kLoad && type != kDynamic) continue;
    const uint64_t offset = Field(head, at + l.p_offset, l.word);
    const uint64_t size = Field(head, at + l.p_filesz, l.word);
    if (offset > file_size || size > file_size - offset) return "cut short in a segment";
    if (type == kLoad) {
      if (size > Field(head, at + l.p_memsz, l.word)) return "a segment larger than its memory";
      loads = true;
    }
  }
  return loads ? nullptr : "no loadable segment";
}

const char* PeImageProblem(std::span<const uint8_t> head, uint64_t file_size,
                           ModuleMachine machine) {
  if (head.size() > file_size) return "more bytes than the file holds";
  if (head.size() < 64 || head[0] != 'M' || head[1] != 'Z') return "not a Windows module";
  const uint64_t pe = Field(head, 0x3C, 4);
  constexpr uint64_t kCoff = 24;  // signature and file header
  if (pe > head.size() || kCoff > head.size() - pe) return "cut short in its PE header";
  if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0) {
    return "not a PE file";
  }
  if (Field(head, pe + 4, 2) != machine.machine) return "a module of another machine";
  const uint64_t sections = Field(head, pe + 6, 2);
  const uint64_t optional_size = Field(head, pe + 20, 2);
  const uint64_t characteristics = Field(head, pe + 22, 2);
  constexpr uint64_t kExecutable = 0x0002, kDll = 0x2000;
  if ((characteristics & (kExecutable | kDll)) != (kExecutable | kDll)) return "not a DLL";
  const uint64_t optional = pe + kCoff;
  if (optional_size < 64 || optional_size > head.size() - optional) {
    return "cut short in its optional header";
  }
  if (Field(head, optional, 2) != (machine.is_64_bit ? 0x20Bu : 0x10Bu)) {
    return "a module of another word size";
  }
  if (Field(head, optional + 60, 4) > file_size) return "cut short in its headers";
  if (sections == 0) return "no sections";
  constexpr uint64_t kSection = 40;
  const uint64_t table = optional + optional_size;
  // Sections are 16-bit counted: the product cannot overflow.
  if (table > head.size() || sections * kSection > head.size() - table) {
    return "cut short in its section table";
  }
  for (uint64_t i = 0; i < sections; ++i) {
    const size_t at = static_cast<size_t>(table + i * kSection);
    const uint64_t size = Field(head, at + 16, 4);
    const uint64_t offset = Field(head, at + 20, 4);
    if (size != 0 && (offset > file_size || size > file_size - offset)) {
      return "cut short in a section";
    }
  }
  return nullptr;
}

}  // namespace dactyra::platform
