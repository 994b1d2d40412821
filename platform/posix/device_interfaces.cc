// Device interfaces as folders, and device pipes as FIFOs.
#include "platform/device_interfaces.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "platform/posix/io_common.h"

namespace dactyra::platform {
namespace {

using internal::OwnedFd;

constexpr char16_t kDevicePathPrefix[] = u"\\\\?\\";
constexpr char kHostToDevice[] = "PIPE_0x01";
constexpr char kDeviceToHost[] = "PIPE_0x00";

std::string DevicesFolder(IoError* error) {
  return internal::IoFolder("DACTYRA_DEVICES", "devices", error);
}

// "{GUID}" upper case; empty for a text that is not a braced GUID.
std::string ClassFolderName(const Text& class_guid) {
  const std::string g = ToUtf8(class_guid);
  if (g.size() != 38 || g.front() != '{' || g.back() != '}') return {};
  std::string out;
  for (const char c : g) {
    if (c == '/' || c == '\\' || c == '.') return {};
    out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  return out;
}

// A folder name is one path segment.
bool SafeSegment(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

}  // namespace

bool ListDeviceInterfaces(const Text& class_guid, std::vector<Text>& device_paths, IoError* error) {
  device_paths.clear();
  const std::string cls = ClassFolderName(class_guid);
  if (cls.empty()) {
    if (error) *error = internal::MakeError(io_error::kInvalidParameter);
    return false;
  }
  const std::string devices = DevicesFolder(error);
  if (devices.empty()) return false;
  const std::string folder = devices + "/" + cls;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT) return true;  // no device of this class was ever present
    if (error) *error = internal::ErrorFromErrno(errno);
    return false;
  }
  std::vector<std::string> names;
  errno = 0;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(name);
  }
  const int failed = errno;
  closedir(dir);
  if (failed != 0) {
    if (error) *error = internal::ErrorFromErrno(failed);
    return false;
  }
  std::sort(names.begin(), names.end());
  for (const auto& n : names) device_paths.push_back(kDevicePathPrefix + FromUtf8(n));
  return true;
}

struct DevicePipe::Impl {
  OwnedFd fd;
  // Readable while a cancel is outstanding for the operation in progress.
  OwnedFd cancel;
  bool can_read = false;
  bool can_write = false;
  // A host pipe fails when the device goes (end of file); the device's own
  // ends keep both directions open and never see one.
  bool eof_is_failure = true;
  std::mutex lock;
  bool busy = false;
  // A cancel was signalled during the operation in progress: its end reads
  // the signal back (and only then, an operation's end costs no call).
  bool signalled = false;

  void Begin() {
    std::lock_guard guard(lock);
    busy = true;
  }
  void End() {
    std::lock_guard guard(lock);
    busy = false;
    if (!signalled) return;
    signalled = false;
    uint64_t drained;
    while (read(cancel.get(), &drained, sizeof drained) > 0) {
    }
  }
};

DevicePipe::DevicePipe() = default;
DevicePipe::DevicePipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DevicePipe::~DevicePipe() = default;

