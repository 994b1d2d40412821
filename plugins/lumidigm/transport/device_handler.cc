#include "plugins/lumidigm/transport/device_handler.h"

#include <cstdio>
#include <mutex>

#include "plugins/lumidigm/transport/service_messages.h"

namespace dactyra::v100 {
namespace {

constexpr uint32_t kMainPipeBusyWaitMs = 200;
// The service answers a request at once; one that stays silent longer is
// treated as a failed read rather than holding the caller for ever.
constexpr uint32_t kMainPipeReplyWaitMs = 5000;

std::string MainPipePath(const std::string& host) {
  char path[600];
  std::snprintf(path, sizeof path, kMainPipeFormat, host.c_str());
  return path;
}

// A connection to the main pipe: at most two attempts, the second only
// after a busy pipe became free within 200 ms.
std::unique_ptr<platform::NamedPipe> ConnectMainPipe(platform::Env& env, const std::string& host) {
  const platform::Text path = platform::FromAnsi(MainPipePath(host));
  for (int attempt = 0; attempt < 2; ++attempt) {
    platform::IoError error;
    auto pipe = env.OpenNamedPipe(path, &error);
    if (pipe) return pipe;
    if (error.code != platform::io_error::kPipeBusy) return nullptr;
    if (!env.WaitNamedPipe(path, kMainPipeBusyWaitMs)) return nullptr;
  }
  return nullptr;
}

bool Send(platform::NamedPipe& pipe, uint32_t code, uint32_t argument, const char* label) {
  const auto request = EncodeServiceRequest({code, argument, label});
  return pipe.Write(request.data(), kServiceRequestSize, kMainPipeReplyWaitMs).done();
}

template <size_t N>
bool Receive(platform::NamedPipe& pipe, std::array<uint8_t, N>& reply) {
  return pipe.Read(reply.data(), N, kMainPipeReplyWaitMs).done();
}

struct Instance {
  std::mutex lock;
  std::shared_ptr<V100DeviceHandler> handler;
  std::unique_ptr<platform::NamedMutex> mutex;
};
Instance& TheInstance() {
  static Instance* instance = new Instance;  // used until the process ends
  return *instance;
}

// Holds the named mutex, when there is one, for the scope; a holder that
// does not let go within kDeviceHandlerMutexWaitMs (another process stopped
// while it held it) ends the wait, and held() says so.
class HoldNamed {
 public:
  explicit HoldNamed(platform::NamedMutex* mutex) : mutex_(mutex) {
    if (mutex_) {
      const auto r = mutex_->Wait(kDeviceHandlerMutexWaitMs);
      held_ = r == platform::WaitResult::kSignalled || r == platform::WaitResult::kAbandoned;
    }
  }
  ~HoldNamed() {
    if (held_) mutex_->Release();
  }
  HoldNamed(const HoldNamed&) = delete;
  HoldNamed& operator=(const HoldNamed&) = delete;

  bool held() const { return held_; }

