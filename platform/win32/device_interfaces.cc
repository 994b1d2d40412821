// Device interfaces through SetupAPI, and device pipes opened with
// CreateFile for overlapped I/O.
#include "platform/device_interfaces.h"

#include <mutex>
#include <vector>

#include "platform/threads.h"
#include "platform/win32/overlapped_io.h"
#include "platform/win32/win32_common.h"
// SetupAPI's header needs windows.h (win32_common.h) before it.
#include <setupapi.h>

namespace dactyra::platform {
namespace {

using internal::OwnedHandle;

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", any letter case.
bool ParseGuid(const Text& text, GUID& guid) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  uint8_t bytes[16];
  size_t at = 1;
  for (int i = 0; i < 16; ++i) {
    if (at == 9 || at == 14 || at == 19 || at == 24) {
      if (text[at] != u'-') return false;
      ++at;
    }
    const int high = HexDigit(text[at]);
    const int low = HexDigit(text[at + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
    at += 2;
  }
  if (at != 37) return false;
  guid.Data1 = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
               bytes[3];
  guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
  return true;
}

struct DeviceInfoSet {
  HDEVINFO set;
  ~DeviceInfoSet() {
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  }
};

bool Fail(IoError* error, DWORD code) {
  if (error) *error = internal::MakeIoError(code);
  return false;
}

}  // namespace

bool ListDeviceInterfaces(const Text& class_guid, std::vector<Text>& device_paths, IoError* error) {
  device_paths.clear();
  GUID guid;
  if (!ParseGuid(class_guid, guid)) return Fail(error, ERROR_INVALID_PARAMETER);
  DeviceInfoSet devices{
      SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
  if (devices.set == INVALID_HANDLE_VALUE) return Fail(error, GetLastError());
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    if (!SetupDiEnumDeviceInterfaces(devices.set, nullptr, &guid, index, &interface_data)) {
      const DWORD code = GetLastError();
      if (code == ERROR_NO_MORE_ITEMS) return true;
      device_paths.clear();
      return Fail(error, code);
    }
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(devices.set, &interface_data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
      device_paths.clear();
      return Fail(error, GetLastError());
    }
    // A buffer of the size asked for, aligned as the record needs.
    std::vector<uint64_t> storage(needed / sizeof(uint64_t) + 1);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(devices.set, &interface_data, detail,
                                          static_cast<DWORD>(storage.size() * sizeof(uint64_t)),
                                          nullptr, nullptr)) {
      device_paths.clear();
      return Fail(error, GetLastError());
    }
    device_paths.push_back(internal::FromWide(detail->DevicePath));
  }
}

struct DevicePipe::Impl {
  OwnedHandle file;
  OwnedHandle read_event;
  OwnedHandle write_event;
  // Signalled while a cancel is outstanding for the operation in progress.
  OwnedHandle cancel;
  // Guards `busy`, and a device end's connection state while its sibling's
  // thread renews it. A pipe takes its sibling's lock holding none of its
  // own, so the two locks are never held together.
  std::mutex lock;
  bool busy = false;

  // A device's own end (PresentDevice): the server of a named pipe, which
  // listens for a host from the start and again as soon as its host goes,
  // as a device's pipes outlive any host. The listen stays pending across
  // operations that time out (cancelling it would leave moments in which a
  // host that opens the pipe is refused as busy).
  bool device_end = false;
  bool connected = false;
  bool listening = false;
  OwnedHandle connect_event;
  OVERLAPPED connect{};
  // The device's other pipe: a host that went away is gone from both, and
  // the next one opens both, so a departure seen on one renews the other.
  Impl* sibling = nullptr;

  ~Impl() {
    if (listening) {
      CancelIoEx(file.get(), &connect);
      DWORD ignored;
      GetOverlappedResult(file.get(), &connect, &ignored, TRUE);
    }
  }

  void Begin() {
    std::lock_guard guard(lock);
    busy = true;
  }
  void End() {
    std::lock_guard guard(lock);
    busy = false;
    ResetEvent(cancel.get());
  }

  bool MakeEvents() {
    read_event = internal::NewManualEvent();
    write_event = internal::NewManualEvent();
    cancel = internal::NewManualEvent();
    return read_event.valid() && write_event.valid() && cancel.valid();
  }

  // A device's end: starts listening for the next host, unless one is
  // connected or a listen is pending. False when the pipe cannot listen.
  bool Listen() {
    if (connected || listening) return true;
    connect = OVERLAPPED{};
    connect.hEvent = connect_event.get();
    ResetEvent(connect_event.get());
    if (ConnectNamedPipe(file.get(), &connect) || GetLastError() == ERROR_PIPE_CONNECTED) {
      connected = true;
      return true;
    }
    listening = GetLastError() == ERROR_IO_PENDING;
    return listening;
  }

  // A device's end: the host went away. Its connection ends (what it left
  // unread goes with it) and the pipe listens for the next host.
  void HostLeft() {
    if (listening) return;
    DisconnectNamedPipe(file.get());
    connected = false;
    Listen();
  }

  // A device's end: the host seen leaving on the other pipe is gone from
  // this one too; renewed here unless an operation of this pipe is under
  // way, which then finds the host gone itself.
  void SiblingHostLeft() {
    std::lock_guard guard(lock);
    if (!busy && connected) HostLeft();
  }

  // A device's end: waits up to `timeout_ms` for a host to connect.
  IoStatus WaitForHost(uint32_t timeout_ms) {
    if (!Listen()) return IoStatus::kFailed;
    if (connected) return IoStatus::kDone;
    const HANDLE waits[2] = {connect_event.get(), cancel.get()};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE,
                                               timeout_ms == kInfinite ? INFINITE : timeout_ms);
    if (woken == WAIT_OBJECT_0 + 1) return IoStatus::kCancelled;
    if (woken != WAIT_OBJECT_0) return IoStatus::kTimedOut;
    DWORD ignored;
    listening = false;
    connected = GetOverlappedResult(file.get(), &connect, &ignored, FALSE) != 0;
    return connected ? IoStatus::kDone : IoStatus::kFailed;
  }

