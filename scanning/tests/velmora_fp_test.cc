// The scanner component over real test plug-in devices and a scripted
// DigitalPersona binding: settling the reader, the single-use guard, the
// capture thread, image processing and the database modes.
#include "scanning/velmora_fp.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/fpsmm/fpsmm_capture_module.h"
#include "capture/tests/plugin_env.h"
#include "platform/testing/wait.h"
#include "scanning/scanner_list.h"
#include "scanning/tests/readers_fixture.h"

namespace dactyra {
namespace {

using platform::Text;
using platform::testing::WaitUntil;
using testing::ExportShape;
using testing::MessageOf;
using testing::Native;
using testing::PluginEnv;
using testing::PluginPath;
using testing::T;
using testing::TBaseTeste;
using testing::TLeitoresTeste;

// Reader names are unique to this process: the guard is shared by every
// process of the user, and tests run in parallel.
std::string Prefixo() { return "P" + std::to_string(getpid()); }

class VelmoraFPTest : public testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    // Read by the FPSmm stand-in at every call; set before any thread runs.
    ASSERT_EQ(setenv("FPSMM_SIM_CONFIG", (dir() + "/fpsmm.conf").c_str(), 1), 0);
  }
  // The FPSmm stand-in as the module whose prefix FPSmmNome() carries, with
  // the reader FPSmmNome() "\\X1".
  void FPSmm(const std::string& extra) {
    ConfigurarFPSmm(extra);
    const std::string arquivo = Native(dir() + "/FPSmmHand.so");
    std::filesystem::copy_file(DACTYRA_FPSMM_SIM, arquivo);
    leitores_.modulos.push_back(std::make_unique<TFPSmmCaptureModule>(T(FPSmmNome()), T(arquivo)));
  }
  void ConfigurarFPSmm(const std::string& extra) {
    Configure("fpsmm", "id=" + FPSmmNome() + "\\X1\npixels=pattern\nsize=4x4\n" + extra);
  }
  static std::string FPSmmNome() { return "F" + std::to_string(getpid()); }
  void Plugin(const std::string& devices, const std::string& extra = "") {
    Configure("vxr_test", "prefix=" + Prefixo() + "\n" + devices + extra);
    leitores_.CarregarPlugin("vxr_test");
  }
  Text Nome(const std::string& serial) { return T(Prefixo() + "\\" + serial); }

  TLeitoresTeste leitores_;
};

TEST_F(VelmoraFPTest, ActivationFailuresCarryTheTableTextsAndLeaveNoGuard) {
  Plugin("device=A\ndevice=B\n", "idle=block\n");
  struct Caso {
    int32_t indice;
    std::string nome;  // empty: none set
    Text esperado;
  };
  const Text conectado =
      u"Leitor não conectado: " + Nome("Z") + u"\nTotal de leitores conectados: 2";
  const Caso casos[] = {
      {-1, Prefixo() + "\\Z", conectado},
      {2, "", u"Índice de leitor inválido: deve estar entre 0 e 1."},
      {-1, "", u"Número de série do leitor não informado."},
  };
  for (const Caso& c : casos) {
    TVelmoraFP fp(leitores_);
    if (!c.nome.empty()) fp.SetNumSerieLeitor(T(c.nome));
    fp.SetIndiceLeitor(c.indice);
    EXPECT_EQ(MessageOf<Text>([&] { fp.SetModoOperacao(TModoOperacao::moDesenvolvimento); }),
              c.esperado);
    EXPECT_FALSE(fp.Ativo());
    EXPECT_EQ(fp.ModoOperacao(), TModoOperacao::moInativo);
  }
  // No guard was left behind: reader A can be taken.
  TVelmoraFP fp(leitores_);
  fp.SetNumSerieLeitor(Nome("A"));
  fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  EXPECT_TRUE(fp.Ativo());
}

TEST_F(VelmoraFPTest, NoReadersAtAll) {
  TVelmoraFP fp(leitores_);
  EXPECT_EQ(MessageOf<Text>([&] { fp.SetModoOperacao(TModoOperacao::moDesenvolvimento); }),
            u"Não há leitores detectados. Impossível ativar.");
  EXPECT_EQ(fp.NumLeitores(), 0);
}

