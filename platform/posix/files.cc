// Files, folders and program paths over POSIX.
#include "platform/files.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/backend.h"
#include "platform/text_internal.h"

namespace dactyra::platform {
namespace {

// The path as the system takes it. A NUL would cut the path short and name
// another file, so such a path becomes "", which every call refuses.
std::string Native(const Text& path) {
  if (path.find(u'\0') != Text::npos) return std::string();
  return ToUtf8(path);
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

bool IsDelimiter(char16_t c) { return c == u'/'; }

// Windows-style mask matching, letter case ignored: '*' any run (also
// empty), '?' exactly one character. Iterative with one back-track point,
// so no pattern can make it slow beyond length(mask) * length(name).
bool MatchMask(TextView name, TextView mask) {
  // As on Windows, "*.*" also matches names without a dot.
  if (mask == u"*.*") return true;
  auto same = [](char16_t a, char16_t b) {
    return internal::UpperCaseUnit(a) == internal::UpperCaseUnit(b);
  };
  size_t n = 0, m = 0;
  size_t star = TextView::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == u'?' || (mask[m] != u'*' && same(mask[m], name[n])))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == u'*') {
      star = m++;
      resume = n;
    } else if (star != TextView::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == u'*') ++m;
  return m == mask.size();
}

// The kind of `dir`/`entry`, following symbolic links as a program opening
// the entry would.
int EntryMode(const std::string& dir, const char* entry) {
  struct stat st;
  const std::string path = dir + "/" + entry;
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int>(st.st_mode);
}

}  // namespace

char16_t PathDelimiter() { return u'/'; }

std::vector<Text> ListFiles(const Text& folder, const Text& mask) {
  std::vector<Text> names;
  const std::string dir = Native(folder.empty() ? Text(u".") : folder);
  DirHandle d(opendir(dir.c_str()));
  if (!d) return names;
  while (const dirent* e = readdir(d.get())) {
    if (e->d_name[0] == '.') continue;
    if (!S_ISREG(EntryMode(dir, e->d_name))) continue;
    Text name = FromUtf8(e->d_name);
    if (MatchMask(name, mask)) names.push_back(std::move(name));
  }
  return names;
}

std::vector<FolderEntry> ListFolder(const Text& folder) {
  std::vector<FolderEntry> entries;
  const std::string dir = Native(folder.empty() ? Text(u".") : folder);
  DirHandle d(opendir(dir.c_str()));
  if (!d) return entries;
  while (const dirent* e = readdir(d.get())) {
    const std::string_view n = e->d_name;
    if (n == "." || n == "..") continue;
    entries.push_back({FromUtf8(n), S_ISDIR(EntryMode(dir, e->d_name))});
  }
  return entries;
}

bool FileExists(const Text& path) {
  struct stat st;
  return !path.empty() && stat(Native(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const Text& path) {
  struct stat st;
  return !path.empty() && stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSymbolicLink(const Text& path) {
  struct stat st;
  return !path.empty() && lstat(Native(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool CreateFolders(const Text& path) {
  if (path.empty()) return false;
  const std::string p = Native(path);
  // Each prefix ending before a delimiter, then the whole path.
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i < p.size() && p[i] != '/') continue;
    if (p[i - 1] == '/') continue;
    const std::string part = p.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return FolderExists(path);
}

bool DeleteFile(const Text& path) {
  if (path.empty() || FolderExists(path)) return false;
  return unlink(Native(path).c_str()) == 0;
}

bool RemoveFolder(const Text& path) { return !path.empty() && rmdir(Native(path).c_str()) == 0; }

std::optional<std::string> ReadFileBytes(const Text& path) {
  if (path.empty()) return std::nullopt;
  FdCloser f{open(Native(path).c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0) return std::nullopt;
  struct stat st;
  if (fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(f.fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return bytes;
}

bool WriteFileBytes(const Text& path, std::string_view bytes) {
  const size_t cut = path.rfind(u'/');
  const Text folder = cut == Text::npos ? Text(u".") : cut == 0 ? Text(u"/") : path.substr(0, cut);
  const Text name = cut == Text::npos ? path : path.substr(cut + 1);
  if (!Folder::IsEntryName(name)) return false;
  const std::unique_ptr<Folder> holder = OpenFolder(folder, nullptr);
  return holder && holder->WriteFile(name, bytes);
}

Text ExecutablePath() {
  std::string buffer(PATH_MAX, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return Text();
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      return FromUtf8(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

Text ModuleFileNameOf(const void* address) {
  if (!address) return Text();
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return Text();
  }
  // The main program has no name in the loader's list (dladdr then gives
  // the name it was started by); its real path comes from /proc.
  if (map && (!map->l_name || !*map->l_name)) return ExecutablePath();
  if (!info.dli_fname || !*info.dli_fname) return Text();
  return FullPath(FromUtf8(info.dli_fname));
}

Text CurrentFolder() {
  std::string buffer(PATH_MAX, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size())) {
      buffer.resize(std::char_traits<char>::length(buffer.c_str()));
      return FromUtf8(buffer);
    }
    if (errno != ERANGE) return Text();
    buffer.resize(buffer.size() * 2);
  }
}

Text FullPath(const Text& path) {
  Text whole = path;
  if (whole.empty() || !IsDelimiter(whole[0])) {
    Text base = CurrentFolder();
    if (base.empty()) return Text();
    whole = base + u'/' + path;
  }
  const bool trailing = !path.empty() && IsDelimiter(path.back());
  std::vector<TextView> parts;
  TextView rest = whole;
  while (!rest.empty()) {
    const size_t cut = rest.find(u'/');
    const TextView part = rest.substr(0, cut);
    rest = cut == TextView::npos ? TextView() : rest.substr(cut + 1);
    if (part.empty() || part == u".") continue;
    if (part == u"..") {
      // ".." above the root stays at the root, as the system resolves it.
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  Text out;
  for (const TextView part : parts) {
    out += u'/';
    out += part;
  }
  if (out.empty() || trailing) out += u'/';
  return out;
}

}  // namespace dactyra::platform
