// Named events and mutexes over lock files.
//
// Each object is a file in a per-user runtime folder, locked with open file
// description locks (fcntl F_OFD_*). Such a lock belongs to one open() of the
// file, so two objects of one process conflict just as two processes do, and
// the system drops it when the process dies, however it dies. Three bytes of
// the file are used as separate locks:
//   byte 0: the object itself: held by the mutex's owner, or by whoever took
//           the event's signal;
//   byte 1: presence: every open object holds it shared, so an opener that
//           can take it exclusively knows the object is new;
//   byte 2: a short guard that makes "is it new, then set it up" atomic.
// The first byte of the file's content marks a mutex as held: an owner that
// takes the lock and finds the mark learns that the previous owner died.
#include "platform/named_objects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/runtime_folder.h"
#include "platform/posix/system_message.h"

namespace dactyra::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr off_t kObjectByte = 0;
constexpr off_t kPresenceByte = 1;
constexpr off_t kGuardByte = 2;

constexpr char kHeld = '1';
constexpr char kFree = '0';

// A file descriptor, closed with its owner.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

enum class LockKind { kShared = F_RDLCK, kExclusive = F_WRLCK, kNone = F_UNLCK };

// 0 on success, else errno. `wait` blocks until the lock is granted.
int LockByte(int fd, off_t byte, LockKind kind, bool wait) {
  struct flock lock {};
  lock.l_type = static_cast<short>(kind);
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

bool Busy(int error) { return error == EAGAIN || error == EACCES; }

// The deadline of a wait; none for kInfinite.
struct Deadline {
  explicit Deadline(uint32_t timeout_ms)
      : infinite(timeout_ms == kInfinite),
        at(Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeout_ms)) {}
  bool Passed() const { return !infinite && Clock::now() >= at; }
  bool infinite;
  Clock::time_point at;
};

// Waits on `cv` until `ready` or the deadline.
template <typename Ready>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
             const Deadline& deadline, Ready ready) {
  if (deadline.infinite) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_until(lock, deadline.at, ready);
}

// Takes byte 0 of `fd` exclusively before the deadline, polling: the system
// has no timed lock wait. 0 when taken, ETIMEDOUT, or another errno.
int TakeObjectByte(int fd, const Deadline& deadline) {
  if (deadline.infinite) return LockByte(fd, kObjectByte, LockKind::kExclusive, true);
  auto pause = std::chrono::microseconds(500);
  for (;;) {
    const int error = LockByte(fd, kObjectByte, LockKind::kExclusive, false);
    if (!Busy(error)) return error;
    if (deadline.Passed()) return ETIMEDOUT;
    std::this_thread::sleep_until(std::min(Clock::now() + pause, deadline.at));
    pause = std::min(pause * 2, std::chrono::microseconds(10000));
  }
}

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (const char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

// A file name for an object name: ASCII letters, digits, '-' and '_'
// stand for themselves, every other UTF-16 unit becomes %XXXX (so "\" and
// "/" never reach the file system, and distinct names stay distinct). Long
// names keep a prefix and a hash of the whole name.
std::string EncodeName(std::string_view kind, const Text& name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char16_t c : name) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
        c == u'-' || c == u'_') {
      encoded.push_back(static_cast<char>(c));
    } else {
      encoded.push_back('%');
      for (int shift = 12; shift >= 0; shift -= 4) encoded.push_back(kHex[(c >> shift) & 15]);
    }
  }
  constexpr size_t kMaxLength = 160;
  if (encoded.size() > kMaxLength) {
    std::string hash(16, '0');
    uint64_t h = Fnv1a(std::string_view(reinterpret_cast<const char*>(name.data()),
                                        name.size() * sizeof(char16_t)));
    for (int i = 15; i >= 0; --i, h >>= 4) hash[static_cast<size_t>(i)] = kHex[h & 15];
    encoded = encoded.substr(0, kMaxLength - 17) + "~" + hash;
  }
  return std::string(kind) + "." + encoded;
}

