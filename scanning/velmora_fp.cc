#include "scanning/velmora_fp.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

namespace dactyra {

namespace {

using platform::Text;
using platform::TextView;

double Agora() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The component whose reader is delivering an image on this thread, while
// its image events run: a device's capture thread, an FPSmm module's
// thread or the DigitalPersona binding's.
thread_local const TVelmoraFP* tEntregando = nullptr;

// Marks this thread as delivering an image of `componente` for its life.
class MarcaEntrega {
 public:
  explicit MarcaEntrega(const TVelmoraFP* componente)
      : anterior_(std::exchange(tEntregando, componente)) {}
  ~MarcaEntrega() { tEntregando = anterior_; }
  MarcaEntrega(const MarcaEntrega&) = delete;
  MarcaEntrega& operator=(const MarcaEntrega&) = delete;

 private:
  const TVelmoraFP* anterior_;
};

bool IgualSemCaixa(TextView a, TextView b) { return platform::SameTextNoCase(a, b); }

// Formats a text of the failure table: every "%s" takes `s`, every "%d"
// takes `d`.
Text Formatar(TextView modelo, TextView s, int64_t d = 0) {
  Text out;
  for (size_t i = 0; i < modelo.size(); ++i) {
    if (modelo[i] == u'%' && i + 1 < modelo.size()) {
      if (modelo[i + 1] == u's') {
        out += s;
        ++i;
        continue;
      }
      if (modelo[i + 1] == u'd') {
        out += TextoInteiro(d);
        ++i;
        continue;
      }
    }
    out += modelo[i];
  }
  return out;
}

}  // namespace

Text TextoInteiro(int64_t value) { return platform::FromUtf8(std::to_string(value)); }

// One activation's capture thread and what its stop needs to know of it.
// The thread holds the run, and the run the device, so a thread left inside
// a plug-in call keeps the device until that call returns.
struct TVelmoraFP::CaptureRun {
  std::shared_ptr<TVxCaptureDevice> device;

  // From the thread: about to call the device; false when stopped (or the
  // device closed itself).
  bool Enter() {
    std::lock_guard held(lock);
    if (stop || !device->Active()) return false;
    inDevice = true;
    changed.notify_all();
    return true;
  }
  // From the thread: back from the device (or ended); false when stopped.
  bool Leave(bool ended = false) {
    std::lock_guard held(lock);
    inDevice = false;
    threadEnded = threadEnded || ended;
    changed.notify_all();
    return !stop;
  }
  // No image is handed out after this returns.
  void Stop() {
    std::lock_guard held(lock);
    stop = true;
  }
  // Waits for the thread to end: for as long as it takes while it runs the
  // component's own code, and up to `boundMs` from now while it is inside
  // the device. False when the thread was left inside the device.
  bool WaitEnd(uint32_t boundMs) {
    std::unique_lock held(lock);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!threadEnded) {
      if (!inDevice) {
        changed.wait(held);
      } else if (changed.wait_until(held, deadline) == std::cv_status::timeout && inDevice &&
                 !threadEnded) {
        return false;
      }
    }
    return true;
  }

 private:
  std::mutex lock;
  std::condition_variable changed;
  bool stop = false;
  bool inDevice = false;
  bool threadEnded = false;
};

TVelmoraFP::TVelmoraFP(TAcessoLeitores& leitores, platform::Env& env)
    : FLeitores(leitores), FEnv(env) {
  FLeitores.Adicionar(*this);
}

TVelmoraFP::~TVelmoraFP() {
  try {
    Desativar();
  } catch (...) {
    // Nothing to report to from a destructor; the device is closed anyway.
  }
  ImagemCapturada.reset();
  FLeitores.Remover(*this);
  FThreadPesquisa.reset();
}

int32_t TVelmoraFP::NumLeitores() { return FLeitores.NumLeitores(); }

void TVelmoraFP::SetNumSerieLeitor(const Text& value) {
  if (value == FNumSerieLeitor) return;
  if (Ativo()) throw EVelmoraFP(u"Não é possível alterar núm.série com componente conectado.");
  FNumSerieLeitor = value;
  FIndiceLeitor = -1;
}

