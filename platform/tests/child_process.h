// A program in a process of its own for tests, on POSIX and Windows alike:
// started with arguments and its standard input and output on pipes, it is
// talked to in lines, stopped by closing its input, or killed at once (as a
// crash or a pulled cable would end it). Its destructor kills it when it is
// still there, so no test leaves a process behind.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
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

class ChildProcess {
 public:
  ChildProcess(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), program);
    Start(program, args);
  }
  ~ChildProcess() {
    CloseInput();
    Kill();
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
  bool WaitReady(int timeout_ms = 10000) {
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

  void Start(const std::string& program, std::vector<std::string>& args) {
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
    running_ = CreateProcessW(Widen(program).c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                              nullptr, nullptr, &startup, &info);
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
  void Start(const std::string& program, std::vector<std::string>& args) {
    int to_child[2], from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    running_ = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
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
