// The fingerprint database of database/fingerprint_database.h.
#include "database/fingerprint_database.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

namespace dactyra::database {

using platform::Text;

namespace {

// Texts longer than this are taken for a caller's mistake.
constexpr size_t kMaxCodeLength = 256;
// Finger position codes run from 0 (unknown) to 15.
constexpr int32_t kMaxFinger = 15;
// Images from readers are live-scan plain impressions.
constexpr int32_t kLiveScanPlain = 1;

Text Number(int64_t n) { return platform::FromUtf8(std::to_string(n)); }

[[noreturn]] void NotSupported() { throw EVelmoraFP(u"Método não suportado"); }

const TTemplateRecord& RecordOf(TTemplateBase* t) {
  const auto* record = dynamic_cast<const TTemplateRecord*>(t);
  if (record == nullptr) throw EDatabase(u"Not a template of this database");
  return *record;
}

}  // namespace

// --- Template maker --------------------------------------------------------------

std::optional<std::vector<uint8_t>> EngineTemplateMaker::Make(const TGrayImage& image,
                                                              int32_t indDedo) {
  if (image.Width <= 0 || image.Height <= 0) {
    throw EDatabase(u"An image of " + Number(image.Width) + u" × " + Number(image.Height) +
                    u" pixels has no fingerprint");
  }
  uint64_t handle = 0;
  {
    std::lock_guard held(lock_);
    if (handle_ == 0) handle_ = extractor_.CreateExtractor();
    handle = handle_;
  }
  const int32_t position = (indDedo >= 0 && indDedo <= kMaxFinger) ? indDedo : 0;
  return extractor_.Extract(handle, image.Bits.Pixels(), image.Width, image.Height, position,
                            kLiveScanPlain);
}

// --- Opening and closing -----------------------------------------------------------

TFingerprintDatabase::TFingerprintDatabase(platform::Env& env, TemplateMaker& maker, Text path,
                                           bool create, Thresholds thresholds)
    : env_(env), maker_(maker), path_(std::move(path)), thresholds_(thresholds) {
  store_ = std::make_unique<Store>(path_, create);
  active_.store(true);
}

TFingerprintDatabase::~TFingerprintDatabase() = default;

bool TFingerprintDatabase::GetAtivo() { return active_.load(); }

void TFingerprintDatabase::SetAtivo(bool value) {
  {
    std::lock_guard writer(gallery_writer_lock_);
    {
      std::lock_guard held(store_lock_);
      if (value == active_.load()) return;
      // Opened again, the file is read afresh: it may have changed while
      // closed.
      if (value) {
        store_ = std::make_unique<Store>(path_, false);
      } else {
        store_.reset();
      }
      seen_version_ = -1;
      loaded_ = false;
      active_.store(value);
    }
    Forget();
  }
}

Store& TFingerprintDatabase::OpenStore() {
  if (!store_) throw EDatabase(u"The fingerprint database " + path_ + u" is not active");
  return *store_;
}

void TFingerprintDatabase::Forget() {
  std::unique_lock held(entries_lock_);
  entries_.clear();
  gallery_.Clear();
}

matching::Template TFingerprintDatabase::Prepare(std::span<const uint8_t> record) {
  try {
    return matching::Template::FromRecord(record);
  } catch (const matching::TemplateError& e) {
    throw EDatabase(u"A template the matcher cannot read: " + e.message());
  }
}

TFingerprintDatabase::Entry TFingerprintDatabase::PrepareEntry(StoredEntry& stored) {
  Entry entry{std::move(stored.info.codigo), stored.info.indDedo, {}};
  for (const StoredTemplate& t : stored.templates) {
    // A template of a format this library does not know cannot be
    // compared; the entry keeps its others.
    if (t.format != kTemplateRecordFormat) continue;
    try {
      entry.templates.push_back(matching::Template::FromRecord(t.record));
    } catch (const matching::TemplateError&) {
      // A damaged template is left out the same way.
    }
  }
  return entry;
}

std::vector<std::pair<int32_t, TFingerprintDatabase::Entry>> TFingerprintDatabase::ReadEntries(
    std::span<const int32_t> ids) {
  std::vector<StoredEntry> stored;
  {
    std::lock_guard held(store_lock_);
    stored = OpenStore().Entries(ids);
  }
  std::vector<std::pair<int32_t, Entry>> out;
  out.reserve(stored.size());
  for (StoredEntry& s : stored) {
    const int32_t id = s.info.id;
    out.emplace_back(id, PrepareEntry(s));
  }
  return out;
}

void TFingerprintDatabase::Refresh() {
  std::lock_guard writer(gallery_writer_lock_);
  RefreshHeld();
}

void TFingerprintDatabase::RefreshHeld() {
  std::vector<StoredEntry> added;
  std::vector<int32_t> gone;
  {
    std::lock_guard held(store_lock_);
    Store& store = OpenStore();
    // The version is read before the ids: a commit after it changes it
    // again, and the next search sees that commit.
    const int64_t version = store.DataVersion();
    if (loaded_ && version == seen_version_) return;
    const std::vector<int32_t> ids = store.Ids();
    std::vector<int32_t> fresh;
    {
      std::shared_lock read(entries_lock_);
      for (const int32_t id : ids) {
        if (!entries_.contains(id)) fresh.push_back(id);
      }
      for (const auto& [id, entry] : entries_) {
        if (!std::binary_search(ids.begin(), ids.end(), id)) gone.push_back(id);
      }
    }
    added = store.Entries(fresh);
    seen_version_ = version;
  }
  // Preparing is the long part; it needs neither the file nor the entries.
  std::vector<std::pair<int32_t, Entry>> prepared;
  prepared.reserve(added.size());
  for (StoredEntry& stored : added) {
    const int32_t id = stored.info.id;
    prepared.emplace_back(id, PrepareEntry(stored));
  }
  std::unique_lock write(entries_lock_);
  for (const int32_t id : gone) {
    entries_.erase(id);
    gallery_.Remove(id);
  }
  for (auto& [id, entry] : prepared) {
    for (const matching::Template& t : entry.templates) gallery_.Add(id, t);
    entries_.insert_or_assign(id, std::move(entry));
  }
  loaded_ = true;
}

double TFingerprintDatabase::Now() {
  const platform::LocalTime t = env_.Now();
  return ToDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
}

void TFingerprintDatabase::CheckEntryArguments(const Text& codigo, int32_t indDedo) {
  if (codigo.empty()) throw EDatabase(u"An entry needs a code");
  if (codigo.size() > kMaxCodeLength) {
    throw EDatabase(u"A code of " + Number(static_cast<int64_t>(codigo.size())) +
                    u" characters is longer than " + Number(kMaxCodeLength));
  }
  if (indDedo < 0 || indDedo > kMaxFinger) {
    throw EDatabase(u"Finger " + Number(indDedo) + u" is not a finger position code (0 to " +
                    Number(kMaxFinger) + u")");
  }
}

// --- Templates of images -----------------------------------------------------------

bool TFingerprintDatabase::PoorQuality(const matching::Template& t) const {
  return static_cast<int64_t>(t.minutiae().size()) < thresholds_.minimoMinucias;
}

TFingerprintDatabase::Capture TFingerprintDatabase::MakeCapture(const TGrayImage* image,
                                                                int32_t indDedo) {
  if (image == nullptr) throw EDatabase(u"No image");
  Capture capture;
  std::optional<std::vector<uint8_t>> record = maker_.Make(*image, indDedo);
  if (record) {
    capture.prepared = Prepare(*record);
    capture.record = std::move(*record);
  }
  qualidadeRuim_.store(!capture.prepared || PoorQuality(*capture.prepared));
  return capture;
}

// --- Adding entries ----------------------------------------------------------------

int32_t TFingerprintDatabase::AddEntry(const Text& codigo, int32_t indDedo,
                                       const std::vector<Capture>& captures) {
  CheckEntryArguments(codigo, indDedo);
  std::vector<StoredTemplate> stored;
  Entry entry{codigo, indDedo, {}};
  for (const Capture& c : captures) {
    if (!c.prepared) continue;
    stored.push_back({kTemplateRecordFormat, c.record});
    entry.templates.push_back(*c.prepared);
  }
  if (stored.empty()) throw EDatabase(u"No template to add");
  std::lock_guard writer(gallery_writer_lock_);
  // With the templates in memory, entries another process added are taken
  // in first, so that the new one is the only entry this change adds.
  // Without them, nothing is kept in memory: the first search reads all.
  if (loaded_) RefreshHeld();
  int32_t id = 0;
  {
    std::lock_guard held(store_lock_);
    id = OpenStore().Add(codigo, indDedo, Now(), stored);
  }
  if (loaded_) {
    std::unique_lock write(entries_lock_);
    for (const matching::Template& t : entry.templates) gallery_.Add(id, t);
    entries_.insert_or_assign(id, std::move(entry));
  }
  return id;
}

int32_t TFingerprintDatabase::Agreement(const std::vector<Capture>& captures) {
  if (captures.empty()) return 0;
  for (const Capture& c : captures) {
    if (!c.prepared) return 0;
  }
  if (captures.size() == 1) return matching::kMaxScore;
  int32_t agreement = matching::kMaxScore;
  for (size_t i = 0; i < captures.size(); ++i) {
    int32_t best = 0;
    for (size_t j = 0; j < captures.size(); ++j) {
      if (i != j)
        best = std::max(best, matching::Compare(*captures[i].prepared, *captures[j].prepared));
    }
    agreement = std::min(agreement, best);
  }
  return agreement;
}

int32_t TFingerprintDatabase::Enroll(const Text& codigo, int32_t indDedo,
                                     std::span<const TGrayImage* const> images) {
  CheckEntryArguments(codigo, indDedo);
  if (images.empty() || images.size() > kMaxEnrollmentImages) {
    throw EDatabase(u"An enrollment takes 1 to " + Number(kMaxEnrollmentImages) + u" images, not " +
                    Number(static_cast<int64_t>(images.size())));
  }
  std::vector<Capture> captures;
  for (size_t i = 0; i < images.size(); ++i) {
    Capture c = MakeCapture(images[i], indDedo);
    if (!c.prepared || PoorQuality(*c.prepared)) {
      throw EDatabase(u"Image " + Number(static_cast<int64_t>(i + 1)) +
                      u" gives no usable template (" +
                      Number(c.prepared ? static_cast<int64_t>(c.prepared->minutiae().size()) : 0) +
                      u" minutiae, " + Number(thresholds_.minimoMinucias) + u" needed)");
    }
    captures.push_back(std::move(c));
  }
  const int32_t agreement = Agreement(captures);
  ultimaPontuacao_.store(agreement);
  if (agreement < thresholds_.limiarUniao) {
    throw EDatabase(u"The images do not agree: score " + Number(agreement) + u", " +
                    Number(thresholds_.limiarUniao) + u" needed");
  }
  return AddEntry(codigo, indDedo, captures);
}

int32_t TFingerprintDatabase::AdicionarImagem(const TGrayImage* grayImage, const Text& codigo,
                                              int32_t indDedo, TVerificadorFPBase*) {
  CheckEntryArguments(codigo, indDedo);
  Capture c = MakeCapture(grayImage, indDedo);
  if (!c.prepared || PoorQuality(*c.prepared)) {
    throw EDatabase(u"The image gives no usable template");
  }
  return AddEntry(codigo, indDedo, {std::move(c)});
}

// --- Enrollment of three captures --------------------------------------------------

void TFingerprintDatabase::ReiniciarCadastro() {
  std::lock_guard held(enrollment_lock_);
  enrollment_.clear();
  merged_ = false;
}

bool TFingerprintDatabase::EnrollmentStep(Capture capture, int32_t& limiarUniu,
                                          int32_t& limiar1paraN) {
  const bool usable = capture.prepared && !PoorQuality(*capture.prepared);
  if (!usable) capture.prepared.reset();
  std::lock_guard held(enrollment_lock_);
  // The capture after a third begins the next enrollment.
  if (enrollment_.size() >= 3) {
    enrollment_.clear();
    merged_ = false;
  }
  enrollment_.push_back(std::move(capture));
  limiar1paraN = thresholds_.limiar1paraN;
  if (enrollment_.size() < 3) {
    limiarUniu = 0;
    return usable;
  }
  limiarUniu = Agreement(enrollment_);
  merged_ = limiarUniu >= thresholds_.limiarUniao;
  ultimaPontuacao_.store(limiarUniu);
  return merged_;
}

bool TFingerprintDatabase::AdicionarImagemCadastroP6(const TGrayImage* imagem, int32_t& limiarUniu,
                                                     int32_t& limiar1paraN) {
  return EnrollmentStep(MakeCapture(imagem, 0), limiarUniu, limiar1paraN);
}

bool TFingerprintDatabase::AdicionarImagemCadastro(const TGrayImage* imagem) {
  int32_t limiarUniu = 0;
  int32_t limiar1paraN = 0;
  return AdicionarImagemCadastroP6(imagem, limiarUniu, limiar1paraN);
}

bool TFingerprintDatabase::AdicionarImpressaoCadastro(TTemplateBase* minucias, TTemplateBase*,
                                                      int32_t& limiarUniu, int32_t& limiar1paraN) {
  Capture capture;
  capture.record = RecordOf(minucias).record();
  capture.prepared = Prepare(capture.record);
  qualidadeRuim_.store(PoorQuality(*capture.prepared));
  return EnrollmentStep(std::move(capture), limiarUniu, limiar1paraN);
}

int32_t TFingerprintDatabase::AdicionarImpressaoUnida(const Text& codigo, int32_t indDedo) {
  std::vector<Capture> captures;
  {
    std::lock_guard held(enrollment_lock_);
    if (!merged_) {
      throw EDatabase(u"There is no enrollment of three agreeing captures to add");
    }
    captures = enrollment_;
  }
  const int32_t id = AddEntry(codigo, indDedo, captures);
  // Added once: a second call would add the same finger again.
  ReiniciarCadastro();
  return id;
}

bool TFingerprintDatabase::PesquisarImpressaoUnida(int32_t& id, Text& codigo, int32_t& indDedo) {
  std::vector<matching::Template> probes;
  {
    std::lock_guard held(enrollment_lock_);
    if (!merged_) return false;
    for (const Capture& c : enrollment_) probes.push_back(*c.prepared);
  }
  const std::optional<Match> found = Search(probes);
  if (!found) return false;
  id = found->id;
  codigo = found->codigo;
  indDedo = found->indDedo;
  return true;
}

// --- Searches ----------------------------------------------------------------------

std::optional<Match> TFingerprintDatabase::Search(std::span<const matching::Template> probes) {
  Refresh();
  FNumeroPesquisadas.fetch_add(1);
  std::optional<Match> best;
  int32_t bestScore = 0;
  for (const matching::Template& probe : probes) {
    // A few candidates, in case the best was removed meanwhile: the first
    // still present is this probe's answer.
    for (const matching::Candidate& c : gallery_.Identify(probe, 0, 4)) {
      std::shared_lock read(entries_lock_);
      const auto it = entries_.find(static_cast<int32_t>(c.id));
      if (it == entries_.end()) continue;
      bestScore = std::max(bestScore, c.score);
      if (c.score >= thresholds_.limiar1paraN && (!best || c.score > best->score)) {
        best = Match{it->first, it->second.codigo, it->second.indDedo, c.score};
      }
      break;
    }
  }
  ultimaPontuacao_.store(bestScore);
  if (best) FNumeroEncontradas.fetch_add(1);
  return best;
}

void TFingerprintDatabase::NoteRecognition(int32_t id) {
  std::lock_guard held(store_lock_);
  OpenStore().NoteRecognition(id, Now());
}

std::optional<Match> TFingerprintDatabase::Identify(const TGrayImage& image) {
  const Capture c = MakeCapture(&image, 0);
  if (!c.prepared) {
    ultimaPontuacao_.store(0);
    FNumeroPesquisadas.fetch_add(1);
    return std::nullopt;
  }
  std::optional<Match> found = Search(std::span(&*c.prepared, 1));
  if (found) NoteRecognition(found->id);
  return found;
}

int32_t TFingerprintDatabase::PesquisarImagem2(const TGrayImage* grayImage, Text& codigo,
                                               int32_t& indDedo, TVerificadorFPBase*) {
  if (grayImage == nullptr) throw EDatabase(u"No image");
  const std::optional<Match> found = Identify(*grayImage);
  if (!found) return 0;
  codigo = found->codigo;
  indDedo = found->indDedo;
  return found->id;
}

int32_t TFingerprintDatabase::PesquisarImpressao(TTemplateBase* tB, Text& codigo, int32_t& indDedo,
                                                 TVerificadorFPBase*) {
  const matching::Template probe = Prepare(RecordOf(tB).record());
  const std::optional<Match> found = Search(std::span(&probe, 1));
  if (!found) return 0;
  NoteRecognition(found->id);
  codigo = found->codigo;
  indDedo = found->indDedo;
  return found->id;
}

// --- Verifications -----------------------------------------------------------------

Verification TFingerprintDatabase::VerifyTemplate(const matching::Template& probe,
                                                  const Text& codigo, int32_t limiar) {
  if (limiar <= 0) limiar = thresholds_.limiar1para1;
  // The person's entries from the file: current, and only theirs prepared.
  std::vector<int32_t> ids;
  {
    std::lock_guard held(store_lock_);
    for (const EntryInfo& e : OpenStore().EntriesOfCode(codigo)) ids.push_back(e.id);
  }
  Verification result;
  for (const auto& [id, entry] : ReadEntries(ids)) {
    for (const matching::Template& t : entry.templates) {
      const int32_t score = matching::Compare(probe, t);
      if (score > result.score) {
        result.score = score;
        result.id = score >= limiar ? id : 0;
      }
    }
  }
  ultimaPontuacao_.store(result.score);
  return result;
}

Verification TFingerprintDatabase::Verify(const TGrayImage& image, const Text& codigo,
                                          int32_t limiar) {
  const Capture c = MakeCapture(&image, 0);
  if (!c.prepared) {
    ultimaPontuacao_.store(0);
    return {};
  }
  return VerifyTemplate(*c.prepared, codigo, limiar);
}

int32_t TFingerprintDatabase::VerificarImagem(const TGrayImage* grayImage, const Text& codigo,
                                              int32_t limiar, TVerificadorFPBase*) {
  if (grayImage == nullptr) throw EDatabase(u"No image");
  return Verify(*grayImage, codigo, limiar).id;
}

int32_t TFingerprintDatabase::VerificarImpressao(TTemplateBase* minucias, const Text& codigo,
                                                 int32_t limiar, TVerificadorFPBase*) {
  return VerifyTemplate(Prepare(RecordOf(minucias).record()), codigo, limiar).id;
}

bool TFingerprintDatabase::VerificarIds(int32_t id1, int32_t id2, int32_t& numMinucias1,
                                        int32_t& numMinucias2, int32_t& numMinuciasMatch,
                                        int32_t& dx, int32_t& dy, int32_t& anguloRotacao,
                                        int32_t& pontuacao, TVerificadorFPBase*) {
  const int32_t ids[] = {id1, id2};
  const auto read = ReadEntries(ids);
  const auto find = [&](int32_t id) -> const Entry* {
    for (const auto& [i, e] : read) {
      if (i == id) return &e;
    }
    return nullptr;
  };
  const Entry* a = find(id1);
  const Entry* b = find(id2);
  if (a == nullptr || b == nullptr) return false;
  matching::Comparison best;
  const matching::Template* ta = nullptr;
  const matching::Template* tb = nullptr;
  for (const matching::Template& x : a->templates) {
    for (const matching::Template& y : b->templates) {
      const matching::Comparison c = matching::CompareDetailed(x, y);
      if (ta == nullptr || c.score > best.score) {
        best = c;
        ta = &x;
        tb = &y;
      }
    }
  }
  if (ta == nullptr) return false;
  numMinucias1 = static_cast<int32_t>(ta->minutiae().size());
  numMinucias2 = static_cast<int32_t>(tb->minutiae().size());
  numMinuciasMatch = best.pairs;
  dx = static_cast<int32_t>(std::lround(best.dx));
  dy = static_cast<int32_t>(std::lround(best.dy));
  anguloRotacao = static_cast<int32_t>(std::lround(best.rotation_degrees));
  pontuacao = best.score;
  ultimaPontuacao_.store(best.score);
  return true;
}

// --- Entries by id and code --------------------------------------------------------

int32_t TFingerprintDatabase::GetNumImpressoes() {
  std::lock_guard held(store_lock_);
  return OpenStore().Count();
}

int32_t TFingerprintDatabase::GetUltimaPontuacao() { return ultimaPontuacao_.load(); }

bool TFingerprintDatabase::GetQualidadeRuim() { return qualidadeRuim_.load(); }

bool TFingerprintDatabase::Excluir(int32_t id) {
  std::lock_guard writer(gallery_writer_lock_);
  bool removed = false;
  {
    std::lock_guard held(store_lock_);
    removed = OpenStore().Remove(id);
  }
  std::unique_lock write(entries_lock_);
  entries_.erase(id);
  gallery_.Remove(id);
  return removed;
}

int32_t TFingerprintDatabase::ExcluirImpressoesCodigo(const Text& codigo) {
  std::lock_guard writer(gallery_writer_lock_);
  int32_t removed = 0;
  {
    std::lock_guard held(store_lock_);
    removed = OpenStore().RemoveCode(codigo);
  }
  std::unique_lock write(entries_lock_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.codigo == codigo) {
      gallery_.Remove(it->first);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  return removed;
}

bool TFingerprintDatabase::PegInformacao(int32_t id, Text& codigo, int32_t& indDedo) {
  double d1 = 0, d2 = 0;
  int32_t n = 0;
  return PegInformacao2(id, codigo, indDedo, d1, d2, n);
}

bool TFingerprintDatabase::PegInformacao2(int32_t id, Text& codigo, int32_t& indDedo,
                                          double& dataCadastro, double& dataUltimoReconhecimento,
                                          int32_t& numReconhecimentos) {
  std::lock_guard held(store_lock_);
  const std::optional<EntryInfo> info = OpenStore().Info(id);
  if (!info) return false;
  codigo = info->codigo;
  indDedo = info->indDedo;
  dataCadastro = info->dataCadastro;
  dataUltimoReconhecimento = info->dataUltimoReconhecimento;
  numReconhecimentos = info->numReconhecimentos;
  return true;
}

bool TFingerprintDatabase::PegImpressao(int32_t indice, int32_t& id, Text& codigo,
                                        int32_t& indDedo) {
  std::lock_guard held(store_lock_);
  const std::optional<EntryInfo> info = OpenStore().AtIndex(indice);
  if (!info) return false;
  id = info->id;
  codigo = info->codigo;
  indDedo = info->indDedo;
  return true;
}

int32_t TFingerprintDatabase::NumImpressoesCodigo(const Text& codigo) {
  std::lock_guard held(store_lock_);
  return OpenStore().CountOfCode(codigo);
}

TVetorIdInfo TFingerprintDatabase::IdsInfoParaCodigo(const Text& codigo, int32_t) {
  std::lock_guard held(store_lock_);
  TVetorIdInfo out;
  for (const EntryInfo& e : OpenStore().EntriesOfCode(codigo)) {
    out.push_back(
        {e.id, e.indDedo, e.dataCadastro, e.dataUltimoReconhecimento, e.numReconhecimentos});
  }
  return out;
}

TVetorIds TFingerprintDatabase::IdsParaCodigo(const Text& codigo) {
  std::lock_guard held(store_lock_);
  TVetorIds out;
  for (const EntryInfo& e : OpenStore().EntriesOfCode(codigo)) out.push_back(e.id);
  return out;
}

std::vector<EntryInfo> TFingerprintDatabase::Entries() {
  std::lock_guard held(store_lock_);
  Store& store = OpenStore();
  std::vector<EntryInfo> out;
  for (const StoredEntry& e : store.Entries(store.Ids())) out.push_back(e.info);
  return out;
}

std::vector<Text> TFingerprintDatabase::Codes() {
  std::lock_guard held(store_lock_);
  return OpenStore().Codes();
}

bool TFingerprintDatabase::AssociarTextoCodigo(const Text& codigo, const Text& valor) {
  CheckEntryArguments(codigo, 0);
  std::lock_guard held(store_lock_);
  OpenStore().SetText(codigo, valor);
  return true;
}

bool TFingerprintDatabase::PegTextoCodigo(const Text& codigo, Text& valor) {
  std::lock_guard held(store_lock_);
  const std::optional<Text> text = OpenStore().TextOf(codigo);
  if (!text) {
    valor.clear();
    return false;
  }
  valor = *text;
  return true;
}

void TFingerprintDatabase::CompactarBase() {
  std::lock_guard held(store_lock_);
  OpenStore().Compact();
}

bool TFingerprintDatabase::LeitorValido(const Text& idLeitor) {
  // Every reader may enroll and search while the database is open.
  return active_.load() && !idLeitor.empty();
}

TTemplateBase* TFingerprintDatabase::CriarTemplate(const Text& templateStr, int32_t formato) {
  if (formato != static_cast<int32_t>(TFormatoTemplate::FTC_InternoVelmora)) return nullptr;
  if (templateStr.empty() || templateStr.size() % 2 != 0) return nullptr;
  const auto digit = [](char16_t c) -> int {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
  };
  std::vector<uint8_t> record(templateStr.size() / 2);
  for (size_t i = 0; i < record.size(); ++i) {
    const int hi = digit(templateStr[2 * i]);
    const int lo = digit(templateStr[2 * i + 1]);
    if (hi < 0 || lo < 0) return nullptr;
    record[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return new TTemplateRecord(std::move(record));
}

// --- What this database does not do ------------------------------------------------

TVetorInfoHashes TFingerprintDatabase::PegHashesParalela(const Text&, TFormatoTemplate) {
  NotSupported();
}

void TFingerprintDatabase::AdicionarImpressaoRuim(const Text&, int32_t, int32_t&, int32_t&,
                                                  int32_t&) {
  NotSupported();
}

bool TFingerprintDatabase::PesquisarInterno(int32_t, int32_t&, int32_t&, int32_t&) {
  NotSupported();
}

TVetorResultadoImagemRuim TFingerprintDatabase::PesquisarImagemRuim(const TGrayImage*) {
  NotSupported();
}

}  // namespace dactyra::database
