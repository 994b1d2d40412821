// The operating-system services that can fail, behind one interface. Every
// component takes the Env it uses (Env::Default() unless a test gives
// another), so a test can wrap the real one and make any call fail or
// answer differently: a module without an export, a thread that cannot
// start, a named event held elsewhere, a full disk, a clock at 23:59:59.
// Pure functions (text conversion, case folding, path text rules) stay free
// functions beside this interface.
//
// Every operation is safe to call from any thread at once. Objects an Env
// hands out (modules, named objects, registry keys, threads) may outlive
// nothing but the Env that made them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_interfaces.h"
#include "platform/files.h"
#include "platform/folder.h"
#include "platform/message_queue.h"
#include "platform/module.h"
#include "platform/named_objects.h"
#include "platform/named_pipes.h"
#include "platform/registry.h"
#include "platform/shared_event.h"
#include "platform/serial_port.h"
#include "platform/text.h"
#include "platform/threads.h"

namespace dactyra::platform {

// A moment of the local calendar, as Windows' SYSTEMTIME gives it.
struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-59
  int millisecond = 0;
};

class Env {
 public:
  Env() = default;
  virtual ~Env();
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // The real operating system. Lives for the whole process.
  static Env& Default();

  // --- Modules ---------------------------------------------------------------

  // Loads a module by path or, for a bare name without a folder, through
  // the loader's search; a relative path is taken from the current folder.
  // Null on failure, with the system's message in `error` when given.
  virtual std::unique_ptr<Module> LoadModule(const Text& file,
                                             Module::Search search = Module::Search::kDefault,
                                             Text* error = nullptr) = 0;
  // File name of the module (executable or shared library) that contains
  // `address`; empty when none does.
  virtual Text ModuleFileNameOf(const void* address) = 0;
  // Full path of the running program (for a Java program, the launcher);
  // empty when the system cannot tell.
  virtual Text ExecutablePath() = 0;
  // Whether modules may be loaded from `folder`: an absolute path to a
  // folder that no user but this one or the administrator owns or can
  // write, and whose parents let no other user rename or replace it (a
  // shared parent such as /tmp must keep others' hands off: sticky). A
  // module found there runs as this user, so a folder another user can
  // plant a file in would run that user's code. False, with why in
  // `reason` (naming the folder), when not.
  virtual bool CheckModuleFolder(const Text& folder, Text* reason = nullptr) = 0;

  // --- Files and folders -----------------------------------------------------
  // The meanings are those of the free functions of platform/files.h.

  virtual std::vector<Text> ListFiles(const Text& folder, const Text& mask) = 0;
  virtual std::vector<FolderEntry> ListFolder(const Text& folder) = 0;
  virtual bool FileExists(const Text& path) = 0;
  virtual bool FolderExists(const Text& path) = 0;
  // Whether `path` itself is a symbolic link (dangling or not), the link
  // not followed. Code that deletes below a folder asks before it steps
  // into an entry, so that it never deletes through a link.
  virtual bool IsSymbolicLink(const Text& path) = 0;
  virtual bool CreateFolders(const Text& path) = 0;
  virtual bool DeleteFile(const Text& path) = 0;
  virtual bool RemoveFolder(const Text& path) = 0;
  virtual std::optional<std::string> ReadFileBytes(const Text& path) = 0;
  // Replaces the file, as Folder::WriteFile does in the folder that `path`
  // names: readable by this user only, all or nothing, never through a
  // link at `path`. False when it could not be written whole.
  virtual bool WriteFileBytes(const Text& path, std::string_view bytes) = 0;
  // An existing folder, held open: `path` may lead through links (a
  // library's folder often does), what is reached below it through the
  // Folder never does (platform/folder.h). Null, with why, when it cannot
  // be opened.
  virtual std::unique_ptr<Folder> OpenFolder(const Text& path, Text* error = nullptr) = 0;
  virtual Text CurrentFolder() = 0;

  // --- Registry --------------------------------------------------------------

  // Opens an existing key for reading; null when there is none
  // (platform/registry.h).
  virtual std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot root, const Text& path) = 0;

  // --- Named objects ---------------------------------------------------------
  // platform/named_objects.h: shared by every process of this user.

  virtual std::unique_ptr<NamedEvent> CreateNamedEvent(const Text& name, bool initially_signalled,
                                                       Text* error = nullptr) = 0;
  virtual std::unique_ptr<NamedMutex> CreateNamedMutex(const Text& name, Text* error = nullptr) = 0;

  // --- Objects other modules act on ------------------------------------------
  // platform/message_queue.h, platform/shared_event.h: their handles cross
  // into other libraries (platform/foreign_handles.h).

  // A message queue owned by the calling thread; null on failure.
  virtual std::unique_ptr<MessageQueue> CreateMessageQueue(MessageProcedure procedure,
                                                           Text* error = nullptr) = 0;
  // An auto-reset event, not signalled; null on failure.
  virtual std::unique_ptr<SharedEvent> CreateSharedEvent(Text* error = nullptr) = 0;

  // --- Threads and time ------------------------------------------------------

  // A thread that will run `body` once when started (Thread::Start may
  // still fail).
  virtual std::unique_ptr<Thread> NewThread(std::function<void()> body) = 0;
  // Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount);
  // compare by unsigned difference.
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t ms) = 0;
  // The local date and time now.
  virtual LocalTime Now() = 0;

  // --- Devices, named pipes and serial ports ---------------------------------
  // The meanings are those of platform/device_interfaces.h,
  // platform/named_pipes.h and platform/serial_port.h.

  virtual bool ListDeviceInterfaces(const Text& class_guid, std::vector<Text>& device_paths,
                                    IoError* error = nullptr) = 0;
  virtual std::unique_ptr<DevicePipe> OpenDevicePipe(const Text& path,
                                                     IoError* error = nullptr) = 0;
  virtual std::unique_ptr<NamedPipe> OpenNamedPipe(const Text& path, IoError* error = nullptr) = 0;
  virtual bool WaitNamedPipe(const Text& path, uint32_t timeout_ms, IoError* error = nullptr) = 0;
  virtual std::unique_ptr<NamedPipeServer> CreateNamedPipeServer(const Text& path, int backlog,
                                                                 IoError* error = nullptr) = 0;
  virtual std::unique_ptr<SerialPort> OpenSerialPort(const Text& name,
                                                     IoError* error = nullptr) = 0;
};

