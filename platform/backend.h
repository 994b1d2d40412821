// The back end's own entry points for the services of platform::Env: what
// Env::Default() forwards to. Only platform/ includes this header (the
// layering check refuses it elsewhere); every other folder reaches these
// services through the Env it was given, so that a test can make them fail.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/files.h"
#include "platform/folder.h"
#include "platform/text.h"

namespace dactyra::platform {

// Names (not paths) of the ordinary files in `folder` whose names match
// `mask` ('*' any run, '?' any one character), letter case ignored as on
// Windows; "*.*" matches every name. Only ordinary files are listed (links
// are followed): folders, devices and hidden files (names beginning with
// '.') are left out. A missing folder gives an empty list. Order is
// unspecified.
std::vector<Text> ListFiles(const Text& folder, const Text& mask);

// Every entry of `folder` but "." and "..". A missing folder gives an empty
// list.
std::vector<FolderEntry> ListFolder(const Text& folder);

bool FileExists(const Text& path);
bool FolderExists(const Text& path);
// The entry `path` itself is a symbolic link (not followed; a dangling
// link counts).
bool IsSymbolicLink(const Text& path);

// Creates `path` and every missing parent, each one for this user only.
// True when the folder exists afterwards.
bool CreateFolders(const Text& path);
bool DeleteFile(const Text& path);
// Removes an empty folder.
bool RemoveFolder(const Text& path);

// Whole-file reads and writes. A write replaces the file as
// Folder::WriteFile does, in the folder `path` names.
std::optional<std::string> ReadFileBytes(const Text& path);
bool WriteFileBytes(const Text& path, std::string_view bytes);

// An existing folder, held open (platform/folder.h).
std::unique_ptr<Folder> OpenFolder(const Text& path, Text* error);

// Whether modules may be loaded from `folder` (Env::CheckModuleFolder).
bool CheckModuleFolder(const Text& folder, Text* reason);

// Full path of the running program's executable (for a Java program, the
// Java launcher). Empty when the system cannot tell.
Text ExecutablePath();

// File name of the module (executable or shared library) that contains
// `address`; empty when none does.
Text ModuleFileNameOf(const void* address);

// The current folder, as a full path without trailing delimiter.
Text CurrentFolder();

// Sleep(kInfinite) never returns.
void Sleep(uint32_t ms);

// Milliseconds since an arbitrary start, wrapping at 2^32 like
// GetTickCount. Compare tick counts by unsigned difference.
uint32_t TickCount();

// The local date and time now.
LocalTime LocalNow();

}  // namespace dactyra::platform
