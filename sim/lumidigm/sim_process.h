// A stand-in program in a process of its own, for tests, benchmarks and the
// soak: started with arguments and environment changes, ready once it
// printed "ready", stopped by closing its standard input (or killed when
// its owner ends first, or at once with Kill).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace dactyra::sim::lumidigm {

// How long a stand-in may take to start: it grows its fingers first, which
// takes seconds of CPU under the sanitizers while other tests share the
// machine's cores.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr int kStartMs = 40000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr int kStartMs = 40000;
#else
inline constexpr int kStartMs = 10000;
#endif
#else
inline constexpr int kStartMs = 10000;
#endif

class SimProcess {
 public:
  // `env_changes`: variables set (or replaced) for the program alone; the
  // caller's environment is never changed, as other threads may read it.
  SimProcess(const std::string& program, std::vector<std::string> args,
             const std::map<std::string, std::string>& env_changes = {}) {
    int to_child[2], from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
    args.insert(args.begin(), program);
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
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(to_child[0]);
    close(from_child[1]);
    in_ = to_child[1];
    out_ = from_child[0];
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // True once the program printed its "ready" line within `timeout_ms`.
  bool WaitReady(int timeout_ms = kStartMs) {
    std::string seen;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) return false;
      seen += c;
      if (seen.find("ready\n") != std::string::npos) return true;
    }
    return false;
  }

  // Closes its input and waits for its exit status (-1 when killed).
  int Stop() {
    if (in_ >= 0) close(in_), in_ = -1;
    if (out_ >= 0) close(out_), out_ = -1;
    if (pid_ <= 0) return status_;
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
      }
      usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return status_ = -1;
  }

  // Kills it at once, as a pulled cable or a crash would end it.
  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Stop();
  }

  // True when the process has ended by itself.
  bool Exited() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  int status_ = -1;
};

}  // namespace dactyra::sim::lumidigm
