// A program in a process of its own for tests, benchmarks and the soak, on
// POSIX and Windows alike: started with arguments, environment changes of
// its own and its standard input and output on pipes, it is talked to in
// lines, stopped by closing its input, or killed at once (as a crash or a
// pulled cable would end it). Its destructor closes its input and kills it
// when it has not ended within a bound, so no test leaves a process behind.
// One thread at a time uses an instance.
#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <cwchar>
#include <cwctype>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace dactyra::platform::testing {

// How long a stand-in may take to start: some grow their fingers first,
// which takes seconds of CPU under the sanitizers (and under Wine) while
// other tests share the machine's cores.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr int kStartMs = 40000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr int kStartMs = 40000;
#else
inline constexpr int kStartMs = 20000;
#endif
#else
inline constexpr int kStartMs = 20000;
#endif

class ChildProcess {
 public:
  // `env_changes`: variables set (or replaced) for the program alone; the
  // caller's environment is never changed, as other threads may read it.
  ChildProcess(const std::string& program, std::vector<std::string> args,
               const std::map<std::string, std::string>& env_changes = {}) {
    args.insert(args.begin(), program);
    Start(program, args, env_changes);
  }
  ~ChildProcess() {
    Finish();
#ifdef _WIN32
    if (out_) CloseHandle(out_);
#else
    if (out_ >= 0) close(out_);
#endif
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return running_; }

  // The next line it prints (without the line end), or "" when none came
  // within `timeout_ms` or its output ended.
  std::string ReadLine(int timeout_ms = 20000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < until) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      if (!ReadSome(50)) break;
    }
    return {};
  }

  // True once it printed a line "ready" within `timeout_ms`.
  bool WaitReady(int timeout_ms = kStartMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < until) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (ReadLine(static_cast<int>(left.count()) + 1) == "ready") return true;
    }
    return false;
  }

  bool Send(const std::string& line) {
    const std::string data = line + "\n";
#ifdef _WIN32
    DWORD put = 0;
    return in_ && WriteFile(in_, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
           put == data.size();
#else
    return in_ >= 0 && write(in_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
#endif
  }

  void CloseInput() {
#ifdef _WIN32
    if (in_) CloseHandle(in_), in_ = nullptr;
#else
    if (in_ >= 0) close(in_), in_ = -1;
#endif
  }

  // Closes its input and waits up to `timeout_ms` for it to end; its exit
  // status, or -1 when it had to be killed.
  int Finish(int timeout_ms = 5000) {
    CloseInput();
    if (!running_) return status_;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < until) {
      if (Exited()) return status_;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Kill();
    return status_ = -1;
  }

  // The same as Finish, for the stand-ins' owners.
  int Stop() { return Finish(); }

  // Ends it at once, without a chance to clean up, and reaps it.
  void Kill() {
    if (!running_) return;
#ifdef _WIN32
    TerminateProcess(process_, 137);
    WaitForSingleObject(process_, INFINITE);
    CloseHandle(process_);
#else
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
#endif
    running_ = false;
    status_ = -1;
  }

  // True when it has ended by itself (its status is then kept).
  bool Exited() {
    if (!running_) return true;
#ifdef _WIN32
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    status_ = static_cast<int>(code);
#else
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    running_ = false;
    return true;
  }

 private:
#ifdef _WIN32
  static std::wstring Widen(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 1)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
    wide.pop_back();
    return wide;
  }

  // Quotes an argument as the C run-time's parser reads it back.
  static std::wstring Quoted(const std::string& arg) {
    const std::wstring wide = Widen(arg);
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (const wchar_t c : wide) {
      if (c == L'\\') {
        ++slashes;
        continue;
      }
      out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
      slashes = 0;
      out.push_back(c);
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
  }

  // The caller's environment block with `changes` applied. Names are
  // compared without regard to letter case, as Windows does.
  static std::wstring Environment(const std::map<std::string, std::string>& changes) {
    auto upper = [](std::wstring name) {
      for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
      return name;
    };
    std::map<std::wstring, std::wstring> changed;
    for (const auto& [key, value] : changes) changed[upper(Widen(key))] = Widen(key + "=" + value);
    std::wstring block;
    if (wchar_t* strings = GetEnvironmentStringsW()) {
      for (const wchar_t* e = strings; *e; e += wcslen(e) + 1) {
        const std::wstring entry = e;
        // Entries such as "=C:=C:\" name a drive's folder: their "=" is the first letter.
        const size_t equals = entry.find(L'=', 1);
        if (!changed.count(upper(entry.substr(0, equals)))) block += entry + L'\0';
      }
      FreeEnvironmentStringsW(strings);
    }
    for (const auto& [key, entry] : changed) block += entry + L'\0';
    return block + L'\0';
  }

  void Start(const std::string& program, std::vector<std::string>& args,
             const std::map<std::string, std::string>& env_changes) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE child_in = nullptr, child_out = nullptr;
    if (!CreatePipe(&child_in, &in_, &inherit, 0) || !CreatePipe(&out_, &child_out, &inherit, 0)) {
      return;
    }
    // Only the child's ends are inherited.
    SetHandleInformation(in_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    std::wstring command;
    for (const std::string& a : args) command += (command.empty() ? L"" : L" ") + Quoted(a);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_in;
    startup.hStdOutput = child_out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    std::wstring environment = Environment(env_changes);
    running_ = CreateProcessW(Widen(program).c_str(), command.data(), nullptr, nullptr, TRUE,
                              CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                              &info);
    CloseHandle(child_in);
    CloseHandle(child_out);
    if (!running_) return;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }

  bool ReadSome(int timeout_ms) {
    DWORD available = 0;
    if (!PeekNamedPipe(out_, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) {
      Sleep(static_cast<DWORD>(std::min(timeout_ms, 10)));
      return true;
    }
    char buffer[256];
    DWORD got = 0;
    if (!ReadFile(out_, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) ||
        got == 0) {
      return false;
    }
    pending_.append(buffer, got);
    return true;
  }

  HANDLE process_ = nullptr;
  HANDLE in_ = nullptr;
  HANDLE out_ = nullptr;
#else
  void Start(const std::string& program, std::vector<std::string>& args,
             const std::map<std::string, std::string>& env_changes) {
    int to_child[2], from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (!env_changes.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
    }
    for (const auto& [key, value] : env_changes) env.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    running_ =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(to_child[0]);
    close(from_child[1]);
    in_ = to_child[1];
    out_ = from_child[0];
  }

  bool ReadSome(int timeout_ms) {
    pollfd p{out_, POLLIN, 0};
    const int ready = poll(&p, 1, timeout_ms);
    if (ready == 0) return true;
    char buffer[256];
    const ssize_t got = ready > 0 ? read(out_, buffer, sizeof buffer) : -1;
    if (got <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
#endif
  bool running_ = false;
  int status_ = -1;
  std::string pending_;
};

}  // namespace dactyra::platform::testing