void TVelmoraFP::SetModoOperacao(TModoOperacao value) {
  if (value == FModoOperacao.load()) return;
  // Holds searches off for the whole change, and waits for a running one.
  // A result event of a threaded search holds them off already (its search
  // ends when the event returns): waiting there would wait for itself.
  platform::Event* fim = FThreadPesquisa && !FThreadPesquisa->NaPropriaThread()
                             ? &FThreadPesquisa->EventoFim()
                             : nullptr;
  if (fim != nullptr) fim->Wait();
  struct Liberar {
    platform::Event* fim;
    ~Liberar() {
      if (fim != nullptr) fim->Set();
    }
  } liberar{fim};

  const TModoOperacao atual = FModoOperacao.load();
  const auto ehBase = [](TModoOperacao m) {
    return m == TModoOperacao::moCadastro || m == TModoOperacao::moPesquisa;
  };
  if (ehBase(value) && !ehBase(atual)) VerificarBase();
  // The search thread is made here, on the caller's thread and before any
  // image of the new mode can arrive, rather than by the first search on the
  // image thread: the image thread reads the pointer without a lock.
  if (value == TModoOperacao::moPesquisa) CriarThreadPesquisa();
  if (!Ativo() && value != TModoOperacao::moInativo) {
    // The mode is in place before the capture thread starts: an image that
    // arrives at once is not dropped as one of an inactive component.
    FModoOperacao.store(value);
    try {
      Ativar(value, atual);
    } catch (...) {
      FModoOperacao.store(atual);
      throw;
    }
  } else if (Ativo() && value == TModoOperacao::moInativo) {
    try {
      Desativar();
    } catch (...) {
      // A stop that let the reader go but reports a failure (a device
      // that did not stop) leaves the component inactive, and says so.
      if (!Ativo()) FModoOperacao.store(TModoOperacao::moInativo);
      throw;
    }
  } else {
    EntrarModo(atual, value);
  }
  FModoOperacao.store(value);
  DoMudouModoOperacao();
}

void TVelmoraFP::EntrarModo(TModoOperacao anterior, TModoOperacao modo) {
  AjustarModo(anterior, modo);
  // Enrollment starts afresh once nothing can refuse the change, and
  // before its first image can arrive.
  if (modo == TModoOperacao::moCadastro) {
    IndImpressaoCapturada = 0;
    UniuImagens = false;
    if (FBase != nullptr) FBase->ReiniciarCadastro();
  }
}

void TVelmoraFP::Ativar(TModoOperacao modo, TModoOperacao anterior) {
  if (Ativo()) return;
  FAtivo.store(true);
  try {
    AtivarPassos(modo, anterior);
  } catch (...) {
    FAtivo.store(false);
    LiberarGuarda();
    throw;
  }
}

void TVelmoraFP::AtivarPassos(TModoOperacao modo, TModoOperacao anterior) {
  FLeitores.IniciouConexao(*this);

  int32_t p = FIndiceLeitor;
  std::vector<Text> lista;
  FLeitores.PegNumerosSerie(lista);
  const bool semLista = EhLeitorSemLista(FNumSerieLeitor);
  if (!semLista) {
    const auto total = static_cast<int64_t>(lista.size());
    if (lista.empty()) throw EVelmoraFP(u"Não há leitores detectados. Impossível ativar.");
    if (p == -1 && !FNumSerieLeitor.empty()) {
      const Text procurado = NomeGuidParaUareU(FNumSerieLeitor);
      for (size_t i = 0; i < lista.size(); ++i) {
        if (IgualSemCaixa(lista[i], procurado)) {
          p = static_cast<int32_t>(i);
          break;
        }
      }
    }
    if (p < 0 && !FNumSerieLeitor.empty()) {
      throw EVelmoraFP(Formatar(u"Leitor não conectado: %s\nTotal de leitores conectados: %d",
                                FNumSerieLeitor, total));
    }
    if (p >= total) {
      throw EVelmoraFP(
          Formatar(u"Índice de leitor inválido: deve estar entre 0 e %d.", {}, total - 1));
    }
    if (p == -1) throw EVelmoraFP(u"Número de série do leitor não informado.");
    if (p < 0) {
      // Below -1 with no name: the list's own index error.
      throw EVelmoraFP(u"List index out of bounds (" + TextoInteiro(p) + u")");
    }
    FNumSerieLeitor = lista[static_cast<size_t>(p)];
  }

  // The mode is stored already: the check compares with the one before.
  EntrarModo(anterior, modo);
  if (!semLista) TomarGuarda();

  FDispositivoCaptura = FLeitores.AbrirDispositivo(FNumSerieLeitor);
  if (FDispositivoCaptura) {
    FDispositivoCaptura->SetOnImage([this](TVxCaptureDevice& d) { ImagemDoDispositivo(d); });
    if (FDispositivoCaptura->UseThread()) {
      try {
        auto run = std::make_shared<CaptureRun>();
        run->device = FDispositivoCaptura;
        TThreadGenerica::CreateSelfFreeing([run](TThreadGenerica&) { LoopCaptura(*run); }, nullptr,
                                           FEnv);
        FCaptureRun = std::move(run);
      } catch (...) {
        // The device was opened here: it goes with the failed activation.
        FLeitores.FecharDispositivo(*FDispositivoCaptura);
        FDispositivoCaptura.reset();
        throw;
      }
    }
  } else if (!semLista) {
    // No module carries the name's prefix, or its module could not start
    // the reader (DigitalPersona missing or refusing).
    throw EVelmoraFP(Formatar(
        u"Não consegui iniciar captura para leitor %s.\nPode ser necessário reiniciar o programa.",
        FNumSerieLeitor));
  }
}

