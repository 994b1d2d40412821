// A thin RAII layer over the SQLite C interface: one connection, its
// prepared statements and its transactions, with every failure raised as
// EDatabase carrying SQLite's own message. Nothing here knows the
// fingerprint schema (database/store.h does).
//
// Threads: a Connection and its statements belong to one thread at a time;
// the store that owns them serialises its callers.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capture/velmora_error.h"
#include "platform/text.h"

namespace dactyra::database {

// A failure of the fingerprint database: a file that cannot be opened, is
// not a fingerprint database or is of a newer format, a statement that
// failed, a caller's mistake. An EVelmoraFP, so that whoever catches the
// component's errors catches these too.
class EDatabase : public EVelmoraFP {
 public:
  using EVelmoraFP::EVelmoraFP;
};

// The database file cannot be used as asked: not a fingerprint database,
// one of a newer format, or damaged. The file is left as it was.
class EDatabaseRefused : public EDatabase {
 public:
  using EDatabase::EDatabase;
};

class Connection;

// One prepared statement. Bind parameters by position from 1, step through
// the rows, read columns by position from 0.
class Statement {
 public:
  Statement(Connection& connection, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, double value);
  Statement& Bind(int index, std::string_view utf8);
  Statement& Bind(int index, const platform::Text& text);
  Statement& Bind(int index, std::span<const uint8_t> blob);

  // True with a row to read, false when done; throws on failure.
  bool Step();
  // Steps to the end, for statements that return no rows.
  void Run();
  // Back to the start with the bindings cleared, for another use.
  void Reset();

  int64_t Int(int column) const;
  double Real(int column) const;
  platform::Text String(int column) const;
  std::vector<uint8_t> Blob(int column) const;
  bool IsNull(int column) const;

 private:
  Connection& connection_;
  sqlite3_stmt* statement_ = nullptr;
};

// One connection to one database file.
class Connection {
 public:
  enum class Mode { kReadWriteCreate, kReadWrite };
  // Opens `path` (a file name in the platform's text). With kReadWrite a
  // missing file is an error rather than a new database. Waits up to
  // `busy_ms` for locks held by other connections.
  Connection(const platform::Text& path, Mode mode, int busy_ms);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs statements that return nothing.
  void Execute(std::string_view sql);
  // The single integer a query such as "PRAGMA user_version" returns.
  int64_t QueryInt(std::string_view sql);
  int64_t LastInsertId() const;
  int Changes() const;
  // Throws EDatabase for a result code other than `ok`s, with SQLite's
  // message and `what` before it.
  void Check(int result, std::string_view what) const;
  sqlite3* handle() const { return db_; }
  const platform::Text& path() const { return path_; }

 private:
  sqlite3* db_ = nullptr;
  platform::Text path_;
};

// A write transaction begun at once (BEGIN IMMEDIATE, so that the write
// lock is taken before anything is read and two writers never deadlock on
// an upgrade). Rolled back unless Commit was called.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Connection& connection_;
  bool open_ = true;
};

}  // namespace dactyra::database
