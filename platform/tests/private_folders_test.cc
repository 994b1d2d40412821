// The folders that hold named objects, device interfaces and pipes, and the
// pipes themselves, against another local user: every folder an environment
// variable names is held to the runtime folder's rules, relative values are
// refused, sockets are 0600, and a client talks only to a server of its own
// user (or root).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/env.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

constexpr char16_t kClass[] = u"{06B62F68-E35E-4F57-8BE2-A5BC6CCCC708}";
constexpr uid_t kNobody = 65534;

class PrivateFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    ASSERT_EQ(mkdir("runtime", 0700), 0);
    setenv("DACTYRA_RUNTIME", (folder_.path() + "/runtime").c_str(), 1);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    for (const char* v : {"DACTYRA_RUNTIME", "DACTYRA_DEVICES", "DACTYRA_PIPES", "DACTYRA_SERIAL",
                          "DACTYRA_REGISTRY"}) {
      unsetenv(v);
    }
  }
  std::string At(const std::string& name) const { return folder_.path() + "/" + name; }

  testing::TempFolder folder_;
  std::filesystem::path previous_;
};

// What each variable moves, and a use of it that fails with the reason.
struct Use {
  const char* variable;
  std::function<Text()> failure;  // empty when the use succeeded
};

Text DevicesFailure() {
  std::vector<Text> paths;
  IoError error;
  return Env::Default().ListDeviceInterfaces(kClass, paths, &error) ? Text() : error.message;
}

Text PipesFailure() {
  IoError error;
  return Env::Default().CreateNamedPipeServer(u"\\\\.\\PIPE\\probe", 1, &error) ? Text()
                                                                                 : error.message;
}

Text RuntimeFailure() {
  Text error;
  return Env::Default().CreateNamedEvent(u"probe", true, &error) ? Text() : error;
}

TEST_F(PrivateFoldersTest, FoldersNamedByVariablesMustBePrivateToThisUser) {
  ASSERT_EQ(mkdir(At("open").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(At("private").c_str(), 0700), 0);
  ASSERT_EQ(symlink(At("private").c_str(), At("link").c_str()), 0);
  ASSERT_TRUE(Env::Default().WriteFileBytes(FromUtf8(At("file")), "x"));
  ASSERT_EQ(mkdir(At("given").c_str(), 0700), 0);
  const bool can_give = chown(At("given").c_str(), kNobody, kNobody) == 0;
  ASSERT_EQ(mkdir("relative", 0700), 0);

  struct Case {
    std::string value;
    bool accepted;
    const char* why;  // in the refusal's message
  };
  const Case cases[] = {
      {At("private"), true, ""},
      {At("fresh"), true, ""},  // made, private
      {At("open"), false, "mode 0755"},
      {At("link"), false, "symbolic link"},
      {At("file"), false, "not a folder"},
      {"relative", false, "not an absolute path"},
      {At("given"), false, "belongs to user 65534"},
  };
  for (const Use& use : {Use{"DACTYRA_DEVICES", DevicesFailure}, Use{"DACTYRA_PIPES", PipesFailure},
                         Use{"DACTYRA_RUNTIME", RuntimeFailure}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(use.variable) + "=" + c.value);
      if (c.value == At("given") && !can_give) continue;  // only root gives folders away
      setenv(use.variable, c.value.c_str(), 1);
      const Text failure = use.failure();
      if (c.accepted) {
        EXPECT_EQ(failure, u"");
        struct stat st;
        EXPECT_EQ(lstat(c.value.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
      } else {
        const std::string message = ToUtf8(failure);
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        EXPECT_NE(message.find(c.value), std::string::npos) << message;
        EXPECT_NE(message.find(use.variable), std::string::npos) << message;
      }
    }
    setenv(use.variable, At(use.variable == std::string("DACTYRA_RUNTIME") ? "runtime" : "private")
                             .c_str(), 1);
  }
}

TEST_F(PrivateFoldersTest, RelativeSerialAndRegistryFoldersAreRefused) {
  // A port and a registry key that a relative value would find from here.
  ASSERT_EQ(symlink("/dev/null", At("COM1").c_str()), 0);
  std::filesystem::create_directories("store/HKEY_CURRENT_USER/Software");
  setenv("DACTYRA_SERIAL", ".", 1);
  IoError error;
  EXPECT_EQ(Env::Default().OpenSerialPort(u"COM1", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kInvalidParameter);
  EXPECT_NE(ToUtf8(error.message).find("DACTYRA_SERIAL"), std::string::npos);
  setenv("DACTYRA_REGISTRY", "store", 1);
  EXPECT_EQ(Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"\\Software"), nullptr);
  setenv("DACTYRA_REGISTRY", At("store").c_str(), 1);
  EXPECT_NE(Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"\\Software"), nullptr);
}

TEST_F(PrivateFoldersTest, APipeSocketIsForThisUserWhateverTheUmask) {
  setenv("DACTYRA_PIPES", At("pipes").c_str(), 1);
  ASSERT_EQ(mkdir(At("pipes").c_str(), 0700), 0);
  const mode_t previous = umask(0);
  auto server = Env::Default().CreateNamedPipeServer(u"\\\\.\\PIPE\\open", 1);
  umask(previous);
  ASSERT_NE(server, nullptr);
  struct stat st;
  ASSERT_EQ(lstat(At("pipes/open").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A server of another user behind a pipe name: a process that listens as
// user 65534 on a socket in our own pipes folder (root put it there). The
// client must not take it for the service.
TEST_F(PrivateFoldersTest, AClientRefusesAServerOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can start a process of another user";
  setenv("DACTYRA_PIPES", At("pipes").c_str(), 1);
  ASSERT_EQ(mkdir(At("pipes").c_str(), 0700), 0);
  const std::string path = At("pipes/service");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        setgid(kNobody) != 0 || setuid(kNobody) != 0 || listen(fd, 4) != 0) {
      _exit(1);
    }
    [[maybe_unused]] const auto n = write(ready[1], "r", 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);

  IoError error;
  EXPECT_EQ(Env::Default().OpenNamedPipe(u"\\\\.\\PIPE\\service", &error), nullptr);
  EXPECT_EQ(error.code, io_error::kAccessDenied);
  EXPECT_NE(ToUtf8(error.message).find("65534"), std::string::npos) << ToUtf8(error.message);
  EXPECT_FALSE(Env::Default().WaitNamedPipe(u"\\\\.\\PIPE\\service", 200, &error));
  // Nor does a server of ours take the name over while the other lives.
  EXPECT_EQ(Env::Default().CreateNamedPipeServer(u"\\\\.\\PIPE\\service", 1), nullptr);

  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
}

}  // namespace
}  // namespace dactyra::platform
