// Folders named by the path the system resolved when each was opened (links
// in the given path followed then, once);
// every entry below it is opened with FILE_FLAG_OPEN_REPARSE_POINT and
// examined through that handle, so a link or junction planted at a name is
// an entry of its own, deleted itself or refused, and never followed.
// Deletions go through the opened handle (its delete disposition), so they
// remove exactly the entry that was examined. Files and folders made here
// carry a DACL for this user (and the system) alone.
#include "platform/folder.h"


#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>

#include "platform/backend.h"
#include "platform/win32/win32_common.h"
// These need windows.h (win32_common.h) before them.
#include <sddl.h>

namespace dactyra::platform {

namespace {

using internal::FinalPath;
using internal::FromWide;
using internal::OwnedHandle;
using internal::Wide;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A security descriptor that lets this user and the system in, nobody else,
// and that children inherit; made once. Null when the system cannot make
// one (the object then gets the folder's inherited rights).
SECURITY_ATTRIBUTES* ThisUserOnly() {
  static SECURITY_ATTRIBUTES* const attributes = []() -> SECURITY_ATTRIBUTES* {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    OwnedHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
      return nullptr;
    }
    wchar_t* sid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
      return nullptr;
    }
    const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")(A;OICI;FA;;;SY)";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
      return nullptr;
    }
    // Kept for the life of the process.
    return new SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  }();
  return attributes;
}

// A suffix no other writer picks: the temporary file is made exclusively,
// and a clash is tried again with another.
Text TemporarySuffix() {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  char text[48];
  std::snprintf(text, sizeof text, ".%lu-%llx-%llx.part", GetCurrentProcessId(),
                static_cast<unsigned long long>(counter.fetch_add(1)),
                static_cast<unsigned long long>(random() & 0xFFFFFF));
  return FromUtf8(text);
}

