// Capture runs of the Java-facing scanner with a delivery of the test's
// making: the hand-over of images to the event thread, stops from inside a
// delivery, refused re-entering calls, the scanner list's handles and the
// stop at unload; start/stop races (run under TSan).
#include "scanning/inner_scanner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/testing/wait.h"
#include "scanning/scanner_list.h"
#include "scanning/scanners_lock.h"
#include "scanning/tests/readers_fixture.h"

namespace dactyra {
namespace {

using platform::Text;
using platform::testing::WaitUntil;
using testing::T;
using testing::TLeitoresTeste;

std::string Prefixo() { return "Q" + std::to_string(getpid()); }

// Records every image; `acao` runs inside each delivery.
class TEntregaTeste final : public TEntregaEventos {
 public:
  void Executar(const std::function<void()>& laco) override {
    executando = true;
    laco();
    executando = false;
  }
  void Entregar(const TGrayImage& imagem) override {
    std::vector<uint8_t> px;
    px.insert(px.end(), imagem.Bits.Pixels().begin(), imagem.Bits.Pixels().end());
    {
      std::lock_guard lock(mutex);
      imagens.push_back(px);
      larguras.push_back(imagem.Width);
    }
    if (acao) acao();
  }
  size_t Quantas() {
    std::lock_guard lock(mutex);
    return imagens.size();
  }

  std::function<void()> acao;
  std::atomic<bool> executando{false};
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> imagens;
  std::vector<int32_t> larguras;
};

class InnerScannerTest : public testing::PluginTest {
 protected:
  // A scanner over an unlisted name: images come only from the test.
  std::unique_ptr<TInnerScanner> Manual() {
    return std::make_unique<TInnerScanner>(u"VX:manual", leitores_);
  }
  static void Imagem(TInnerScanner& s, int32_t w, int32_t h, uint8_t base) {
    std::vector<uint8_t> px(static_cast<size_t>(w * h));
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(base + i);
    s.VelmoraFP().NovaImagemBruta(w, h, px.data());
  }

