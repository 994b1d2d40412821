// Two pseudo-terminals joined by socat, linked as COM<a> and COM<b> in a
// folder: what one side writes, the other reads, as over a null-modem
// cable. Programs that speak on a terminal (lrzsz) run with one of them as
// their standard input and output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace dactyra::v100::testing {

inline pid_t Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Exit status of `pid` within `timeout_ms`, or -1 (killed).
inline int WaitExit(pid_t pid, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

class LinePair {
 public:
  LinePair(const std::string& folder, int a, int b)
      : a_(folder + "/COM" + std::to_string(a)), b_(folder + "/COM" + std::to_string(b)) {
    pid_ = Spawn({"socat", "pty,raw,echo=0,link=" + a_, "pty,raw,echo=0,link=" + b_});
    for (int i = 0; i < 300 && !(std::filesystem::exists(a_) && std::filesystem::exists(b_)); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Held open so that a program that ends on side b does not hang the
    // line up before socat has passed on its last bytes.
    hold_b_ = open(b_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~LinePair() {
    if (hold_b_ >= 0) close(hold_b_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      WaitExit(pid_, 2000);
    }
  }
  bool ok() const { return pid_ > 0 && std::filesystem::exists(a_) && std::filesystem::exists(b_); }
  const std::string& a() const { return a_; }
  const std::string& b() const { return b_; }

 private:
  std::string a_, b_;
  pid_t pid_ = -1;
  int hold_b_ = -1;
};

}  // namespace dactyra::v100::testing
