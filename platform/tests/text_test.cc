#include "platform/text.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>

namespace dactyra::platform {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out.push_back(static_cast<char>(v));
  return out;
}

size_t Replacements(const Text& text) { return std::ranges::count(text, u'\uFFFD'); }

TEST(ModifiedUtf8, RoundTripsTextAndKeepsNulAsTwoBytes) {
  const Text text = Text(u"a\0ção", 5) + u"Ωж\uFFFF";
  const std::string bytes = ToModifiedUtf8(text);
  EXPECT_EQ(bytes.find('\0'), std::string::npos);
  EXPECT_EQ(bytes.substr(0, 3), Bytes({'a', 0xC0, 0x80}));
  EXPECT_EQ(FromModifiedUtf8(bytes), text);
  EXPECT_EQ(ToModifiedUtf8(u""), "");
  EXPECT_EQ(FromModifiedUtf8(""), u"");
}

TEST(ModifiedUtf8, CharacterBeyondTheBmpTravelsAsTwoThreeByteHalves) {
  const Text grinning = u"\U0001F600";  // D83D DE00
  ASSERT_EQ(grinning.size(), 2u);
  const std::string bytes = ToModifiedUtf8(grinning);
  EXPECT_EQ(bytes, Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
  EXPECT_EQ(FromModifiedUtf8(bytes), grinning);
  // Standard 4-byte UTF-8 is accepted as well.
  EXPECT_EQ(FromModifiedUtf8(Bytes({0xF0, 0x9F, 0x98, 0x80})), grinning);
  // Lone halves pass through unchanged, as JNI carries them.
  const Text lone = u"x\xD800y\xDC00";
  EXPECT_EQ(FromModifiedUtf8(ToModifiedUtf8(lone)), lone);
}

TEST(ModifiedUtf8, IllFormedBytesBecomeOneReplacementEach) {
  struct Case {
    std::string bytes;
    Text expected;
  };
  const Case cases[] = {
      {Bytes({0x80}), u"\uFFFD"},                             // lone continuation
      {Bytes({0xE2, 0x82}), u"\uFFFD\uFFFD"},                 // truncated at the end
      {Bytes({0xE2, 0x82, 'A'}), u"\uFFFD\uFFFDA"},           // truncated, then resync
      {Bytes({0xC1, 0xBF}), u"\uFFFD\uFFFD"},                 // overlong
      {Bytes({0xE0, 0x80, 0xAF}), u"\uFFFD\uFFFD\uFFFD"},     // overlong '/'
      {Bytes({0xF4, 0x90, 0x80, 0x80}), Text(4, u'\uFFFD')},  // above U+10FFFF
      {Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), Text(5, u'\uFFFD')},
      {Bytes({0xFF, 'z'}), u"\uFFFDz"},
      {Bytes({'a', 0xC3}), u"a\uFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromModifiedUtf8(c.bytes), c.expected) << ToUtf8(FromUtf8(c.bytes));
    EXPECT_EQ(FromUtf8(c.bytes), c.expected);
  }
}

TEST(Utf8, IsStrictWhereModifiedUtf8IsLenient) {
  // C0 80 and 3-byte surrogates are modified UTF-8 only.
  EXPECT_EQ(FromUtf8(Bytes({0xC0, 0x80})), u"\uFFFD\uFFFD");
  EXPECT_EQ(Replacements(FromUtf8(Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}))), 6u);
  EXPECT_EQ(ToUtf8(u"\U0001F600"), Bytes({0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(FromUtf8(ToUtf8(u"ção \U0001F600")), u"ção \U0001F600");
  // A lone surrogate cannot be written as UTF-8.
  EXPECT_EQ(ToUtf8(u"a\xDC00"), "a\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8(Text(u"\0", 1)), std::string(1, '\0'));
}

#ifdef _WIN32
// The system's code page: Western European under Wine's default locale.
TEST(Ansi, IsTheSystemsCodePageWithQuestionMarksForWhatItLacks) {
  EXPECT_EQ(ToAnsi(u"Lumidigm\\0001ABCD"), "Lumidigm\\0001ABCD");
  EXPECT_EQ(FromAnsi("ViRDI"), u"ViRDI");
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  EXPECT_EQ(ToAnsi(u"Olá ção"), "Ol\xE1 \xE7\xE3o");
  EXPECT_EQ(FromAnsi("Ol\xE1"), u"Olá");
  EXPECT_EQ(ToAnsi(u"a\u4E2Db"), "a?b");
}
#else
TEST(Ansi, IsUtf8WithQuestionMarkForLoneSurrogates) {
  EXPECT_EQ(ToAnsi(u"Olá ção"), "Ol\xC3\xA1 \xC3\xA7\xC3\xA3o");
  EXPECT_EQ(FromAnsi("Ol\xC3\xA1"), u"Olá");
  EXPECT_EQ(ToAnsi(u"a\xD800"
                   u"b"),
            "a?b");
  EXPECT_EQ(ToAnsi(u"\U0001F600"), Bytes({0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(FromAnsi(Bytes({'x', 0xE9, 'y'})), u"x\uFFFDy");
}
#endif

TEST(LetterCase, AsciiFormsFoldOnlyAToZ) {
  EXPECT_TRUE(SameTextAsciiNoCase(u"Lumidigm", u"LUMIDIGM"));
  EXPECT_TRUE(SameTextAsciiNoCase(u"", u""));
  EXPECT_FALSE(SameTextAsciiNoCase(u"ção", u"ÇÃO"));
  EXPECT_FALSE(SameTextAsciiNoCase(u"abc", u"abcd"));
  EXPECT_EQ(AsciiUpperCase(u"vxr_ção.so"), u"VXR_çãO.SO");
  EXPECT_EQ(AsciiLowerCase(u"VXR_ÇÃO.SO"), u"vxr_ÇÃo.so");
}

TEST(LetterCase, LocaleFormsFoldLatinGreekAndCyrillic) {
  EXPECT_EQ(UpperCase(u"ção"), u"ÇÃO");
  EXPECT_EQ(LowerCase(u"ÇÃO"), u"ção");
  EXPECT_TRUE(SameTextNoCase(u"ção", u"ÇÃO"));
  EXPECT_TRUE(SameTextNoCase(u"Élan ÿ", u"éLAN Ÿ"));
  EXPECT_TRUE(SameTextNoCase(u"łódź", u"ŁÓDŹ"));
  EXPECT_TRUE(SameTextNoCase(u"αβγ άέ", u"ΑΒΓ ΆΈ"));
  EXPECT_TRUE(SameTextNoCase(u"ς", u"Σ"));
  EXPECT_TRUE(SameTextNoCase(u"привет ёї", u"ПРИВЕТ ЁЇ"));
  EXPECT_TRUE(SameTextNoCase(u"bio-i", u"BIO-I"));
  EXPECT_FALSE(SameTextNoCase(u"ção", u"cao"));
  EXPECT_FALSE(SameTextNoCase(u"ß", u"SS"));
  // Signs that look alike but are no case pair stay apart.
  EXPECT_FALSE(SameTextNoCase(u"×", u"÷"));
  EXPECT_EQ(UpperCase(u"×÷ßµ"), u"×÷ßµ");
}

TEST(LetterCase, MappingsAreConsistentOverTheWholeBmp) {
  for (uint32_t u = 0; u <= 0xFFFF; ++u) {
    const char16_t c = static_cast<char16_t>(u);
    const Text one(1, c);
    const Text upper = UpperCase(one);
    const Text lower = LowerCase(one);
    ASSERT_EQ(upper.size(), 1u);
    ASSERT_EQ(UpperCase(upper), upper) << std::hex << u;
    ASSERT_EQ(LowerCase(lower), lower) << std::hex << u;
    ASSERT_TRUE(SameTextNoCase(upper, lower)) << std::hex << u;
    // A letter with a partner maps back to itself, final sigma aside.
    if (upper[0] != c && c != u'ς') {
      ASSERT_EQ(LowerCase(upper), one) << std::hex << u;
    }
    if (lower[0] != c) {
      ASSERT_EQ(UpperCase(lower), one) << std::hex << u;
    }
  }
}

TEST(LetterCase, ComparisonsOrderAndIgnoreCase) {
  EXPECT_EQ(CompareTextNoCase(u"ção", u"ÇÃO"), 0);
  EXPECT_LT(CompareTextNoCase(u"abc", u"ABD"), 0);
  EXPECT_GT(CompareTextNoCase(u"b", u"A"), 0);
  EXPECT_LT(CompareTextNoCase(u"ab", u"ABC"), 0);
  EXPECT_GT(CompareTextNoCase(u"ABC", u"ab"), 0);
  EXPECT_EQ(CompareTextAsciiNoCase(u"FPSmmAbc", u"fpsmmABC"), 0);
  EXPECT_NE(CompareTextAsciiNoCase(u"é", u"É"), 0);
  // Letters compare as capitals, so they sort before '_'.
  EXPECT_LT(CompareTextAsciiNoCase(u"a", u"_"), 0);
  EXPECT_LT(CompareTextNoCase(u"a", u"_"), 0);
  // Code-point order: a character beyond the BMP sorts after U+FFFD.
  EXPECT_LT(CompareTextNoCase(u"\uFFFD", u"\U0001F600"), 0);
  EXPECT_GT(CompareTextAsciiNoCase(u"\U0001F600", u"\uE000"), 0);
}

}  // namespace
}  // namespace dactyra::platform