// The count is each module's own; the listing only names the positions.
TEST_F(VelmoraFPTest, TheCountIsTheModulesOwnAndPositionsWithoutANameHaveNoScanner) {
  // An FPSmm module that counts three readers and names two.
  FPSmm("id=" + FPSmmNome() + "\\X2\ncount=3\n");
  TListaScanners lista(leitores_);
  TVelmoraFP fp(leitores_);
  EXPECT_EQ(lista.ContarLeitores(), 3);
  EXPECT_EQ(fp.NumLeitores(), 3);
  EXPECT_NE(lista.PegScanner(1), 0);
  EXPECT_EQ(lista.PegScanner(2), 0);
  EXPECT_EQ(lista.PegScanner(3), 0);
  EXPECT_EQ(lista.Tamanho(), 1u);

  // A plug-in whose full list is malformed still counts; naming fails with
  // its own error, as listing does.
  Plugin("device=A\ndevice=B\n", "list_unterminated=0\n");
  EXPECT_EQ(lista.ContarLeitores(), 5);
  EXPECT_THROW(lista.PegScanner(0), Exception);
}

TEST_F(VelmoraFPTest, ByNameIgnoringCaseCapturesImagesAtItsOwnResolution) {
  Plugin("device=Ab\n", "max=5x3\nimages=3\nidle=block\n");
  TVelmoraFP fp(leitores_);
  fp.SetNumSerieLeitor(T(Prefixo() + "\\aB"));
  std::mutex m;
  std::vector<std::vector<uint8_t>> vistas;
  std::vector<int32_t> resolucoes;
  std::vector<int32_t> numeros;
  fp.OnCapturou = [&](TVelmoraFP& s, int32_t n) {
    const TGrayImage* img = s.ImagemAtual();
    std::vector<uint8_t> px;
    px.insert(px.end(), img->Bits.Pixels().begin(), img->Bits.Pixels().end());
    std::lock_guard lock(m);
    vistas.push_back(px);
    resolucoes.push_back(img->Resolution);
    numeros.push_back(n);
  };
  fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  EXPECT_EQ(fp.NumSerieLeitor(), Nome("Ab"));
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard lock(m);
    return vistas.size() == 3;
  }));
  fp.SetModoOperacao(TModoOperacao::moInativo);
  std::lock_guard lock(m);
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(vistas[k].size(), 15u);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 5; ++x) EXPECT_EQ(vistas[k][y * 5 + x], (k + x + 3 * y) & 0xFF);
    }
    EXPECT_EQ(resolucoes[k], 440);
    EXPECT_EQ(numeros[k], 0);
  }
  EXPECT_GE(leitores_.conexoes.load(), 1);
}

TEST_F(VelmoraFPTest, SecondUserIsRefusedUntilTheFirstLetsGo) {
  Plugin("device=A\n", "idle=block\n");
  TVelmoraFP primeiro(leitores_);
  primeiro.SetNumSerieLeitor(Nome("A"));
  primeiro.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  TVelmoraFP segundo(leitores_);
  segundo.SetIndiceLeitor(0);
  EXPECT_EQ(MessageOf<Text>([&] { segundo.SetModoOperacao(TModoOperacao::moVisualizar); }),
            u"O leitor " + Nome("A") + u" já está sendo usado por outra aplicação.");
  EXPECT_FALSE(segundo.Ativo());
  primeiro.SetModoOperacao(TModoOperacao::moInativo);
  segundo.SetModoOperacao(TModoOperacao::moVisualizar);
  EXPECT_TRUE(segundo.Ativo());
  // Deactivation closed the plug-in handle of the first.
  EXPECT_EQ(CountCalls("vxr_test", "CloseDevice"), 1);
}

#ifndef _WIN32
// The runtime folder of the POSIX named objects; Windows' are the kernel's.
// A runtime folder another user could enter holds no guard: the reader
// is not "in use by another application", and the message says what is
// wrong and what moves the folder.
TEST_F(VelmoraFPTest, AGuardThatCannotBeMadeSaysWhyNotThatTheReaderIsInUse) {
  Plugin("device=A\n", "idle=block\n");
  const std::string open = dir() + "/open";
  ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  const char* before = getenv("DACTYRA_RUNTIME");
  const std::string previous = before ? before : "";
  setenv("DACTYRA_RUNTIME", open.c_str(), 1);
  TVelmoraFP fp(leitores_);
  fp.SetNumSerieLeitor(Nome("A"));
  const Text message =
      MessageOf<Text>([&] { fp.SetModoOperacao(TModoOperacao::moDesenvolvimento); });
  if (before) {
    setenv("DACTYRA_RUNTIME", previous.c_str(), 1);
  } else {
    unsetenv("DACTYRA_RUNTIME");
  }
  EXPECT_EQ(message.find(u"sendo usado"), Text::npos) << platform::ToUtf8(message);
  EXPECT_NE(message.find(Nome("A")), Text::npos) << platform::ToUtf8(message);
  EXPECT_NE(message.find(T(open)), Text::npos) << platform::ToUtf8(message);
  EXPECT_NE(message.find(u"DACTYRA_RUNTIME"), Text::npos) << platform::ToUtf8(message);
  EXPECT_FALSE(fp.Ativo());
}
#endif  // _WIN32

