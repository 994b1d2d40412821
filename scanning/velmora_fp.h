// The scanner component: one object per reader an application uses. It
// settles its reader by position or name, opens it through the reader
// manager (whatever module it belongs to), keeps it from a second user with
// a named event, runs the capture thread, turns every image into a gray
// image and raises events by its operation mode. Changing the mode is what
// activates and deactivates it.
//
// Threads: the caller's thread runs the mode changes, the name setters and
// the commands, one at a time (the component has no lock of its own). The
// image events run on the thread that delivers images: the capture thread
// for plug-in devices, a module's or the binding's own thread otherwise.
// Deactivation waits for a capture thread's image events to end, and for
// its plug-in call to return for as long as the device's StopBoundMs; past
// that it leaves the thread to close the device when the call returns, and
// raises EVelmoraFP "O leitor <name> não parou" with the component inactive.
// Results of threaded searches run on the search thread, and may change the
// mode, stop or start the component: the change runs there at once. An image
// handler must not deactivate its own component (that would wait for its
// own thread); such a call raises EVelmoraFP instead, for every kind of
// reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "capture/capture_device.h"
#include "capture/velmora_error.h"
#include "imaging/gray_image.h"
#include "platform/env.h"
#include "platform/named_objects.h"
#include "platform/text.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_base.h"
#include "support/generic_thread.h"

namespace dactyra {

enum class TModoOperacao : uint8_t {
  moInativo = 0,
  moCadastro = 1,
  moPesquisa = 2,
  moDesenvolvimento = 3,
  moVisualizar = 4,
};

class TVelmoraFP;

using TEventoImagem = std::function<void(TVelmoraFP& Sender, const TGrayImage* imagem)>;
using TEventoCapturou = std::function<void(TVelmoraFP& Sender, int32_t numCaptura)>;
using TEventoFimCaptura = std::function<void(TVelmoraFP& Sender, bool capturaOK)>;
using TEventoReconheceu = std::function<void(TVelmoraFP& Sender, int32_t id,
                                             const platform::Text& codigo, int32_t indDedo)>;
using TEventoImpressaoExistente = std::function<void(
    TVelmoraFP& Sender, int32_t id, const platform::Text& codigo, int32_t indDedo, bool& rejeitar)>;
using TEventoErroPesquisa = std::function<void(TVelmoraFP& Sender, const platform::Text& mensagem)>;
using TNotificacao = std::function<void(TVelmoraFP& Sender)>;

class TVelmoraFP : public TComponenteLeitor {
 public:
  // Registers with the reader manager. `leitores` and `env` outlive the
  // component.
  explicit TVelmoraFP(TAcessoLeitores& leitores = AcessoLeitoresPadrao(),
                      platform::Env& env = platform::Env::Default());
  // Deactivates, releases the image, unregisters, ends the search thread.
  ~TVelmoraFP() override;
  TVelmoraFP(const TVelmoraFP&) = delete;
  TVelmoraFP& operator=(const TVelmoraFP&) = delete;

  // --- Properties -------------------------------------------------------------

  TModoOperacao ModoOperacao() const { return FModoOperacao.load(); }
  void SetModoOperacao(TModoOperacao value);
  bool Ativo() const { return FAtivo.load(); }
  // Every module's own count of readers, DigitalPersona's included.
  int32_t NumLeitores();
  // The last image processed; read it on the image thread, inside a
  // handler.
  const TGrayImage* ImagemAtual() const { return ImagemCapturada.get(); }
  int32_t IndiceLeitor() const override { return FIndiceLeitor; }
  void SetIndiceLeitor(int32_t value) { FIndiceLeitor = value; }
  platform::Text NumSerieLeitor() const override { return FNumSerieLeitor; }
  void SetNumSerieLeitor(const platform::Text& value);
  int32_t Resolucao() const { return FResolucao; }
  void SetResolucao(int32_t value) { FResolucao = value; }
  TVelmoraBase* Base() const { return FBase; }
  void SetBase(TVelmoraBase* value) { FBase = value; }
  bool VerificarExistencia() const { return FVerificarExistencia; }
  void SetVerificarExistencia(bool value) { FVerificarExistencia = value; }
  bool PesquisaEmThread() const { return FPesquisaEmThread; }
  void SetPesquisaEmThread(bool value) { FPesquisaEmThread = value; }
  double TempoPesquisa() const { return FTempoPesquisa.load(); }
  int32_t UltimaPontuacao() const { return FUltimaPontuacao; }
  bool Passou1paraN() const { return FPassou1paraN; }
  int32_t IndImpressaoCapturadaAtual() const { return IndImpressaoCapturada; }
  bool UniuImagensAtual() const { return UniuImagens; }
  bool AguardandoPesquisa() const { return FAguardandoPesquisa.load(); }

