// Named pipes as UNIX stream sockets.
#include "platform/named_pipes.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/posix/io_common.h"

namespace dactyra::platform {
namespace {

using internal::OwnedFd;

std::string LowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

std::string ThisHost() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// The socket path of "\\<host>\PIPE\<name>"; empty with `error` for another
// host or a malformed path.
std::string SocketPath(const Text& path, IoError* error) {
  const std::string p = ToUtf8(path);
  std::string host, name;
  if (p.size() > 2 && p[0] == '\\' && p[1] == '\\') {
    const size_t host_end = p.find('\\', 2);
    if (host_end != std::string::npos) {
      host = p.substr(2, host_end - 2);
      const size_t pipe_end = p.find('\\', host_end + 1);
      if (pipe_end != std::string::npos &&
          LowerAscii(p.substr(host_end + 1, pipe_end - host_end - 1)) == "pipe") {
        name = p.substr(pipe_end + 1);
      }
    }
  }
  const bool local = host == "." || (!host.empty() && LowerAscii(host) == LowerAscii(ThisHost()));
  if (!local || name.empty() || name == "." || name == ".." ||
      name.find_first_of("/\\") != std::string::npos) {
    if (error) *error = internal::MakeError(io_error::kFileNotFound);
    return {};
  }
  const std::string folder = internal::IoFolder("DACTYRA_PIPES", "pipes", error);
  if (folder.empty()) return {};
  return folder + "/" + name;
}

// The address of a socket path for bind and connect. An address holds at
// most 107 bytes of path, and a run folder deep in a build tree is longer:
// such a path is reached through a descriptor of its folder, whose
// /proc/self/fd entry the kernel follows as it follows the folder itself.
class SocketAddress {
 public:
  bool Make(const std::string& socket_path, IoError* error) {
    std::string reach = socket_path;
    if (reach.size() >= sizeof address_.sun_path) {
      const size_t slash = socket_path.rfind('/');
      folder_ =
          OwnedFd(open(socket_path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (folder_.get() < 0) {
        if (error) *error = internal::ErrorFromErrno(errno);
        return false;
      }
      reach = "/proc/self/fd/" + std::to_string(folder_.get()) + socket_path.substr(slash);
      if (reach.size() >= sizeof address_.sun_path) {
        if (error) *error = internal::MakeError(io_error::kInvalidParameter);
        return false;
      }
    }
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path, reach.c_str(), reach.size() + 1);
    return true;
  }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
  socklen_t size() const { return sizeof address_; }

 private:
  OwnedFd folder_;  // held until the bind or connect is made
  sockaddr_un address_{};
};

// A connected, non-blocking socket; -1 with `error` (kFileNotFound without
// a server, kPipeBusy when its queue is full).
int Connect(const std::string& socket_path, IoError* error) {
  OwnedFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return -1;
  }
  SocketAddress address;
  if (!address.Make(socket_path, error)) return -1;
  if (connect(fd.get(), address.get(), address.size()) != 0) {
    if (error) {
      *error = errno == EAGAIN ? internal::MakeError(io_error::kPipeBusy)
                               : internal::ErrorFromErrno(errno);
    }
    return -1;
  }
  // Whoever serves the pipe receives what we send and feeds us what we
  // read: it must be this user, or root. The credentials are the server's
  // when it listened, so a server cannot pass its socket to another user.
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
      (peer.uid != geteuid() && peer.uid != 0)) {
    if (error) {
      *error = IoError{io_error::kAccessDenied,
                       FromUtf8("the pipe " + socket_path + " is served by user " +
                                std::to_string(peer.uid) + ", not by this user")};
    }
    return -1;
  }
  return fd.release();
}

// Connections made by WaitNamedPipe, kept for the next open of their path.
struct Waited {
  std::mutex lock;
  std::multimap<std::string, int> connections;
};
Waited& WaitedConnections() {
  static Waited* waited = new Waited;  // used until the process ends
  return *waited;
}

}  // namespace

struct NamedPipe::Impl {
  OwnedFd fd;
};

NamedPipe::NamedPipe() = default;
NamedPipe::NamedPipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NamedPipe::~NamedPipe() = default;

std::unique_ptr<NamedPipe> NamedPipe::Open(const Text& path, IoError* error) {
  const std::string socket_path = SocketPath(path, error);
  if (socket_path.empty()) return nullptr;
  int fd = -1;
  {
    Waited& waited = WaitedConnections();
    std::lock_guard guard(waited.lock);
    auto it = waited.connections.find(socket_path);
    if (it != waited.connections.end()) {
      fd = it->second;
      waited.connections.erase(it);
    }
  }
  if (fd < 0) fd = Connect(socket_path, error);
  if (fd < 0) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->fd = OwnedFd(fd);
  return std::unique_ptr<NamedPipe>(new NamedPipe(std::move(impl)));
}

