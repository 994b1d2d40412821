// The SQLite wrappers of database/sqlite.h.
#include "database/sqlite.h"

#include <limits>

namespace dactyra::database {

using platform::Text;

namespace {

Text Describe(std::string_view what, const char* message) {
  return platform::FromUtf8(std::string(what) + ": " + (message ? message : "unknown error"));
}

int SizeOf(size_t n) {
  if (n > static_cast<size_t>(std::numeric_limits<int>::max())) {
    throw EDatabase(u"A value too large for the database");
  }
  return static_cast<int>(n);
}

}  // namespace

// --- Connection ----------------------------------------------------------------

Connection::Connection(const Text& path, Mode mode, int busy_ms) : path_(path) {
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX |
                    (mode == Mode::kReadWriteCreate ? SQLITE_OPEN_CREATE : 0);
  const std::string name = platform::ToUtf8(path);
  const int result = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (result != SQLITE_OK) {
    // A handle comes back even on failure, to carry the message.
    const Text message = Describe("Cannot open the database " + name,
                                  db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(result));
    sqlite3_close(db_);
    db_ = nullptr;
    throw EDatabase(message);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busy_ms);
}

Connection::~Connection() {
  // Statements and transactions are gone before their connection (RAII
  // order), so this close cannot be refused as busy.
  sqlite3_close(db_);
}

void Connection::Check(int result, std::string_view what) const {
  if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE) return;
  const Text message = Describe(what, sqlite3_errmsg(db_));
  if ((result & 0xFF) == SQLITE_NOTADB || (result & 0xFF) == SQLITE_CORRUPT) {
    throw EDatabaseRefused(u"Not a usable fingerprint database (" + path_ + u"): " + message);
  }
  throw EDatabase(message);
}

void Connection::Execute(std::string_view sql) {
  char* error = nullptr;
  const std::string text(sql);
  const int result = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error);
  if (result != SQLITE_OK) {
    const Text message = Describe(text, error ? error : sqlite3_errmsg(db_));
    sqlite3_free(error);
    if ((result & 0xFF) == SQLITE_NOTADB || (result & 0xFF) == SQLITE_CORRUPT) {
      throw EDatabaseRefused(u"Not a usable fingerprint database (" + path_ + u"): " + message);
    }
    throw EDatabase(message);
  }
}

int64_t Connection::QueryInt(std::string_view sql) {
  Statement statement(*this, sql);
  if (!statement.Step()) throw EDatabase(platform::FromUtf8(std::string(sql)) + u": no result");
  return statement.Int(0);
}

int64_t Connection::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Connection::Changes() const { return sqlite3_changes(db_); }

// --- Statement -----------------------------------------------------------------

Statement::Statement(Connection& connection, std::string_view sql) : connection_(connection) {
  connection_.Check(sqlite3_prepare_v2(connection_.handle(), sql.data(), SizeOf(sql.size()),
                                       &statement_, nullptr),
                    sql);
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement& Statement::Bind(int index, int64_t value) {
  connection_.Check(sqlite3_bind_int64(statement_, index, value), "bind");
  return *this;
}

Statement& Statement::Bind(int index, double value) {
  connection_.Check(sqlite3_bind_double(statement_, index, value), "bind");
  return *this;
}

Statement& Statement::Bind(int index, std::string_view utf8) {
  connection_.Check(
      sqlite3_bind_text(statement_, index, utf8.data(), SizeOf(utf8.size()), SQLITE_TRANSIENT),
      "bind");
  return *this;
}

Statement& Statement::Bind(int index, const Text& text) {
  return Bind(index, std::string_view(platform::ToUtf8(text)));
}

Statement& Statement::Bind(int index, std::span<const uint8_t> blob) {
  // A zero-length blob is still a blob, not NULL.
  static const uint8_t kEmpty = 0;
  connection_.Check(sqlite3_bind_blob(statement_, index, blob.empty() ? &kEmpty : blob.data(),
                                      SizeOf(blob.size()), SQLITE_TRANSIENT),
                    "bind");
  return *this;
}

bool Statement::Step() {
  const int result = sqlite3_step(statement_);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  connection_.Check(result, sqlite3_sql(statement_));
  return false;
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

double Statement::Real(int column) const { return sqlite3_column_double(statement_, column); }

Text Statement::String(int column) const {
  const auto* bytes = sqlite3_column_text(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  if (bytes == nullptr) return {};
  return platform::FromUtf8(
      std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size)));
}

std::vector<uint8_t> Statement::Blob(int column) const {
  const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
  const int size = sqlite3_column_bytes(statement_, column);
  if (bytes == nullptr || size <= 0) return {};
  return std::vector<uint8_t>(bytes, bytes + size);
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

// --- Transaction ---------------------------------------------------------------

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!open_) return;
  // A failed ROLLBACK (the statement that failed already ended the
  // transaction) leaves nothing to undo.
  sqlite3_exec(connection_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  connection_.Execute("COMMIT");
  open_ = false;
}

}  // namespace dactyra::database
