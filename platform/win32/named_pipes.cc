// Named pipes over the Win32 pipe functions, in message mode: a server
// keeps instances listening with overlapped ConnectNamedPipe, clients
// connect with CreateFile and WaitNamedPipe, and every read and write is
// overlapped so that its wait is bounded.
#include "platform/named_pipes.h"

#include <algorithm>
#include <vector>

#include "platform/win32/overlapped_io.h"
#include "platform/win32/win32_common.h"

namespace dactyra::platform {
namespace {

using internal::OwnedHandle;

constexpr DWORD kBufferSize = 64 * 1024;

IoError ErrorOf(DWORD code) { return internal::MakeIoError(code); }

bool UsablePath(const Text& path, IoError* error) {
  if (path.empty() || path.find(u'\0') != Text::npos) {
    if (error) *error = ErrorOf(ERROR_FILE_NOT_FOUND);
    return false;
  }
  return true;
}

}  // namespace

struct NamedPipe::Impl {
  OwnedHandle pipe;
  OwnedHandle read_event;
  OwnedHandle write_event;

  bool MakeEvents() {
    read_event = internal::NewManualEvent();
    write_event = internal::NewManualEvent();
    return read_event.valid() && write_event.valid();
  }
};

NamedPipe::NamedPipe() = default;
NamedPipe::NamedPipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NamedPipe::~NamedPipe() = default;

std::unique_ptr<NamedPipe> NamedPipe::Open(const Text& path, IoError* error) {
  if (!UsablePath(path, error)) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->pipe.Reset(CreateFileW(internal::Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!impl->pipe.valid()) {
    if (error) *error = internal::LastIoError();
    return nullptr;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(impl->pipe.get(), &mode, nullptr, nullptr) || !impl->MakeEvents()) {
    if (error) *error = internal::LastIoError();
    return nullptr;
  }
  return std::unique_ptr<NamedPipe>(new NamedPipe(std::move(impl)));
}

IoResult NamedPipe::Read(uint8_t* buffer, uint32_t size, uint32_t timeout_ms) {
  if (size == 0) return IoResult{IoStatus::kDone, 0, {}};
  return internal::TransferAll(impl_->pipe.get(), internal::Direction::kRead, buffer, size,
                               timeout_ms, impl_->read_event.get(), nullptr);
}

IoResult NamedPipe::Write(const uint8_t* buffer, uint32_t size, uint32_t timeout_ms) {
  if (size == 0) return IoResult{IoStatus::kDone, 0, {}};
  return internal::TransferAll(impl_->pipe.get(), internal::Direction::kWrite,
                               const_cast<uint8_t*>(buffer), size, timeout_ms,
                               impl_->write_event.get(), nullptr);
}

bool WaitNamedPipe(const Text& path, uint32_t timeout_ms, IoError* error) {
  if (!UsablePath(path, error)) return false;
  // 0 would mean the server's default time-out to the system.
  const DWORD wait = timeout_ms == kInfinite ? NMPWAIT_WAIT_FOREVER
                                             : std::max<DWORD>(timeout_ms, 1);
  if (WaitNamedPipeW(internal::Wide(path), wait)) return true;
  if (error) *error = internal::LastIoError();
  return false;
}

namespace {

// One instance of the server's pipe, waiting for its client.
struct Listener {
  OwnedHandle pipe;
  OwnedHandle connected;  // the overlapped connect's event
  OVERLAPPED overlapped{};
  bool waiting = false;   // the connect is still pending
};

}  // namespace

struct NamedPipeServer::Impl {
  Text path;
  std::vector<Listener> listeners;
  OwnedHandle shutdown;
  bool first = true;

  // Makes a new instance and starts it listening; false with the error.
  bool Listen(Listener& listener, IoError* error) {
    DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    // The first instance proves that no live server holds the name.
    if (first) open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    listener.pipe.Reset(CreateNamedPipeW(
        internal::Wide(path), open_mode,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0, nullptr));
    if (!listener.pipe.valid()) {
      if (error) *error = internal::LastIoError();
      return false;
    }
    first = false;
    if (!listener.connected.valid()) listener.connected = internal::NewManualEvent();
    ResetEvent(listener.connected.get());
    listener.overlapped = OVERLAPPED{};
    listener.overlapped.hEvent = listener.connected.get();
    listener.waiting = false;
    if (ConnectNamedPipe(listener.pipe.get(), &listener.overlapped)) {
      SetEvent(listener.connected.get());
      return true;
    }
    switch (GetLastError()) {
      case ERROR_IO_PENDING:
        listener.waiting = true;
        return true;
      case ERROR_PIPE_CONNECTED:  // a client came between create and connect
        SetEvent(listener.connected.get());
        return true;
      default:
        if (error) *error = internal::LastIoError();
        listener.pipe.Reset();
        return false;
    }
  }

  ~Impl() {
    for (Listener& listener : listeners) {
      if (listener.waiting && listener.pipe.valid()) {
        CancelIoEx(listener.pipe.get(), &listener.overlapped);
        DWORD ignored;
        GetOverlappedResult(listener.pipe.get(), &listener.overlapped, &ignored, TRUE);
      }
    }
  }
};

NamedPipeServer::NamedPipeServer() = default;
NamedPipeServer::NamedPipeServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NamedPipeServer::~NamedPipeServer() = default;

std::unique_ptr<NamedPipeServer> NamedPipeServer::Create(const Text& path, int backlog,
                                                         IoError* error) {
  if (!UsablePath(path, error)) return nullptr;
  // A live server keeps its name. FILE_FLAG_FIRST_PIPE_INSTANCE says so
  // atomically on Windows; Wine does not hold to it, so a server that
  // answers a wait is asked about first.
  if (WaitNamedPipeW(internal::Wide(path), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
    if (error) *error = ErrorOf(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->path = path;
  impl->shutdown = internal::NewManualEvent();
  if (!impl->shutdown.valid()) {
    if (error) *error = internal::LastIoError();
    return nullptr;
  }
  // Clients beyond the instances listening see ERROR_PIPE_BUSY until one
  // is accepted and replaced.
  impl->listeners.resize(static_cast<size_t>(std::clamp(backlog, 1, 32)));
  for (Listener& listener : impl->listeners) {
    if (!impl->Listen(listener, error)) return nullptr;
  }
  return std::unique_ptr<NamedPipeServer>(new NamedPipeServer(std::move(impl)));
}

std::unique_ptr<NamedPipe> NamedPipeServer::Accept(uint32_t timeout_ms) {
  Impl& s = *impl_;
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    DWORD left = INFINITE;
    if (timeout_ms != kInfinite) {
      const ULONGLONG spent = GetTickCount64() - start;
      left = spent >= timeout_ms ? 0 : static_cast<DWORD>(timeout_ms - spent);
    }
    std::vector<HANDLE> waits{s.shutdown.get()};
    for (Listener& listener : s.listeners) waits.push_back(listener.connected.get());
    const DWORD woken =
        WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, left);
    if (woken <= WAIT_OBJECT_0 || woken >= WAIT_OBJECT_0 + waits.size()) return nullptr;
    Listener& listener = s.listeners[woken - WAIT_OBJECT_0 - 1];
    DWORD ignored = 0;
    const bool connected =
        !listener.waiting ||
        GetOverlappedResult(listener.pipe.get(), &listener.overlapped, &ignored, FALSE);
    auto pipe = std::make_unique<NamedPipe::Impl>();
    pipe->pipe = std::move(listener.pipe);
    const bool usable = connected && pipe->MakeEvents();
    // The instance is taken: another listens in its place.
    if (!s.Listen(listener, nullptr)) ResetEvent(listener.connected.get());
    // A client that failed to connect is no client: wait on.
    if (usable) return std::unique_ptr<NamedPipe>(new NamedPipe(std::move(pipe)));
  }
}

void NamedPipeServer::Shutdown() { SetEvent(impl_->shutdown.get()); }

}  // namespace dactyra::platform
