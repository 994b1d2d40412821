#include "scanning/velmora_base.h"

#include <chrono>

#include "capture/velmora_error.h"
#include "scanning/velmora_fp.h"

namespace dactyra {

using platform::Text;

bool TVelmoraBase::PegInformacao2(int32_t id, Text& codigo, int32_t& indDedo, double& dataCadastro,
                                  double& dataUltimoReconhecimento, int32_t& numReconhecimentos) {
  const bool ok = PegInformacao(id, codigo, indDedo);
  if (ok) {
    dataCadastro = 0;
    dataUltimoReconhecimento = 0;
    numReconhecimentos = 0;
  }
  return ok;
}

int32_t TVelmoraBase::IdentificarExternoImagem(const TGrayImage* /*imagem*/, const Text& /*extra*/,
                                               Text& codigo, int32_t& /*indDedo*/, Text& retorno) {
  codigo.clear();
  retorno.clear();
  throw EVelmoraFP(u"Método não suportado");
}

Text TVelmoraBase::ExecutarExterno(const Text& /*comando*/) {
  throw EVelmoraFP(u"Método não suportado");
}

TTemplateBase* TVelmoraBase::CriarTemplate(const Text& /*templateStr*/, int32_t /*formato*/) {
  return nullptr;
}

// --- Search thread ------------------------------------------------------------

TThreadPesquisa::TThreadPesquisa(TVelmoraFP& velmoraFP) : FVelmoraFP(velmoraFP) {
  FThread =
      std::make_unique<TThreadGenerica>([this](TThreadGenerica& t) { Execute(t); }, false, nullptr);
}

TThreadPesquisa::~TThreadPesquisa() {
  FThread->Terminate();
  FEventoInicio.Set();
  FThread.reset();
}

void TThreadPesquisa::Iniciar(GrayImagePtr imagem) {
  FImagem = std::move(imagem);
  FEventoInicio.Set();
}

void TThreadPesquisa::Execute(TThreadGenerica& thread) {
  FIdThread.store(platform::CurrentThreadId());
  while (!thread.Terminated()) {
    FEventoInicio.Wait();
    if (thread.Terminated()) break;
    FErroPesquisa = false;
    std::unique_ptr<TTemplateBase> modelo;
    TVelmoraBase* base = FVelmoraFP.Base();
    try {
      const double inicio =
          std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
              .count();
      if (base == nullptr) throw EVelmoraFP(u"Operação requer ativar a base de impressões.");
      FCodigo.clear();
      FIndDedo = 0;
      if (FImagem) {
        FId = base->PesquisarImagem2(FImagem.get(), FCodigo, FIndDedo, nullptr);
      } else {
        modelo.reset(base->CriarTemplate(FTemplate, FFormatoTemplate));
        FId = base->PesquisarImpressao(modelo.get(), FCodigo, FIndDedo, nullptr);
      }
      FVelmoraFP.RegistrarPesquisa(inicio);
    } catch (const Exception& e) {
      FErroPesquisa = true;
      FMensagemErroPesquisa = e.message();
    } catch (const std::exception& e) {
      FErroPesquisa = true;
      FMensagemErroPesquisa = platform::FromUtf8(e.what());
    } catch (...) {
      FErroPesquisa = true;
      FMensagemErroPesquisa.clear();
    }
    try {
      FVelmoraFP.TerminouPesquisa(*this);
    } catch (...) {
      // A result handler's failure ends nothing but its own call.
    }
    FImagem.reset();
    FEventoFim.Set();
  }
}

}  // namespace dactyra
