#include "support/folders.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/env.h"
#include "platform/files.h"
#include "platform/module.h"

namespace dactyra {
namespace {

using platform::Text;

constexpr platform::TextView kWindows = u"\\:";

TEST(FolderOfModuleName, PlainWindowsNames) {
  EXPECT_EQ(FolderOfModuleName(u"C:\\Programs\\App\\dactyra.dll", kWindows),
            u"C:\\Programs\\App\\");
  EXPECT_EQ(FolderOfModuleName(u"C:dactyra.dll", kWindows), u"C:");
  EXPECT_EQ(FolderOfModuleName(u"dactyra.dll", kWindows), u"");
  EXPECT_EQ(FolderOfModuleName(u"", kWindows), u"");
}

TEST(FolderOfModuleName, LongPathPrefixIsDropped) {
  EXPECT_EQ(FolderOfModuleName(u"\\\\?\\C:\\App\\dactyra.dll", kWindows), u"C:\\App\\");
}

TEST(FolderOfModuleName, LongPathUncNameBecomesServerShare) {
  const Text folder = FolderOfModuleName(u"\\\\?\\UNC\\server\\share\\app\\dactyra.dll", kWindows);
  EXPECT_EQ(folder, u"\\\\server\\share\\app\\");
}

TEST(FolderOfModuleName, UncRuleNeedsUpperCaseAndBackslash) {
  EXPECT_EQ(FolderOfModuleName(u"\\\\?\\unc\\server\\x.dll", kWindows), u"unc\\server\\");
  EXPECT_EQ(FolderOfModuleName(u"\\\\?\\UNCserver\\x.dll", kWindows), u"UNCserver\\");
  // Without the long-path prefix the UNC rule still applies to the text.
  EXPECT_EQ(FolderOfModuleName(u"UNC\\server\\share\\x.dll", kWindows), u"\\\\server\\share\\");
  // A plain UNC name is kept as it is.
  EXPECT_EQ(FolderOfModuleName(u"\\\\server\\share\\x.dll", kWindows), u"\\\\server\\share\\");
}

TEST(FolderOfModuleName, LongNamesAreNotCut) {
  Text name = u"\\\\?\\C:";
  for (int i = 0; i < 40; ++i) name += u"\\folder" + Text(1, u'a' + i % 26);
  const Text expected = name.substr(4) + u"\\";
  name += u"\\dactyra.dll";
  ASSERT_GT(name.size(), 256u);
  EXPECT_EQ(FolderOfModuleName(name, kWindows), expected);
}

TEST(FolderOfModuleName, PosixNames) {
  EXPECT_EQ(FolderOfModuleName(u"/opt/app/libdactyra.so", u"/"), u"/opt/app/");
  EXPECT_EQ(FolderOfModuleName(u"/libdactyra.so", u"/"), u"/");
  // A backslash is an ordinary character in a POSIX name.
  EXPECT_EQ(FolderOfModuleName(u"/opt/a\\b.so", u"/"), u"/opt/");
}

TEST(Folders, PastaExecutavelIsTheTestProgramsFolder) {
  const Text exe = platform::Env::Default().ExecutablePath();
  ASSERT_FALSE(exe.empty());
  const Text folder = PastaExecutavel();
  EXPECT_EQ(folder, FolderPart(exe, PathDelimiters()));
  EXPECT_EQ(folder.back(), platform::PathDelimiter());
  EXPECT_EQ(NaPastaExecutavel(u"vxr_x.so"), folder + u"vxr_x.so");
}

TEST(Folders, PastaBibliotecaOfCodeLinkedIntoTheProgram) {
  EXPECT_EQ(PastaBiblioteca(), PastaExecutavel());
  EXPECT_EQ(NaPastaBiblioteca(u"VxExtract.so"), PastaBiblioteca() + u"VxExtract.so");
}

TEST(Folders, PastaBibliotecaOfALoadedModuleIsItsOwnFolder) {
  const Text probe = platform::FromUtf8(SUPPORT_FOLDER_PROBE);
  Text error;
  auto module =
      platform::Env::Default().LoadModule(probe, platform::Module::Search::kDefault, &error);
  ASSERT_NE(module, nullptr) << platform::ToUtf8(error);
  using Probe = void (*)(char*, int);
  using ProbeName = void (*)(const char*, char*, int);
  auto pasta = module->Function<Probe>("ProbePastaBiblioteca");
  auto na_pasta = module->Function<ProbeName>("ProbeNaPastaBiblioteca");
  ASSERT_NE(pasta, nullptr);
  ASSERT_NE(na_pasta, nullptr);

  std::string buffer(4096, '\0');
  pasta(buffer.data(), static_cast<int>(buffer.size()));
  const Text folder = platform::FromUtf8(buffer.c_str());
  EXPECT_EQ(folder, FolderPart(platform::FullPath(probe), Text(1, platform::PathDelimiter())));
  EXPECT_NE(folder, PastaExecutavel());

  na_pasta("imglog", buffer.data(), static_cast<int>(buffer.size()));
  EXPECT_EQ(platform::FromUtf8(buffer.c_str()), folder + u"imglog");
}

// The system's answers, as a test chooses them.
class FolderEnv : public platform::EnvWrapper {
 public:
  FolderEnv() : EnvWrapper(platform::Env::Default()) {}
  Text ExecutablePath() override { return executable; }
  Text CurrentFolder() override { return current; }
  Text ModuleFileNameOf(const void*) override { return module; }
  Text executable, current, module;
};

TEST(Folders, AnswersOfTheSystemGivenThroughTheEnv) {
  // Paths in the system's own form.
#ifdef _WIN32
  const Text bin = u"C:\\app\\bin", lib = u"C:\\app\\lib", home = u"C:\\Users\\user";
  const char16_t d = u'\\';
#else
  const Text bin = u"/opt/app/bin", lib = u"/opt/app/lib", home = u"/home/user";
  const char16_t d = u'/';
#endif
  FolderEnv env;
  env.executable = bin + d + u"java";
  env.current = home;
  env.module = lib + d + u"libdactyra.so";
  EXPECT_EQ(PastaExecutavel(env), bin + d);
  EXPECT_EQ(NaPastaExecutavel(u"vxr_a.so", env), bin + d + u"vxr_a.so");
  EXPECT_EQ(PastaBiblioteca(env), lib + d);
  EXPECT_EQ(NaPastaBiblioteca(u"imglog", env), lib + d + u"imglog");
  // A system that cannot tell the program's path: the current folder, and a
  // delimiter before the name; nor the library's: a bare name.
  env.executable.clear();
  env.module.clear();
  EXPECT_EQ(PastaExecutavel(env), home);
  EXPECT_EQ(NaPastaExecutavel(u"vxr_a.so", env), home + d + u"vxr_a.so");
  EXPECT_EQ(PastaBiblioteca(env), u"");
  EXPECT_EQ(NaPastaBiblioteca(u"imglog", env), u"imglog");
}

}  // namespace
}  // namespace dactyra