TEST_F(VelmoraFPTest, AFailedOpenGivesTheGuardBack) {
  Plugin("device=A\n", "open_fails=1\n");
  TVelmoraFP fp(leitores_);
  fp.SetNumSerieLeitor(Nome("A"));
  EXPECT_NE(MessageOf<Text>([&] { fp.SetModoOperacao(TModoOperacao::moDesenvolvimento); }),
            u"(no error)");
  EXPECT_FALSE(fp.Ativo());
  Configure("vxr_test", "prefix=" + Prefixo() + "\ndevice=A\nidle=block\n");
  TVelmoraFP outro(leitores_);
  outro.SetNumSerieLeitor(Nome("A"));
  outro.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  EXPECT_TRUE(outro.Ativo());
}

TEST_F(VelmoraFPTest, UnlistedNamesSkipListAndGuard) {
  struct Caso {
    Text nome;
    bool semLista;
  };
  const Caso casos[] = {{u"VX:abc", true}, {u"ZK\\7", true}, {u"vx:abc", false}, {u"ZK7", false}};
  Plugin("device=A\n", "idle=block\n");
  for (const Caso& c : casos) {
    SCOPED_TRACE(platform::ToUtf8(c.nome));
    TVelmoraFP fp(leitores_);
    EXPECT_EQ(MessageOf<Text>([&] { fp.EnviarComandoStr(u"X", u"", false); }),
              u"Ative o leitor para enviar comandos.");
    fp.SetNumSerieLeitor(c.nome);
    const Text m = MessageOf<Text>([&] { fp.SetModoOperacao(TModoOperacao::moDesenvolvimento); });
    if (c.semLista) {
      EXPECT_EQ(m, u"(no error)");
      EXPECT_TRUE(fp.Ativo());
      EXPECT_EQ(MessageOf<Text>([&] { fp.EnviarComandoStr(u"X", u"", false); }),
                u"Dispositivo não suporta comandos.");
      // Same name while active: nothing; another name: refused.
      fp.SetNumSerieLeitor(c.nome);
      EXPECT_EQ(MessageOf<Text>([&] { fp.SetNumSerieLeitor(u"VX:other"); }),
                u"Não é possível alterar núm.série com componente conectado.");
    } else {
      EXPECT_EQ(m, u"Leitor não conectado: " + c.nome + u"\nTotal de leitores conectados: 1");
    }
  }
  EXPECT_TRUE(leitores_.dpChamadas.empty());
}

TEST_F(VelmoraFPTest, DigitalPersonaReadersComeAfterTheModulesAndCaptureThroughTheBinding) {
  Plugin("device=A\n", "idle=block\n");
  leitores_.dpPresente = true;
  leitores_.dpLeitores = {u"UareU\\G1"};
  TVelmoraFP fp(leitores_);
  EXPECT_EQ(fp.NumLeitores(), 2);
  fp.SetNumSerieLeitor(u"{G1}");
  std::atomic<int> capturas{0};
  fp.OnCapturou = [&](TVelmoraFP& s, int32_t) {
    EXPECT_EQ(s.ImagemAtual()->Width, 2);
    ++capturas;
  };
  fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  EXPECT_EQ(fp.NumSerieLeitor(), u"UareU\\G1");
  EXPECT_EQ(MessageOf<Text>([&] { fp.EnviarComandoStr(u"LFD", u"2,3", false); }),
            u"Dispositivo não suporta comandos.");
  const uint8_t px[4] = {1, 2, 3, 4};
  leitores_.ImagemDP(2, 2, px);
  EXPECT_EQ(capturas.load(), 1);
  fp.SetModoOperacao(TModoOperacao::moInativo);
  EXPECT_EQ(leitores_.dpChamadas, (std::vector<std::string>{"start UareU\\G1", "stop UareU\\G1"}));

  leitores_.dpStatusInicio = -1;
  EXPECT_EQ(MessageOf<Text>([&] { fp.SetModoOperacao(TModoOperacao::moDesenvolvimento); }),
            u"Não consegui iniciar captura para leitor UareU\\G1.\nPode ser necessário "
            u"reiniciar o programa.");
  EXPECT_FALSE(fp.Ativo());
}