void TVelmoraFP::TomarGuarda() {
  Text nome = u"VelmoraFP_";
  for (char16_t c : FNumSerieLeitor) nome += (c == u'\\') ? u'_' : c;
  Text erro;
  FEventoCapturando = FEnv.CreateNamedEvent(nome, true, &erro);
  if (!FEventoCapturando) {
    // No guard could be made at all (the runtime folder belongs to another
    // user, say): the reader is not in use, and the reason tells the
    // folder, its owner and the variable that moves it.
    throw EVelmoraFP(Formatar(u"Não consegui reservar o leitor %s: ", FNumSerieLeitor) + erro);
  }
  if (FEventoCapturando->Wait(1) != platform::WaitResult::kSignalled) {
    // Released without a signal: the signal belongs to its holder.
    FEventoCapturando.reset();
    throw EVelmoraFP(
        Formatar(u"O leitor %s já está sendo usado por outra aplicação.", FNumSerieLeitor));
  }
}

void TVelmoraFP::LiberarGuarda() {
  if (FEventoCapturando) {
    FEventoCapturando->Set();
    FEventoCapturando.reset();
  }
}

void TVelmoraFP::Desativar() {
  if (!Ativo()) return;
  // Stopping would wait for the very delivery that asks for it, whichever
  // kind of reader delivers.
  if (tEntregando == this) {
    throw EVelmoraFP(u"A capture event handler cannot deactivate its own component");
  }
  FAtivo.store(false);
  FLeitorValido = false;
  // Every step runs whatever an earlier one met: the reader and its guard
  // are let go on every path, and the first failure is raised at the end.
  std::exception_ptr falha;
  bool parou = true;
  if (FDispositivoCaptura) {
    // No image is handed out from here on; then the device is closed,
    // which makes an image call blocked in the plug-in return.
    if (FCaptureRun) FCaptureRun->Stop();
    try {
      FLeitores.FecharDispositivo(*FDispositivoCaptura);
    } catch (...) {
      falha = std::current_exception();
    }
    if (FCaptureRun) parou = FCaptureRun->WaitEnd(FDispositivoCaptura->StopBoundMs());
    FCaptureRun.reset();
    FDispositivoCaptura.reset();
  }
  LiberarGuarda();
  FValidouLeitor = false;
  if (falha) std::rethrow_exception(falha);
  if (!parou) throw EVelmoraFP(u"O leitor " + FNumSerieLeitor + u" não parou");
}

void TVelmoraFP::LoopCaptura(CaptureRun& run) {
  struct Fim {
    CaptureRun& run;
    ~Fim() { run.Leave(/*ended=*/true); }
  } fim{run};
  TVxCaptureDevice& device = *run.device;
  if (!run.Enter()) return;
  device.Allocate();
  if (!run.Leave()) return;
  while (run.Enter()) {
    const bool received = device.WaitImage();
    if (!run.Leave()) return;
    if (received) device.DoImage();
  }
}

