#include "platform/folder.h"

namespace dactyra::platform {

Folder::~Folder() = default;

bool Folder::IsEntryName(TextView name) {
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(TextView(u"/\\\0", 3)) == TextView::npos;
}

}  // namespace dactyra::platform
