// The fingerprint database's own costs, beside the matcher's gallery and a
// bare SQLite insert as floors, on random templates (the matcher's cost per
// comparison depends on the minutiae, not on where they come from):
//   - identification through the database (in-memory templates, the check
//     for other writers, the recognition noted) against the gallery alone;
//   - enrolling one entry (one transaction waited to the disk) against a
//     bare insert of the same bytes in a transaction of its own;
//   - the first search after opening a file of N entries (every template
//     read and prepared);
//   - the next search after another connection added an entry (the
//     refresh), against a search with nothing new.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "database/fingerprint_database.h"

namespace {

using namespace dactyra;
using namespace dactyra::database;

constexpr int kMinutiae = 40;

// A file name of this run in the temporary folder; every one is removed at
// the end.
std::vector<std::string> gFiles;
std::string TempFile(const std::string& what) {
  static const std::string run = std::to_string(std::random_device{}());
  const std::string path =
      (std::filesystem::temp_directory_path() / ("dactyra-bench-" + run + "-" + what + ".db"))
          .string();
  std::filesystem::remove(path);
  gFiles.push_back(path);
  return path;
}

// A record in the engine's layout holding `m`: position and angle words with
// a quality byte each, then empty core, delta and double-core blocks.
std::vector<uint8_t> Record(const std::vector<matching::Minutia>& m) {
  std::vector<uint8_t> r(26, 0);
  r[22] = 1;
  r[24] = static_cast<uint8_t>(m.size());
  r[25] = 5;
  for (const auto& p : m) {
    const auto x = static_cast<uint32_t>(p.x);
    const auto y = static_cast<uint32_t>(p.y);
    const auto a = static_cast<uint32_t>(p.direction / (2 * 3.14159265358979) * 256) & 0xFF;
    const uint32_t w = (x << 21) | (y << 10) | (1u << 8) | a;
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(w >> (8 * i)));
    r.push_back(80);
  }
  for (int i = 0; i < 9; ++i) r.push_back(0);
  return r;
}

std::vector<matching::Minutia> RandomMinutiae(std::mt19937& rng) {
  std::uniform_real_distribution<double> x(20, 300), y(20, 345), a(0, 2 * 3.14159265358979);
  std::vector<matching::Minutia> m(kMinutiae);
  for (auto& p : m) p = {x(rng), y(rng), a(rng), matching::MinutiaKind::kEnding};
  return m;
}

// The same finger laid again: every minutia moved a little.
std::vector<matching::Minutia> Jittered(std::vector<matching::Minutia> m, std::mt19937& rng) {
  std::normal_distribution<double> d(0, 2), t(0, 0.08);
  for (auto& p : m) {
    p.x += d(rng);
    p.y += d(rng);
    p.direction = std::fmod(p.direction + t(rng) + 2 * 3.14159265358979, 2 * 3.14159265358979);
  }
  return m;
}

class NoImages final : public TemplateMaker {
 public:
  std::optional<std::vector<uint8_t>> Make(const TGrayImage&, int32_t) override { std::abort(); }
};

NoImages gNoImages;

// A database file of `n` random entries (made once a size), the minutiae of
// its first entry, and the path.
struct Corpus {
  std::string path;
  std::vector<matching::Minutia> first;
  std::vector<std::vector<uint8_t>> records;
};

const Corpus& CorpusOf(int n) {
  static std::map<int, Corpus> made;
  auto [it, fresh] = made.try_emplace(n);
  Corpus& c = it->second;
  if (!fresh) return c;
  c.path = TempFile(std::to_string(n));
  { Store make(platform::FromUtf8(c.path), true); }
  std::mt19937 rng(n);
  // Written in one transaction without waiting for the disk: only the
  // contents matter here.
  Connection bulk(platform::FromUtf8(c.path), Connection::Mode::kReadWrite, kBusyMs);
  bulk.Execute("PRAGMA synchronous = OFF");
  bulk.Execute("BEGIN");
  Statement entry(bulk, "INSERT INTO impressoes (codigo, ind_dedo, data_cadastro) VALUES (?1, 1, 0)");
  Statement add(bulk, "INSERT INTO templates (impressao, ordem, format, record) VALUES (?1, 0, 1, ?2)");
  for (int i = 0; i < n; ++i) {
    const auto m = RandomMinutiae(rng);
    if (i == 0) c.first = m;
    const auto record = Record(m);
    c.records.push_back(record);
    entry.Reset();
    entry.Bind(1, "p" + std::to_string(i)).Run();
    add.Reset();
    add.Bind(1, bulk.LastInsertId()).Bind(2, std::span<const uint8_t>(record)).Run();
  }
  bulk.Execute("COMMIT");
  return c;
}

