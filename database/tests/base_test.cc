// The fingerprint database on synthetic fingers through the open engine and
// the matcher: enrollment of three captures, searches and verifications,
// entries by id and code, what it refuses, other users of the file and the
// three threads that call it.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "database/tests/base_fixture.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::database {
namespace {

using platform::Text;
using platform::testing::TempFolder;
using testing::Blank;
using testing::CachingMaker;
using testing::Impression;

// Fingers by seed.
constexpr uint64_t kAna = 501;
constexpr uint64_t kBia = 502;
constexpr uint64_t kCaio = 503;

class BaseTest : public ::testing::Test {
 protected:
  // Enrolls impressions 0-2 of `finger` as three captures would.
  int32_t EnrollThree(TFingerprintDatabase& base, const Text& codigo, uint64_t finger,
                      int32_t indDedo) {
    const GrayImagePtr a = Impression(finger, 0), b = Impression(finger, 1),
                       c = Impression(finger, 2);
    const TGrayImage* images[] = {a.get(), b.get(), c.get()};
    return base.Enroll(codigo, indDedo, images);
  }

  TempFolder dir_;
  testing::ClockEnv env_;
  TFingerprintDatabase base_{env_, CachingMaker::Instance(), dir_ / u"base.db"};
};

// --- Enrollment of three captures ------------------------------------------------

TEST_F(BaseTest, ThreeAgreeingCapturesMergeIntoOneEntryAddedOnce) {
  int32_t limiarUniu = -1, limiar1paraN = -1;
  for (int k = 0; k < 2; ++k) {
    EXPECT_TRUE(
        base_.AdicionarImagemCadastroP6(Impression(kAna, k).get(), limiarUniu, limiar1paraN));
    EXPECT_EQ(limiarUniu, 0) << "no agreement before the third";
  }
  EXPECT_TRUE(base_.AdicionarImagemCadastroP6(Impression(kAna, 2).get(), limiarUniu, limiar1paraN));
  EXPECT_GE(limiarUniu, base_.thresholds().limiarUniao);
  EXPECT_EQ(limiar1paraN, base_.thresholds().limiar1paraN);
  EXPECT_EQ(base_.UltimaPontuacao(), limiarUniu);

  int32_t id = 0, indDedo = 0;
  Text codigo;
  EXPECT_FALSE(base_.PesquisarImpressaoUnida(id, codigo, indDedo)) << "the base is empty";
  const int32_t ana = base_.AdicionarImpressaoUnida(u"ana", 2);
  EXPECT_GT(ana, 0);
  EXPECT_EQ(base_.IdsParaCodigo(u"ana"), TVetorIds{ana});
  EXPECT_THROW(base_.AdicionarImpressaoUnida(u"ana", 2), EDatabase) << "added once";

  // The same finger enrolled again is found among the entries.
  for (int k = 3; k < 6; ++k) {
    base_.AdicionarImagemCadastroP6(Impression(kAna, k).get(), limiarUniu, limiar1paraN);
  }
  ASSERT_TRUE(base_.PesquisarImpressaoUnida(id, codigo, indDedo));
  EXPECT_EQ(id, ana);
  EXPECT_EQ(codigo, u"ana");
  EXPECT_EQ(indDedo, 2);
}

TEST_F(BaseTest, CapturesThatDoNotAgreeOrShowNoFingerMergeNothing) {
  struct Case {
    const char* name;
    std::function<GrayImagePtr(int)> capture;
    bool poorQuality;
  };
  const Case cases[] = {
      {"three fingers", [](int k) { return Impression(kAna + static_cast<uint64_t>(k), 0); },
       false},
      {"a blank second capture", [](int k) { return k == 1 ? Blank() : Impression(kBia, k); },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    base_.ReiniciarCadastro();
    int32_t limiarUniu = 0, limiar1paraN = 0;
    bool ok[3];
    bool poor = false;
    for (int k = 0; k < 3; ++k) {
      ok[k] = base_.AdicionarImagemCadastroP6(c.capture(k).get(), limiarUniu, limiar1paraN);
      poor = poor || base_.QualidadeRuim();
    }
    EXPECT_FALSE(ok[2]);
    EXPECT_LT(limiarUniu, base_.thresholds().limiarUniao);
    EXPECT_EQ(poor, c.poorQuality);
    EXPECT_EQ(!ok[1], c.poorQuality) << "a capture without a template fails at once";
    EXPECT_THROW(base_.AdicionarImpressaoUnida(u"ana", 1), EDatabase);
  }
}

TEST_F(BaseTest, TheCaptureAfterAThirdBeginsTheNextEnrollment) {
  int32_t limiarUniu = 0, limiar1paraN = 0;
  for (int k = 0; k < 3; ++k) {
    base_.AdicionarImagemCadastroP6(Impression(kAna + static_cast<uint64_t>(k), 0).get(),
                                    limiarUniu, limiar1paraN);
  }
  // Three captures of one finger after a failed merge: they alone count.
  for (int k = 0; k < 3; ++k) {
    base_.AdicionarImagemCadastroP6(Impression(kBia, k).get(), limiarUniu, limiar1paraN);
  }
  EXPECT_GE(limiarUniu, base_.thresholds().limiarUniao);
  EXPECT_GT(base_.AdicionarImpressaoUnida(u"bia", 7), 0);
}

// --- Searches and verifications --------------------------------------------------

TEST_F(BaseTest, SearchesFindTheEnrolledFingerAndNothingElse) {
  const int32_t ana = EnrollThree(base_, u"ana", kAna, 2);
  const int32_t bia = EnrollThree(base_, u"bia", kBia, 7);
  struct Probe {
    const char* name;
    GrayImagePtr image;
    int32_t id;
  };
  Probe probes[] = {
      {"ana again", Impression(kAna, 4), ana},
      {"bia again", Impression(kBia, 5), bia},
      {"a finger never enrolled", Impression(kCaio, 0), 0},
      {"no finger", Blank(), 0},
  };
  for (Probe& p : probes) {
    SCOPED_TRACE(p.name);
    Text codigo = u"stale";
    int32_t indDedo = -1;
    EXPECT_EQ(base_.PesquisarImagem2(p.image.get(), codigo, indDedo, nullptr), p.id);
    if (p.id != 0) {
      EXPECT_GE(base_.UltimaPontuacao(), base_.thresholds().limiar1paraN);
      EXPECT_EQ(indDedo, p.id == ana ? 2 : 7);
    } else {
      EXPECT_LT(base_.UltimaPontuacao(), base_.thresholds().limiar1paraN);
    }
    // Verification: against its own code when enrolled, against ana's when not.
    const Text own = p.id == 0 ? Text(u"ana") : (p.id == ana ? Text(u"ana") : Text(u"bia"));
    const Verification v = base_.Verify(*p.image, own);
    EXPECT_EQ(v.id, p.id);
    EXPECT_EQ(v.score >= base_.thresholds().limiar1para1, p.id != 0) << v.score;
    // Against the other person's fingers, never.
    EXPECT_EQ(base_.VerificarImagem(p.image.get(), p.id == ana ? u"bia" : u"ana", 0, nullptr), 0);
  }
  EXPECT_EQ(base_.NumeroPesquisadas(), 4);
  EXPECT_EQ(base_.NumeroEncontradas(), 2);
  // A template object searches as its image does.
  const auto record = CachingMaker::Instance().Make(*Impression(kBia, 5), 0);
  Text hex;
  for (uint8_t b : *record) {
    hex += u"0123456789abcdef"[b >> 4];
    hex += u"0123456789abcdef"[b & 15];
  }
  std::unique_ptr<TTemplateBase> t(base_.CriarTemplate(hex, 0));
  ASSERT_NE(t, nullptr);
  Text codigo;
  int32_t indDedo = 0;
  EXPECT_EQ(base_.PesquisarImpressao(t.get(), codigo, indDedo, nullptr), bia);
  EXPECT_EQ(base_.VerificarImpressao(t.get(), u"bia", 0, nullptr), bia);
  EXPECT_EQ(base_.CriarTemplate(hex + u"0", 0), nullptr);
  EXPECT_EQ(base_.CriarTemplate(hex, 1), nullptr);

  int32_t n1 = 0, n2 = 0, pairs = 0, dx = 0, dy = 0, angle = 0, score = 0;
  ASSERT_TRUE(base_.VerificarIds(ana, ana, n1, n2, pairs, dx, dy, angle, score, nullptr));
  EXPECT_GE(score, base_.thresholds().limiar1paraN) << "an entry matches itself";
  EXPECT_GT(pairs, 0);
  EXPECT_LE(pairs, std::min(n1, n2));
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  EXPECT_EQ(angle, 0);
  const int32_t itself = score;
  ASSERT_TRUE(base_.VerificarIds(ana, bia, n1, n2, pairs, dx, dy, angle, score, nullptr));
  EXPECT_LT(score, base_.thresholds().limiar1para1);
  EXPECT_LT(score, itself);
  EXPECT_FALSE(base_.VerificarIds(ana, 999, n1, n2, pairs, dx, dy, angle, score, nullptr));
}

// --- Entries by id and code ------------------------------------------------------

TEST_F(BaseTest, EntriesKeepTheirDatesCountsAndTexts) {
  env_.Set({2024, 3, 1, 18, 0, 0, 0});
  const int32_t ana = EnrollThree(base_, u"ana", kAna, 2);
  const int32_t bia = EnrollThree(base_, u"bia", kBia, 7);
  env_.Set({2024, 3, 2, 6, 0, 0, 0});
  const int32_t ana2 = base_.AdicionarImagem(Impression(kCaio, 1).get(), u"ana", 3, nullptr);
  ASSERT_TRUE(base_.Identify(*Impression(kAna, 3)));

  Text codigo;
  int32_t indDedo = 0, n = 0;
  double cadastro = 0, ultimo = 0;
  ASSERT_TRUE(base_.PegInformacao2(ana, codigo, indDedo, cadastro, ultimo, n));
  EXPECT_EQ(codigo, u"ana");
  EXPECT_EQ(indDedo, 2);
  EXPECT_EQ(cadastro, 45352.75);
  EXPECT_EQ(ultimo, 45353.25);
  EXPECT_EQ(n, 1);
  ASSERT_TRUE(base_.PegInformacao(bia, codigo, indDedo));
  EXPECT_EQ(codigo, u"bia");
  EXPECT_FALSE(base_.PegInformacao(999, codigo, indDedo));

  EXPECT_EQ(base_.GetNumImpressoes(), 3);
  EXPECT_EQ(base_.NumImpressoesCodigo(u"ana"), 2);
  EXPECT_EQ(base_.IdsParaCodigo(u"ana"), (TVetorIds{ana, ana2}));
  const TVetorIdInfo infos = base_.IdsInfoParaCodigo(u"ana", 0);
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[1].IndDedo, 3);
  EXPECT_EQ(infos[1].DataCadastro, 45353.25);
  int32_t id = 0;
  ASSERT_TRUE(base_.PegImpressao(1, id, codigo, indDedo));
  EXPECT_EQ(id, bia);
  EXPECT_FALSE(base_.PegImpressao(3, id, codigo, indDedo));

  Text valor = u"stale";
  EXPECT_FALSE(base_.PegTextoCodigo(u"ana", valor));
  EXPECT_EQ(valor, u"");
  EXPECT_TRUE(base_.AssociarTextoCodigo(u"ana", u"Ana Souza, sala 3"));
  ASSERT_TRUE(base_.PegTextoCodigo(u"ana", valor));
  EXPECT_EQ(valor, u"Ana Souza, sala 3");
  EXPECT_EQ(base_.Codes(), (std::vector<Text>{u"ana", u"bia"}));

  EXPECT_TRUE(base_.Excluir(bia));
  EXPECT_FALSE(base_.Excluir(bia));
  EXPECT_FALSE(base_.Identify(*Impression(kBia, 4))) << "a removed entry is not found";
  EXPECT_EQ(base_.ExcluirImpressoesCodigo(u"ana"), 2);
  EXPECT_FALSE(base_.Identify(*Impression(kAna, 4)));
  EXPECT_EQ(base_.GetNumImpressoes(), 0);
  base_.CompactarBase();
  EXPECT_TRUE(base_.Entries().empty());
}

// --- What it refuses ---------------------------------------------------------------

TEST_F(BaseTest, BadCallsAndUnsupportedOperationsFailWithAClearMessage) {
  EnrollThree(base_, u"ana", kAna, 2);
  struct Case {
    const char* name;
    std::function<void()> call;
    const char* message;
  };
  const GrayImagePtr ana = Impression(kAna, 0), bia = Impression(kBia, 0), blank = Blank();
  Text t;
  int32_t i = 0;
  const Case cases[] = {
      {"empty code", [&] { base_.AdicionarImagem(ana.get(), u"", 1, nullptr); },
       "An entry needs a code"},
      {"long code", [&] { base_.AdicionarImagem(ana.get(), Text(257, u'x'), 1, nullptr); },
       "A code of 257 characters is longer than 256"},
      {"finger 16", [&] { base_.AdicionarImagem(ana.get(), u"ana", 16, nullptr); },
       "Finger 16 is not a finger position code (0 to 15)"},
      {"finger -1", [&] { base_.AdicionarImagem(ana.get(), u"ana", -1, nullptr); },
       "Finger -1 is not"},
      {"no images", [&] { base_.Enroll(u"ana", 1, {}); },
       "An enrollment takes 1 to 10 images, not 0"},
      {"a blank image",
       [&] {
         const TGrayImage* images[] = {ana.get(), blank.get()};
         base_.Enroll(u"ana", 1, images);
       },
       "Image 2 gives no usable template"},
      {"two fingers",
       [&] {
         const TGrayImage* images[] = {ana.get(), bia.get()};
         base_.Enroll(u"ana", 1, images);
       },
       "The images do not agree"},
      {"an image of no pixels", [&] { base_.Identify(*CreateGrayImage(0, 0, 500)); },
       "has no fingerprint"},
      {"no image", [&] { base_.PesquisarImagem2(nullptr, t, i, nullptr); }, "No image"},
      {"no merged enrollment", [&] { base_.AdicionarImpressaoUnida(u"ana", 1); },
       "no enrollment of three agreeing captures"},
      {"a foreign template object",
       [&] {
         TTemplateBase other;
         base_.PesquisarImpressao(&other, t, i, nullptr);
       },
       "Not a template of this database"},
      {"hashes", [&] { base_.PegHashesParalela(u"ana", TFormatoTemplate::FTC_VXFP5); },
       "Método não suportado"},
      {"poor prints", [&] { base_.AdicionarImpressaoRuim(u"ana", 1, i, i, i); },
       "Método não suportado"},
      {"internal search", [&] { base_.PesquisarInterno(0, i, i, i); }, "Método não suportado"},
      {"poor image search", [&] { base_.PesquisarImagemRuim(ana.get()); }, "Método não suportado"},
      {"external", [&] { base_.ExecutarExterno(u"x"); }, "Método não suportado"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.call();
      ADD_FAILURE() << "no failure";
    } catch (const EVelmoraFP& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(base_.GetNumImpressoes(), 1) << "nothing was added by a refused call";
}

// --- Other users of the file ------------------------------------------------------

TEST_F(BaseTest, EntriesAddedOrRemovedThroughAnotherConnectionAreSeenByTheNextSearch) {
  TFingerprintDatabase other(env_, CachingMaker::Instance(), dir_ / u"base.db", false);
  const int32_t ana = EnrollThree(other, u"ana", kAna, 2);
  const auto found = base_.Identify(*Impression(kAna, 3));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->id, ana);

  // Entries this library cannot read are passed over, not fatal.
  {
    Store raw(dir_ / u"base.db", false);
    const StoredTemplate odd[] = {{kTemplateRecordFormat + 1, {1, 2, 3}},
                                  {kTemplateRecordFormat, {0, 1}}};
    raw.Add(u"odd", 1, 0, odd);
  }
  EXPECT_TRUE(base_.Identify(*Impression(kAna, 4)));

  other.ExcluirImpressoesCodigo(u"ana");
  EXPECT_FALSE(base_.Identify(*Impression(kAna, 3)));

  // Closed meanwhile, it reads the file afresh when opened again.
  base_.SetAtivo(false);
  EXPECT_FALSE(base_.Ativo());
  EXPECT_THROW(base_.Identify(*Impression(kAna, 3)), EDatabase);
  EXPECT_FALSE(base_.LeitorValido(u"Test\\1"));
  const int32_t bia = EnrollThree(other, u"bia", kBia, 7);
  base_.SetAtivo(true);
  EXPECT_TRUE(base_.LeitorValido(u"Test\\1"));
  const auto again = base_.Identify(*Impression(kBia, 3));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->id, bia);
}

// --- Three threads at once ----------------------------------------------------------

TEST_F(BaseTest, TheImageSearchAndCallerThreadsMayCallAtOnce) {
  const int32_t ana = EnrollThree(base_, u"ana", kAna, 2);
  std::atomic<bool> wrong{false};
  std::atomic<int> merged{0};
  // Image thread: enrollments of bia, over and over.
  std::thread image([&] {
    for (int round = 0; round < 4; ++round) {
      int32_t u = 0, n = 0;
      bool ok = false;
      for (int k = 0; k < 3; ++k) {
        ok = base_.AdicionarImagemCadastroP6(Impression(kBia, k).get(), u, n);
      }
      if (ok) merged.fetch_add(1);
    }
  });
  // Search thread: ana is always found, caio never.
  std::thread search([&] {
    for (int round = 0; round < 12; ++round) {
      const auto a = base_.Identify(*Impression(kAna, 3 + round % 3));
      if (!a || a->id != ana) wrong = true;
      if (base_.Identify(*Impression(kCaio, round % 3))) wrong = true;
    }
  });
  // Caller's thread: validation, and entries of others coming and going.
  std::thread caller([&] {
    for (int round = 0; round < 6; ++round) {
      if (!base_.LeitorValido(u"Test\\1")) wrong = true;
      const int32_t id =
          base_.AdicionarImagem(Impression(kCaio + 10, round % 3).get(), u"eva", 1, nullptr);
      if (!base_.Excluir(id)) wrong = true;
      base_.GetNumImpressoes();
    }
  });
  image.join();
  search.join();
  caller.join();
  EXPECT_FALSE(wrong.load());
  EXPECT_EQ(merged.load(), 4);
  EXPECT_EQ(base_.GetNumImpressoes(), 1);
}

}  // namespace
}  // namespace dactyra::database
