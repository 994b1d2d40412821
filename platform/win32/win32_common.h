// Pieces every file of the Win32 back end uses: the library's UTF-16 text
// as the wide strings of the W functions, owned handles, and the system's
// message for an error number.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The platform's own functions of these names are meant, not the macros
// that stand for the A and W forms.
#undef DeleteFile
#undef WaitNamedPipe

#include <string>
#include <utility>

#include "platform/io_error.h"
#include "platform/text.h"

namespace dactyra::platform::internal {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

// The text as a NUL-terminated wide string, valid while `text` lives. A
// text holding a NUL would name something else to the system, so it
// becomes "", which every call refuses.
inline const wchar_t* Wide(const Text& text) {
  if (text.find(u'\0') != Text::npos) return L"";
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline Text FromWide(const wchar_t* text, size_t length) {
  return Text(reinterpret_cast<const char16_t*>(text), length);
}
inline Text FromWide(const wchar_t* text) { return FromWide(text, wcslen(text)); }

// The system's message for a Win32 error number, in the user's language,
// without the line break FormatMessage ends it with.
Text SystemMessage(DWORD code);

// The path the system resolved for an open handle; empty when it cannot
// tell.
Text FinalPath(HANDLE handle);

// An I/O error from a Win32 error number.
inline IoError MakeIoError(DWORD code) { return IoError{code, SystemMessage(code)}; }
inline IoError LastIoError() { return MakeIoError(GetLastError()); }

// A kernel handle, closed with its owner. Both null and
// INVALID_HANDLE_VALUE count as none.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() { return std::exchange(handle_, nullptr); }
  void Reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// The module (DLL or program) this code is linked into: what window
// classes are registered for.
HMODULE ThisModule();

}  // namespace dactyra::platform::internal