std::unique_ptr<DevicePipe> DevicePipe::Open(const Text& path, IoError* error) {
  // "\\?\<folder>\PIPE_0xNN"
  const Text prefix = kDevicePathPrefix;
  const std::string utf8 = ToUtf8(path);
  const size_t slash = utf8.rfind('\\');
  if (path.compare(0, prefix.size(), prefix) != 0 || slash == std::string::npos ||
      slash < prefix.size()) {
    if (error) *error = internal::MakeError(io_error::kFileNotFound);
    return nullptr;
  }
  const std::string device = utf8.substr(prefix.size(), slash - prefix.size());
  const std::string pipe = utf8.substr(slash + 1);
  const bool host_to_device = pipe == kHostToDevice;
  if (!SafeSegment(device) || (!host_to_device && pipe != kDeviceToHost)) {
    if (error) *error = internal::MakeError(io_error::kFileNotFound);
    return nullptr;
  }
  // The class is not part of a device path: find the device in any class.
  const std::string devices = DevicesFolder(error);
  if (devices.empty()) return nullptr;
  std::string fifo;
  if (DIR* dir = opendir(devices.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string candidate = devices + "/" + entry->d_name + "/" + device + "/" + pipe;
      struct stat st;
      if (entry->d_name[0] != '.' && stat(candidate.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        fifo = candidate;
        break;
      }
    }
    closedir(dir);
  }
  if (fifo.empty()) {
    if (error) *error = internal::MakeError(io_error::kFileNotFound);
    return nullptr;
  }
  // A present device holds both FIFOs open for reading, so a write open
  // that finds no reader (ENXIO) means the device is gone: fail at once
  // instead of blocking.
  OwnedFd probe(open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  if (probe.get() < 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  if (host_to_device) {
    impl->fd = std::move(probe);
    impl->can_write = true;
  } else {
    impl->fd = OwnedFd(open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    impl->can_read = true;
  }
  impl->cancel = OwnedFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (impl->fd.get() < 0 || impl->cancel.get() < 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return nullptr;
  }
  return std::unique_ptr<DevicePipe>(new DevicePipe(std::move(impl)));
}

IoResult DevicePipe::Read(uint8_t* buffer, uint32_t size, uint32_t timeout_ms) {
  if (!impl_->can_read)
    return IoResult{IoStatus::kFailed, 0, internal::MakeError(io_error::kAccessDenied)};
  if (size == 0) return IoResult{IoStatus::kDone, 0, {}};
  const internal::IoDeadline deadline(timeout_ms);
  impl_->Begin();
  IoResult r = internal::ReadAll(impl_->fd.get(), buffer, size, deadline, impl_->cancel.get(),
                                 impl_->eof_is_failure);
  impl_->End();
  return r;
}

IoResult DevicePipe::Write(const uint8_t* buffer, uint32_t size, uint32_t timeout_ms) {
  if (!impl_->can_write)
    return IoResult{IoStatus::kFailed, 0, internal::MakeError(io_error::kAccessDenied)};
  if (size == 0) return IoResult{IoStatus::kDone, 0, {}};
  const internal::IoDeadline deadline(timeout_ms);
  impl_->Begin();
  IoResult r = internal::WriteAll(impl_->fd.get(), buffer, size, deadline, impl_->cancel.get());
  impl_->End();
  return r;
}

void DevicePipe::CancelIo() {
  std::lock_guard guard(impl_->lock);
  if (!impl_->busy) return;
  const uint64_t one = 1;
  [[maybe_unused]] const auto n = write(impl_->cancel.get(), &one, sizeof one);
  impl_->signalled = true;
}

std::unique_ptr<PresentDevice> PresentDevice::Create(const Text& class_guid, const Text& name,
                                                     IoError* error) {
  const std::string cls = ClassFolderName(class_guid);
  const std::string device = ToUtf8(name);
  if (cls.empty() || !SafeSegment(device)) {
    if (error) *error = internal::MakeError(io_error::kInvalidParameter);
    return nullptr;
  }
  const std::string devices = DevicesFolder(error);
  if (devices.empty()) return nullptr;
  const std::string class_folder = devices + "/" + cls;
  const std::string folder = class_folder + "/" + device;
  if ((mkdir(class_folder.c_str(), 0700) != 0 && errno != EEXIST) ||
      mkdir(folder.c_str(), 0700) != 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return nullptr;
  }
  std::unique_ptr<PresentDevice> present(new PresentDevice);
  present->folder_ = folder;  // from here on the destructor removes it
  present->device_path_ = kDevicePathPrefix + name;
  auto end = [&](const char* pipe, bool reads) -> std::unique_ptr<DevicePipe> {
    const std::string fifo = folder + "/" + pipe;
    if (mkfifo(fifo.c_str(), 0600) != 0) return nullptr;
    auto impl = std::make_unique<DevicePipe::Impl>();
    // Read and write: the FIFO never reports end of file or a missing
    // reader to the device, and a host's write open finds a reader.
    impl->fd = OwnedFd(open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    impl->cancel = OwnedFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (impl->fd.get() < 0 || impl->cancel.get() < 0) return nullptr;
    impl->can_read = reads;
    impl->can_write = !reads;
    impl->eof_is_failure = false;
    return std::unique_ptr<DevicePipe>(new DevicePipe(std::move(impl)));
  };
  present->from_host_ = end(kHostToDevice, true);
  if (present->from_host_) present->to_host_ = end(kDeviceToHost, false);
  if (!present->to_host_) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return nullptr;
  }
  return present;
}

PresentDevice::~PresentDevice() {
  from_host_.reset();
  to_host_.reset();
  unlink((folder_ + "/" + kHostToDevice).c_str());
  unlink((folder_ + "/" + kDeviceToHost).c_str());
  rmdir(folder_.c_str());
}

}  // namespace dactyra::platform