// An open object: its lock file, held open for the object's life.
struct ObjectFile {
  std::string path;
  Fd fd;
  // A child made by fork shares the file, and with it the parent's locks:
  // it only closes its copy.
  pid_t pid = getpid();

  ObjectFile() = default;
  ObjectFile(ObjectFile&&) = default;
  ObjectFile& operator=(ObjectFile&& other) noexcept {
    ObjectFile previous(std::move(*this));  // closed properly at the end
    path = std::move(other.path);
    fd = std::move(other.fd);
    pid = other.pid;
    return *this;
  }
  // The last user of an object removes its file, so objects leave nothing
  // behind (the file of a process that was killed goes with the next user).
  ~ObjectFile() {
    if (fd.get() < 0 || pid != getpid()) return;
    if (LockByte(fd.get(), kGuardByte, LockKind::kExclusive, true) != 0) return;
    if (LockByte(fd.get(), kPresenceByte, LockKind::kExclusive, false) == 0) unlink(path.c_str());
    // Closing drops every lock this file holds.
  }
  int get() const { return fd.get(); }
};

// Whether `fd` is still the file at `path` (the last user of an object may
// have removed it between our open and our guard).
bool StillLinked(int fd, const std::string& path) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Opens the lock file of an object and registers this opener as present.
// `setup` runs, under the guard, when no other opener exists.
template <typename Setup>
ObjectFile OpenObject(std::string_view kind, const Text& name, Text* error, Setup setup) {
  ObjectFile object;
  if (name.empty()) {
    if (error) *error = u"an object name must not be empty";
    return object;
  }
  const std::string folder = internal::RuntimeFolder(error);
  if (folder.empty()) return object;
  const std::string path = folder + "/" + EncodeName(kind, name);
  for (;;) {
    Fd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) {
      if (error) *error = internal::SystemMessage(errno);
      return object;
    }
    int failure = LockByte(fd.get(), kGuardByte, LockKind::kExclusive, true);
    if (failure == 0 && !StillLinked(fd.get(), path)) continue;  // removed meanwhile: again
    if (failure == 0) {
      const int alone = LockByte(fd.get(), kPresenceByte, LockKind::kExclusive, false);
      if (alone == 0) {
        failure = setup(fd.get());
        // Converting the exclusive presence lock to shared is atomic.
        if (failure == 0) failure = LockByte(fd.get(), kPresenceByte, LockKind::kShared, false);
      } else if (Busy(alone)) {
        failure = LockByte(fd.get(), kPresenceByte, LockKind::kShared, false);
      } else {
        failure = alone;
      }
      LockByte(fd.get(), kGuardByte, LockKind::kNone, false);
    }
    if (failure != 0) {
      if (error) *error = internal::SystemMessage(failure);
      return object;
    }
    object.path = path;
    object.fd = std::move(fd);
    object.pid = getpid();
    return object;
  }
}

int WriteMark(int fd, char mark) {
  for (;;) {
    if (pwrite(fd, &mark, 1, 0) == 1) return 0;
    if (errno != EINTR) return errno;
  }
}

bool ReadMarkIsHeld(int fd) {
  char mark = kFree;
  for (;;) {
    const ssize_t n = pread(fd, &mark, 1, 0);
    if (n >= 0 || errno != EINTR) return n == 1 && mark == kHeld;
  }
}

}  // namespace

// --- NamedEvent --------------------------------------------------------------

struct NamedEvent::Impl {
  ObjectFile file;
  // Threads sharing this object take its one signal in turn: while one
  // holds or is taking it, the others wait here.
  std::mutex mutex;
  std::condition_variable changed;
  bool taken = false;
  bool taking = false;
};