IoResult NamedPipe::Read(uint8_t* buffer, uint32_t size, uint32_t timeout_ms) {
  return internal::ReadAll(impl_->fd.get(), buffer, size, internal::IoDeadline(timeout_ms), -1,
                           true);
}

IoResult NamedPipe::Write(const uint8_t* buffer, uint32_t size, uint32_t timeout_ms) {
  return internal::WriteAll(impl_->fd.get(), buffer, size, internal::IoDeadline(timeout_ms), -1);
}

bool WaitNamedPipe(const Text& path, uint32_t timeout_ms, IoError* error) {
  const std::string socket_path = SocketPath(path, error);
  if (socket_path.empty()) return false;
  const internal::IoDeadline deadline(timeout_ms);
  for (;;) {
    IoError failed;
    const int fd = Connect(socket_path, &failed);
    if (fd >= 0) {
      Waited& waited = WaitedConnections();
      std::lock_guard guard(waited.lock);
      waited.connections.emplace(socket_path, fd);
      return true;
    }
    // A pipe that does not exist yet may still come; the caller learns why
    // the wait failed from the last attempt.
    if (deadline.Passed()) {
      if (error)
        *error = failed.code == io_error::kPipeBusy ? internal::MakeError(io_error::kSemTimeout)
                                                    : failed;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(
        std::min(5, deadline.RemainingMs() < 0 ? 5 : deadline.RemainingMs())));
  }
}

struct NamedPipeServer::Impl {
  OwnedFd listener;
  OwnedFd shutdown;
  std::string socket_path;
};

NamedPipeServer::NamedPipeServer() = default;
NamedPipeServer::NamedPipeServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NamedPipeServer::~NamedPipeServer() {
  if (impl_) unlink(impl_->socket_path.c_str());
}

std::unique_ptr<NamedPipeServer> NamedPipeServer::Create(const Text& path, int backlog,
                                                         IoError* error) {
  const std::string socket_path = SocketPath(path, error);
  if (socket_path.empty()) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->socket_path = socket_path;
  impl->listener = OwnedFd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  impl->shutdown = OwnedFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (impl->listener.get() < 0 || impl->shutdown.get() < 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return nullptr;
  }
  // A socket left by a server that died answers no connect: take its
  // place. A live server keeps its name.
  struct stat st;
  if (lstat(socket_path.c_str(), &st) == 0) {
    IoError probe;
    const int live = Connect(socket_path, &probe);
    if (live >= 0 || probe.code == io_error::kPipeBusy || probe.code == io_error::kAccessDenied ||
        !S_ISSOCK(st.st_mode)) {
      if (live >= 0) close(live);
      if (error) *error = internal::MakeError(io_error::kAccessDenied);
      return nullptr;
    }
    unlink(socket_path.c_str());
  }
  SocketAddress address;
  if (!address.Make(socket_path, error)) return nullptr;
  // The socket's mode comes from the umask at bind; it is made 0600 before
  // listen, so no other user's connect can be taken at any moment.
  if (bind(impl->listener.get(), address.get(), address.size()) != 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return nullptr;
  }
  if (chmod(socket_path.c_str(), 0600) != 0 ||
      listen(impl->listener.get(), backlog < 0 ? 0 : backlog) != 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    unlink(socket_path.c_str());
    return nullptr;
  }
  return std::unique_ptr<NamedPipeServer>(new NamedPipeServer(std::move(impl)));
}

std::unique_ptr<NamedPipe> NamedPipeServer::Accept(uint32_t timeout_ms) {
  const internal::IoDeadline deadline(timeout_ms);
  for (;;) {
    pollfd fds[2] = {{impl_->listener.get(), POLLIN, 0}, {impl_->shutdown.get(), POLLIN, 0}};
    const int n = poll(fds, 2, deadline.RemainingMs());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || (fds[1].revents & POLLIN)) return nullptr;
    const int fd = accept4(impl_->listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) continue;
      return nullptr;
    }
    auto pipe = std::make_unique<NamedPipe::Impl>();
    pipe->fd = OwnedFd(fd);
    return std::unique_ptr<NamedPipe>(new NamedPipe(std::move(pipe)));
  }
}

void NamedPipeServer::Shutdown() {
  const uint64_t one = 1;
  [[maybe_unused]] const auto n = write(impl_->shutdown.get(), &one, sizeof one);
}

}  // namespace dactyra::platform
