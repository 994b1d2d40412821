// The registry as a file-backed store (see registry.h for its layout).
//
// Key and value names ignore letter case, as in the Windows registry: each
// segment of a key path is looked up among the folder's entries.
#include "platform/registry.h"

#include <cstdlib>
#include <vector>

#include "platform/backend.h"
#include "platform/registry_values.h"

extern char** environ;

namespace dactyra::platform {
namespace {

constexpr TextView kUserEnvironment = u"Environment";
constexpr TextView kMachineEnvironment =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Empty when there is none. A relative folder would be a different store
// in every current folder, so it is none: keys do not open.
Text StoreFolder() {
  if (const char* override = std::getenv("DACTYRA_REGISTRY"); override && *override) {
    return *override == '/' ? FromUtf8(override) : Text();
  }
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
    return FromUtf8(config) + u"/dactyra/registry";
  }
  if (const char* home = std::getenv("HOME"); home && *home == '/') {
    return FromUtf8(home) + u"/.config/dactyra/registry";
  }
  return Text();
}

TextView RootFolderName(RegistryRoot root) {
  return root == RegistryRoot::kCurrentUser ? u"HKEY_CURRENT_USER" : u"HKEY_LOCAL_MACHINE";
}

// The entry of `folder` named `name` ignoring letter case; an exact match
// wins over others.
std::optional<Text> FindFolder(const Text& folder, TextView name) {
  std::optional<Text> found;
  for (const FolderEntry& entry : ListFolder(folder)) {
    if (!entry.is_folder) continue;
    if (entry.name == name) return entry.name;
    if (!found && SameTextNoCase(entry.name, name)) found = entry.name;
  }
  return found;
}

// The key path split at backslashes; empty when a segment is empty or could
// leave the store ("." and ".." or a slash).
std::optional<std::vector<Text>> SplitKeyPath(TextView path) {
  if (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  std::vector<Text> segments;
  if (path.empty()) return segments;
  while (true) {
    const size_t cut = path.find(u'\\');
    const TextView segment = path.substr(0, cut);
    if (segment.empty() || segment == u"." || segment == u".." ||
        segment.find(u'/') != TextView::npos || segment.find(u'\0') != TextView::npos) {
      return std::nullopt;
    }
    segments.emplace_back(segment);
    if (cut == TextView::npos) return segments;
    path.remove_prefix(cut + 1);
  }
}

bool IsEnvironmentKey(RegistryRoot root, TextView path) {
  if (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  return SameTextNoCase(
      path, root == RegistryRoot::kCurrentUser ? kUserEnvironment : kMachineEnvironment);
}

// The value `name` in the "values" file of `folder`.
std::optional<RegistryValue> ReadValue(const Text& folder, const Text& name) {
  const std::optional<std::string> bytes = ReadFileBytes(folder + u"/values");
  if (!bytes) return std::nullopt;
  return FindRegistryValue(*bytes, name);
}

// The environment variable `name`; an exact match wins, otherwise letter
// case is ignored as Windows does for environment names.
std::optional<Text> ReadEnvironment(const Text& name) {
  if (name.empty() || name.find(u'=') != Text::npos) return std::nullopt;
  const std::string key = ToUtf8(name);
  if (const char* value = std::getenv(key.c_str())) return FromUtf8(value);
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view line = *entry;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameTextNoCase(FromUtf8(line.substr(0, equals)), name)) {
      return FromUtf8(line.substr(equals + 1));
    }
  }
  return std::nullopt;
}

}  // namespace

struct RegistryKey::Impl {
  bool environment = false;
  Text folder;
};

RegistryKey::RegistryKey() = default;
RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryKey::~RegistryKey() = default;

std::unique_ptr<RegistryKey> RegistryKey::Open(RegistryRoot root, const Text& path) {
  auto impl = std::make_unique<Impl>();
  if (IsEnvironmentKey(root, path)) {
    impl->environment = true;
    return std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl)));
  }
  const std::optional<std::vector<Text>> segments = SplitKeyPath(path);
  const Text store = StoreFolder();
  if (!segments || store.empty()) return nullptr;
  Text folder = store;
  std::optional<Text> next = FindFolder(folder, RootFolderName(root));
  if (!next) return nullptr;
  folder += u'/' + *next;
  for (const Text& segment : *segments) {
    next = FindFolder(folder, segment);
    if (!next) return nullptr;
    folder += u'/' + *next;
  }
  impl->folder = std::move(folder);
  return std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl)));
}

std::optional<uint32_t> RegistryKey::ReadInteger(const Text& name) const {
  if (impl_->environment) return std::nullopt;
  const std::optional<RegistryValue> value = ReadValue(impl_->folder, name);
  if (!value || value->type != RegistryValue::Type::kInteger) return std::nullopt;
  return value->integer;
}

std::optional<Text> RegistryKey::ReadText(const Text& name) const {
  if (impl_->environment) return ReadEnvironment(name);
  std::optional<RegistryValue> value = ReadValue(impl_->folder, name);
  if (!value || value->type != RegistryValue::Type::kText) return std::nullopt;
  return std::move(value->text);
}

}  // namespace dactyra::platform