TEST_F(VelmoraFPTest, ImagesRaiseEventsByModeAndNoneWhileInactive) {
  TVelmoraFP fp(leitores_);
  fp.SetNumSerieLeitor(u"VX:m");
  int novas = 0;
  int capturou = 0;
  fp.OnNovaImagem = [&](TVelmoraFP&, const TGrayImage*) { ++novas; };
  fp.OnCapturou = [&](TVelmoraFP&, int32_t) { ++capturou; };
  const uint8_t px[6] = {};
  fp.NovaImagemBruta(3, 2, px);
  EXPECT_EQ(novas, 0);
  fp.SetModoOperacao(TModoOperacao::moVisualizar);
  fp.NovaImagemBruta(3, 2, px);
  EXPECT_EQ(novas, 1);
  EXPECT_EQ(capturou, 0);
  fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  fp.NovaImagemBruta(3, 0, nullptr);  // zero rows: an empty image
  EXPECT_EQ(novas, 2);
  EXPECT_EQ(capturou, 1);
  EXPECT_EQ(fp.ImagemAtual()->Height, 0);
}

TEST_F(VelmoraFPTest, DeactivationEndsACaptureBlockedInThePlugin) {
  Plugin("device=A\n", "images=0\nidle=block\n");
  TVelmoraFP fp(leitores_);
  fp.SetIndiceLeitor(0);
  fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  ASSERT_TRUE(WaitForCalls("vxr_test", "GetImage"));
  fp.SetModoOperacao(TModoOperacao::moInativo);
  EXPECT_FALSE(fp.Ativo());
  EXPECT_EQ(CountCalls("vxr_test", "VIOLATION"), 0);
}

TEST_F(VelmoraFPTest, AHandlerCannotDeactivateItsOwnComponent) {
  Plugin("device=A\n", "images=1\nidle=block\n");
  TVelmoraFP fp(leitores_);
  fp.SetIndiceLeitor(0);
  std::atomic<bool> recusado{false};
  fp.OnCapturou = [&](TVelmoraFP& s, int32_t) {
    try {
      s.SetModoOperacao(TModoOperacao::moInativo);
    } catch (const EVelmoraFP&) {
      recusado = true;
    }
  };
  fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  ASSERT_TRUE(WaitUntil([&] { return recusado.load(); }));
  fp.SetModoOperacao(TModoOperacao::moInativo);
}

// A reader settled by position is checked against the database as the
// activation settles it, before its guard is taken or enrollment restarted.
TEST_F(VelmoraFPTest, ActivationIntoADatabaseModeValidatesTheSettledReader) {
  Plugin("device=A\n", "idle=block\n");
  TBaseTeste base;
  TVelmoraFP fp(leitores_);
  fp.SetBase(&base);
  fp.SetIndiceLeitor(0);
  EXPECT_EQ(MessageOf<Text>([&] { fp.SetModoOperacao(TModoOperacao::moCadastro); }),
            u"Leitor não registrado.: " + Nome("A"));
  EXPECT_FALSE(fp.Ativo());
  EXPECT_EQ(fp.ModoOperacao(), TModoOperacao::moInativo);
  EXPECT_EQ(base.reinicios.load(), 0);
  base.leitoresRegistrados = {Nome("A")};
  fp.SetModoOperacao(TModoOperacao::moCadastro);
  EXPECT_TRUE(fp.Ativo());
  EXPECT_EQ(base.reinicios.load(), 1);
  fp.SetModoOperacao(TModoOperacao::moInativo);
}

