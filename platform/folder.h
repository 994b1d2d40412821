// A folder held open, for code that must not be led outside it (the image
// log deletes old days and writes fingerprint images). Every operation names
// one entry of this very folder, a name and never a path, and none follows
// a symbolic link: a name that another user swaps for a link between two
// calls redirects nothing, because the link is an entry like any other,
// deleted itself or refused. Made by Env::OpenFolder.
//
// Operations on one object may come from several threads at once.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace dactyra::platform {

class Folder {
 public:
  enum class EntryKind { kFile, kFolder, kLink, kOther };
  struct Entry {
    Text name;
    EntryKind kind = EntryKind::kOther;
  };

  virtual ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Every entry but "." and "..", each of its own kind: a link is kLink
  // whatever it leads to. Empty when the folder cannot be read.
  virtual std::vector<Entry> List() = 0;
  // The sub-folder `name`, made first when it is missing and `create` says
  // so (only this user may enter a folder made here). Null when `name` is a
  // link, is not a folder or cannot be made, with why in `error`.
  virtual std::unique_ptr<Folder> OpenFolder(const Text& name, bool create,
                                             Text* error = nullptr) = 0;
  // Deletes the entry `name` when it is a file or a link (the link itself,
  // never what it leads to); never a folder.
  virtual bool DeleteFile(const Text& name) = 0;
  // Removes the sub-folder `name` when it is empty; never through a link.
  virtual bool RemoveFolder(const Text& name) = 0;
  // Makes `bytes` the content of the file `name`, which only this user may
  // read. The bytes go to a new file in this folder first, renamed over
  // `name` once all of them are on the disk: a reader sees the old file or
  // the whole new one, and a failed write (a full disk) leaves `name` as it
  // was and nothing behind. A link at `name` is replaced, never written
  // through.
  virtual bool WriteFile(const Text& name, std::string_view bytes) = 0;

  // Whether `name` names one entry: not empty, not "." or "..", no path
  // delimiter, no NUL.
  static bool IsEntryName(TextView name);

 protected:
  Folder() = default;
};

}  // namespace dactyra::platform
