// Two pseudo-terminals joined by socat, linked as COM<a> and COM<b> in a
// folder: what one side writes, the other reads, as over a null-modem
// cable. Programs that speak on a terminal (lrzsz) run with one of them as
// their standard input and output.
//
// Under Wine a Windows program cannot start socat: the test command joins
// the lines before the tests run (wine_serial_lines.sh, linking
// $WINEPREFIX/dosdevices/comN to the pseudo-terminals), and a LinePair
// there only finds them.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

namespace dactyra::v100::testing {

class LinePair {
 public:
  LinePair(const std::string&, int a, int b) : a_("COM" + std::to_string(a)), b_("COM" + std::to_string(b)) {}
  // Both ports are there (and free) in Wine's COM ports.
  bool ok() const { return Present(a_) && Present(b_); }
  const std::string& a() const { return a_; }
  const std::string& b() const { return b_; }

 private:
  static bool Present(const std::string& port) {
    const std::string path = "\\\\.\\" + port;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }
  std::string a_, b_;
};

}  // namespace dactyra::v100::testing

#else

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
  // Cuts the line, as a pulled cable does: both sides' reads fail from then
  // on.
  void Cut() {
    if (pid_ > 0) kill(pid_, SIGKILL), WaitExit(pid_, 2000);
    pid_ = -1;
  }
  const std::string& a() const { return a_; }
  const std::string& b() const { return b_; }

 private:
  std::string a_, b_;
  pid_t pid_ = -1;
  int hold_b_ = -1;
};

}  // namespace dactyra::v100::testing

#endif  // _WIN32
