// The registry, read through the Win32 registry functions. The
// "Environment" keys are the real ones, as everything else.
#include "platform/registry.h"

#include <vector>

#include "platform/win32/win32_common.h"

namespace dactyra::platform {

struct RegistryKey::Impl {
  HKEY key = nullptr;
  ~Impl() {
    if (key) RegCloseKey(key);
  }
};

RegistryKey::RegistryKey() = default;
RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryKey::~RegistryKey() = default;

std::unique_ptr<RegistryKey> RegistryKey::Open(RegistryRoot root, const Text& path) {
  TextView rest = path;
  if (!rest.empty() && rest.front() == u'\\') rest.remove_prefix(1);
  const Text subkey(rest);
  if (subkey.find(u'\0') != Text::npos) return nullptr;
  auto impl = std::make_unique<Impl>();
  const HKEY base = root == RegistryRoot::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  if (RegOpenKeyExW(base, internal::Wide(subkey), 0, KEY_QUERY_VALUE, &impl->key) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl)));
}

std::optional<uint32_t> RegistryKey::ReadInteger(const Text& name) const {
  if (!impl_ || name.find(u'\0') != Text::npos) return std::nullopt;
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExW(impl_->key, internal::Wide(name), nullptr, &type,
                       reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    return std::nullopt;
  }
  return value;
}

std::optional<Text> RegistryKey::ReadText(const Text& name) const {
  if (!impl_ || name.find(u'\0') != Text::npos) return std::nullopt;
  // The value may change between asking its size and reading it: ask
  // again while it grows.
  std::vector<BYTE> data(256);
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS status =
        RegQueryValueExW(impl_->key, internal::Wide(name), nullptr, &type, data.data(), &size);
    if (status == ERROR_MORE_DATA) {
      data.resize(size + sizeof(wchar_t));
      continue;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    // Stored texts need not end with a NUL; one that does ends there.
    Text text = internal::FromWide(reinterpret_cast<const wchar_t*>(data.data()),
                                   size / sizeof(wchar_t));
    if (const size_t nul = text.find(u'\0'); nul != Text::npos) text.resize(nul);
    return text;
  }
  return std::nullopt;
}

}  // namespace dactyra::platform