  IoResult Transfer(internal::Direction direction, uint8_t* buffer, uint32_t size,
                    uint32_t timeout_ms, HANDLE event) {
    if (!device_end) {
      return internal::TransferAll(file.get(), direction, buffer, size, timeout_ms, event,
                                   cancel.get());
    }
    const ULONGLONG start = GetTickCount64();
    auto left = [&]() -> uint32_t {
      if (timeout_ms == kInfinite) return kInfinite;
      const ULONGLONG spent = GetTickCount64() - start;
      return spent >= timeout_ms ? 0 : static_cast<uint32_t>(timeout_ms - spent);
    };
    for (;;) {
      const IoStatus waited = WaitForHost(left());
      if (waited != IoStatus::kDone) {
        return IoResult{waited, 0,
                        internal::MakeIoError(waited == IoStatus::kCancelled ? ERROR_OPERATION_ABORTED
                                              : waited == IoStatus::kTimedOut ? ERROR_SEM_TIMEOUT
                                                                              : GetLastError())};
      }
      const IoResult r =
          internal::TransferAll(file.get(), direction, buffer, size, left(), event, cancel.get());
      if (r.status != IoStatus::kFailed) return r;
      // The host went away: the device listens for the next one on both
      // pipes. A read that took nothing waits for that host; anything else
      // fails, as what was read or is to be written belongs to the host
      // that went (an answer must not reach the next host as its own).
      HostLeft();
      if (sibling) sibling->SiblingHostLeft();
      if (direction != internal::Direction::kRead || r.bytes != 0) return r;
    }
  }
};

DevicePipe::DevicePipe() = default;
DevicePipe::DevicePipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DevicePipe::~DevicePipe() = default;

std::unique_ptr<DevicePipe> DevicePipe::Open(const Text& path, IoError* error) {
  if (path.empty() || path.find(u'\0') != Text::npos) {
    if (error) *error = internal::MakeIoError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->file.Reset(CreateFileW(internal::Wide(path), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr));
  if (!impl->file.valid() || !impl->MakeEvents()) {
    if (error) *error = internal::LastIoError();
    return nullptr;
  }
  return std::unique_ptr<DevicePipe>(new DevicePipe(std::move(impl)));
}

IoResult DevicePipe::Read(uint8_t* buffer, uint32_t size, uint32_t timeout_ms) {
  if (size == 0) return IoResult{IoStatus::kDone, 0, {}};
  impl_->Begin();
  IoResult r = impl_->Transfer(internal::Direction::kRead, buffer, size, timeout_ms,
                               impl_->read_event.get());
  impl_->End();
  return r;
}

IoResult DevicePipe::Write(const uint8_t* buffer, uint32_t size, uint32_t timeout_ms) {
  if (size == 0) return IoResult{IoStatus::kDone, 0, {}};
  impl_->Begin();
  IoResult r = impl_->Transfer(internal::Direction::kWrite, const_cast<uint8_t*>(buffer), size,
                               timeout_ms, impl_->write_event.get());
  impl_->End();
  return r;
}

void DevicePipe::CancelIo() {
  std::lock_guard guard(impl_->lock);
  if (impl_->busy) SetEvent(impl_->cancel.get());
}

// A device of the system is presented by its driver, and a program cannot
// add one to SetupAPI's list. A stand-in presents its device as two named
// pipes below "\\.\pipe\dactyra-devices\{CLASS}\<name>", the device
// path hosts are given (the device service's relay, tests): opened there,
// its pipes carry bytes as a device's do.
std::unique_ptr<PresentDevice> PresentDevice::Create(const Text& class_guid, const Text& name,
                                                     IoError* error) {
  GUID guid;
  if (!ParseGuid(class_guid, guid) || name.empty() || name == u"." || name == u".." ||
      name.find_first_of(u"\\/") != Text::npos || name.find(u'\0') != Text::npos) {
    if (error) *error = internal::MakeIoError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::unique_ptr<PresentDevice> present(new PresentDevice);
  present->device_path_ = u"\\\\.\\pipe\\dactyra-devices\\" + AsciiUpperCase(class_guid) + u"\\" + name;
  auto end = [&](const char16_t* pipe) -> std::unique_ptr<DevicePipe> {
    auto impl = std::make_unique<DevicePipe::Impl>();
    const Text path = present->device_path_ + u"\\" + pipe;
    // The first instance of the name: a device that is present already
    // keeps it.
    impl->file.Reset(CreateNamedPipeW(
        internal::Wide(path), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 65536, 65536,
        0, nullptr));
    impl->connect_event = internal::NewManualEvent();
    if (!impl->file.valid() || !impl->MakeEvents() || !impl->connect_event.valid()) return nullptr;
    impl->device_end = true;
    if (!impl->Listen()) return nullptr;
    return std::unique_ptr<DevicePipe>(new DevicePipe(std::move(impl)));
  };
  present->from_host_ = end(u"PIPE_0x01");
  if (present->from_host_) present->to_host_ = end(u"PIPE_0x00");
  if (!present->to_host_) {
    if (error) *error = internal::LastIoError();
    return nullptr;
  }
  present->from_host_->impl_->sibling = present->to_host_->impl_.get();
  present->to_host_->impl_->sibling = present->from_host_->impl_.get();
  return present;
}

PresentDevice::~PresentDevice() = default;

}  // namespace dactyra::platform