// A reader whose plug-in call goes on after the stop asked it to return.
// The stop waits for it as long as the plug-in's kind needs: a plug-in
// that ignores VXR_ShutdownDevice is given up on after a short bound, and
// the capture thread closes its handle when the call returns; one without
// that export ends its captures by itself and is waited for. Another
// reader captures throughout.
TEST_F(VelmoraFPTest, AStopWaitsForAPluginCallOnlyAsLongAsItsKindNeeds) {
  struct Caso {
    const char* nome;
    bool semShutdown;  // the plug-in does not export VXR_ShutdownDevice
    std::string config;
    Text falha;  // empty: the stop succeeds
  };
  const Text nome = T(Prefixo() + "S\\B");
  const Caso casos[] = {
      {"ignores the shutdown", false, "idle=timeout:5000\nignore_shutdown=1\n",
       u"O leitor " + nome + u" não parou"},
      {"has no shutdown", true, "idle=timeout:3000\n", {}},
  };
  Plugin("device=A\n", "max=4x4\nimages=-1\nimage_delay_ms=5\n");
  TVelmoraFP vivo(leitores_);
  std::atomic<bool> parando{false};
  std::atomic<int> durante{0};
  vivo.OnCapturou = [&](TVelmoraFP&, int32_t) {
    if (parando.load()) ++durante;
  };
  vivo.SetNumSerieLeitor(Nome("A"));
  vivo.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  // A plug-in file may be returning from a call after the test: it stays
  // loaded for the rest of the process.
  static std::vector<std::unique_ptr<TCaptureModule>> mantidos;
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nome);
    const std::string stem = std::string("vxr_stuck") + (c.falha.empty() ? "w" : "i");
    const std::string arquivo = Native(dir() + "/" + stem + ".so");
    std::filesystem::copy_file(PluginPath("vxr_test"), arquivo);
    Configure(stem, "prefix=" + Prefixo() + "S\ndevice=B\nimages=0\n" + c.config);
    PluginEnv env(c.semShutdown ? ExportShape{.missing = {"VXR_ShutdownDevice"}} : ExportShape{});
    leitores_.modulos.push_back(std::make_unique<TVxrCaptureModule>(T(stem), T(arquivo), env));
    TVelmoraFP preso(leitores_);
    preso.SetNumSerieLeitor(nome);
    preso.SetModoOperacao(TModoOperacao::moDesenvolvimento);
    ASSERT_TRUE(WaitForCalls(stem, "GetImage"));
    durante = 0;
    parando = true;
    EXPECT_EQ(MessageOf<Text>([&] { preso.SetModoOperacao(TModoOperacao::moInativo); }),
              c.falha.empty() ? Text(u"(no error)") : c.falha);
    parando = false;
    EXPECT_EQ(CountCalls(stem, "CloseDevice"), c.falha.empty() ? 1 : 0);
    EXPECT_FALSE(preso.Ativo());
    EXPECT_EQ(preso.ModoOperacao(), TModoOperacao::moInativo);
    EXPECT_GT(durante.load(), 0);
    EXPECT_TRUE(WaitForCalls(stem, "CloseDevice"));
    EXPECT_EQ(CountCalls(stem, "VIOLATION"), 0);
    // The slot's module goes; its file stays with the kept one.
    mantidos.push_back(std::move(leitores_.modulos.back()));
    leitores_.modulos.pop_back();
  }
  vivo.SetModoOperacao(TModoOperacao::moInativo);
}

// An image handler that stops its own component would wait for its own
// delivery: it is refused, whichever kind of reader delivers, and the
// component stops from outside afterwards.
TEST_F(VelmoraFPTest, AnImageHandlerCannotStopItsOwnComponentForAnyReaderKind) {
  Plugin("device=A\n", "max=4x4\nimages=-1\nimage_delay_ms=2\n");
  FPSmm("interval_ms=2\n");
  leitores_.dpPresente = true;
  leitores_.dpLeitores = {u"UareU\\G1"};
  struct Caso {
    const char* tipo;
    Text nome;
  };
  const Caso casos[] = {
      {"plug-in", Nome("A")},
      {"FPSmm", T(FPSmmNome() + "\\X1")},
      {"DigitalPersona", u"UareU\\G1"},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.tipo);
    TVelmoraFP fp(leitores_);
    fp.SetNumSerieLeitor(c.nome);
    std::atomic<int> imagens{0};
    std::atomic<int> recusas{0};
    fp.OnCapturou = [&](TVelmoraFP& s, int32_t) {
      ++imagens;
      try {
        s.SetModoOperacao(TModoOperacao::moInativo);
      } catch (const EVelmoraFP&) {
        ++recusas;
      }
    };
    fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
    if (leitores_.dpProc != nullptr) {
      // As the binding's own thread delivers.
      std::thread binding([&] {
        const uint8_t px[4] = {1, 2, 3, 4};
        leitores_.ImagemDP(2, 2, px);
      });
      binding.join();
    }
    ASSERT_TRUE(WaitUntil([&] { return recusas.load() > 0; }));
    EXPECT_TRUE(fp.Ativo());
    fp.SetModoOperacao(TModoOperacao::moInativo);
    EXPECT_FALSE(fp.Ativo());
    EXPECT_EQ(recusas.load(), imagens.load());
  }
}

