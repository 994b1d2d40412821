// Build tool for the decorated test plug-in: gives its exports the names a
// 32-bit Windows compiler gives stdcall functions, "_Name@n".
//
// ELF linkers read "@" in a symbol name as a version, so the plug-in is
// linked with "_Name_n" instead and this tool rewrites those dynamic symbol
// names in place (same length) and rebuilds the SysV hash table that the
// loader looks them up by. The file must be linked with --hash-style=sysv.
//
// Usage: vxr_decorate FILE
#include <elf.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

uint32_t ElfHash(const char* name) {
  uint32_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    h = (h << 4) + *p;
    const uint32_t g = h & 0xF0000000u;
    if (g) h ^= g >> 24;
    h &= ~g;
  }
  return h;
}

// "_VXR_<Name>_<digits>" becomes "_VXR_<Name>@<digits>".
bool Decorate(char* name) {
  if (std::strncmp(name, "_VXR_", 5) != 0) return false;
  char* underscore = std::strrchr(name, '_');
  if (underscore <= name + 4 || !underscore[1]) return false;
  for (const char* p = underscore + 1; *p; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  }
  *underscore = '@';
  return true;
}

template <typename Ehdr, typename Shdr, typename Sym, typename Dyn>
int Rewrite(std::vector<char>& file) {
  auto at = [&](size_t offset, size_t size) -> char* {
    if (offset > file.size() || size > file.size() - offset) return nullptr;
    return file.data() + offset;
  };
  const Ehdr* eh = reinterpret_cast<const Ehdr*>(at(0, sizeof(Ehdr)));
  if (!eh || eh->e_shentsize != sizeof(Shdr)) return std::fprintf(stderr, "bad header\n"), 1;
  Shdr* sections = reinterpret_cast<Shdr*>(at(eh->e_shoff, sizeof(Shdr) * eh->e_shnum));
  if (!sections) return std::fprintf(stderr, "bad section table\n"), 1;
  Shdr* hash = nullptr;
  for (int i = 0; i < eh->e_shnum; ++i) {
    if (sections[i].sh_type == SHT_GNU_HASH) {
      return std::fprintf(stderr, "link with --hash-style=sysv\n"), 1;
    }
    if (sections[i].sh_type == SHT_HASH) hash = &sections[i];
  }
  if (!hash || hash->sh_link >= eh->e_shnum) return std::fprintf(stderr, "no hash table\n"), 1;
  const Shdr& dynsym = sections[hash->sh_link];
  if (dynsym.sh_link >= eh->e_shnum) return std::fprintf(stderr, "bad symbol table\n"), 1;
  const Shdr& dynstr = sections[dynsym.sh_link];
  Sym* symbols = reinterpret_cast<Sym*>(at(dynsym.sh_offset, dynsym.sh_size));
  char* strings = at(dynstr.sh_offset, dynstr.sh_size);
  uint32_t* table = reinterpret_cast<uint32_t*>(at(hash->sh_offset, hash->sh_size));
  if (!symbols || !strings || !table || dynstr.sh_size == 0 || strings[dynstr.sh_size - 1]) {
    return std::fprintf(stderr, "bad dynamic tables\n"), 1;
  }
  const size_t count = dynsym.sh_size / sizeof(Sym);
  const uint32_t nbucket = table[0], nchain = table[1];
  if (nbucket == 0 || nchain != count || hash->sh_size < (2 + nbucket + nchain) * 4) {
    return std::fprintf(stderr, "bad hash table\n"), 1;
  }
  int renamed = 0;
  for (size_t i = 1; i < count; ++i) {
    if (symbols[i].st_name >= dynstr.sh_size) return std::fprintf(stderr, "bad name\n"), 1;
    if (symbols[i].st_shndx != SHN_UNDEF && Decorate(strings + symbols[i].st_name)) ++renamed;
  }
  uint32_t* bucket = table + 2;
  uint32_t* chain = bucket + nbucket;
  std::fill(bucket, bucket + nbucket, 0u);
  std::fill(chain, chain + nchain, 0u);
  for (size_t i = 1; i < count; ++i) {
    const uint32_t b = ElfHash(strings + symbols[i].st_name) % nbucket;
    chain[i] = bucket[b];
    bucket[b] = static_cast<uint32_t>(i);
  }
  if (renamed == 0) return std::fprintf(stderr, "no _VXR_*_n exports\n"), 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: vxr_decorate FILE\n"), 2;
  std::vector<char> file;
  {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) return std::fprintf(stderr, "cannot read %s\n", argv[1]), 1;
    file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
    return std::fprintf(stderr, "not an ELF file\n"), 1;
  }
  const int status = file[EI_CLASS] == ELFCLASS64
                         ? Rewrite<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, Elf64_Dyn>(file)
                         : Rewrite<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, Elf32_Dyn>(file);
  if (status != 0) return status;
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(file.data(), static_cast<std::streamsize>(file.size()));
  return out ? 0 : 1;
}
