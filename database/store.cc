// The fingerprint database file of database/store.h.
#include "database/store.h"

#include <limits>
#include <string>

namespace dactyra::database {

using platform::Text;

namespace {

// Format 1. Entry ids come from AUTOINCREMENT so that they are never
// reused; templates go with their entry (ON DELETE CASCADE).
constexpr const char* kSchema = R"sql(
CREATE TABLE impressoes (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  codigo TEXT NOT NULL,
  ind_dedo INTEGER NOT NULL,
  data_cadastro REAL NOT NULL,
  data_ultimo_reconhecimento REAL NOT NULL DEFAULT 0,
  num_reconhecimentos INTEGER NOT NULL DEFAULT 0);
CREATE INDEX impressoes_codigo ON impressoes (codigo);
CREATE TABLE templates (
  impressao INTEGER NOT NULL REFERENCES impressoes (id) ON DELETE CASCADE,
  ordem INTEGER NOT NULL,
  format INTEGER NOT NULL,
  record BLOB NOT NULL,
  PRIMARY KEY (impressao, ordem)) WITHOUT ROWID;
CREATE TABLE textos (
  codigo TEXT PRIMARY KEY,
  valor TEXT NOT NULL) WITHOUT ROWID;
)sql";

// Entry ids are int32 to every caller: a row outside that range (only a
// file written by something else can hold one) is not an entry.
#define DACTYRA_VALID_ID "id BETWEEN 1 AND 2147483647"

constexpr const char* kEntryColumns =
    "id, codigo, ind_dedo, data_cadastro, data_ultimo_reconhecimento, num_reconhecimentos";

EntryInfo ReadInfo(const Statement& s) {
  EntryInfo info;
  info.id = static_cast<int32_t>(s.Int(0));
  info.codigo = s.String(1);
  info.indDedo = static_cast<int32_t>(s.Int(2));
  info.dataCadastro = s.Real(3);
  info.dataUltimoReconhecimento = s.Real(4);
  info.numReconhecimentos = static_cast<int32_t>(s.Int(5));
  return info;
}

Text Number(int64_t n) { return platform::FromUtf8(std::to_string(n)); }

}  // namespace

double ToDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  // Days from the civil date (proleptic Gregorian calendar), counted from
  // 1 March of year 0 so that the leap day comes last.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int mp = (month + 9) % 12;
  const int doy = (153 * mp + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + doe;
  // 30 December 1899 is day 693899 of that count.
  constexpr int64_t kEpoch = 693899;
  const double fraction =
      (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
  return static_cast<double>(days - kEpoch) + fraction;
}

Store::Store(const Text& path, bool create) {
  connection_ = std::make_unique<Connection>(
      path, create ? Connection::Mode::kReadWriteCreate : Connection::Mode::kReadWrite, kBusyMs);
  Prepare(create);
}

Store::~Store() = default;

void Store::Prepare(bool create) {
  Connection& c = *connection_;
  // Reading the header is the first touch of the file: a file that is not
  // SQLite fails here, before anything could be written to it.
  const auto inspect = [&] {
    struct Header {
      int64_t application_id, version, objects;
    };
    return Header{c.QueryInt("PRAGMA application_id"), c.QueryInt("PRAGMA user_version"),
                  c.QueryInt("SELECT count(*) FROM sqlite_schema")};
  };
  auto header = inspect();
  const auto blank = [](const auto& h) {
    return h.application_id == 0 && h.version == 0 && h.objects == 0;
  };
  if (blank(header)) {
    if (!create) throw EDatabaseRefused(path() + u" holds no fingerprint database");
    // A new file: the write-ahead log first (it cannot change inside a
    // transaction), then the schema, made once even when two processes
    // create the same file at once.
    c.Execute("PRAGMA journal_mode = WAL");
    Transaction t(c);
    header = inspect();
    if (blank(header)) {
      c.Execute(kSchema);
      c.Execute("PRAGMA application_id = " + std::to_string(kApplicationId));
      c.Execute("PRAGMA user_version = " + std::to_string(kFormat));
      header = inspect();
    }
    t.Commit();
  }
  if (header.application_id != kApplicationId) {
    throw EDatabaseRefused(path() + u" is not a fingerprint database of this library");
  }
  if (header.version > kFormat) {
    throw EDatabaseRefused(path() + u" is a fingerprint database of a newer format (" +
                           Number(header.version) + u"; this library reads up to " +
                           Number(kFormat) + u")");
  }
  if (header.version < 1) {
    throw EDatabaseRefused(path() + u" is a fingerprint database of an unknown format (" +
                           Number(header.version) + u")");
  }
  c.Execute("PRAGMA foreign_keys = ON");
  // Every entry is on the disk when its commit returns.
  c.Execute("PRAGMA synchronous = FULL");
}

int32_t Store::Add(const Text& codigo, int32_t indDedo, double dataCadastro,
                   std::span<const StoredTemplate> templates) {
  if (templates.empty()) throw EDatabase(u"An entry needs at least one template");
  Connection& c = *connection_;
  Transaction t(c);
  Statement entry(c,
                  "INSERT INTO impressoes (codigo, ind_dedo, data_cadastro) VALUES (?1, ?2, ?3)");
  entry.Bind(1, codigo).Bind(2, int64_t{indDedo}).Bind(3, dataCadastro).Run();
  const int64_t id = c.LastInsertId();
  if (id <= 0 || id > std::numeric_limits<int32_t>::max()) {
    throw EDatabase(u"The fingerprint database has no more entry ids");
  }
  Statement add(c,
                "INSERT INTO templates (impressao, ordem, format, record) VALUES (?1, ?2, ?3, ?4)");
  for (size_t i = 0; i < templates.size(); ++i) {
    add.Reset();
    add.Bind(1, id)
        .Bind(2, static_cast<int64_t>(i))
        .Bind(3, int64_t{templates[i].format})
        .Bind(4, std::span<const uint8_t>(templates[i].record))
        .Run();
  }
  t.Commit();
  return static_cast<int32_t>(id);
}

bool Store::Remove(int32_t id) {
  Connection& c = *connection_;
  Transaction t(c);
  Statement s(c, "DELETE FROM impressoes WHERE id = ?1");
  s.Bind(1, int64_t{id}).Run();
  const bool removed = c.Changes() > 0;
  t.Commit();
  return removed;
}

int32_t Store::RemoveCode(const Text& codigo) {
  Connection& c = *connection_;
  Transaction t(c);
  Statement s(c, "DELETE FROM impressoes WHERE codigo = ?1");
  s.Bind(1, codigo).Run();
  const int32_t removed = c.Changes();
  Statement text(c, "DELETE FROM textos WHERE codigo = ?1");
  text.Bind(1, codigo).Run();
  t.Commit();
  return removed;
}

std::optional<EntryInfo> Store::Info(int32_t id) {
  Statement s(*connection_,
              std::string("SELECT ") + kEntryColumns + " FROM impressoes WHERE id = ?1");
  s.Bind(1, int64_t{id});
  if (!s.Step()) return std::nullopt;
  return ReadInfo(s);
}

std::optional<EntryInfo> Store::AtIndex(int32_t indice) {
  if (indice < 0) return std::nullopt;
  Statement s(*connection_, std::string("SELECT ") + kEntryColumns +
                                " FROM impressoes WHERE " DACTYRA_VALID_ID
                                " ORDER BY id LIMIT 1 OFFSET ?1");
  s.Bind(1, int64_t{indice});
  if (!s.Step()) return std::nullopt;
  return ReadInfo(s);
}

int32_t Store::Count() {
  return static_cast<int32_t>(
      connection_->QueryInt("SELECT count(*) FROM impressoes WHERE " DACTYRA_VALID_ID));
}

int32_t Store::CountOfCode(const Text& codigo) {
  Statement s(*connection_,
              "SELECT count(*) FROM impressoes WHERE codigo = ?1 AND " DACTYRA_VALID_ID);
  s.Bind(1, codigo);
  s.Step();
  return static_cast<int32_t>(s.Int(0));
}

std::vector<EntryInfo> Store::EntriesOfCode(const Text& codigo) {
  Statement s(*connection_, std::string("SELECT ") + kEntryColumns +
                                " FROM impressoes WHERE codigo = ?1 AND " DACTYRA_VALID_ID
                                " ORDER BY id");
  s.Bind(1, codigo);
  std::vector<EntryInfo> out;
  while (s.Step()) out.push_back(ReadInfo(s));
  return out;
}

std::vector<Text> Store::Codes() {
  Statement s(*connection_, "SELECT codigo FROM impressoes WHERE " DACTYRA_VALID_ID
                            " UNION SELECT codigo FROM textos ORDER BY 1");
  std::vector<Text> out;
  while (s.Step()) out.push_back(s.String(0));
  return out;
}

bool Store::NoteRecognition(int32_t id, double when) {
  Connection& c = *connection_;
  // A recognition is noted on the road of every search: it is not waited
  // to the disk. A power cut may lose the last counts, never an entry (the
  // log stays whole either way).
  c.Execute("PRAGMA synchronous = NORMAL");
  struct Restore {
    Connection& c;
    ~Restore() { sqlite3_exec(c.handle(), "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr); }
  } restore{c};
  Transaction t(c);
  Statement s(c,
              "UPDATE impressoes SET data_ultimo_reconhecimento = ?2, "
              "num_reconhecimentos = num_reconhecimentos + 1 WHERE id = ?1");
  s.Bind(1, int64_t{id}).Bind(2, when).Run();
  const bool noted = c.Changes() > 0;
  t.Commit();
  return noted;
}

void Store::SetText(const Text& codigo, const Text& valor) {
  Connection& c = *connection_;
  Transaction t(c);
  Statement s(c, "INSERT OR REPLACE INTO textos (codigo, valor) VALUES (?1, ?2)");
  s.Bind(1, codigo).Bind(2, valor).Run();
  t.Commit();
}

std::optional<Text> Store::TextOf(const Text& codigo) {
  Statement s(*connection_, "SELECT valor FROM textos WHERE codigo = ?1");
  s.Bind(1, codigo);
  if (!s.Step()) return std::nullopt;
  return s.String(0);
}

void Store::Compact() {
  connection_->Execute("VACUUM");
  // The rewritten pages are in the write-ahead log until a checkpoint; the
  // file shrinks only once they are back in it.
  connection_->Execute("PRAGMA wal_checkpoint(TRUNCATE)");
}

int64_t Store::DataVersion() { return connection_->QueryInt("PRAGMA data_version"); }

std::vector<int32_t> Store::Ids() {
  Statement s(*connection_, "SELECT id FROM impressoes WHERE " DACTYRA_VALID_ID " ORDER BY id");
  std::vector<int32_t> out;
  while (s.Step()) out.push_back(static_cast<int32_t>(s.Int(0)));
  return out;
}

std::vector<StoredEntry> Store::Entries(std::span<const int32_t> ids) {
  Connection& c = *connection_;
  // One read transaction, so that an entry and its templates are seen as
  // one.
  c.Execute("BEGIN");
  struct End {
    Connection& c;
    ~End() { sqlite3_exec(c.handle(), "COMMIT", nullptr, nullptr, nullptr); }
  } end{c};
  Statement entry(c, std::string("SELECT ") + kEntryColumns + " FROM impressoes WHERE id = ?1");
  Statement templates(c,
                      "SELECT format, record FROM templates WHERE impressao = ?1 ORDER BY ordem");
  std::vector<StoredEntry> out;
  out.reserve(ids.size());
  for (const int32_t id : ids) {
    entry.Reset();
    entry.Bind(1, int64_t{id});
    if (!entry.Step()) continue;
    StoredEntry e;
    e.info = ReadInfo(entry);
    templates.Reset();
    templates.Bind(1, int64_t{id});
    while (templates.Step()) {
      e.templates.push_back({static_cast<int32_t>(templates.Int(0)), templates.Blob(1)});
    }
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace dactyra::database
