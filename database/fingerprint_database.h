// TFingerprintDatabase: the fingerprint database a scanner component works
// against (TVelmoraBase), over one SQLite file (database/store.h), with the
// prepared templates of every entry in memory for searches.
//
// Scores are the matcher's (matching/compare.h): 0 to kMaxScore, higher is
// more alike. An identification needs `limiar1paraN`; a verification
// `limiar1para1` unless the caller gives its own; the captures of one
// enrollment must agree to `limiarUniao`: each must reach it with at least
// one of the others (impressions of one finger overlap in pairs, not always
// all three at once).
//
// An enrollment entry holds the templates of all its captures; an entry's
// score against a probe is the best of them.
//
// Memory and other processes. The first identification reads every entry
// and prepares its templates (opening costs nothing until then). Every
// search then asks the file whether another connection committed since the
// last look (SQLite's data version) and, if so, brings the in-memory
// templates up to date: entries added elsewhere are prepared and found,
// entries removed elsewhere are no longer found. Verifications read the
// person's entries from the file each time.
//
// Threads and locks. Any thread may call any operation; the component calls
// from its image thread, its search thread and the caller's thread at once.
// Locks, in the order they may be nested:
//   gallery_writer_lock_  one change of the in-memory entries at a time
//                         (refresh, add, remove, activation);
//   store_lock_           the SQLite connection;
//   entries_lock_         (shared) the in-memory entries: searches read them
//                         shared, changes take it exclusive.
// enrollment_lock_ guards the enrollment in progress and stands alone:
// nothing else is taken while it is held. Extraction runs under no lock of
// this class (the extractor serialises itself), so a slow image holds no
// search up. No callback runs under any of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <vector>

#include "database/store.h"
#include "database/template_maker.h"
#include "matching/compare.h"
#include "matching/gallery.h"
#include "matching/template.h"
#include "platform/env.h"
#include "scanning/velmora_base.h"

namespace dactyra::database {

struct Thresholds {
  // An identification: one false match in ten thousand comparisons.
  int32_t limiar1paraN = matching::kThresholdFmr1In10000;
  // A verification against one person's entries.
  int32_t limiar1para1 = matching::kThresholdFmr1In1000;
  // How well the captures of one enrollment must agree.
  int32_t limiarUniao = matching::kThresholdFmr1In1000;
  // Fewer minutiae than this make an image of poor quality
  // (QualidadeRuim): it is refused for enrollment.
  int32_t minimoMinucias = 12;
};

// A template record handed to the operations that take template objects
// (CriarTemplate makes them from text).
class TTemplateRecord final : public TTemplateBase {
 public:
  explicit TTemplateRecord(std::vector<uint8_t> record) : record_(std::move(record)) {}
  const std::vector<uint8_t>& record() const { return record_; }

 private:
  std::vector<uint8_t> record_;
};

// One entry found by a search.
struct Match {
  int32_t id = 0;
  platform::Text codigo;
  int32_t indDedo = 0;
  int32_t score = 0;
};

// The outcome of a verification against one code.
struct Verification {
  // The entry that reached the threshold, 0 when none did.
  int32_t id = 0;
  // The best score among the code's entries (0 when it has none).
  int32_t score = 0;
};

class TFingerprintDatabase final : public TVelmoraBase {
 public:
  // Opens (or makes, when `create`) the database at `path`: the database is
  // active at once. Throws EDatabaseRefused for a file that is not a
  // fingerprint database or is of a newer format, EDatabase otherwise.
  // `env` (the clock of the dates) and `maker` outlive the database.
  TFingerprintDatabase(platform::Env& env, TemplateMaker& maker, platform::Text path,
                       bool create = true, Thresholds thresholds = {});
  ~TFingerprintDatabase() override;

  const Thresholds& thresholds() const { return thresholds_; }
  const platform::Text& path() const { return path_; }

  // --- The library's own operations (Java and the command-line tool) -------

