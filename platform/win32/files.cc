// Files, folders and program paths over the wide Win32 file functions.
#include "platform/files.h"

#include <memory>
#include <vector>

#include "platform/backend.h"
#include "platform/win32/win32_common.h"

namespace dactyra::platform {
namespace {

using internal::FromWide;
using internal::OwnedHandle;
using internal::Wide;

bool IsDelimiter(char16_t c) { return c == u'\\' || c == u'/'; }

Text WithDelimiter(const Text& folder) {
  if (folder.empty()) return u".\\";
  return IsDelimiter(folder.back()) ? folder : folder + u'\\';
}

DWORD Attributes(const Text& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(Wide(path));
}

struct FindCloser {
  void operator()(HANDLE h) const { FindClose(h); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

// Calls `each` for every entry FindFirstFileEx gives for `pattern` (short
// 8.3 names are not asked for, so they match nothing).
template <typename Each>
void Find(const Text& pattern, Each each) {
  WIN32_FIND_DATAW data;
  HANDLE first = FindFirstFileExW(Wide(pattern), FindExInfoBasic, &data, FindExSearchNameMatch,
                                  nullptr, 0);
  if (first == INVALID_HANDLE_VALUE) return;
  FindHandle find(first);
  do {
    each(data);
  } while (FindNextFileW(find.get(), &data));
}

// A growing buffer for the calls that answer with the length they need.
template <typename Call>
Text GrowingCall(Call call) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return Text();
    if (length < buffer.size()) return FromWide(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
    if (buffer.size() > 32768 * 2) return Text();
  }
}

}  // namespace

char16_t PathDelimiter() { return u'\\'; }

std::vector<Text> ListFiles(const Text& folder, const Text& mask) {
  std::vector<Text> names;
  if (mask.empty() || mask.find_first_of(u"\\/") != Text::npos) return names;
  constexpr DWORD kNotOrdinary =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE;
  Find(WithDelimiter(folder) + mask, [&](const WIN32_FIND_DATAW& data) {
    if ((data.dwFileAttributes & kNotOrdinary) == 0) names.push_back(FromWide(data.cFileName));
  });
  return names;
}

std::vector<FolderEntry> ListFolder(const Text& folder) {
  std::vector<FolderEntry> entries;
  Find(WithDelimiter(folder) + u'*', [&](const WIN32_FIND_DATAW& data) {
    const Text name = FromWide(data.cFileName);
    if (name == u"." || name == u"..") return;
    entries.push_back({name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  });
  return entries;
}

bool FileExists(const Text& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const Text& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSymbolicLink(const Text& path) {
  // Links and junctions are reparse points; the attributes are those of
  // the entry itself.
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool CreateFolders(const Text& path) {
  if (path.empty() || path.find(u'\0') != Text::npos) return false;
  const Text full = FullPath(path);
  if (full.empty()) return false;
  // Each prefix ending before a delimiter, then the whole path; a drive or
  // share root is never made.
  for (size_t i = 1; i <= full.size(); ++i) {
    if (i < full.size() && !IsDelimiter(full[i])) continue;
    if (IsDelimiter(full[i - 1]) || full[i - 1] == u':') continue;
    const Text part = full.substr(0, i);
    if (!CreateDirectoryW(Wide(part), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
        !FolderExists(part)) {
      // Parts of a share name cannot be made but exist all the same.
      if (i < full.size()) continue;
      return false;
    }
  }
  return FolderExists(path);
}

bool DeleteFile(const Text& path) { return !path.empty() && DeleteFileW(Wide(path)); }

bool RemoveFolder(const Text& path) { return !path.empty() && RemoveDirectoryW(Wide(path)); }

std::optional<std::string> ReadFileBytes(const Text& path) {
  if (path.empty()) return std::nullopt;
  OwnedHandle file(CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

bool WriteFileBytes(const Text& path, std::string_view bytes) {
  const size_t cut = path.find_last_of(u"\\/");
  Text folder = cut == Text::npos ? Text(u".") : path.substr(0, cut + 1);
  // "C:\" keeps its delimiter; "C:\logs\" names the folder "C:\logs".
  if (folder.size() > 3 && IsDelimiter(folder.back())) folder.pop_back();
  const Text name = cut == Text::npos ? path : path.substr(cut + 1);
    const std::unique_ptr<Folder> holder = OpenFolder(folder, nullptr);
  return holder && holder->WriteFile(name, bytes);
}

Text ExecutablePath() {
  return GrowingCall([](wchar_t* buffer, DWORD size) {
    return GetModuleFileNameW(nullptr, buffer, size);
  });
}

Text ModuleFileNameOf(const void* address) {
  if (!address) return Text();
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<const wchar_t*>(address), &module)) {
    return Text();
  }
  return GrowingCall([module](wchar_t* buffer, DWORD size) {
    return GetModuleFileNameW(module, buffer, size);
  });
}

Text CurrentFolder() {
  Text folder = GrowingCall([](wchar_t* buffer, DWORD size) {
    const DWORD length = GetCurrentDirectoryW(size, buffer);
    // Too small a buffer answers the size needed, terminator included.
    return length >= size ? length + size : length;
  });
  // "C:\" keeps its delimiter; other folders have none at the end.
  if (folder.size() > 3 && IsDelimiter(folder.back())) folder.pop_back();
  return folder;
}

Text FullPath(const Text& path) {
  if (path.find(u'\0') != Text::npos) return Text();
  const Text asked = path.empty() ? Text(u".") : path;
  return GrowingCall([&](wchar_t* buffer, DWORD size) {
    const DWORD length = GetFullPathNameW(Wide(asked), size, buffer, nullptr);
    return length >= size ? length + size : length;
  });
}

}  // namespace dactyra::platform
