#include "support/tokens.h"

#include <gtest/gtest.h>

namespace dactyra {
namespace {

using platform::Text;

struct Split {
  Text token;
  Text rest;
};

Split Take(Text text, Text separator) {
  Text token = PegarToken(text, separator);
  return {token, text};
}

void ExpectSplit(const Text& text, const Text& separator, const Text& token, const Text& rest) {
  const Split got = Take(text, separator);
  EXPECT_EQ(got.token, token) << platform::ToUtf8(text);
  EXPECT_EQ(got.rest, rest) << platform::ToUtf8(text);
}

TEST(PegarToken, ReaderNameGivesPrefixAndLeavesTheRest) {
  ExpectSplit(u"Lumidigm\\0A1B2C3D\\x", u"\\", u"Lumidigm", u"0A1B2C3D\\x");
  ExpectSplit(u"UareU\\{GUID}", u"\\", u"UareU", u"{GUID}");
}

TEST(PegarToken, TrimsBlanksAroundTheToken) {
  ExpectSplit(u"  Virdi \t\\123", u"\\", u"Virdi", u"123");
  // The rest is left as it is, blanks included.
  ExpectSplit(u"a\\ b ", u"\\", u"a", u" b ");
}

TEST(PegarToken, WithoutSeparatorTakesAllTrimmed) {
  ExpectSplit(u"  Lumidigm  ", u"\\", u"Lumidigm", u"");
  ExpectSplit(u"", u"\\", u"", u"");
}

TEST(PegarToken, LeadingSeparatorGivesEmptyToken) {
  ExpectSplit(u"\\serial\\x", u"\\", u"", u"serial\\x");
  ExpectSplit(u"\\", u"\\", u"", u"");
}

TEST(PegarToken, QuotedPartKeepsItsSeparators) {
  ExpectSplit(u"\"a\\b\"\\c\\d", u"\\", u"a\\b", u"c\\d");
  // Text between the closing quote and the separator belongs to the token,
  // whose first and last characters then go.
  ExpectSplit(u"\"a\\b\"x\\c", u"\\", u"a\\b\"", u"c");
}

TEST(PegarToken, QuotedPartWithoutSeparatorAfterIt) {
  // The character right after the closing quote is consumed as if it were
  // the separator.
  ExpectSplit(u"\"a\\b\"xyz", u"\\", u"a\\b", u"yz");
  ExpectSplit(u"\"a\\b\"", u"\\", u"a\\b", u"");
}

TEST(PegarToken, UnclosedQuoteUsesTheFirstSeparator) {
  // The token keeps its opening quote, so it loses its first and last
  // characters.
  ExpectSplit(u"\"ab\\cd", u"\\", u"a", u"cd");
}

TEST(PegarToken, LongerSeparators) {
  ExpectSplit(u"one, two, three", u", ", u"one", u"two, three");
  ExpectSplit(u"one,two", u", ", u"one,two", u"");
}

TEST(PegarToken, EmptySeparatorIsNeverFound) {
  ExpectSplit(u" abc ", u"", u"abc", u"");
  ExpectSplit(u"\"a\"bc", u"", u"a", u"bc");
}

TEST(PegarToken, RepeatedCallsWalkAllTokens) {
  Text text = u"a\\b\\\\c";
  EXPECT_EQ(PegarToken(text, u"\\"), u"a");
  EXPECT_EQ(PegarToken(text, u"\\"), u"b");
  EXPECT_EQ(PegarToken(text, u"\\"), u"");
  EXPECT_EQ(PegarToken(text, u"\\"), u"c");
  EXPECT_EQ(text, u"");
}

TEST(TirarAspasOuEspacos, ShortTextsStayAsTheyAre) {
  EXPECT_EQ(TirarAspasOuEspacos(u""), u"");
  EXPECT_EQ(TirarAspasOuEspacos(u" "), u" ");
  EXPECT_EQ(TirarAspasOuEspacos(u"\""), u"\"");
}

TEST(TirarAspasOuEspacos, QuotesGoWithTheLastCharacterWhateverItIs) {
  EXPECT_EQ(TirarAspasOuEspacos(u"\"abc\""), u"abc");
  EXPECT_EQ(TirarAspasOuEspacos(u"\"\""), u"");
  EXPECT_EQ(TirarAspasOuEspacos(u"\"abc"), u"ab");
  EXPECT_EQ(TirarAspasOuEspacos(u"\" a \""), u" a ");
}

TEST(TirarAspasOuEspacos, TrimsBlanksAndControlCharacters) {
  EXPECT_EQ(TirarAspasOuEspacos(u"\t\r\n a b \x01\x1f"), u"a b");
  EXPECT_EQ(TirarAspasOuEspacos(u"  "), u"");
  // Quotes that do not open the text are kept; non-ASCII letters too.
  EXPECT_EQ(TirarAspasOuEspacos(u" x\" "), u"x\"");
  EXPECT_EQ(TirarAspasOuEspacos(u" Número "), u"Número");
}

}  // namespace
}  // namespace dactyra
