// Test support for the scanning tests: a reader access over real test
// plug-in copies (real devices, real capture threads) plus the UareU module
// over a scripted DigitalPersona binding, and a small in-memory fingerprint
// database.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_module.h"
#include "capture/digitalpersona/uareu_capture_module.h"
#include "capture/tests/plugin_fixture.h"
#include "capture/vxr/vxr_capture_module.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_base.h"
#include "scanning/velmora_fp.h"

namespace dactyra::testing {

class TLeitoresTeste final : public TAcessoLeitores {
 public:
  // Loads the plug-in copy `stem` (configure it first).
  void CarregarPlugin(const std::string& stem);

  void Adicionar(TVelmoraFP& v) override;
  void Remover(TVelmoraFP& v) override;
  void IniciouConexao(TVelmoraFP&) override { ++conexoes; }
  // The modules in `modulos`, then the UareU module over the scripted
  // binding below.
  int32_t NumLeitores() override;
  int32_t PegNumerosSerie(std::vector<platform::Text>& lista) override;
  std::unique_ptr<TVxCaptureDevice> AbrirDispositivo(const platform::Text& numSerie) override;
  void FecharDispositivo(TVxCaptureDevice& disp) override;

  // Delivers an image as the binding's thread would (call on any thread).
  void ImagemDP(int32_t w, int32_t h, const uint8_t* pixels);

  std::vector<std::unique_ptr<TCaptureModule>> modulos;
  std::atomic<int> conexoes{0};
  std::atomic<int> componentes{0};
  // The scripted DigitalPersona binding: present or not, its readers, the
  // status its start answers, the starts and stops asked of it, and the
  // image procedure of the capture it runs.
  bool dpPresente = false;
  std::vector<platform::Text> dpLeitores;
  int32_t dpStatusInicio = 0;
  std::vector<std::string> dpChamadas;
  TLeitoresUareU::TSMImageProc dpProc = nullptr;
  void* dpParam = nullptr;

 private:
  class TBindingTeste final : public TLeitoresUareU {
   public:
    explicit TBindingTeste(TLeitoresTeste& t) : t_(t) {}
    bool Carregar(platform::Env&) const override { return t_.dpPresente; }
    void Descarregar() const override {}
    int ContarDispositivos() const override { return static_cast<int>(t_.dpLeitores.size()); }
    platform::Text NomeLeitor(int indice) const override;
    int IniciarCaptura(const platform::Text& nome, TSMImageProc proc, void* param) const override;
    int PararCaptura(const platform::Text& nome) const override;

   private:
    TLeitoresTeste& t_;
  };
  TBindingTeste FBindingUareU{*this};
  TUareUCaptureModule FModuloUareU{FBindingUareU, platform::Env::Default()};
  // Every module asked, in list order.
  std::vector<TCaptureModule*> Todos();
};

// Enrollment merges three images; search finds what a test put in.
class TBaseTeste final : public TVelmoraBase {
 public:
  int32_t GetNumImpressoes() override { return 0; }
  bool GetAtivo() override { return ativo; }
  void SetAtivo(bool v) override { ativo = v; }
  int32_t GetUltimaPontuacao() override { return 77; }
  bool GetQualidadeRuim() override { return false; }
  int32_t AdicionarImagem(const TGrayImage*, const platform::Text&, int32_t,
                          TVerificadorFPBase*) override {
    return 0;
  }
  int32_t PesquisarImagem2(const TGrayImage* img, platform::Text& codigo, int32_t& indDedo,
                           TVerificadorFPBase*) override;
  bool Excluir(int32_t) override { return false; }
  bool PegInformacao(int32_t id, platform::Text& codigo, int32_t& indDedo) override;
  bool PegImpressao(int32_t, int32_t&, platform::Text&, int32_t&) override { return false; }
  int32_t ExcluirImpressoesCodigo(const platform::Text&) override { return 0; }
  int32_t NumImpressoesCodigo(const platform::Text&) override { return 0; }
  TVetorIdInfo IdsInfoParaCodigo(const platform::Text&, int32_t) override { return {}; }
  TVetorInfoHashes PegHashesParalela(const platform::Text&, TFormatoTemplate) override {
    return {};
  }
  void CompactarBase() override {}
  bool AdicionarImagemCadastro(const TGrayImage*) override { return false; }
  bool AdicionarImagemCadastroP6(const TGrayImage* imagem, int32_t& limiarUniu,
                                 int32_t& limiar1paraN) override;
  bool AdicionarImpressaoCadastro(TTemplateBase*, TTemplateBase*, int32_t&, int32_t&) override {
    return false;
  }
  void ReiniciarCadastro() override { ++reinicios; }
  int32_t AdicionarImpressaoUnida(const platform::Text&, int32_t) override { return 0; }
  void AdicionarImpressaoRuim(const platform::Text&, int32_t, int32_t&, int32_t&,
                              int32_t&) override {}
  bool PesquisarImpressaoUnida(int32_t& id, platform::Text& codigo, int32_t& indDedo) override;
  bool LeitorValido(const platform::Text& idLeitor) override;
  bool PesquisarInterno(int32_t, int32_t&, int32_t&, int32_t&) override { return false; }
  TVetorResultadoImagemRuim PesquisarImagemRuim(const TGrayImage*) override { return {}; }
  int32_t VerificarImagem(const TGrayImage*, const platform::Text&, int32_t,
                          TVerificadorFPBase*) override {
    return 0;
  }
  int32_t VerificarImpressao(TTemplateBase*, const platform::Text&, int32_t,
                             TVerificadorFPBase*) override {
    return 0;
  }
  bool VerificarIds(int32_t, int32_t, int32_t&, int32_t&, int32_t&, int32_t&, int32_t&, int32_t&,
                    int32_t&, TVerificadorFPBase*) override {
    return false;
  }
  bool AssociarTextoCodigo(const platform::Text&, const platform::Text&) override { return false; }
  bool PegTextoCodigo(const platform::Text&, platform::Text&) override { return false; }
  int32_t PesquisarImpressao(TTemplateBase*, platform::Text&, int32_t&,
                             TVerificadorFPBase*) override {
    return 0;
  }
  TVetorIds IdsParaCodigo(const platform::Text&) override { return {}; }

  // Stored entries: the first pixel of an image is its key.
  struct Entrada {
    uint8_t chave;
    int32_t id;
    platform::Text codigo;
    int32_t dedo;
  };

  std::mutex mutex;
  std::atomic<bool> ativo{true};
  std::vector<Entrada> entradas;
  std::vector<platform::Text> leitoresRegistrados;
  std::atomic<int> reinicios{0};
  // Enrollment: a merge of three succeeds unless an image's first pixel is
  // 0; the merged entry is "found" when `existente` is set.
  int cadastroImagens = 0;
  bool cadastroOk = true;
  bool existente = false;
  // Searches: `falhar` raises; `segurar` blocks until `soltar` is called.
  bool falhar = false;
  bool segurar = false;
  std::atomic<bool> pesquisando{false};
  std::condition_variable cv;
  bool solto = false;
  void Soltar();
};

}  // namespace dactyra::testing
