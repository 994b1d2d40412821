// What the library stand-ins share around their configuration: the name a
// copy of the file goes by, the configuration's text, a call log of one line
// per event, and the one way a bad configuration ends.
#pragma once

#include <string>
#include <string_view>

#include "sim/config/key_values.h"

namespace dactyra::sim::config {

// The file name, without folder and extension, of the loaded file that holds
// `address` ("vxr_test" for .../vxr_test.so): copies of one build loaded
// under several names tell themselves apart by it. "" when the loader cannot
// tell.
std::string OwnStem(const void* address);

// The folder part of `path` ("." when it has none).
std::string FolderOf(const std::string& path);

// The text of the file at `path`; "" for an empty path or a missing file (a
// stand-in without a configuration runs on its defaults).
std::string ReadConfigText(const std::string& path);

// Appends `line` and a line end to the file at `path` in one write, so that
// lines stay whole across threads and processes; an empty path logs nothing.
void AppendLine(const std::string& path, const std::string& line);

// A stand-in whose configuration is wrong cannot do what its test expects
// of it: it says why on standard error, after `who`, and ends the process.
[[noreturn]] void Fail(std::string_view who, const ConfigError& error);

// The file at `path`, without sections, applied to `target` by `keys`;
// fails the process on any error.
template <typename Target>
void LoadFlat(const std::string& path, const KeyTable<Target>& keys, std::string_view who,
              Target& target) {
  try {
    keys.Apply(target, ParseEntries(ReadConfigText(path), path), path);
  } catch (const ConfigError& error) {
    Fail(who, error);
  }
}

}  // namespace dactyra::sim::config