NamedEvent::NamedEvent() = default;
NamedEvent::NamedEvent(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

// Closing the file gives back a signal this object holds, as a dying
// process does.
NamedEvent::~NamedEvent() = default;

std::unique_ptr<NamedEvent> NamedEvent::Create(const Text& name, bool initially_signalled,
                                               Text* error) {
  auto impl = std::make_unique<Impl>();
  bool took_at_creation = false;
  impl->file = OpenObject("event", name, error, [&](int fd) {
    if (initially_signalled) return 0;
    // A new event that starts unsignalled: its creator holds the signal.
    const int failure = LockByte(fd, kObjectByte, LockKind::kExclusive, false);
    took_at_creation = failure == 0;
    return failure;
  });
  if (impl->file.get() < 0) return nullptr;
  impl->taken = took_at_creation;
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(impl)));
}

WaitResult NamedEvent::Wait(uint32_t timeout_ms) {
  const Deadline deadline(timeout_ms);
  Impl& s = *impl_;
  {
    std::unique_lock lock(s.mutex);
    if (!WaitFor(s.changed, lock, deadline, [&] { return !s.taken && !s.taking; })) {
      return WaitResult::kTimeout;
    }
    s.taking = true;
  }
  const int result = TakeObjectByte(s.file.get(), deadline);
  std::lock_guard lock(s.mutex);
  s.taking = false;
  s.taken = result == 0;
  if (!s.taken) s.changed.notify_one();
  if (result == 0) return WaitResult::kSignalled;
  return result == ETIMEDOUT ? WaitResult::kTimeout : WaitResult::kFailed;
}

void NamedEvent::Set() {
  Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  if (!s.taken) return;
  LockByte(s.file.get(), kObjectByte, LockKind::kNone, false);
  s.taken = false;
  s.changed.notify_one();
}

// --- NamedMutex --------------------------------------------------------------

namespace {

// One per mutex name in this process, shared by every NamedMutex of that
// name: ownership belongs to a thread, not to an object, so a thread that
// holds the mutex through one object holds it through all.
struct MutexState {
  Text key;
  pid_t pid = getpid();
  ObjectFile fd;
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t owner = 0;
  uint32_t depth = 0;
  bool taking = false;

  ~MutexState();
  // Called when the owning thread ends without releasing: the lock goes,
  // the held mark stays, so the next owner learns of it.
  void Abandon(uint64_t thread);
};

// Owner identities are never reused, unlike the system's thread ids: a
// new thread must not inherit a dead one's ownership.
uint64_t OwnerId() {
  static std::atomic<uint64_t> next{1};
  thread_local const uint64_t id = next.fetch_add(1);
  return id;
}

// The mutexes the calling thread owns, abandoned when it ends.
class OwnedMutexes {
 public:
  ~OwnedMutexes() {
    const uint64_t me = OwnerId();
    for (auto& weak : owned_) {
      if (auto state = weak.lock()) state->Abandon(me);
    }
  }
  void Add(const std::shared_ptr<MutexState>& state) { owned_.push_back(state); }
  void Remove(const MutexState* state) {
    std::erase_if(owned_, [&](const std::weak_ptr<MutexState>& w) {
      auto s = w.lock();
      return !s || s.get() == state;
    });
  }

 private:
  std::vector<std::weak_ptr<MutexState>> owned_;
};

// The calling thread's list. A thread's thread_local objects are destroyed
// before the process's exit handlers run on it (a library's static objects
// among them, which may still take and release mutexes), so a flag without
// a destructor tells that the list is gone: the thread is ending, and what
// it takes then is not tracked.
thread_local bool owned_list_gone = false;
struct OwnedList {
  OwnedMutexes list;
  ~OwnedList() { owned_list_gone = true; }
};
thread_local OwnedList owned_list;

OwnedMutexes* OwnedByThisThread() { return owned_list_gone ? nullptr : &owned_list.list; }

struct StateTable {
  std::mutex mutex;
  std::map<Text, std::weak_ptr<MutexState>> states;
};

StateTable& States() {
  // Never destroyed: a NamedMutex held by a static object may go away
  // after this table would have.
  static StateTable* table = new StateTable;
  return *table;
}

MutexState::~MutexState() {
  // Going away while held counts as a release, not as an owner's death.
  if (owner != 0 && fd.get() >= 0 && pid == getpid()) WriteMark(fd.get(), kFree);
  StateTable& table = States();
  std::lock_guard lock(table.mutex);
  auto it = table.states.find(key);
  if (it != table.states.end() && it->second.expired()) table.states.erase(it);
}

void MutexState::Abandon(uint64_t thread) {
  std::lock_guard lock(mutex);
  if (owner != thread || pid != getpid()) return;
  LockByte(fd.get(), kObjectByte, LockKind::kNone, false);
  owner = 0;
  depth = 0;
  changed.notify_one();
}

}  // namespace