// Forwards every call to another Env, so that a test overrides only the
// calls it wants to change.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }

  std::unique_ptr<Module> LoadModule(const Text& file, Module::Search search,
                                     Text* error) override {
    return target_.LoadModule(file, search, error);
  }
  Text ModuleFileNameOf(const void* address) override { return target_.ModuleFileNameOf(address); }
  Text ExecutablePath() override { return target_.ExecutablePath(); }
  bool CheckModuleFolder(const Text& folder, Text* reason) override {
    return target_.CheckModuleFolder(folder, reason);
  }

  std::vector<Text> ListFiles(const Text& folder, const Text& mask) override {
    return target_.ListFiles(folder, mask);
  }
  std::vector<FolderEntry> ListFolder(const Text& folder) override {
    return target_.ListFolder(folder);
  }
  bool FileExists(const Text& path) override { return target_.FileExists(path); }
  bool FolderExists(const Text& path) override { return target_.FolderExists(path); }
  bool IsSymbolicLink(const Text& path) override { return target_.IsSymbolicLink(path); }
  bool CreateFolders(const Text& path) override { return target_.CreateFolders(path); }
  bool DeleteFile(const Text& path) override { return target_.DeleteFile(path); }
  bool RemoveFolder(const Text& path) override { return target_.RemoveFolder(path); }
  std::optional<std::string> ReadFileBytes(const Text& path) override {
    return target_.ReadFileBytes(path);
  }
  bool WriteFileBytes(const Text& path, std::string_view bytes) override {
    return target_.WriteFileBytes(path, bytes);
  }
  std::unique_ptr<Folder> OpenFolder(const Text& path, Text* error) override {
    return target_.OpenFolder(path, error);
  }
  Text CurrentFolder() override { return target_.CurrentFolder(); }

  std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot root, const Text& path) override {
    return target_.OpenRegistryKey(root, path);
  }

  std::unique_ptr<NamedEvent> CreateNamedEvent(const Text& name, bool initially_signalled,
                                               Text* error) override {
    return target_.CreateNamedEvent(name, initially_signalled, error);
  }
  std::unique_ptr<NamedMutex> CreateNamedMutex(const Text& name, Text* error) override {
    return target_.CreateNamedMutex(name, error);
  }

  std::unique_ptr<MessageQueue> CreateMessageQueue(MessageProcedure procedure,
                                                   Text* error) override {
    return target_.CreateMessageQueue(std::move(procedure), error);
  }
  std::unique_ptr<SharedEvent> CreateSharedEvent(Text* error) override {
    return target_.CreateSharedEvent(error);
  }

  std::unique_ptr<Thread> NewThread(std::function<void()> body) override {
    return target_.NewThread(std::move(body));
  }
  uint32_t TickCount() override { return target_.TickCount(); }
  void Sleep(uint32_t ms) override { target_.Sleep(ms); }
  LocalTime Now() override { return target_.Now(); }

  bool ListDeviceInterfaces(const Text& class_guid, std::vector<Text>& device_paths,
                            IoError* error) override {
    return target_.ListDeviceInterfaces(class_guid, device_paths, error);
  }
  std::unique_ptr<DevicePipe> OpenDevicePipe(const Text& path, IoError* error) override {
    return target_.OpenDevicePipe(path, error);
  }
  std::unique_ptr<NamedPipe> OpenNamedPipe(const Text& path, IoError* error) override {
    return target_.OpenNamedPipe(path, error);
  }
  bool WaitNamedPipe(const Text& path, uint32_t timeout_ms, IoError* error) override {
    return target_.WaitNamedPipe(path, timeout_ms, error);
  }
  std::unique_ptr<NamedPipeServer> CreateNamedPipeServer(const Text& path, int backlog,
                                                         IoError* error) override {
    return target_.CreateNamedPipeServer(path, backlog, error);
  }
  std::unique_ptr<SerialPort> OpenSerialPort(const Text& name, IoError* error) override {
    return target_.OpenSerialPort(name, error);
  }

 private:
  Env& target_;
};

}  // namespace dactyra::platform