  // One entry from `images` (one to kMaxEnrollmentImages captures of one
  // finger, which must agree when there are several). Throws EDatabase
  // naming the image that gives no usable template or the pair that does
  // not agree.
  static constexpr size_t kMaxEnrollmentImages = 10;
  int32_t Enroll(const platform::Text& codigo, int32_t indDedo,
                 std::span<const TGrayImage* const> images);
  // The best entry reaching limiar1paraN, noted as recognised.
  std::optional<Match> Identify(const TGrayImage& image);
  // `image` against the entries of `codigo`; limiar <= 0 means
  // limiar1para1.
  Verification Verify(const TGrayImage& image, const platform::Text& codigo, int32_t limiar = 0);
  // Every entry, in id order.
  std::vector<EntryInfo> Entries();
  std::vector<platform::Text> Codes();

  // --- TVelmoraBase ------------------------------------------------------------

  int32_t GetNumImpressoes() override;
  bool GetAtivo() override;
  // False closes the file and forgets the templates; true opens it again.
  void SetAtivo(bool value) override;
  int32_t GetUltimaPontuacao() override;
  bool GetQualidadeRuim() override;
  int32_t AdicionarImagem(const TGrayImage* grayImage, const platform::Text& codigo,
                          int32_t indDedo, TVerificadorFPBase* verificador) override;
  int32_t PesquisarImagem2(const TGrayImage* grayImage, platform::Text& codigo, int32_t& indDedo,
                           TVerificadorFPBase* verificador) override;
  bool Excluir(int32_t id) override;
  bool PegInformacao(int32_t id, platform::Text& codigo, int32_t& indDedo) override;
  bool PegInformacao2(int32_t id, platform::Text& codigo, int32_t& indDedo, double& dataCadastro,
                      double& dataUltimoReconhecimento, int32_t& numReconhecimentos) override;
  bool PegImpressao(int32_t indice, int32_t& id, platform::Text& codigo, int32_t& indDedo) override;
  int32_t ExcluirImpressoesCodigo(const platform::Text& codigo) override;
  int32_t NumImpressoesCodigo(const platform::Text& codigo) override;
  TVetorIdInfo IdsInfoParaCodigo(const platform::Text& codigo, int32_t tipoInfo) override;
  TVetorInfoHashes PegHashesParalela(const platform::Text& codigo,
                                     TFormatoTemplate formato) override;
  void CompactarBase() override;
  bool AdicionarImagemCadastro(const TGrayImage* imagem) override;
  bool AdicionarImagemCadastroP6(const TGrayImage* imagem, int32_t& limiarUniu,
                                 int32_t& limiar1paraN) override;
  bool AdicionarImpressaoCadastro(TTemplateBase* minucias, TTemplateBase* minuciasP,
                                  int32_t& limiarUniu, int32_t& limiar1paraN) override;
  void ReiniciarCadastro() override;
  int32_t AdicionarImpressaoUnida(const platform::Text& codigo, int32_t indDedo) override;
  void AdicionarImpressaoRuim(const platform::Text& codigo, int32_t indDedo, int32_t& id1,
                              int32_t& id2, int32_t& id3) override;
  bool PesquisarImpressaoUnida(int32_t& id, platform::Text& codigo, int32_t& indDedo) override;
  bool LeitorValido(const platform::Text& idLeitor) override;
  bool PesquisarInterno(int32_t indice, int32_t& posicao, int32_t& numCandidatas,
                        int32_t& numCandidatasAcimaPontuacao) override;
  TVetorResultadoImagemRuim PesquisarImagemRuim(const TGrayImage* grayImage) override;
  int32_t VerificarImagem(const TGrayImage* grayImage, const platform::Text& codigo, int32_t limiar,
                          TVerificadorFPBase* verificadorB) override;
  int32_t VerificarImpressao(TTemplateBase* minucias, const platform::Text& codigo, int32_t limiar,
                             TVerificadorFPBase* verificadorB) override;
  bool VerificarIds(int32_t id1, int32_t id2, int32_t& numMinucias1, int32_t& numMinucias2,
                    int32_t& numMinuciasMatch, int32_t& dx, int32_t& dy, int32_t& anguloRotacao,
                    int32_t& pontuacao, TVerificadorFPBase* verificadorB) override;
  bool AssociarTextoCodigo(const platform::Text& codigo, const platform::Text& valor) override;
  bool PegTextoCodigo(const platform::Text& codigo, platform::Text& valor) override;
  int32_t PesquisarImpressao(TTemplateBase* tB, platform::Text& codigo, int32_t& indDedo,
                             TVerificadorFPBase* verificadorB) override;
  TVetorIds IdsParaCodigo(const platform::Text& codigo) override;
  // FTC_InternoVelmora: the record's bytes as hexadecimal digits. Null for
  // other formats and for text that is not such digits.
  TTemplateBase* CriarTemplate(const platform::Text& templateStr, int32_t formato) override;