// A module that refuses to stop: the stop says so, and still leaves the
// component inactive with its reader's guard given back; the images the
// module goes on sending reach nothing.
TEST_F(VelmoraFPTest, AStopAnFPSmmModuleRefusesLetsTheReaderGo) {
  FPSmm("interval_ms=1\n");
  const Text nome = T(FPSmmNome() + "\\X1");
  TVelmoraFP fp(leitores_);
  fp.SetNumSerieLeitor(nome);
  std::atomic<int> imagens{0};
  fp.OnCapturou = [&](TVelmoraFP&, int32_t) { ++imagens; };
  fp.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  ASSERT_TRUE(WaitUntil([&] { return imagens.load() > 0; }));
  ConfigurarFPSmm("interval_ms=1\nstop_status=-6\n");
  EXPECT_EQ(MessageOf<Text>([&] { fp.SetModoOperacao(TModoOperacao::moInativo); }), u"Erro -6");
  EXPECT_FALSE(fp.Ativo());
  EXPECT_EQ(fp.ModoOperacao(), TModoOperacao::moInativo);
  const int depois = imagens.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(imagens.load(), depois);
  ConfigurarFPSmm("interval_ms=1\n");
  TVelmoraFP outro(leitores_);
  outro.SetNumSerieLeitor(nome);
  outro.SetModoOperacao(TModoOperacao::moDesenvolvimento);
  EXPECT_TRUE(outro.Ativo());
  outro.SetModoOperacao(TModoOperacao::moInativo);
}

// --- Database modes -------------------------------------------------------------

class BaseTest : public VelmoraFPTest {
 protected:
  void SetUp() override {
    VelmoraFPTest::SetUp();
    fp_.SetNumSerieLeitor(u"VX:base");
    base_.leitoresRegistrados = {u"VX:base"};
  }
  void Imagem(uint8_t chave) {
    const uint8_t px[4] = {chave, 1, 2, 3};
    fp_.NovaImagemBruta(2, 2, px);
  }

  TBaseTeste base_;
  TLeitoresTeste leitoresBase_;
  TVelmoraFP fp_{leitoresBase_};
};

TEST_F(BaseTest, DatabaseModesNeedAnActiveRegisteredDatabase) {
  EXPECT_EQ(MessageOf<Text>([&] { fp_.SetModoOperacao(TModoOperacao::moCadastro); }),
            u"Operação requer ativar a base de impressões.");
  EXPECT_FALSE(fp_.Ativo());
  fp_.SetBase(&base_);
  base_.ativo = false;
  EXPECT_EQ(MessageOf<Text>([&] { fp_.SetModoOperacao(TModoOperacao::moPesquisa); }),
            u"Operação requer ativar a base de impressões.");
  base_.ativo = true;
  base_.leitoresRegistrados.clear();
  EXPECT_EQ(MessageOf<Text>([&] { fp_.SetModoOperacao(TModoOperacao::moPesquisa); }),
            u"Leitor não registrado.");
  EXPECT_EQ(fp_.ModoOperacao(), TModoOperacao::moInativo);
  base_.leitoresRegistrados = {u"VX:base"};
  fp_.SetModoOperacao(TModoOperacao::moCadastro);
  EXPECT_EQ(base_.reinicios.load(), 1);
}

