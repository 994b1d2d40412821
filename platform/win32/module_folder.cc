// Whether a folder is safe to load modules from, judged by the owners and
// DACLs of the folder and each parent: nobody but this user, the
// administrators, the system and the installer may own them, put a file in
// the folder, or put another folder in its place.

#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/win32/win32_common.h"
// These need windows.h (win32_common.h) before them.
#include <aclapi.h>
#include <sddl.h>

namespace dactyra::platform {
namespace {

using internal::FinalPath;
using internal::FromWide;
using internal::OwnedHandle;
using internal::Wide;

bool IsDelimiter(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsAbsolute(const Text& path) {
  const bool drive = path.size() >= 3 && ((path[0] >= u'A' && path[0] <= u'Z') ||
                                          (path[0] >= u'a' && path[0] <= u'z')) &&
                     path[1] == u':' && IsDelimiter(path[2]);
  const bool share = path.size() >= 3 && IsDelimiter(path[0]) && IsDelimiter(path[1]);
  return drive || share;
}

// Rights that let a user put files in a folder or change who may.
constexpr DWORD kWritesInto = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                              WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a parent that let a user rename or replace what is in it, or
// change who may (adding a folder of one's own beside ours is harmless, as
// a sticky folder's is on POSIX).
constexpr DWORD kReplacesChildren =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The users whose hands on a module folder are this user's own: the user,
// the administrators, the system and the installer service.
class Trusted {
 public:
  Trusted() {
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      OwnedHandle owned(token);
      DWORD size = 0;
      GetTokenInformation(token, TokenUser, nullptr, 0, &size);
      user_.resize(size);
      if (size == 0 || !GetTokenInformation(token, TokenUser, user_.data(), size, &size)) {
        user_.clear();
      }
    }
    for (const wchar_t* sid : {L"S-1-5-32-544", L"S-1-5-18",
                               L"S-1-5-80-956008885-3425912629-2451893540-2711234290-2270853298"}) {
      PSID made = nullptr;
      if (ConvertStringSidToSidW(sid, &made)) others_.emplace_back(made);
    }
  }

  bool Contains(PSID sid) const {
    if (!sid || !IsValidSid(sid)) return false;
    if (!user_.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid)) {
      return true;
    }
    for (const auto& other : others_) {
      if (EqualSid(sid, other.get())) return true;
    }
    return false;
  }

 private:
  std::string user_;
  std::vector<std::unique_ptr<void, LocalFreer>> others_;
};

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return "(unknown)";
  std::string result = ToUtf8(FromWide(text));
  LocalFree(text);
  return result;
}


OwnedHandle OpenFolderHandle(const Text& path, DWORD access) {
  return OwnedHandle(CreateFileW(Wide(path), access,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Why the owner or DACL of the folder at `at` let another user in; empty
// when they do not.
std::string Examine(const Text& at, DWORD forbidden, const Trusted& trusted) {
  OwnedHandle handle = OpenFolderHandle(at, READ_CONTROL);
  if (!handle.valid()) return "cannot be examined (" + ToUtf8(internal::SystemMessage(GetLastError())) + ")";
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status =
      GetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) {
    return "cannot be examined (" + ToUtf8(internal::SystemMessage(status)) + ")";
  }
  const std::unique_ptr<void, LocalFreer> held(descriptor);
  if (!trusted.Contains(owner)) return "belongs to user " + SidText(owner);
  // No DACL at all lets everybody do everything.
  if (!dacl) return "has no access list: any user may write in it";
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    // An entry only inherited by what is made inside applies to nothing
    // here; denials only take rights away.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
      continue;
    }
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & forbidden) != 0 && !trusted.Contains(sid)) {
      char mask[16];
      std::snprintf(mask, sizeof mask, "0x%08lX", allowed->Mask);
      return "may be written by user " + SidText(sid) + " (rights " + mask + ")";
    }
  }
  return std::string();
}

}  // namespace

bool CheckModuleFolder(const Text& folder, Text* reason) {
  const std::string given = ToUtf8(folder);
  auto refuse = [&](const std::string& why) {
    if (reason) *reason = FromUtf8(why);
    return false;
  };
  if (!IsAbsolute(folder) || folder.find(u'\0') != Text::npos) {
    return refuse("\"" + given + "\" is not an absolute path");
  }
  // The folder as the loader will reach it, links resolved: the rules hold
  // for what is really there.
  OwnedHandle handle = OpenFolderHandle(folder, FILE_READ_ATTRIBUTES);
  if (!handle.valid()) {
    return refuse("the folder " + given + " cannot be reached (" +
                  ToUtf8(internal::SystemMessage(GetLastError())) + ")");
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.get(), &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return refuse(given + " is not a folder");
  }
  Text real = FinalPath(handle.get());
  if (real.empty()) real = FullPath(folder);
  while (real.size() > 1 && IsDelimiter(real.back())) real.pop_back();
  handle.Reset();
  const Trusted trusted;
  // The folder itself, then each parent up to the root of its volume.
  for (Text at = real;;) {
    const bool is_given = at == real;
    const size_t cut = at.find_last_of(u"\\/");
    // A volume's root ("\\?\C:", "C:") is examined with its delimiter.
    const bool is_root = cut == Text::npos || at.back() == u':' ||
                         (cut > 0 && at.substr(0, cut).find_first_not_of(u"\\?.") == Text::npos);
    const Text examined = is_root ? at + u'\\' : at;
    const std::string problem =
        Examine(examined, is_given ? kWritesInto : kReplacesChildren, trusted);
    if (!problem.empty()) {
      return refuse((is_given ? "the folder " + given : "its parent " + ToUtf8(examined)) + " " +
                    problem);
    }
    if (is_root) return true;
    at = at.substr(0, cut);
  }
}

}  // namespace dactyra::platform