 private:
  // An entry as searches see it.
  struct Entry {
    platform::Text codigo;
    int32_t indDedo = 0;
    std::vector<matching::Template> templates;
  };
  // A capture of the enrollment in progress; no template when it gave
  // none.
  struct Capture {
    std::optional<matching::Template> prepared;
    std::vector<uint8_t> record;
  };

  // Throws EDatabase unless active; the store, under store_lock_.
  Store& OpenStore();
  // Brings the in-memory entries up to date with the file, reading them
  // all the first time (searches only: nothing else needs them all).
  void Refresh();
  // The same, with gallery_writer_lock_ held.
  void RefreshHeld();
  static Entry PrepareEntry(StoredEntry& stored);
  // The entries of `ids` read from the file and prepared; ids that are gone
  // are left out.
  std::vector<std::pair<int32_t, Entry>> ReadEntries(std::span<const int32_t> ids);
  void Forget();
  // Adds an entry of `captures` to the file and to memory.
  int32_t AddEntry(const platform::Text& codigo, int32_t indDedo,
                   const std::vector<Capture>& captures);
  Capture MakeCapture(const TGrayImage* image, int32_t indDedo);
  static matching::Template Prepare(std::span<const uint8_t> record);
  bool PoorQuality(const matching::Template& t) const;
  // The agreement of the captures (see the header comment); 0 unless every
  // one has a template.
  static int32_t Agreement(const std::vector<Capture>& captures);
  // An enrollment step; counts the captures and merges at the third.
  bool EnrollmentStep(Capture capture, int32_t& limiarUniu, int32_t& limiar1paraN);
  std::optional<Match> Search(std::span<const matching::Template> probes);
  Verification VerifyTemplate(const matching::Template& probe, const platform::Text& codigo,
                              int32_t limiar);
  void NoteRecognition(int32_t id);
  double Now();
  static void CheckEntryArguments(const platform::Text& codigo, int32_t indDedo);

  platform::Env& env_;
  TemplateMaker& maker_;
  const platform::Text path_;
  const Thresholds thresholds_;

  std::mutex gallery_writer_lock_;
  std::mutex store_lock_;
  std::unique_ptr<Store> store_;
  std::atomic<bool> active_{false};
  // Whether the entries are in memory, and the file's data version when they
  // were last brought up to date (both under gallery_writer_lock_).
  bool loaded_ = false;
  int64_t seen_version_ = -1;

  mutable std::shared_mutex entries_lock_;
  std::map<int32_t, Entry> entries_;
  matching::Gallery gallery_;

  std::mutex enrollment_lock_;
  std::vector<Capture> enrollment_;
  bool merged_ = false;

  std::atomic<int32_t> ultimaPontuacao_{0};
  std::atomic<bool> qualidadeRuim_{false};
};

}  // namespace dactyra::database