// The entry at `path` itself (a link is not followed), with `access`.
OwnedHandle OpenEntry(const Text& path, DWORD access) {
  return OwnedHandle(CreateFileW(Wide(path), access, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
}

DWORD AttributesOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                  : INVALID_FILE_ATTRIBUTES;
}

// Deletes the entry behind `handle` (opened with DELETE access): that very
// entry, whatever its name leads to by then. Its name goes at once where
// the system allows (the POSIX semantics of Windows 10 and Wine), as it
// does on POSIX; otherwise when the last handle to it closes.
bool MarkDeleted(HANDLE handle) {
  // FileDispositionInfoEx and its flags (Windows 10), which the headers
  // declare only for builds that need that version.
  constexpr auto kDispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
  constexpr DWORD kDeleteNow = 0x1 | 0x2;  // DELETE | POSIX_SEMANTICS
  DWORD now = kDeleteNow;
  if (SetFileInformationByHandle(handle, kDispositionEx, &now, sizeof now)) return true;
  const DWORD failure = GetLastError();
  if (failure != ERROR_INVALID_PARAMETER && failure != ERROR_NOT_SUPPORTED &&
      failure != ERROR_INVALID_FUNCTION) {
    return false;
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition);
}

// One entry of the folder: a name that "file:stream" would make a stream
// of another file is none.
bool IsName(const Text& name) {
  return Folder::IsEntryName(name) && name.find(u':') == Text::npos;
}

class Win32Folder final : public Folder {
 public:
  explicit Win32Folder(Text path) : path_(std::move(path)) {}

  std::vector<Entry> List() override {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(Wide(path_ + u"\\*"), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
      const Text name = FromWide(data.cFileName);
      if (name == u"." || name == u"..") continue;
      const DWORD a = data.dwFileAttributes;
      const EntryKind kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::kLink
                             : (a & FILE_ATTRIBUTE_DIRECTORY)   ? EntryKind::kFolder
                             : (a & FILE_ATTRIBUTE_DEVICE)      ? EntryKind::kOther
                                                                : EntryKind::kFile;
      entries.push_back({name, kind});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return entries;
  }

  std::unique_ptr<Folder> OpenFolder(const Text& name, bool create, Text* error) override {
    if (!IsName(name)) return Refuse(error, u"\"" + name + u"\" is no folder name");
    const Text path = Child(name);
    if (create && !CreateDirectoryW(Wide(path), ThisUserOnly()) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return Refuse(error, internal::SystemMessage(GetLastError()));
    }
    OwnedHandle sub = OpenEntry(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    if (!sub.valid()) return Refuse(error, internal::SystemMessage(GetLastError()));
    const DWORD a = AttributesOf(sub.get());
    if (a == INVALID_FILE_ATTRIBUTES) return Refuse(error, internal::SystemMessage(GetLastError()));
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
      return Refuse(error, u"\"" + name + u"\" is a symbolic link");
    }
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return Refuse(error, u"\"" + name + u"\" is not a folder");
    return std::make_unique<Win32Folder>(path);
  }

  bool DeleteFile(const Text& name) override {
    if (!IsName(name)) return false;
    OwnedHandle entry = OpenEntry(Child(name), DELETE | FILE_READ_ATTRIBUTES);
    if (!entry.valid()) return false;
    const DWORD a = AttributesOf(entry.get());
    // A folder is never deleted here; a link to one is.
    if (a == INVALID_FILE_ATTRIBUTES ||
        ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT))) {
      return false;
    }
    return MarkDeleted(entry.get());
  }

  bool RemoveFolder(const Text& name) override {
    if (!IsName(name)) return false;
    OwnedHandle entry = OpenEntry(Child(name), DELETE | FILE_READ_ATTRIBUTES);
    if (!entry.valid()) return false;
    const DWORD a = AttributesOf(entry.get());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) ||
        (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return false;
    }
    // Refused by the system while the folder holds anything.
    return MarkDeleted(entry.get());
  }

  bool WriteFile(const Text& name, std::string_view bytes) override {
    if (!IsName(name)) return false;
    const Text final_path = Child(name);
    Text temporary;
    OwnedHandle file;
    for (int attempt = 0; attempt < 16 && !file.valid(); ++attempt) {
      temporary = final_path + TemporarySuffix();
      // CREATE_NEW fails on any entry of that name, a link included.
      file.Reset(CreateFileW(Wide(temporary), GENERIC_WRITE | DELETE, 0, ThisUserOnly(),
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr));
      if (!file.valid() && GetLastError() != ERROR_FILE_EXISTS &&
          GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
      }
    }
    if (!file.valid()) return false;
    size_t done = 0;
    bool written = true;
    while (written && done < bytes.size()) {
      const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
      DWORD put = 0;
      written = ::WriteFile(file.get(), bytes.data() + done, piece, &put, nullptr) && put > 0;
      done += put;
    }
    // On the disk before the name moves to it, so that a crash leaves the
    // old file or the new one, never an empty one under the name.
    written = written && FlushFileBuffers(file.get());
    if (!written) {
      MarkDeleted(file.get());
      return false;
    }
    file.Reset();
    // The rename replaces whatever entry holds the name (a link itself, not
    // what it leads to) and refuses a folder.
    if (MoveFileExW(Wide(temporary), Wide(final_path),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    DeleteFileW(Wide(temporary));
    return false;
  }

 private:
  static std::unique_ptr<Folder> Refuse(Text* error, Text why) {
    if (error) *error = std::move(why);
    return nullptr;
  }

  Text Child(const Text& name) const { return path_ + u'\\' + name; }

  // The folder is named by the path the system resolved for it, and no
  // handle is kept: Windows keeps the name of a folder removed while a
  // handle to it is open until that handle closes, where callers expect a
  // removed folder gone (a sub-folder object outliving its removal).
  const Text path_;
};


}  // namespace

std::unique_ptr<Folder> OpenFolder(const Text& path, Text* error) {
  if (path.empty() || path.find(u'\0') != Text::npos) {
    if (error) *error = u"invalid folder name";
    return nullptr;
  }
  // The given path may lead through links: followed here, once.
  OwnedHandle handle(CreateFileW(Wide(path), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                 kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr));
  if (!handle.valid()) {
    if (error) *error = internal::SystemMessage(GetLastError());
    return nullptr;
  }
  const DWORD a = AttributesOf(handle.get());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
    if (error) *error = u"\"" + path + u"\" is not a folder";
    return nullptr;
  }
  Text resolved = FinalPath(handle.get());
  if (resolved.empty()) resolved = FullPath(path);
  while (resolved.size() > 1 && (resolved.back() == u'\\' || resolved.back() == u'/')) {
    resolved.pop_back();
  }
  return std::make_unique<Win32Folder>(std::move(resolved));
}

}  // namespace dactyra::platform
