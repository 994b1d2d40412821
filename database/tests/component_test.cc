// The scanner component's database modes against the fingerprint database
// (no stand-in for it): enrollment of three captures with its events, an
// existing finger, threaded and inline searches with their results on the
// threads they belong to, a failing search, and a mode change that waits
// for a running search. Images are handed to the component as a reader's
// would be, on the test's thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "database/tests/base_fixture.h"
#include "platform/testing/temp_folder.h"
#include "platform/testing/wait.h"
#include "scanning/tests/readers_fixture.h"
#include "scanning/velmora_fp.h"
#include "support/testing/message_of.h"

namespace dactyra::database {
namespace {

using platform::Text;
using testing::Impression;

constexpr uint64_t kAna = 501;
constexpr uint64_t kBia = 502;
constexpr uint64_t kCaio = 503;

using platform::testing::WaitUntil;

// The engine, except that pictures of finger `gated` wait until opened.
class GatedMaker final : public TemplateMaker {
 public:
  std::optional<std::vector<uint8_t>> Make(const TGrayImage& image, int32_t indDedo) override {
    if (IsGated(image)) {
      std::unique_lock held(lock_);
      waiting_ = true;
      changed_.notify_all();
      changed_.wait(held, [&] { return open_; });
    }
    return testing::CachingMaker::Instance().Make(image, indDedo);
  }
  void Gate(GrayImagePtr image) { gated_ = std::move(image); }
  bool Waiting() {
    std::lock_guard held(lock_);
    return waiting_;
  }
  void Open() {
    std::lock_guard held(lock_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  bool IsGated(const TGrayImage& image) const { return gated_ && image.Bits == gated_->Bits; }
  GrayImagePtr gated_;
  std::mutex lock_;
  std::condition_variable changed_;
  bool waiting_ = false;
  bool open_ = false;
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A name outside the reader list: no module, no guard, images by hand.
    fp_.SetNumSerieLeitor(u"VX:base");
    fp_.SetBase(&base_);
  }
  void TearDown() override { fp_.SetModoOperacao(TModoOperacao::moInativo); }

  void Show(uint64_t finger, int k) {
    const GrayImagePtr image = Impression(finger, k);
    fp_.NovaImagemBruta(image->Width, image->Height, image->Bits.Pixels().data());
  }

  platform::testing::TempFolder dir_;
  testing::ClockEnv env_;
  GatedMaker maker_;
  TFingerprintDatabase base_{env_, maker_, dir_ / u"base.db"};
  dactyra::testing::TLeitoresTeste leitores_;
  TVelmoraFP fp_{leitores_};
};

TEST_F(ComponentTest, DatabaseModesNeedTheDatabaseOpen) {
  base_.SetAtivo(false);
  for (const TModoOperacao mode : {TModoOperacao::moCadastro, TModoOperacao::moPesquisa}) {
    EXPECT_EQ(dactyra::testing::MessageOf<Text>([&] { fp_.SetModoOperacao(mode); }),
              u"Operação requer ativar a base de impressões.");
    EXPECT_FALSE(fp_.Ativo());
  }
  base_.SetAtivo(true);
  fp_.SetModoOperacao(TModoOperacao::moCadastro);
  EXPECT_TRUE(fp_.Ativo());
}

TEST_F(ComponentTest, ThreeCapturesAnnounceOneAndTwoThenEndOnceAndTheHostAddsTheEntry) {
  std::vector<int32_t> captures;
  std::vector<bool> ends;
  int32_t added = 0;
  fp_.OnCapturou = [&](TVelmoraFP&, int32_t n) { captures.push_back(n); };
  fp_.OnFimCaptura = [&](TVelmoraFP& sender, bool ok) {
    ends.push_back(ok);
    if (ok) added = sender.Base()->AdicionarImpressaoUnida(u"ana", 2);
  };
  fp_.SetModoOperacao(TModoOperacao::moCadastro);
  for (int k = 0; k < 3; ++k) Show(kAna, k);
  EXPECT_EQ(captures, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(ends, (std::vector<bool>{true}));
  EXPECT_TRUE(fp_.UniuImagensAtual());
  EXPECT_TRUE(fp_.Passou1paraN());
  ASSERT_GT(added, 0);

  // The fourth capture begins a new enrollment; three fingers merge nothing.
  for (const uint64_t finger : {kBia, kCaio, kAna}) Show(finger, 3);
  EXPECT_EQ(captures, (std::vector<int32_t>{1, 2, 1, 2}));
  EXPECT_EQ(ends, (std::vector<bool>{true, false}));
  EXPECT_FALSE(fp_.UniuImagensAtual());
  EXPECT_EQ(base_.GetNumImpressoes(), 1);
  const auto found = base_.Identify(*Impression(kAna, 4));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->id, added);
}

TEST_F(ComponentTest, AnExistingFingerIsReportedAndARejectingHandlerSuppressesTheEnd) {
  const GrayImagePtr a = Impression(kAna, 0), b = Impression(kAna, 1), c = Impression(kAna, 2);
  const TGrayImage* three[] = {a.get(), b.get(), c.get()};
  const int32_t ana = base_.Enroll(u"ana", 2, three);
  fp_.SetVerificarExistencia(true);
  int ends = 0;
  bool reject = true;
  std::vector<int32_t> existing;
  fp_.OnFimCaptura = [&](TVelmoraFP&, bool) { ++ends; };
  fp_.OnImpressaoExistente = [&](TVelmoraFP&, int32_t id, const Text& codigo, int32_t indDedo,
                                 bool& rejeitar) {
    existing.push_back(id);
    EXPECT_EQ(codigo, u"ana");
    EXPECT_EQ(indDedo, 2);
    rejeitar = reject;
  };
  fp_.SetModoOperacao(TModoOperacao::moCadastro);
  for (int k = 3; k < 6; ++k) Show(kAna, k);
  EXPECT_EQ(ends, 0);
  EXPECT_GE(fp_.UltimaPontuacao(), base_.thresholds().limiar1paraN);
  reject = false;
  for (int k = 0; k < 3; ++k) Show(kAna, k);
  EXPECT_EQ(ends, 1);
  // A finger not enrolled yet is no existing one.
  for (int k = 0; k < 3; ++k) Show(kBia, k);
  EXPECT_EQ(ends, 2);
  EXPECT_EQ(existing, (std::vector<int32_t>{ana, ana}));
}

TEST_F(ComponentTest, SearchesReportTheirResultsOnTheSearchThreadOrInline) {
  const GrayImagePtr a = Impression(kAna, 0), b = Impression(kAna, 1), c = Impression(kAna, 2);
  const TGrayImage* three[] = {a.get(), b.get(), c.get()};
  const int32_t ana = base_.Enroll(u"ana", 2, three);
  struct Result {
    std::string kind;
    int32_t id = 0;
    Text text;
    uint64_t thread = 0;
  };
  std::mutex lock;
  std::vector<Result> results;
  std::atomic<uint64_t> startThread{0};
  const auto note = [&](Result r) {
    r.thread = platform::CurrentThreadId();
    std::lock_guard held(lock);
    results.push_back(std::move(r));
  };
  fp_.OnInicioPesquisa = [&](TVelmoraFP&) { startThread = platform::CurrentThreadId(); };
  fp_.OnReconheceu = [&](TVelmoraFP&, int32_t id, const Text& codigo, int32_t) {
    note({"recognised", id, codigo});
  };
  fp_.OnNaoReconheceu = [&](TVelmoraFP&) { note({"not recognised", 0, {}}); };
  fp_.OnErroPesquisa = [&](TVelmoraFP&, const Text& message) { note({"error", 0, message}); };
  fp_.SetModoOperacao(TModoOperacao::moPesquisa);
  const uint64_t here = platform::CurrentThreadId();
  for (const bool threaded : {true, false}) {
    SCOPED_TRACE(threaded ? "threaded" : "inline");
    {
      std::lock_guard held(lock);
      results.clear();
    }
    base_.SetAtivo(true);
    fp_.SetPesquisaEmThread(threaded);
    Show(kAna, 4);
    ASSERT_TRUE(WaitUntil([&] { return !fp_.AguardandoPesquisa(); }));
    EXPECT_EQ(startThread.load(), here) << "the start is announced on the image thread";
    Show(kCaio, 0);
    ASSERT_TRUE(WaitUntil([&] { return !fp_.AguardandoPesquisa(); }));
    // A search of a database closed meanwhile fails, and says so.
    base_.SetAtivo(false);
    Show(kAna, 5);
    ASSERT_TRUE(WaitUntil([&] {
      std::lock_guard held(lock);
      return results.size() == 3;
    }));
    std::lock_guard held(lock);
    EXPECT_EQ(results[0].kind, "recognised");
    EXPECT_EQ(results[0].id, ana);
    EXPECT_EQ(results[0].text, u"ana");
    EXPECT_EQ(results[1].kind, "not recognised");
    EXPECT_EQ(results[2].kind, "error");
    EXPECT_NE(results[2].text.find(u"is not active"), Text::npos);
    for (const Result& r : results) EXPECT_EQ(r.thread != here, threaded) << r.kind;
  }
  base_.SetAtivo(true);
  EXPECT_EQ(base_.NumeroEncontradas(), 2);
}

TEST_F(ComponentTest, AModeChangeWaitsForTheSearchRunning) {
  maker_.Gate(Impression(kBia, 3));
  std::atomic<bool> ended{false};
  fp_.OnNaoReconheceu = [&](TVelmoraFP&) { ended = true; };
  fp_.SetModoOperacao(TModoOperacao::moPesquisa);
  Show(kBia, 3);
  ASSERT_TRUE(WaitUntil([&] { return maker_.Waiting(); }));
  std::atomic<bool> changed{false};
  std::thread change([&] {
    fp_.SetModoOperacao(TModoOperacao::moVisualizar);
    changed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(changed.load());
  maker_.Open();
  change.join();
  EXPECT_TRUE(ended.load()) << "the search ended before the mode changed";
  EXPECT_EQ(fp_.ModoOperacao(), TModoOperacao::moVisualizar);
}

// The flow an identifying host runs: a finger the search does not know
// turns the component to enrollment from the result event itself.
TEST_F(ComponentTest, AnUnknownFingerTurnsToEnrollmentFromTheSearchResult) {
  std::atomic<bool> turned{false};
  std::vector<bool> ends;
  fp_.OnNaoReconheceu = [&](TVelmoraFP& sender) {
    sender.SetModoOperacao(TModoOperacao::moCadastro);
    turned = true;
  };
  fp_.OnFimCaptura = [&](TVelmoraFP& sender, bool ok) {
    ends.push_back(ok);
    if (ok) sender.Base()->AdicionarImpressaoUnida(u"bia", 1);
  };
  fp_.SetModoOperacao(TModoOperacao::moPesquisa);
  Show(kBia, 0);
  ASSERT_TRUE(WaitUntil([&] { return turned.load(); }));
  EXPECT_EQ(fp_.ModoOperacao(), TModoOperacao::moCadastro);
  for (int k = 1; k < 4; ++k) Show(kBia, k);
  EXPECT_EQ(ends, (std::vector<bool>{true}));
  EXPECT_EQ(base_.GetNumImpressoes(), 1);
}

}  // namespace
}  // namespace dactyra::database
