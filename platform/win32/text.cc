// The "ANSI code page" of Windows: the system's active code page (CP_ACP).
// Characters it cannot hold become '?', as WideCharToMultiByte gives them.
#include "platform/text.h"

#include "platform/win32/win32_common.h"

namespace dactyra::platform {

std::string ToAnsi(TextView text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string(text.size(), '?');
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), needed, nullptr, nullptr);
  return out;
}

Text FromAnsi(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return Text(bytes.size(), u'\uFFFD');
  std::wstring out(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, out.data(), needed);
  return internal::FromWide(out.data(), out.size());
}

}  // namespace dactyra::platform