  TLeitoresTeste leitores_;
};

TEST_F(InnerScannerTest, ImagesArriveRowByRowAndASecondStartIsIgnored) {
  auto s = Manual();
  auto entrega = std::make_shared<TEntregaTeste>();
  ASSERT_TRUE(s->StartCapturing(entrega));
  EXPECT_TRUE(s->IsCapturing());
  EXPECT_FALSE(s->StartCapturing(std::make_shared<TEntregaTeste>()));
  Imagem(*s, 3, 2, 10);
  ASSERT_TRUE(WaitUntil([&] { return entrega->Quantas() == 1; }));
  s->StopCapturing();
  EXPECT_FALSE(s->IsCapturing());
  EXPECT_FALSE(entrega->executando.load());
  EXPECT_EQ(entrega->imagens[0], (std::vector<uint8_t>{10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(s->VelmoraFP().ModoOperacao(), TModoOperacao::moInativo);
}

TEST_F(InnerScannerTest, ImagesDuringASlowDeliveryCoalesceToTheLatest) {
  auto s = Manual();
  auto entrega = std::make_shared<TEntregaTeste>();
  std::atomic<bool> dentro{false};
  std::atomic<bool> soltar{false};
  entrega->acao = [&] {
    if (entrega->Quantas() == 1) {
      dentro = true;
      while (!soltar) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  ASSERT_TRUE(s->StartCapturing(entrega));
  Imagem(*s, 1, 1, 1);
  ASSERT_TRUE(WaitUntil([&] { return dentro.load(); }));
  Imagem(*s, 1, 1, 2);
  Imagem(*s, 1, 1, 3);
  soltar = true;
  ASSERT_TRUE(WaitUntil([&] { return entrega->Quantas() == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  s->StopCapturing();
  EXPECT_EQ(entrega->imagens, (std::vector<std::vector<uint8_t>>{{1}, {3}}));
}

TEST_F(InnerScannerTest, AStopFromInsideADeliveryDoesNotWaitForItself) {
  auto s = Manual();
  auto entrega = std::make_shared<TEntregaTeste>();
  std::atomic<bool> parou{false};
  entrega->acao = [&] {
    s->StopCapturing();
    parou = true;
  };
  ASSERT_TRUE(s->StartCapturing(entrega));
  Imagem(*s, 2, 2, 0);
  ASSERT_TRUE(WaitUntil([&] { return parou.load(); }));
  EXPECT_FALSE(s->IsCapturing());
  ASSERT_TRUE(WaitUntil([&] { return !entrega->executando.load(); }));
  // And it can start again, from a Java thread.
  auto outra = std::make_shared<TEntregaTeste>();
  ASSERT_TRUE(s->StartCapturing(outra));
  Imagem(*s, 2, 2, 0);
  ASSERT_TRUE(WaitUntil([&] { return outra->Quantas() == 1; }));
  s->StopCapturing();
}

TEST_F(InnerScannerTest, AReenteringCallDuringAStopIsRefusedInsteadOfWaiting) {
  auto s = Manual();
  auto entrega = std::make_shared<TEntregaTeste>();
  std::atomic<bool> dentro{false};
  std::atomic<bool> travaTomada{false};
  std::atomic<bool> recusada{false};
  entrega->acao = [&] {
    dentro = true;
    while (!travaTomada) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A listener calling back into the library, as an entry point would.
    TTravaScanners trava;
    try {
      std::lock_guard held(trava);
    } catch (const EVelmoraFP& e) {
      recusada = e.message() == kChamadaRecusada;
    }
  };
  ASSERT_TRUE(s->StartCapturing(entrega));
  Imagem(*s, 1, 1, 0);
  ASSERT_TRUE(WaitUntil([&] { return dentro.load(); }));
  {
    // Another Java thread stops the scanner under the lock.
    std::lock_guard held(ScannersLock());
    travaTomada = true;
    s->StopCapturing();
  }
  EXPECT_TRUE(recusada.load());
  EXPECT_FALSE(entrega->executando.load());
}

TEST_F(InnerScannerTest, AReenteringCallWithoutAStopWaitsItsTurn) {
  auto s = Manual();
  auto entrega = std::make_shared<TEntregaTeste>();
  std::atomic<int> feitas{0};
  entrega->acao = [&] {
    TTravaScanners trava;
    std::lock_guard held(trava);
    ++feitas;
  };
  ASSERT_TRUE(s->StartCapturing(entrega));
  {
    std::lock_guard held(ScannersLock());
    Imagem(*s, 1, 1, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(feitas.load(), 0);
  }
  ASSERT_TRUE(WaitUntil([&] { return feitas.load() == 1; }));
  s->StopCapturing();
}

TEST_F(InnerScannerTest, AFailedStartLeavesTheScannerIdle) {
  TInnerScanner s(u"Nada\\1", leitores_);
  EXPECT_THROW(s.StartCapturing(std::make_shared<TEntregaTeste>()), EVelmoraFP);
  EXPECT_FALSE(s.IsCapturing());
  EXPECT_EQ(s.Corrida(), nullptr);
  s.StopCapturing();  // idle: nothing happens, nothing raised
}

TEST_F(InnerScannerTest, AnEndedEventThreadLeavesTheScannerCapturing) {
  auto s = Manual();
  auto entrega = std::make_shared<TEntregaTeste>();
  entrega->acao = [] { throw Exception(u"field missing"); };
  ASSERT_TRUE(s->StartCapturing(entrega));
  Imagem(*s, 1, 1, 0);
  ASSERT_TRUE(WaitUntil([&] { return s->Corrida()->FTerminou.Wait(0); }));
  EXPECT_TRUE(s->IsCapturing());
  s->StopCapturing();
  EXPECT_FALSE(s->IsCapturing());
}

TEST_F(InnerScannerTest, CisReadersGetTheLfdCommand) {
  struct Caso {
    std::string prefixo;
    bool lfd;
  };
  const std::string pid = std::to_string(getpid());
  for (const Caso& c : {Caso{"CIS", true}, Caso{"cis", true}, Caso{"cisX", false}}) {
    SCOPED_TRACE(c.prefixo);
    Configure("vxr_test",
              "prefix=" + c.prefixo + "\ndevice=" + pid + "\nidle=block\ncommand_answer=4f4b\n");
    TLeitoresTeste leitores;
    leitores.CarregarPlugin("vxr_test");
    const auto lfd = [&] {
      int n = 0;
      for (const auto& line : Log("vxr_test")) {
        if (line.rfind("SendCommand", 0) == 0 && line.find("[LFD] [2,3]") != std::string::npos) ++n;
      }
      return n;
    };
    const int antes = lfd();
    {
      TInnerScanner s(T(c.prefixo + "\\" + pid), leitores);
      ASSERT_TRUE(s.StartCapturing(std::make_shared<TEntregaTeste>()));
      s.StopCapturing();
    }
    EXPECT_EQ(lfd() - antes, c.lfd ? 1 : 0);
  }
}

// --- Scanner list -----------------------------------------------------------------

class ScannerListTest : public InnerScannerTest {
 protected:
  void SetUp() override {
    InnerScannerTest::SetUp();
    Configure("vxr_test", "prefix=" + Prefixo() +
                              "\ndevice=A\ndevice=B\nmax=4x4\nimages=-1\n"
                              "image_delay_ms=1\n");
    leitores_.CarregarPlugin("vxr_test");
  }
};

TEST_F(ScannerListTest, HandlesAreStableUntilEmptiedAndUnknownOnesAreRefused) {
  TListaScanners lista(leitores_);
  EXPECT_EQ(lista.ContarLeitores(), 2);
  const int64_t a = lista.PegScanner(0);
  EXPECT_NE(a, 0);
  EXPECT_EQ(lista.PegScanner(0), a);
  EXPECT_EQ(lista.PegScanner(2), 0);
  EXPECT_EQ(lista.Tamanho(), 1u);
  EXPECT_EQ(lista.Scanner(a).VelmoraFP().NumSerieLeitor(), T(Prefixo() + "\\A"));
  EXPECT_THROW(lista.PegScanner(-1), EVelmoraFP);
  lista.Esvaziar();
  for (int64_t h : {int64_t{0}, a, a + 1000, int64_t{-1}}) {
    EXPECT_THROW(lista.Scanner(h), EVelmoraFP) << h;
  }
  const int64_t novo = lista.PegScanner(0);
  EXPECT_NE(novo, a);
  EXPECT_NO_THROW(lista.Scanner(novo));
}

TEST_F(ScannerListTest, UnloadStopsScannersStillCapturing) {
  auto entrega = std::make_shared<TEntregaTeste>();
  {
    TListaScanners lista(leitores_);
    TInnerScanner& s = lista.Scanner(lista.PegScanner(1));
    ASSERT_TRUE(s.StartCapturing(entrega));
    ASSERT_TRUE(WaitUntil([&] { return entrega->Quantas() > 0; }));
  }
  EXPECT_FALSE(entrega->executando.load());
  EXPECT_EQ(CountCalls("vxr_test", "CloseDevice"), 1);
  // The guard was given back.
  TVelmoraFP fp(leitores_);
  fp.SetNumSerieLeitor(T(Prefixo() + "\\B"));
  fp.SetModoOperacao(TModoOperacao::moVisualizar);
  EXPECT_TRUE(fp.Ativo());
}

TEST_F(ScannerListTest, StartStopRacesWithImagesFlowing) {
  TListaScanners lista(leitores_);
  const int64_t handles[2] = {lista.PegScanner(0), lista.PegScanner(1)};
  std::atomic<size_t> entregues{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        std::lock_guard held(ScannersLock());
        TInnerScanner& s = lista.Scanner(handles[(t + i) % 2]);
        if (s.IsCapturing()) {
          s.StopCapturing();
        } else {
          auto e = std::make_shared<TEntregaTeste>();
          e->acao = [&] { ++entregues; };
          s.StartCapturing(e);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  {
    std::lock_guard held(ScannersLock());
    lista.Esvaziar();
  }
  EXPECT_EQ(CountCalls("vxr_test", "VIOLATION"), 0);
  EXPECT_EQ(CountCalls("vxr_test", "OpenDevice"), CountCalls("vxr_test", "CloseDevice"));
}

}  // namespace
}  // namespace dactyra
