// The database file: what it refuses to open (and leaves as it was), what
// it keeps, and what survives a writer killed at any moment.
#include "database/store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "database/tests/writer_templates.h"
#include "platform/testing/temp_folder.h"

extern char** environ;

namespace dactyra::database {
namespace {

using platform::Text;
using platform::testing::TempFolder;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A SQLite file made by hand with `sql`, as another program would.
void MakeSqlite(const std::string& path, const std::string& sql) {
  Connection c(platform::FromUtf8(path), Connection::Mode::kReadWriteCreate, 1000);
  c.Execute(sql);
}

StoredTemplate Record(std::initializer_list<uint8_t> bytes) {
  return {kTemplateRecordFormat, std::vector<uint8_t>(bytes)};
}

// --- Files that are refused ------------------------------------------------------

struct RefusedCase {
  const char* name;
  // Makes the file at the path.
  void (*make)(const std::string& path);
  const char* message;
  friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

const RefusedCase kRefused[] = {
    {"text file", [](const std::string& p) { WriteAll(p, "name,finger\nana,1\n"); },
     "Not a usable fingerprint database"},
    {"short garbage", [](const std::string& p) { WriteAll(p, std::string(700, '\x5a')); },
     "Not a usable fingerprint database"},
    {"SQLite file of another program",
     [](const std::string& p) { MakeSqlite(p, "CREATE TABLE contacts (name TEXT)"); },
     "is not a fingerprint database of this library"},
    {"SQLite file with another application id",
     [](const std::string& p) {
       MakeSqlite(p, "PRAGMA application_id = 7; PRAGMA user_version = 1;");
     },
     "is not a fingerprint database of this library"},
    {"newer format",
     [](const std::string& p) {
       { Store make(platform::FromUtf8(p), true); }
       MakeSqlite(p, "PRAGMA user_version = " + std::to_string(kFormat + 1));
     },
     "of a newer format (2; this library reads up to 1)"},
    {"format 0 with the application id",
     [](const std::string& p) {
       MakeSqlite(p, "PRAGMA application_id = " + std::to_string(kApplicationId));
     },
     "of an unknown format (0)"},
};

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, IsRefusedWithItsReasonAndLeftAsItWas) {
  TempFolder dir;
  const std::string path = dir.path() + "/base.db";
  GetParam().make(path);
  const std::string before = ReadAll(path);
  for (const bool create : {false, true}) {
    try {
      Store store(platform::FromUtf8(path), create);
      ADD_FAILURE() << "opened";
    } catch (const EDatabaseRefused& e) {
      EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadAll(path), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Refused, ::testing::ValuesIn(kRefused), [](const auto& info) {
  std::string n = info.param.name;
  for (char& c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return n;
});

TEST(StoreOpening, AMissingFileIsMadeOnlyWhenAsked) {
  TempFolder dir;
  const std::string path = dir.path() + "/new.db";
  EXPECT_THROW(Store(platform::FromUtf8(path), false), EDatabase);
  { Store made(platform::FromUtf8(path), true); }
  // An empty file holds nothing to lose: it becomes a database too.
  WriteAll(dir.path() + "/empty.db", "");
  { Store made(platform::FromUtf8(dir.path() + "/empty.db"), true); }
  Store again(platform::FromUtf8(path), false);
  EXPECT_EQ(again.Count(), 0);
}

// --- What it keeps ---------------------------------------------------------------

TEST(StoreEntries, KeepEverythingAnEntryHoldsAndNeverReuseAnId) {
  TempFolder dir;
  Store store(dir / u"base.db", true);
  const StoredTemplate t[] = {Record({1, 2, 3}), Record({4}), Record({})};
  const int32_t ana1 = store.Add(u"ana", 2, 45352.5, t);
  const int32_t bia = store.Add(u"bia", 7, 45353.0, std::span(t, 1));
  const int32_t ana2 = store.Add(u"ana", 3, 45354.0, std::span(t, 2));
  EXPECT_LT(ana1, bia);
  EXPECT_LT(bia, ana2);
  EXPECT_THROW(store.Add(u"eva", 1, 0, {}), EDatabase);

  EXPECT_EQ(store.Count(), 3);
  EXPECT_EQ(store.CountOfCode(u"ana"), 2);
  EXPECT_EQ(store.Ids(), (std::vector<int32_t>{ana1, bia, ana2}));
  const auto info = store.Info(bia);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->codigo, u"bia");
  EXPECT_EQ(info->indDedo, 7);
  EXPECT_EQ(info->dataCadastro, 45353.0);
  EXPECT_EQ(info->numReconhecimentos, 0);
  EXPECT_EQ(store.AtIndex(2)->id, ana2);
  EXPECT_FALSE(store.AtIndex(3));
  EXPECT_FALSE(store.AtIndex(-1));

  const auto entries = store.Entries(std::vector<int32_t>{ana1, 999});
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_EQ(entries[0].templates.size(), 3u);
  EXPECT_EQ(entries[0].templates[0].record, t[0].record);
  EXPECT_EQ(entries[0].templates[2].record, t[2].record);

  EXPECT_TRUE(store.NoteRecognition(bia, 45360.25));
  EXPECT_TRUE(store.NoteRecognition(bia, 45361.75));
  EXPECT_EQ(store.Info(bia)->numReconhecimentos, 2);
  EXPECT_EQ(store.Info(bia)->dataUltimoReconhecimento, 45361.75);
  EXPECT_FALSE(store.NoteRecognition(999, 1));

  store.SetText(u"ana", u"Ana Souza");
  store.SetText(u"ana", u"Ana S. Lima");
  store.SetText(u"caio", u"no entries yet");
  EXPECT_EQ(store.TextOf(u"ana"), u"Ana S. Lima");
  EXPECT_FALSE(store.TextOf(u"bia"));
  EXPECT_EQ(store.Codes(), (std::vector<Text>{u"ana", u"bia", u"caio"}));

  EXPECT_EQ(store.RemoveCode(u"ana"), 2);
  EXPECT_FALSE(store.TextOf(u"ana"));
  EXPECT_TRUE(store.Entries(std::vector<int32_t>{ana1}).empty());
  EXPECT_FALSE(store.Remove(ana1));
  EXPECT_TRUE(store.Remove(bia));
  store.Compact();
  // The highest id was removed; a new entry still gets a new id.
  EXPECT_GT(store.Add(u"davi", 1, 0, std::span(t, 1)), ana2);
}

TEST(StoreEntries, DateTimesCountDaysFromTheEndOf1899) {
  EXPECT_EQ(ToDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(ToDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
  EXPECT_EQ(ToDateTime(2000, 1, 1, 0, 0, 0, 0), 36526.0);
  EXPECT_EQ(ToDateTime(2024, 2, 29, 0, 0, 0, 0), 45351.0);
  EXPECT_EQ(ToDateTime(2024, 3, 1, 18, 0, 0, 0), 45352.75);
  EXPECT_NEAR(ToDateTime(2024, 3, 1, 0, 0, 1, 500), 45352 + 1.5 / 86400, 1e-9);
}

// --- Several users of one file ---------------------------------------------------

TEST(StoreSharing, AnotherConnectionsCommitChangesTheDataVersionOwnOnesDoNot) {
  TempFolder dir;
  Store mine(dir / u"base.db", true);
  Store theirs(dir / u"base.db", false);
  const StoredTemplate t[] = {Record({9})};
  const int64_t start = mine.DataVersion();
  mine.Add(u"ana", 1, 0, t);
  EXPECT_EQ(mine.DataVersion(), start);
  theirs.Add(u"bia", 1, 0, t);
  const int64_t seen = mine.DataVersion();
  EXPECT_NE(seen, start);
  EXPECT_EQ(mine.Count(), 2);
  EXPECT_EQ(mine.DataVersion(), seen);
}

TEST(StoreSharing, WritersOnOneFileWaitForEachOtherAndLoseNothing) {
  TempFolder dir;
  { Store make(dir / u"base.db", true); }
  constexpr int kWriters = 4;
  constexpr int kEach = 25;
  std::vector<std::thread> writers;
  std::atomic<int> failures{0};
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      try {
        Store store(dir / u"base.db", false);
        for (int i = 0; i < kEach; ++i) {
          const std::string code = "t" + std::to_string(w) + "-" + std::to_string(i);
          store.Add(platform::FromUtf8(code), w, 0, testing::WriterTemplates(code));
          // A reader between the writes sees whole entries only.
          for (const auto& e : store.Entries(store.Ids())) {
            if (e.templates != testing::WriterTemplates(platform::ToUtf8(e.info.codigo))) {
              failures.fetch_add(1);
            }
          }
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        failures.fetch_add(1);
      }
    });
  }
  for (auto& t : writers) t.join();
  EXPECT_EQ(failures.load(), 0);
  Store check(dir / u"base.db", false);
  EXPECT_EQ(check.Count(), kWriters * kEach);
}

// --- A writer killed at any moment -----------------------------------------------

// The writer process; its output is read line by line.
class Writer {
 public:
  Writer(const std::string& path, int first) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = DACTYRA_DATABASE_WRITER;
    std::string file = path;
    std::string start = std::to_string(first);
    char* argv[] = {program.data(), file.data(), start.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = fdopen(out[0], "r");
  }
  ~Writer() {
    Kill();
    if (out_) fclose(out_);
  }
  bool started() const { return pid_ > 0 && out_ != nullptr; }
  // The next line, empty at the end.
  std::string Line() {
    char buffer[256];
    if (!fgets(buffer, sizeof buffer, out_)) return {};
    return buffer;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

TEST(StoreKilledWriter, LeavesAFileThatOpensWithEveryCommittedEntryWhole) {
  TempFolder dir;
  const std::string path = dir.path() + "/base.db";
  std::map<int32_t, std::string> committed;
  int next = 0;
  // Each round kills the writer after a different number of entries, so
  // the kill lands at different points of a transaction.
  for (int round = 0; round < 6; ++round) {
    Writer writer(path, next);
    ASSERT_TRUE(writer.started());
    ASSERT_EQ(writer.Line(), "ready\n");
    for (int n = 0; n < 5 + 3 * round; ++n) {
      std::istringstream line(writer.Line());
      int32_t id = 0;
      std::string code;
      ASSERT_TRUE(line >> id >> code);
      committed[id] = code;
    }
    writer.Kill();
    next += 1000;

    Store store(platform::FromUtf8(path), false);
    Connection check(platform::FromUtf8(path), Connection::Mode::kReadWrite, 1000);
    Statement integrity(check, "PRAGMA integrity_check");
    ASSERT_TRUE(integrity.Step());
    EXPECT_EQ(integrity.String(0), u"ok");
    const auto entries = store.Entries(store.Ids());
    size_t found = 0;
    for (const auto& e : entries) {
      // Whole or absent: an entry the writer did not live to report is
      // still complete.
      EXPECT_EQ(e.templates, testing::WriterTemplates(platform::ToUtf8(e.info.codigo)))
          << "entry " << e.info.id;
      if (committed.contains(e.info.id)) {
        EXPECT_EQ(platform::ToUtf8(e.info.codigo), committed[e.info.id]);
        ++found;
      }
    }
    EXPECT_EQ(found, committed.size()) << "round " << round;
  }
}

}  // namespace
}  // namespace dactyra::database