TEST_F(BaseTest, EnrollmentAnnouncesOneAndTwoThenEndsOnce) {
  fp_.SetBase(&base_);
  std::vector<int32_t> capturas;
  std::vector<bool> fins;
  fp_.OnCapturou = [&](TVelmoraFP&, int32_t n) { capturas.push_back(n); };
  fp_.OnFimCaptura = [&](TVelmoraFP&, bool ok) { fins.push_back(ok); };
  fp_.SetModoOperacao(TModoOperacao::moCadastro);
  for (int i = 0; i < 3; ++i) Imagem(5);
  EXPECT_EQ(capturas, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(fins, (std::vector<bool>{true}));
  EXPECT_TRUE(fp_.UniuImagensAtual());
  EXPECT_TRUE(fp_.Passou1paraN());
  // A fourth capture starts a new enrollment; a bad image fails it.
  Imagem(0);
  Imagem(5);
  Imagem(5);
  EXPECT_EQ(capturas, (std::vector<int32_t>{1, 2, 1, 2}));
  EXPECT_EQ(fins, (std::vector<bool>{true, false}));
}

TEST_F(BaseTest, ARejectingExistingPrintHandlerSuppressesTheEnd) {
  fp_.SetBase(&base_);
  fp_.SetVerificarExistencia(true);
  base_.existente = true;
  int fins = 0;
  bool rejeitar = true;
  std::vector<Text> achados;
  fp_.OnFimCaptura = [&](TVelmoraFP&, bool) { ++fins; };
  fp_.OnImpressaoExistente = [&](TVelmoraFP&, int32_t id, const Text& codigo, int32_t dedo,
                                 bool& r) {
    EXPECT_EQ(id, 9);
    EXPECT_EQ(dedo, 2);
    achados.push_back(codigo);
    r = rejeitar;
  };
  fp_.SetModoOperacao(TModoOperacao::moCadastro);
  for (int i = 0; i < 3; ++i) Imagem(5);
  EXPECT_EQ(fins, 0);
  EXPECT_EQ(fp_.UltimaPontuacao(), 77);
  rejeitar = false;
  for (int i = 0; i < 3; ++i) Imagem(5);
  EXPECT_EQ(fins, 1);
  EXPECT_EQ(achados, (std::vector<Text>{u"Maria", u"Maria"}));
}

TEST_F(BaseTest, SearchesReportOnTheRightEvents) {
  fp_.SetBase(&base_);
  base_.entradas = {{7, 42, u"José", 3}};
  struct Resultado {
    std::string tipo;
    int32_t id = 0;
    Text texto;
  };
  std::mutex m;
  std::vector<Resultado> resultados;
  auto anotar = [&](Resultado r) {
    std::lock_guard lock(m);
    resultados.push_back(std::move(r));
  };
  fp_.OnReconheceu = [&](TVelmoraFP&, int32_t id, const Text& c, int32_t) {
    anotar({"reconheceu", id, c});
  };
  fp_.OnNaoReconheceu = [&](TVelmoraFP&) { anotar({"nao", 0, {}}); };
  fp_.OnErroPesquisa = [&](TVelmoraFP&, const Text& msg) { anotar({"erro", 0, msg}); };
  fp_.SetModoOperacao(TModoOperacao::moPesquisa);
  for (bool emThread : {false, true}) {
    SCOPED_TRACE(emThread);
    {
      std::lock_guard lock(m);
      resultados.clear();
    }
    fp_.SetPesquisaEmThread(emThread);
    base_.falhar = false;
    Imagem(7);
    ASSERT_TRUE(WaitUntil([&] { return !fp_.AguardandoPesquisa(); }));
    Imagem(8);
    ASSERT_TRUE(WaitUntil([&] { return !fp_.AguardandoPesquisa(); }));
    base_.falhar = true;
    Imagem(7);
    ASSERT_TRUE(WaitUntil([&] {
      std::lock_guard lock(m);
      return resultados.size() == 3;
    }));
    std::lock_guard lock(m);
    EXPECT_EQ(resultados[0].tipo, "reconheceu");
    EXPECT_EQ(resultados[0].id, 42);
    EXPECT_EQ(resultados[0].texto, u"José");
    EXPECT_EQ(resultados[1].tipo, "nao");
    EXPECT_EQ(resultados[2].tipo, "erro");
    EXPECT_EQ(resultados[2].texto, u"Base indisponível");
  }
  EXPECT_EQ(fp_.UltimaPontuacao(), 77);
}

// The binding's thread must not wait for a search: a DigitalPersona image
// that arrives while one runs is dropped at once.
TEST_F(BaseTest, ADigitalPersonaImageDuringASearchIsDropped) {
  leitoresBase_.dpPresente = true;
  leitoresBase_.dpLeitores = {u"UareU\\G1"};
  base_.leitoresRegistrados = {u"UareU\\G1"};
  fp_.SetNumSerieLeitor(u"UareU\\G1");
  fp_.SetBase(&base_);
  base_.segurar = true;
  std::atomic<int> novas{0};
  fp_.OnNovaImagem = [&](TVelmoraFP&, const TGrayImage*) { ++novas; };
  fp_.SetModoOperacao(TModoOperacao::moPesquisa);
  const uint8_t px[4] = {1, 2, 3, 4};
  leitoresBase_.ImagemDP(2, 2, px);
  ASSERT_TRUE(WaitUntil([&] { return base_.pesquisando.load(); }));
  std::atomic<bool> voltou{false};
  std::thread binding([&] {
    leitoresBase_.ImagemDP(2, 2, px);
    voltou = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return voltou.load(); }, std::chrono::seconds(5)));
  base_.Soltar();
  binding.join();
  EXPECT_EQ(novas.load(), 1);
  fp_.SetModoOperacao(TModoOperacao::moInativo);
}