struct NamedMutex::Impl {
  std::shared_ptr<MutexState> state;
};

NamedMutex::NamedMutex() = default;
NamedMutex::NamedMutex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NamedMutex::~NamedMutex() = default;

std::unique_ptr<NamedMutex> NamedMutex::Create(const Text& name, Text* error) {
  const Text& key = name;
  StateTable& table = States();
  // Strong references taken under the table's lock are dropped only after
  // it: the last one runs ~MutexState, which takes that lock.
  std::shared_ptr<MutexState> state;
  std::shared_ptr<MutexState> stale;
  std::lock_guard lock(table.mutex);
  auto found = table.states.find(key);
  if (found != table.states.end()) state = found->second.lock();
  // A child made by fork inherits the parent's table but not its
  // ownership: it opens the file anew.
  if (state && state->pid != getpid()) stale = std::move(state);
  if (!state) {
    ObjectFile fd = OpenObject("mutex", name, error, [](int fd) {
      // A mutex nobody has open starts free, whatever a dead owner left.
      return WriteMark(fd, kFree);
    });
    if (fd.get() < 0) return nullptr;
    state = std::make_shared<MutexState>();
    state->key = key;
    state->fd = std::move(fd);
    table.states[key] = state;
  }
  auto impl = std::make_unique<Impl>();
  impl->state = state;
  return std::unique_ptr<NamedMutex>(new NamedMutex(std::move(impl)));
}

WaitResult NamedMutex::Wait(uint32_t timeout_ms) {
  const Deadline deadline(timeout_ms);
  MutexState& s = *impl_->state;
  const uint64_t me = OwnerId();
  {
    std::unique_lock lock(s.mutex);
    if (s.owner == me) {
      if (s.depth == UINT32_MAX) return WaitResult::kFailed;
      ++s.depth;
      return WaitResult::kSignalled;
    }
    if (!WaitFor(s.changed, lock, deadline, [&] { return s.owner == 0 && !s.taking; })) {
      return WaitResult::kTimeout;
    }
    s.taking = true;
  }
  int result = TakeObjectByte(s.fd.get(), deadline);
  bool abandoned = false;
  if (result == 0) {
    abandoned = ReadMarkIsHeld(s.fd.get());
    result = WriteMark(s.fd.get(), kHeld);
    if (result != 0) LockByte(s.fd.get(), kObjectByte, LockKind::kNone, false);
  }
  std::lock_guard lock(s.mutex);
  s.taking = false;
  if (result != 0) {
    s.changed.notify_one();
    return result == ETIMEDOUT ? WaitResult::kTimeout : WaitResult::kFailed;
  }
  s.owner = me;
  s.depth = 1;
  if (OwnedMutexes* owned = OwnedByThisThread()) owned->Add(impl_->state);
  return abandoned ? WaitResult::kAbandoned : WaitResult::kSignalled;
}

bool NamedMutex::Release() {
  MutexState& s = *impl_->state;
  std::lock_guard lock(s.mutex);
  // A forked child does not own what the parent's thread held.
  if (s.owner != OwnerId() || s.pid != getpid()) return false;
  if (--s.depth > 0) return true;
  WriteMark(s.fd.get(), kFree);
  LockByte(s.fd.get(), kObjectByte, LockKind::kNone, false);
  s.owner = 0;
  s.changed.notify_one();
  if (OwnedMutexes* owned = OwnedByThisThread()) owned->Remove(&s);
  return true;
}

}  // namespace dactyra::platform
