// The Win32 back end's shared pieces (win32_common.h).
#include "platform/win32/win32_common.h"

namespace dactyra::platform {

namespace internal {

Text SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) {
    return u"system error " + FromUtf8(std::to_string(code));
  }
  Text message = FromWide(buffer, length);
  LocalFree(buffer);
  while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' ||
                              message.back() == u' ')) {
    message.pop_back();
  }
  return message;
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<const wchar_t*>(&ThisModule), &module);
  return module;
}

Text FinalPath(HANDLE handle) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int round = 0; round < 2; ++round) {
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(),
                                                   static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return Text();
    if (length < buffer.size()) return FromWide(buffer.data(), length);
    buffer.resize(length + 1);
  }
  return Text();
}

}  // namespace internal

Text IoErrorMessage(uint32_t code) { return internal::SystemMessage(code); }

}  // namespace dactyra::platform