TEST_F(BaseTest, AModeChangeWaitsForTheRunningSearch) {
  fp_.SetBase(&base_);
  base_.segurar = true;
  std::atomic<bool> terminou{false};
  fp_.OnNaoReconheceu = [&](TVelmoraFP&) { terminou = true; };
  fp_.SetModoOperacao(TModoOperacao::moPesquisa);
  Imagem(1);
  ASSERT_TRUE(WaitUntil([&] { return base_.pesquisando.load(); }));
  std::atomic<bool> mudou{false};
  std::thread mudanca([&] {
    fp_.SetModoOperacao(TModoOperacao::moVisualizar);
    mudou = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(mudou.load());
  base_.Soltar();
  mudanca.join();
  EXPECT_TRUE(terminou.load());
  EXPECT_EQ(fp_.ModoOperacao(), TModoOperacao::moVisualizar);
}

// A result event of a threaded search runs while its search still holds
// the others off: a mode change there happens at once instead of waiting
// for the search, that is for itself.
TEST_F(BaseTest, AThreadedSearchResultEventChangesTheModeAtOnce) {
  using M = TModoOperacao;
  struct Caso {
    const char* nome;
    std::vector<M> mudancas;
    M modo;
    bool ativo;
  };
  const Caso casos[] = {
      {"to enrollment", {M::moCadastro}, M::moCadastro, true},
      {"stop", {M::moInativo}, M::moInativo, false},
      {"stop and start", {M::moInativo, M::moPesquisa}, M::moPesquisa, true},
  };
  fp_.SetBase(&base_);
  std::atomic<const Caso*> atual{nullptr};
  std::atomic<bool> feito{false};
  fp_.OnNaoReconheceu = [&](TVelmoraFP& s) {
    for (const M m : atual.load()->mudancas) s.SetModoOperacao(m);
    feito = true;
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nome);
    atual = &c;
    feito = false;
    fp_.SetModoOperacao(M::moPesquisa);
    Imagem(8);
    ASSERT_TRUE(WaitUntil([&] { return feito.load(); }));
    EXPECT_EQ(fp_.ModoOperacao(), c.modo);
    EXPECT_EQ(fp_.Ativo(), c.ativo);
    // From the caller's thread again: waits for the search to end.
    fp_.SetModoOperacao(M::moVisualizar);
    fp_.SetModoOperacao(M::moInativo);
  }
}

TEST_F(BaseTest, DefaultOperationsOfTheDatabase) {
  Text codigo = u"x";
  Text retorno = u"y";
  int32_t dedo = 0;
  EXPECT_EQ(
      MessageOf<Text>([&] { base_.IdentificarExternoImagem(nullptr, u"", codigo, dedo, retorno); }),
      u"Método não suportado");
  EXPECT_TRUE(codigo.empty());
  EXPECT_TRUE(retorno.empty());
  EXPECT_EQ(MessageOf<Text>([&] { base_.ExecutarExterno(u"c"); }), u"Método não suportado");
  EXPECT_EQ(base_.CriarTemplate(u"t", 0), nullptr);
  base_.entradas = {{1, 5, u"Ana", 1}};
  double d1 = 1, d2 = 1;
  int32_t n = 1;
  EXPECT_TRUE(base_.PegInformacao2(5, codigo, dedo, d1, d2, n));
  EXPECT_EQ(codigo, u"Ana");
  EXPECT_EQ(d1 + d2 + n, 0);
}

}  // namespace
}  // namespace dactyra

namespace dactyra {
namespace {

// Images from a real capture thread meet threaded searches and mode
// changes from the caller's thread (run under TSan).
TEST_F(VelmoraFPTest, ModeChangesRaceCaptureAndSearchThreads) {
  Plugin("device=A\n", "max=4x4\nimages=-1\nimage_delay_ms=1\n");
  TBaseTeste base;
  base.leitoresRegistrados = {Nome("A")};
  base.entradas = {{3, 1, u"Rui", 0}};
  TVelmoraFP fp(leitores_);
  fp.SetBase(&base);
  fp.SetNumSerieLeitor(Nome("A"));
  std::atomic<int> resultados{0};
  fp.OnReconheceu = [&](TVelmoraFP&, int32_t, const Text&, int32_t) { ++resultados; };
  fp.OnNaoReconheceu = [&](TVelmoraFP&) { ++resultados; };
  fp.OnFimCaptura = [&](TVelmoraFP&, bool) { ++resultados; };
  const TModoOperacao ciclo[] = {TModoOperacao::moPesquisa, TModoOperacao::moVisualizar,
                                 TModoOperacao::moCadastro, TModoOperacao::moDesenvolvimento};
  for (int i = 0; i < 40; ++i) {
    fp.SetPesquisaEmThread(i % 5 != 0);
    fp.SetModoOperacao(ciclo[i % 4]);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  fp.SetModoOperacao(TModoOperacao::moPesquisa);
  ASSERT_TRUE(WaitUntil([&] { return resultados.load() > 0; }));
  fp.SetModoOperacao(TModoOperacao::moInativo);
  EXPECT_FALSE(fp.Ativo());
}

}  // namespace
}  // namespace dactyra
