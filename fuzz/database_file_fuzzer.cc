// The fingerprint database over arbitrary file bytes: opening refuses what
// is not a database of its own format, and a file that passes is read
// whole (every entry, every template prepared for the matcher) without a
// crash and with no failure but EDatabase, whatever its tables hold. SQLite
// parses the pages; this reaches the checks and reads above it.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "database/fingerprint_database.h"

namespace {

// Images never reach it: the file is all there is.
class NoImages final : public dactyra::database::TemplateMaker {
 public:
  std::optional<std::vector<uint8_t>> Make(const dactyra::TGrayImage&, int32_t) override {
    std::abort();
  }
};

// A record of three minutiae, in the engine's layout.
const std::vector<uint8_t> kProbe = [] {
  std::vector<uint8_t> r(26, 0);
  r[24] = 3;
  r[25] = 4;
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t w = ((40 + 30 * i) << 21) | ((50 + 20 * i) << 10) | (1u << 8) | (i * 40);
    for (int b = 0; b < 4; ++b) r.push_back(static_cast<uint8_t>(w >> (8 * b)));
  }
  r.resize(r.size() + 9, 0);
  return r;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dactyra::database;
  static const std::string path = (std::filesystem::temp_directory_path() /
                                   ("dactyra-fuzz-" + std::to_string(getpid()) + ".db"))
                                      .string();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::filesystem::remove(path + suffix);
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  NoImages maker;
  try {
    TFingerprintDatabase base(dactyra::platform::Env::Default(), maker,
                              dactyra::platform::FromUtf8(path), false);
    // A damaged file that SQLite does not notice may answer one question
    // differently from another (a count from a walk of the ids): only a
    // crash, a read out of bounds or a failure other than EDatabase is a
    // fault here.
    const auto entries = base.Entries();
    base.GetNumImpressoes();
    for (const auto& e : entries) {
      dactyra::platform::Text c;
      int32_t f = 0;
      base.PegInformacao(e.id, c, f);
    }
    base.Codes();
    // A search reads every entry and prepares its templates; a comparison
    // of two entries reads theirs.
    TTemplateRecord probe(kProbe);
    dactyra::platform::Text codigo;
    int32_t indDedo = 0;
    base.PesquisarImpressao(&probe, codigo, indDedo, nullptr);
    if (entries.size() >= 2) {
      int32_t n1, n2, pairs, dx, dy, angle, score;
      base.VerificarIds(entries[0].id, entries[1].id, n1, n2, pairs, dx, dy, angle, score,
                        nullptr);
    }
  } catch (const EDatabase&) {
    // Refused or unreadable: the answer for most inputs.
  }
  return 0;
}