  TEventoImagem OnNovaImagem;
  TEventoCapturou OnCapturou;
  TEventoFimCaptura OnFimCaptura;
  TEventoReconheceu OnReconheceu;
  TNotificacao OnNaoReconheceu;
  TNotificacao OnInicioPesquisa;
  TEventoErroPesquisa OnErroPesquisa;
  TEventoImpressaoExistente OnImpressaoExistente;
  TNotificacao OnMudouModoOperacao;

  // --- Operations --------------------------------------------------------------

  // Passes a text command to the open device and returns its answer.
  platform::Text EnviarComandoStr(const platform::Text& comando, const platform::Text& argumentos,
                                  bool semHandle);

  // The raw image path, public for the image sources that hand over bare
  // pixels: `width` x `height` bytes row after row from the top.
  void NovaImagemBruta(int32_t width, int32_t height, const uint8_t* pixels);

  // Called on the search thread when a threaded search has ended.
  void TerminouPesquisa(TThreadPesquisa& thread);

 protected:
  virtual void DoCapturou(int32_t numCaptura);
  virtual void DoFimCaptura(bool capturaOK);
  virtual void DoReconheceu(int32_t id, const platform::Text& codigo, int32_t indDedo);
  virtual void DoNaoReconheceu();
  virtual void DoInicioPesquisa();
  virtual void DoImpressaoExistente(int32_t id, const platform::Text& codigo, int32_t indDedo,
                                    bool& rejeitar);
  virtual void DoErroPesquisa(const platform::Text& mensagem);
  virtual void DoNovaImagem(const TGrayImage* imagem);
  virtual void DoMudouModoOperacao();

 private:
  friend class TThreadPesquisa;

  // `anterior`: the mode before the change (already replaced by `modo`).
  void Ativar(TModoOperacao modo, TModoOperacao anterior);
  void AtivarPassos(TModoOperacao modo, TModoOperacao anterior);
  void Desativar();
  void TomarGuarda();
  void LiberarGuarda();
  struct CaptureRun;
  // The capture thread's routine; it holds the run (and so the device)
  // until it ends.
  static void LoopCaptura(CaptureRun& run);
  void ImagemDoDispositivo(TVxCaptureDevice& device);
  void ProcessarImagem(GrayImagePtr image);
  void VerificarBase();
  // Entering `modo` from `anterior`: validates the reader, restarts
  // enrollment.
  void EntrarModo(TModoOperacao anterior, TModoOperacao modo);
  void AjustarModo(TModoOperacao anterior, TModoOperacao modo);
  void ValidarLeitor();
  void PassoCadastro(const TGrayImage* image);
  void Pesquisar(GrayImagePtr image);
  void CriarThreadPesquisa();
  // The search's own result step, shared by the inline and threaded paths.
  void RegistrarPesquisa(double inicio);

  TAcessoLeitores& FLeitores;
  platform::Env& FEnv;

  std::atomic<bool> FAtivo{false};
  GrayImagePtr ImagemCapturada;
  // Written by the image thread and reset by a mode change on the caller's.
  std::atomic<int32_t> IndImpressaoCapturada{0};
  std::atomic<bool> UniuImagens{false};
  TVelmoraBase* FBase = nullptr;
  // Read by the image thread without a lock.
  std::atomic<TModoOperacao> FModoOperacao{TModoOperacao::moInativo};
  int32_t FIndiceLeitor = 0;
  // Shared with the capture thread's run.
  std::shared_ptr<TVxCaptureDevice> FDispositivoCaptura;
  std::atomic<bool> FVerificarExistencia{false};
  platform::Text FNumSerieLeitor;
  bool FValidouLeitor = false;
  bool FLeitorValido = false;
  std::atomic<int32_t> FResolucao{440};
  std::unique_ptr<TThreadPesquisa> FThreadPesquisa;
  std::atomic<bool> FAguardandoPesquisa{false};
  std::atomic<double> FTempoPesquisa{0};
  std::unique_ptr<platform::NamedEvent> FEventoCapturando;
  // The capture thread's run while the component is active with a device
  // that needs one.
  std::shared_ptr<CaptureRun> FCaptureRun;
  std::atomic<int32_t> FUltimaPontuacao{0};
  std::atomic<bool> FPassou1paraN{false};
  std::atomic<bool> FPesquisaEmThread{true};
};

// "Número" texts carry the count as decimal digits.
platform::Text TextoInteiro(int64_t value);

}  // namespace dactyra