void BM_DatabaseIdentify(benchmark::State& state) {
  const Corpus& c = CorpusOf(static_cast<int>(state.range(0)));
  TFingerprintDatabase base(platform::Env::Default(), gNoImages, platform::FromUtf8(c.path), false);
  std::mt19937 rng(7);
  TTemplateRecord probe(Record(Jittered(c.first, rng)));
  platform::Text codigo;
  int32_t indDedo = 0;
  // The first search reads and prepares every entry (BM_DatabaseFirstSearch).
  base.PesquisarImpressao(&probe, codigo, indDedo, nullptr);
  for (auto _ : state) {
    if (base.PesquisarImpressao(&probe, codigo, indDedo, nullptr) == 0) {
      state.SkipWithError("the probe was not found");
      break;
    }
  }
}

void BM_GalleryIdentify(benchmark::State& state) {
  const Corpus& c = CorpusOf(static_cast<int>(state.range(0)));
  matching::Gallery gallery;
  for (size_t i = 0; i < c.records.size(); ++i) {
    gallery.Add(static_cast<matching::EntryId>(i + 1), matching::Template::FromRecord(c.records[i]));
  }
  std::mt19937 rng(7);
  const auto probe = matching::Template::FromRecord(Record(Jittered(c.first, rng)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(gallery.Identify(probe, matching::kThresholdFmr1In10000, 1));
  }
}

void BM_DatabaseFirstSearch(benchmark::State& state) {
  const Corpus& c = CorpusOf(static_cast<int>(state.range(0)));
  std::mt19937 rng(5);
  TTemplateRecord probe(Record(RandomMinutiae(rng)));
  platform::Text codigo;
  int32_t indDedo = 0;
  for (auto _ : state) {
    TFingerprintDatabase base(platform::Env::Default(), gNoImages, platform::FromUtf8(c.path),
                              false);
    benchmark::DoNotOptimize(base.PesquisarImpressao(&probe, codigo, indDedo, nullptr));
  }
}

void BM_DatabaseSeesAnotherWriter(benchmark::State& state) {
  const Corpus& c = CorpusOf(static_cast<int>(state.range(0)));
  TFingerprintDatabase base(platform::Env::Default(), gNoImages, platform::FromUtf8(c.path), false);
  Store other(platform::FromUtf8(c.path), false);
  const bool added = state.range(1) != 0;
  std::mt19937 rng(11);
  TTemplateRecord probe(Record(RandomMinutiae(rng)));
  const StoredTemplate t[] = {{kTemplateRecordFormat, Record(RandomMinutiae(rng))}};
  platform::Text codigo;
  int32_t indDedo = 0;
  base.PesquisarImpressao(&probe, codigo, indDedo, nullptr);
  std::vector<int32_t> ids;
  for (auto _ : state) {
    if (added) {
      state.PauseTiming();
      ids.push_back(other.Add(u"new", 1, 0, t));
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(base.PesquisarImpressao(&probe, codigo, indDedo, nullptr));
  }
  for (const int32_t id : ids) other.Remove(id);
}

void BM_DatabaseEnroll(benchmark::State& state) {
  const std::string path = TempFile("enroll");
  TFingerprintDatabase base(platform::Env::Default(), gNoImages, platform::FromUtf8(path));
  std::mt19937 rng(3);
  const auto m = RandomMinutiae(rng);
  TTemplateRecord capture(Record(m));
  int32_t u = 0, n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    base.ReiniciarCadastro();
    for (int k = 0; k < 3; ++k) base.AdicionarImpressaoCadastro(&capture, nullptr, u, n);
    state.ResumeTiming();
    benchmark::DoNotOptimize(base.AdicionarImpressaoUnida(u"ana", 1));
  }
}

void BM_SqliteInsert(benchmark::State& state) {
  const std::string path = TempFile("insert");
  { Store make(platform::FromUtf8(path), true); }
  Connection c(platform::FromUtf8(path), Connection::Mode::kReadWrite, kBusyMs);
  c.Execute("PRAGMA synchronous = FULL");
  std::mt19937 rng(3);
  const auto record = Record(RandomMinutiae(rng));
  for (auto _ : state) {
    Transaction t(c);
    Statement entry(c, "INSERT INTO impressoes (codigo, ind_dedo, data_cadastro) VALUES ('ana', 1, 0)");
    entry.Run();
    const int64_t id = c.LastInsertId();
    Statement add(c, "INSERT INTO templates (impressao, ordem, format, record) VALUES (?1, ?2, 1, ?3)");
    for (int k = 0; k < 3; ++k) {
      add.Reset();
      add.Bind(1, id).Bind(2, int64_t{k}).Bind(3, std::span<const uint8_t>(record)).Run();
    }
    t.Commit();
  }
}

BENCHMARK(BM_DatabaseIdentify)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GalleryIdentify)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatabaseFirstSearch)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DatabaseSeesAnotherWriter)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_DatabaseEnroll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteInsert)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string& file : gFiles) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file + suffix);
  }
  return 0;
}
