// The fingerprint database file: one SQLite file holding the entries
// (fingerprints with an id, the person's code, the finger, the enrollment
// and last recognition dates and the recognition count), the templates of
// each entry with their format, and one text per code.
//
// The file says what it is: SQLite's application id is kApplicationId and
// its user version the format, kFormat. Opening refuses, and never
// changes, a file that is not SQLite, a SQLite file of another program,
// and a file of a newer format. Only an empty file (or none, when creating
// is allowed) becomes a new database.
//
// Every change is one transaction: an entry with all its templates is
// written whole or not at all, also when the process is killed in the
// middle (the write-ahead log is replayed or dropped by the next opener).
// Entry ids grow and are never reused, so an id seen by one process never
// names another person's entry later.
//
// Threads: a Store is used by one thread at a time (the database that owns
// it serialises callers). Several Stores, in this process or others, may
// use one file at once; a writer waits up to kBusyMs for another's
// transaction to end, then fails.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "database/sqlite.h"
#include "platform/text.h"

namespace dactyra::database {

// "DCTY": the SQLite application id of a fingerprint database.
inline constexpr int32_t kApplicationId = 0x44435459;
// The file format this library writes and reads.
inline constexpr int32_t kFormat = 1;
// The longest wait for another connection's transaction.
inline constexpr int kBusyMs = 10000;

// The one template format stored so far: a record in the template record
// layout, as the extraction engine exported it at 500 dots per inch.
inline constexpr int32_t kTemplateRecordFormat = 1;

// An entry, without its templates.
struct EntryInfo {
  int32_t id = 0;
  platform::Text codigo;
  int32_t indDedo = 0;
  // Local date-times: days since 30 December 1899, the time as the
  // fraction (0: never).
  double dataCadastro = 0;
  double dataUltimoReconhecimento = 0;
  int32_t numReconhecimentos = 0;
};

struct StoredTemplate {
  int32_t format = 0;
  std::vector<uint8_t> record;
  friend bool operator==(const StoredTemplate&, const StoredTemplate&) = default;
};

// An entry with its templates, in capture order.
struct StoredEntry {
  EntryInfo info;
  std::vector<StoredTemplate> templates;
};

class Store {
 public:
  // Opens the database at `path`, making a new one when the file is
  // missing or empty and `create` is set. Throws EDatabaseRefused for a
  // file of another kind or a newer format, EDatabase for other failures.
  Store(const platform::Text& path, bool create);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Adds one entry with its templates (at least one) in one transaction
  // and returns its id.
  int32_t Add(const platform::Text& codigo, int32_t indDedo, double dataCadastro,
              std::span<const StoredTemplate> templates);
  // Removes an entry; false when there is none of that id.
  bool Remove(int32_t id);
  // Removes every entry of a code and its text; the number of entries.
  int32_t RemoveCode(const platform::Text& codigo);

  std::optional<EntryInfo> Info(int32_t id);
  // The entry at position `indice` (from 0) in id order.
  std::optional<EntryInfo> AtIndex(int32_t indice);
  int32_t Count();
  int32_t CountOfCode(const platform::Text& codigo);
  std::vector<EntryInfo> EntriesOfCode(const platform::Text& codigo);
  // Every code with at least one entry or a text, in order.
  std::vector<platform::Text> Codes();
  // Notes a recognition of `id` at `when`; false when the entry is gone.
  bool NoteRecognition(int32_t id, double when);

  // Sets or replaces the text of a code.
  void SetText(const platform::Text& codigo, const platform::Text& valor);
  std::optional<platform::Text> TextOf(const platform::Text& codigo);

  // Rewrites the file without its free pages (VACUUM).
  void Compact();

  // --- For the in-memory templates --------------------------------------------

  // Changes whenever another connection (here or in another process)
  // commits a change; this Store's own commits leave it as it is.
  int64_t DataVersion();
  // Every entry id, ascending.
  std::vector<int32_t> Ids();
  // The entries of the given ids with their templates; ids that are gone
  // are left out.
  std::vector<StoredEntry> Entries(std::span<const int32_t> ids);

  // The path the store was opened on.
  const platform::Text& path() const { return connection_->path(); }

 private:
  void Prepare(bool create);
  std::unique_ptr<Connection> connection_;
};

// A local date and time as days since 30 December 1899 with the time of day
// as the fraction.
double ToDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond);

}  // namespace dactyra::database
