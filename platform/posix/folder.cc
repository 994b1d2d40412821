// Folders held open by descriptor: every step is openat, fstatat, mkdirat,
// unlinkat or renameat relative to it, none of them following a link.
#include "platform/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

#include "platform/backend.h"
#include "platform/posix/io_common.h"
#include "platform/posix/system_message.h"

namespace dactyra::platform {

namespace {

using internal::OwnedFd;

// A suffix no other writer picks: a temporary file is made exclusively,
// and a clash is tried again with another.
std::string TemporarySuffix() {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  char text[40];
  std::snprintf(text, sizeof text, ".%d-%llx-%llx.part", static_cast<int>(getpid()),
                static_cast<unsigned long long>(counter.fetch_add(1)),
                static_cast<unsigned long long>(random() & 0xFFFFFF));
  return text;
}

class PosixFolder final : public Folder {
 public:
  explicit PosixFolder(OwnedFd fd) : fd_(std::move(fd)) {}

  std::vector<Entry> List() override {
    std::vector<Entry> entries;
    // The listing gets a descriptor of its own: reading moves its offset.
    const int copy = openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) return entries;
    DIR* dir = fdopendir(copy);
    if (!dir) {
      close(copy);
      return entries;
    }
    while (const dirent* e = readdir(dir)) {
      const std::string_view n = e->d_name;
      if (n == "." || n == "..") continue;
      struct stat st;
      EntryKind kind = EntryKind::kOther;
      if (fstatat(fd_.get(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        kind = S_ISLNK(st.st_mode)   ? EntryKind::kLink
               : S_ISDIR(st.st_mode) ? EntryKind::kFolder
               : S_ISREG(st.st_mode) ? EntryKind::kFile
                                     : EntryKind::kOther;
      }
      entries.push_back({FromUtf8(n), kind});
    }
    closedir(dir);
    return entries;
  }

  std::unique_ptr<Folder> OpenFolder(const Text& name, bool create, Text* error) override {
    if (!IsEntryName(name)) return Refuse(error, u"\"" + name + u"\" is no folder name");
    const std::string n = ToUtf8(name);
    if (create && mkdirat(fd_.get(), n.c_str(), 0700) != 0 && errno != EEXIST) {
      return Refuse(error, internal::SystemMessage(errno));
    }
    OwnedFd sub(openat(fd_.get(), n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (sub.get() < 0) {
      const int failure = errno;
      // A link meets O_NOFOLLOW with ELOOP, or with ENOTDIR beside
      // O_DIRECTORY: say which it was.
      struct stat st;
      if ((failure == ELOOP || failure == ENOTDIR) &&
          fstatat(fd_.get(), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return Refuse(error, u"\"" + name +
                                 (S_ISLNK(st.st_mode) ? u"\" is a symbolic link"
                                                      : u"\" is not a folder"));
      }
      return Refuse(error, internal::SystemMessage(failure));
    }
    return std::make_unique<PosixFolder>(std::move(sub));
  }

  bool DeleteFile(const Text& name) override {
    return IsEntryName(name) && unlinkat(fd_.get(), ToUtf8(name).c_str(), 0) == 0;
  }

  bool RemoveFolder(const Text& name) override {
    return IsEntryName(name) && unlinkat(fd_.get(), ToUtf8(name).c_str(), AT_REMOVEDIR) == 0;
  }

  bool WriteFile(const Text& name, std::string_view bytes) override {
    if (!IsEntryName(name)) return false;
    const std::string final_name = ToUtf8(name);
    std::string temporary;
    OwnedFd file;
    for (int attempt = 0; attempt < 16 && file.get() < 0; ++attempt) {
      temporary = final_name + TemporarySuffix();
      file = OwnedFd(openat(fd_.get(), temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (file.get() < 0 && errno != EEXIST) return false;
    }
    if (file.get() < 0) return false;
    size_t done = 0;
    bool written = true;
    while (done < bytes.size()) {
      const ssize_t put = write(file.get(), bytes.data() + done, bytes.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        written = false;
        break;
      }
      done += static_cast<size_t>(put);
    }
    // On the disk before the name moves to it, so that a crash leaves the
    // old file or the new one, never an empty one under the name.
    written = written && fsync(file.get()) == 0;
    written = close(file.release()) == 0 && written;
    if (written && renameat(fd_.get(), temporary.c_str(), fd_.get(), final_name.c_str()) == 0) {
      return true;
    }
    unlinkat(fd_.get(), temporary.c_str(), 0);
    return false;
  }

 private:
  static std::unique_ptr<Folder> Refuse(Text* error, Text why) {
    if (error) *error = std::move(why);
    return nullptr;
  }

  OwnedFd fd_;
};

}  // namespace

std::unique_ptr<Folder> OpenFolder(const Text& path, Text* error) {
  if (path.empty() || path.find(u'\0') != Text::npos) {
    if (error) *error = u"invalid folder name";
    return nullptr;
  }
  OwnedFd fd(open(ToUtf8(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (error) *error = internal::SystemMessage(errno);
    return nullptr;
  }
  return std::make_unique<PosixFolder>(std::move(fd));
}

}  // namespace dactyra::platform
