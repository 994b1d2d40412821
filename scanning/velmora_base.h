// The fingerprint database a scanner component may work against, and the
// search thread that keeps searches off the component's image thread. The
// library holds no database: a host supplies one by deriving from
// TVelmoraBase.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/gray_image.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "support/generic_thread.h"

namespace dactyra {

class TVelmoraFP;

enum class TFormatoTemplate : int32_t {
  FTC_InternoVelmora = 0,
  FTC_VXFP5 = 1,
  FTC_GISDK = 2,
  FTC_ZK = 3,
  FTC_ZKFace = 4,
};

// Verifier objects a caller may pass to searches and verifications (null
// allowed).
class TVerificadorFPBase {
 public:
  virtual ~TVerificadorFPBase() = default;
};

// Template objects handed to the database.
class TTemplateBase {
 public:
  virtual ~TTemplateBase() = default;
};

struct TIdInfo {
  int32_t Id = 0;
  int32_t IndDedo = 0;
  double DataCadastro = 0;
  double DataUltimoReconhecimento = 0;
  int32_t NumReconhecimentos = 0;
};

struct TInfoHashes {
  int32_t Id = 0;
  uint16_t Hash = 0;
};

struct TResultadoImagemRuim {
  platform::Text Codigo;
  int32_t IndDedo = 0;
  int32_t QuantidadeImpressoes = 0;
  int32_t QuantidadeImpressoesPontuadas = 0;
  int32_t MaiorPontuacao = 0;
  int32_t SomaPontuacao = 0;
};

using TVetorIds = std::vector<int32_t>;
using TVetorIdInfo = std::vector<TIdInfo>;
using TVetorInfoHashes = std::vector<TInfoHashes>;
using TVetorResultadoImagemRuim = std::vector<TResultadoImagemRuim>;

// A database of fingerprints: entries with a numeric id, each belonging to
// a person's text code and a finger. It is called from the component's
// image thread, from the search thread and from the caller's thread, so an
// implementation must be safe for that. Failures are raised as exceptions
// (dactyra::Exception); the component reports those of searches as events.
class TVelmoraBase {
 public:
  TVelmoraBase() = default;
  virtual ~TVelmoraBase() = default;
  TVelmoraBase(const TVelmoraBase&) = delete;
  TVelmoraBase& operator=(const TVelmoraBase&) = delete;

  int32_t NumeroEncontradas() const { return FNumeroEncontradas; }
  int32_t NumeroPesquisadas() const { return FNumeroPesquisadas; }
  int32_t NumImpressoes() { return GetNumImpressoes(); }
  bool Ativo() { return GetAtivo(); }
  void SetAtivoProp(bool value) { SetAtivo(value); }
  int32_t UltimaPontuacao() { return GetUltimaPontuacao(); }
  bool QualidadeRuim() { return GetQualidadeRuim(); }

