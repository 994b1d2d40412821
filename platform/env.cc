// The default Env of every back end: each call goes to the back end's
// implementation of the service (platform/backend.h and the classes' own
// makers).
#include "platform/env.h"

#include <new>

#include "platform/backend.h"

namespace dactyra::platform {

Env::~Env() = default;

class internal::DefaultEnv final : public Env {
 public:
  std::unique_ptr<Module> LoadModule(const Text& file, Module::Search search,
                                     Text* error) override {
    return Module::Load(file, search, error);
  }
  Text ModuleFileNameOf(const void* address) override {
    return platform::ModuleFileNameOf(address);
  }
  Text ExecutablePath() override { return platform::ExecutablePath(); }
  bool CheckModuleFolder(const Text& folder, Text* reason) override {
    return platform::CheckModuleFolder(folder, reason);
  }

  std::vector<Text> ListFiles(const Text& folder, const Text& mask) override {
    return platform::ListFiles(folder, mask);
  }
  std::vector<FolderEntry> ListFolder(const Text& folder) override {
    return platform::ListFolder(folder);
  }
  bool FileExists(const Text& path) override { return platform::FileExists(path); }
  bool FolderExists(const Text& path) override { return platform::FolderExists(path); }
  bool IsSymbolicLink(const Text& path) override { return platform::IsSymbolicLink(path); }
  bool CreateFolders(const Text& path) override { return platform::CreateFolders(path); }
  bool DeleteFile(const Text& path) override { return platform::DeleteFile(path); }
  bool RemoveFolder(const Text& path) override { return platform::RemoveFolder(path); }
  std::optional<std::string> ReadFileBytes(const Text& path) override {
    return platform::ReadFileBytes(path);
  }
  bool WriteFileBytes(const Text& path, std::string_view bytes) override {
    return platform::WriteFileBytes(path, bytes);
  }
  std::unique_ptr<Folder> OpenFolder(const Text& path, Text* error) override {
    return platform::OpenFolder(path, error);
  }
  Text CurrentFolder() override { return platform::CurrentFolder(); }

  std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot root, const Text& path) override {
    return RegistryKey::Open(root, path);
  }

  std::unique_ptr<NamedEvent> CreateNamedEvent(const Text& name, bool initially_signalled,
                                               Text* error) override {
    return NamedEvent::Create(name, initially_signalled, error);
  }
  std::unique_ptr<NamedMutex> CreateNamedMutex(const Text& name, Text* error) override {
    return NamedMutex::Create(name, error);
  }

  std::unique_ptr<MessageQueue> CreateMessageQueue(MessageProcedure procedure,
                                                   Text* error) override {
    return MessageQueue::Create(std::move(procedure), error);
  }
  std::unique_ptr<SharedEvent> CreateSharedEvent(Text* error) override {
    return SharedEvent::Create(error);
  }

  std::unique_ptr<Thread> NewThread(std::function<void()> body) override {
    return std::unique_ptr<Thread>(new Thread(std::move(body)));
  }
  uint32_t TickCount() override { return platform::TickCount(); }
  void Sleep(uint32_t ms) override { platform::Sleep(ms); }
  LocalTime Now() override { return platform::LocalNow(); }

  bool ListDeviceInterfaces(const Text& class_guid, std::vector<Text>& device_paths,
                            IoError* error) override {
    return platform::ListDeviceInterfaces(class_guid, device_paths, error);
  }
  std::unique_ptr<DevicePipe> OpenDevicePipe(const Text& path, IoError* error) override {
    return DevicePipe::Open(path, error);
  }
  std::unique_ptr<NamedPipe> OpenNamedPipe(const Text& path, IoError* error) override {
    return NamedPipe::Open(path, error);
  }
  bool WaitNamedPipe(const Text& path, uint32_t timeout_ms, IoError* error) override {
    return platform::WaitNamedPipe(path, timeout_ms, error);
  }
  std::unique_ptr<NamedPipeServer> CreateNamedPipeServer(const Text& path, int backlog,
                                                         IoError* error) override {
    return NamedPipeServer::Create(path, backlog, error);
  }
  std::unique_ptr<SerialPort> OpenSerialPort(const Text& name, IoError* error) override {
    return SerialPort::Open(name, error);
  }
};

Env& Env::Default() {
  // Built in static storage and never destroyed: threads may still use it
  // while the process ends, and a plug-in that links the platform and is
  // unloaded leaves no allocation behind.
  alignas(internal::DefaultEnv) static unsigned char storage[sizeof(internal::DefaultEnv)];
  static internal::DefaultEnv* env = new (storage) internal::DefaultEnv;
  return *env;
}

}  // namespace dactyra::platform