void TVelmoraFP::ImagemDoDispositivo(TVxCaptureDevice& device) {
  const MarcaEntrega marca(this);
  // A thread that must not be held (DigitalPersona's) gives up its image
  // while a search runs, unless the mode only shows images.
  if (!device.MayHoldDelivery() && FAguardandoPesquisa.load() &&
      FModoOperacao.load() != TModoOperacao::moVisualizar) {
    return;
  }
  NovaImagemBruta(device.ImageWidth(), device.ImageHeight(), device.ImageBuffer());
}

void TVelmoraFP::NovaImagemBruta(int32_t width, int32_t height, const uint8_t* pixels) {
  GrayImagePtr image = CreateGrayImage(width, height, FResolucao);
  // Device pixels come in the image's own layout, Width × Height bytes.
  if (pixels != nullptr) {
    std::ranges::copy_n(pixels, image->Bits.Pixels().size(), image->Bits.Pixels().begin());
  }
  ProcessarImagem(std::move(image));
}

void TVelmoraFP::ProcessarImagem(GrayImagePtr image) {
  const TModoOperacao modo = FModoOperacao.load();
  if (modo == TModoOperacao::moInativo) return;
  AssignGrayImage(image.get(), ImagemCapturada);
  DoNovaImagem(image.get());
  switch (modo) {
    case TModoOperacao::moDesenvolvimento:
      DoCapturou(0);
      break;
    case TModoOperacao::moCadastro:
      PassoCadastro(image.get());
      break;
    case TModoOperacao::moPesquisa:
      Pesquisar(std::move(image));
      break;
    default:
      break;
  }
}

platform::Text TVelmoraFP::EnviarComandoStr(const Text& comando, const Text& argumentos,
                                            bool semHandle) {
  if (!Ativo()) throw EVelmoraFP(u"Ative o leitor para enviar comandos.");
  if (!FDispositivoCaptura) throw EVelmoraFP(u"Dispositivo não suporta comandos.");
  return FDispositivoCaptura->SendCommandStr(comando, argumentos, semHandle);
}

// --- Database processing -------------------------------------------------------

void TVelmoraFP::VerificarBase() {
  if (FBase == nullptr || !FBase->Ativo()) {
    throw EVelmoraFP(u"Operação requer ativar a base de impressões.");
  }
  if (!FValidouLeitor && !FNumSerieLeitor.empty()) {
    FLeitorValido = FBase->LeitorValido(FNumSerieLeitor);
    FValidouLeitor = FLeitorValido;
    if (!FLeitorValido) throw EVelmoraFP(u"Leitor não registrado.");
  }
}

void TVelmoraFP::AjustarModo(TModoOperacao anterior, TModoOperacao modo) {
  const auto ehBase = [](TModoOperacao m) {
    return m == TModoOperacao::moCadastro || m == TModoOperacao::moPesquisa;
  };
  if (ehBase(modo) && !ehBase(anterior)) ValidarLeitor();
}

void TVelmoraFP::ValidarLeitor() {
  if (FNumSerieLeitor.empty() || FValidouLeitor) return;
  FLeitorValido = FBase != nullptr && FBase->LeitorValido(FNumSerieLeitor);
  if (!FLeitorValido) throw EVelmoraFP(u"Leitor não registrado.: " + FNumSerieLeitor);
  FValidouLeitor = true;
}

void TVelmoraFP::PassoCadastro(const TGrayImage* image) {
  if (FBase == nullptr) return;
  int32_t limiarUniu = 0;
  int32_t limiar1paraN = 0;
  const bool ok = FBase->AdicionarImagemCadastroP6(image, limiarUniu, limiar1paraN);
  const int32_t indice = ++IndImpressaoCapturada;
  if (indice < 3) {
    DoCapturou(indice);
    return;
  }
  UniuImagens = ok;
  if (ok) FPassou1paraN = limiarUniu >= limiar1paraN;
  IndImpressaoCapturada = 0;
  bool fim = true;
  if (FVerificarExistencia && ok) {
    int32_t id = 0;
    Text codigo;
    int32_t indDedo = 0;
    if (FBase->PesquisarImpressaoUnida(id, codigo, indDedo)) {
      bool rejeitar = false;
      DoImpressaoExistente(id, codigo, indDedo, rejeitar);
      if (rejeitar) fim = false;
    }
    FUltimaPontuacao.store(FBase->UltimaPontuacao());
  }
  if (fim) DoFimCaptura(ok);
}