  virtual int32_t GetNumImpressoes() = 0;
  virtual bool GetAtivo() = 0;
  virtual void SetAtivo(bool value) = 0;
  virtual int32_t GetUltimaPontuacao() = 0;
  virtual bool GetQualidadeRuim() = 0;
  virtual int32_t AdicionarImagem(const TGrayImage* grayImage, const platform::Text& codigo,
                                  int32_t indDedo, TVerificadorFPBase* verificador) = 0;
  // 0 when not found.
  virtual int32_t PesquisarImagem2(const TGrayImage* grayImage, platform::Text& codigo,
                                   int32_t& indDedo, TVerificadorFPBase* verificador) = 0;
  virtual bool Excluir(int32_t id) = 0;
  virtual bool PegInformacao(int32_t id, platform::Text& codigo, int32_t& indDedo) = 0;
  // PegInformacao; when it answers true, both dates and the count are 0.
  virtual bool PegInformacao2(int32_t id, platform::Text& codigo, int32_t& indDedo,
                              double& dataCadastro, double& dataUltimoReconhecimento,
                              int32_t& numReconhecimentos);
  virtual bool PegImpressao(int32_t indice, int32_t& id, platform::Text& codigo,
                            int32_t& indDedo) = 0;
  virtual int32_t ExcluirImpressoesCodigo(const platform::Text& codigo) = 0;
  virtual int32_t NumImpressoesCodigo(const platform::Text& codigo) = 0;
  virtual TVetorIdInfo IdsInfoParaCodigo(const platform::Text& codigo, int32_t tipoInfo) = 0;
  virtual TVetorInfoHashes PegHashesParalela(const platform::Text& codigo,
                                             TFormatoTemplate formato) = 0;
  virtual void CompactarBase() = 0;
  virtual bool AdicionarImagemCadastro(const TGrayImage* imagem) = 0;
  virtual bool AdicionarImagemCadastroP6(const TGrayImage* imagem, int32_t& limiarUniu,
                                         int32_t& limiar1paraN) = 0;
  virtual bool AdicionarImpressaoCadastro(TTemplateBase* minucias, TTemplateBase* minuciasP,
                                          int32_t& limiarUniu, int32_t& limiar1paraN) = 0;
  virtual void ReiniciarCadastro() = 0;
  virtual int32_t AdicionarImpressaoUnida(const platform::Text& codigo, int32_t indDedo) = 0;
  virtual void AdicionarImpressaoRuim(const platform::Text& codigo, int32_t indDedo, int32_t& id1,
                                      int32_t& id2, int32_t& id3) = 0;
  virtual bool PesquisarImpressaoUnida(int32_t& id, platform::Text& codigo, int32_t& indDedo) = 0;
  virtual bool LeitorValido(const platform::Text& idLeitor) = 0;
  virtual bool PesquisarInterno(int32_t indice, int32_t& posicao, int32_t& numCandidatas,
                                int32_t& numCandidatasAcimaPontuacao) = 0;
  virtual TVetorResultadoImagemRuim PesquisarImagemRuim(const TGrayImage* grayImage) = 0;
  virtual int32_t VerificarImagem(const TGrayImage* grayImage, const platform::Text& codigo,
                                  int32_t limiar, TVerificadorFPBase* verificadorB) = 0;
  virtual int32_t VerificarImpressao(TTemplateBase* minucias, const platform::Text& codigo,
                                     int32_t limiar, TVerificadorFPBase* verificadorB) = 0;
  virtual bool VerificarIds(int32_t id1, int32_t id2, int32_t& numMinucias1, int32_t& numMinucias2,
                            int32_t& numMinuciasMatch, int32_t& dx, int32_t& dy,
                            int32_t& anguloRotacao, int32_t& pontuacao,
                            TVerificadorFPBase* verificadorB) = 0;
  virtual bool AssociarTextoCodigo(const platform::Text& codigo, const platform::Text& valor) = 0;
  virtual bool PegTextoCodigo(const platform::Text& codigo, platform::Text& valor) = 0;
  virtual int32_t PesquisarImpressao(TTemplateBase* tB, platform::Text& codigo, int32_t& indDedo,
                                     TVerificadorFPBase* verificadorB) = 0;
  // Clears `codigo` and `retorno`, then raises EVelmoraFP "Método não
  // suportado".
  virtual int32_t IdentificarExternoImagem(const TGrayImage* imagem, const platform::Text& extra,
                                           platform::Text& codigo, int32_t& indDedo,
                                           platform::Text& retorno);
  // Raises EVelmoraFP "Método não suportado".
  virtual platform::Text ExecutarExterno(const platform::Text& comando);
  virtual TVetorIds IdsParaCodigo(const platform::Text& codigo) = 0;
  // Null: this database makes no templates from text. The caller owns the
  // result.
  virtual TTemplateBase* CriarTemplate(const platform::Text& templateStr, int32_t formato);

 protected:
  // Counted by searches on several threads at once.
  std::atomic<int32_t> FNumeroEncontradas{0};
  std::atomic<int32_t> FNumeroPesquisadas{0};
};

// The search thread of one component: sleeps between searches and runs one
// search at a time, raising the result events on itself.
class TThreadPesquisa {
 public:
  explicit TThreadPesquisa(TVelmoraFP& velmoraFP);
  // Tells the thread to end, wakes it, waits until it has ended.
  ~TThreadPesquisa();
  TThreadPesquisa(const TThreadPesquisa&) = delete;
  TThreadPesquisa& operator=(const TThreadPesquisa&) = delete;

  // Held while no search runs: whoever takes it holds searches off until
  // it sets it again. The thread itself holds it while its result events
  // run.
  platform::Event& EventoFim() { return FEventoFim; }
  // The caller runs on this search thread (inside a result event).
  bool NaPropriaThread() const { return FIdThread.load() == platform::CurrentThreadId(); }
  // Hands one image to the thread and wakes it; the caller took EventoFim
  // first. The thread takes the image over.
  void Iniciar(GrayImagePtr imagem);

  // The outcome of the last search, read by TerminouPesquisa on the thread.
  int32_t Id() const { return FId; }
  const platform::Text& Codigo() const { return FCodigo; }
  int32_t IndDedo() const { return FIndDedo; }
  bool ErroPesquisa() const { return FErroPesquisa; }
  const platform::Text& MensagemErroPesquisa() const { return FMensagemErroPesquisa; }

  // A template to search when no image is handed over.
  void DefTemplate(platform::Text templateStr, int32_t formato) {
    FTemplate = std::move(templateStr);
    FFormatoTemplate = formato;
  }

 private:
  void Execute(TThreadGenerica& thread);

  TVelmoraFP& FVelmoraFP;
  int32_t FId = 0;
  platform::Text FCodigo;
  int32_t FIndDedo = 0;
  GrayImagePtr FImagem;
  platform::Text FTemplate;
  int32_t FFormatoTemplate = 0;
  bool FErroPesquisa = false;
  platform::Text FMensagemErroPesquisa;
  platform::Event FEventoInicio{false, false};
  platform::Event FEventoFim{false, true};
  // Set by the thread as it starts; 0 before.
  std::atomic<uint64_t> FIdThread{0};
  // Last: started once the fields above exist, ended first.
  std::unique_ptr<TThreadGenerica> FThread;
};

}  // namespace dactyra