 private:
  platform::NamedMutex* mutex_;
  bool held_ = false;
};

}  // namespace

std::string ResolveServiceHost(platform::Env& env) {
  static constexpr char16_t kValue[] = u"XDClientName";
  std::optional<platform::Text> value;
  if (auto key = env.OpenRegistryKey(
          platform::RegistryRoot::kLocalMachine,
          u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment")) {
    value = key->ReadText(kValue);
  }
  if (!value) {
    if (auto key = env.OpenRegistryKey(platform::RegistryRoot::kCurrentUser, u"Environment")) {
      value = key->ReadText(kValue);
    }
  }
  if (!value) return ".";
  // The value buffer holds 255 wide characters and a terminator.
  if (value->size() > 255) value->resize(255);
  std::string host = platform::ToAnsi(*value);
  if (host.size() > 255) host.resize(255);
  return host;
}

V100DeviceDescriptor NewDeviceDescriptor(platform::Env& env) {
  V100DeviceDescriptor d;
  d.host_name = ResolveServiceHost(env);
  return d;
}

std::shared_ptr<V100DeviceHandler> V100DeviceHandler::GetInstance(platform::Env& env) {
  Instance& instance = TheInstance();
  std::lock_guard guard(instance.lock);
  // The mutex may be another process's: it is opened (made when no process
  // has it) and waited for before the instance is touched.
  if (!instance.mutex) instance.mutex = env.CreateNamedMutex(kDeviceHandlerMutexName);
  HoldNamed hold(instance.mutex.get());
  if (instance.mutex && !hold.held()) {
    if (!instance.handler) instance.mutex.reset();
    return nullptr;
  }
  if (!instance.handler) instance.handler = std::make_shared<V100DeviceHandler>(env);
  return instance.handler;
}

void V100DeviceHandler::ReleaseInstance() {
  Instance& instance = TheInstance();
  std::lock_guard guard(instance.lock);
  std::unique_ptr<platform::NamedMutex> mutex;
  {
    // The instance is this process's own: it goes even when the wait for
    // the mutex ran out.
    HoldNamed hold(instance.mutex.get());
    instance.handler.reset();
    mutex = std::move(instance.mutex);
  }
}

std::shared_ptr<V100DeviceHandler> V100DeviceHandler::Current() {
  Instance& instance = TheInstance();
  std::lock_guard guard(instance.lock);
  return instance.handler;
}

int32_t V100DeviceHandler::LocalCount() {
  std::vector<platform::Text> paths;
  if (!env_.ListDeviceInterfaces(kLumidigmInterfaceClass, paths)) return -1;
  return static_cast<int32_t>(std::min<size_t>(paths.size(), INT32_MAX));
}

std::string V100DeviceHandler::LocalDevicePath(uint32_t n) {
  std::vector<platform::Text> paths;
  if (!env_.ListDeviceInterfaces(kLumidigmInterfaceClass, paths) || n >= paths.size()) return {};
  std::string path = platform::ToAnsi(paths[n]);
  if (path.size() > kDescriptorTextMax) path.resize(kDescriptorTextMax);
  return path;
}

int32_t V100DeviceHandler::GetNumDevices(int32_t& count) {
  // Threads that share the instance count at once: each asks its own host.
  const std::string host = ResolveServiceHost(env_);
  {
    std::lock_guard guard(host_lock_);
    host_name_ = host;
  }
  auto pipe = ConnectMainPipe(env_, host);
  if (!pipe) {
    count = LocalCount();
    return 0;
  }
  count = 0;
  if (!Send(*pipe, kServiceCountDevices, 0, kLabelGetNumDevices)) return kServiceWriteFailed;
  std::array<uint8_t, kServiceRequestSize> reply;
  if (!Receive(*pipe, reply)) return kServiceReadFailed;
  const auto n = ParseCountReply(reply);
  if (!n) return kServiceReadFailed;
  count = static_cast<int32_t>(*n);
  return 0;
}

int32_t V100DeviceHandler::GetDevice(uint32_t device_number, V100DeviceDescriptor& descriptor) {
  auto pipe = ConnectMainPipe(env_, descriptor.host_name);
  if (!pipe) {
    const int32_t local = LocalCount();
    if (local < 0 || device_number >= static_cast<uint32_t>(local)) return kNoSuchDevice;
    descriptor.index = device_number;
    descriptor.transport_kind = 0;
    descriptor.pipe_name.clear();
    descriptor.second_name.clear();
    descriptor.service_id = device_number;
    descriptor.kind_value = 0;
    return 0;
  }
  if (!Send(*pipe, kServiceDescribeDevice, device_number, kLabelGetDevice)) {
    return kServiceWriteFailed;
  }
  std::array<uint8_t, kServiceDeviceReplySize> bytes;
  if (!Receive(*pipe, bytes)) return kServiceReadFailed;
  const auto reply = ParseDeviceReply(bytes);
  if (!reply) return kServiceReadFailed;
  if (reply->status != 0) return MapServiceStatus(reply->status);
  if (reply->kind_value >= 3) {
    if (!Send(*pipe, kServiceGetNames, reply->service_id, kLabelGetDevice)) {
      return kServiceWriteFailed;
    }
    std::array<uint8_t, kServiceNamesReplySize> names;
    if (!Receive(*pipe, names)) return kServiceReadFailed;
    const ServiceNamesReply texts = ParseNamesReply(names);
    descriptor.second_name = texts.second_name;
    descriptor.pipe_name = texts.pipe_name;
    descriptor.transport_kind = 1;
  } else {
    descriptor.second_name.clear();
    descriptor.pipe_name.clear();
    descriptor.transport_kind = 0;
  }
  descriptor.index = reply->device_index;
  descriptor.service_id = reply->service_id;
  descriptor.kind_value = reply->kind_value;
  return 0;
}

int32_t CountDevices(int32_t& count, platform::Env& env) {
  const std::shared_ptr<V100DeviceHandler> handler = V100DeviceHandler::GetInstance(env);
  if (!handler) return kDeviceHandlerBusy;
  const int32_t result = handler->GetNumDevices(count);
  V100DeviceHandler::ReleaseInstance();
  return result;
}

}  // namespace dactyra::v100