void TVelmoraFP::CriarThreadPesquisa() {
  if (!FThreadPesquisa) FThreadPesquisa = std::make_unique<TThreadPesquisa>(*this);
}

void TVelmoraFP::RegistrarPesquisa(double inicio) {
  FTempoPesquisa.store(Agora() - inicio);
  FUltimaPontuacao.store(FBase->UltimaPontuacao());
}

void TVelmoraFP::Pesquisar(GrayImagePtr image) {
  if (FBase == nullptr) return;
  if (FPesquisaEmThread && FThreadPesquisa) {
    // A previous search finishes first. A mode change holds the same event
    // and may be waiting for this very thread to end (deactivation): then
    // the image is dropped instead of waiting for ever.
    while (!FThreadPesquisa->EventoFim().Wait(5)) {
      if (!Ativo()) return;
    }
    if (FModoOperacao.load() != TModoOperacao::moPesquisa || !Ativo()) {
      FThreadPesquisa->EventoFim().Set();
      return;
    }
    FAguardandoPesquisa.store(true);
    FThreadPesquisa->Iniciar(std::move(image));
    DoInicioPesquisa();
    return;
  }
  FAguardandoPesquisa.store(true);
  DoInicioPesquisa();
  int32_t id = 0;
  Text codigo;
  int32_t indDedo = 0;
  try {
    const double inicio = Agora();
    id = FBase->PesquisarImagem2(image.get(), codigo, indDedo, nullptr);
    RegistrarPesquisa(inicio);
  } catch (...) {
    FAguardandoPesquisa.store(false);
    Text mensagem;
    try {
      throw;
    } catch (const Exception& e) {
      mensagem = e.message();
    } catch (const std::exception& e) {
      mensagem = platform::FromUtf8(e.what());
    } catch (...) {
    }
    DoErroPesquisa(mensagem);
    return;
  }
  FAguardandoPesquisa.store(false);
  if (id != 0) {
    DoReconheceu(id, codigo, indDedo);
  } else {
    DoNaoReconheceu();
  }
}

void TVelmoraFP::TerminouPesquisa(TThreadPesquisa& thread) {
  FAguardandoPesquisa.store(false);
  if (thread.ErroPesquisa()) {
    DoErroPesquisa(thread.MensagemErroPesquisa());
  } else if (thread.Id() != 0) {
    DoReconheceu(thread.Id(), thread.Codigo(), thread.IndDedo());
  } else {
    DoNaoReconheceu();
  }
}

// --- Dispatchers ------------------------------------------------------------------

void TVelmoraFP::DoCapturou(int32_t numCaptura) {
  if (OnCapturou) OnCapturou(*this, numCaptura);
}
void TVelmoraFP::DoFimCaptura(bool capturaOK) {
  if (OnFimCaptura) OnFimCaptura(*this, capturaOK);
}
void TVelmoraFP::DoReconheceu(int32_t id, const Text& codigo, int32_t indDedo) {
  if (OnReconheceu) OnReconheceu(*this, id, codigo, indDedo);
}
void TVelmoraFP::DoNaoReconheceu() {
  if (OnNaoReconheceu) OnNaoReconheceu(*this);
}
void TVelmoraFP::DoInicioPesquisa() {
  if (OnInicioPesquisa) OnInicioPesquisa(*this);
}
void TVelmoraFP::DoImpressaoExistente(int32_t id, const Text& codigo, int32_t indDedo,
                                      bool& rejeitar) {
  if (OnImpressaoExistente) OnImpressaoExistente(*this, id, codigo, indDedo, rejeitar);
}
void TVelmoraFP::DoErroPesquisa(const Text& mensagem) {
  if (OnErroPesquisa) OnErroPesquisa(*this, mensagem);
}
void TVelmoraFP::DoNovaImagem(const TGrayImage* imagem) {
  if (OnNovaImagem) OnNovaImagem(*this, imagem);
}
void TVelmoraFP::DoMudouModoOperacao() {
  if (OnMudouModoOperacao) OnMudouModoOperacao(*this);
}

}  // namespace dactyra
