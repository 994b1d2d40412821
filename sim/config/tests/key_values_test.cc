// The stand-ins' configuration reader: what a text and a command line become,
// every error with its place, the value parsers' whole-text rule, and a key
// table that refuses what it does not know.
#include "sim/config/key_values.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dactyra::sim::config {
namespace {

using ::testing::HasSubstr;

std::string Show(const std::vector<Section>& sections) {
  std::string out;
  for (const Section& s : sections) {
    out += "[" + s.name + "@" + std::to_string(s.line) + "]";
    for (const Entry& e : s.entries)
      out += e.key + "=" + e.value + "@" + std::to_string(e.line) + ";";
  }
  return out;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ConfigError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ConfigText, LinesBecomeSectionsAndEntries) {
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"", "[@0]"},
      {"a=1\nb=2", "[@0]a=1@1;b=2@2;"},
      {"a=1\n", "[@0]a=1@1;"},
      // Comments, blank lines, CR LF, blanks around '=' and the line.
      {"# note\n\n  a = x y \r\n\t#x=1\n", "[@0]a=x y@3;"},
      {"a==b=c", "[@0]a==b=c@1;"},
      {"device=", "[@0]device=@1;"},
      {"top=1\n[one]\nk=v\n[ two ]\n[one]\nk=w", "[@0]top=1@1;[one@2]k=v@3;[two@4][one@5]k=w@6;"},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(ParseSections(c.text, "f")), c.shown) << c.text;
}

TEST(ConfigText, BadLinesNameTheFileAndLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"a=1\nimages 3", "f.conf:2: no '=' in 'images 3'"},
      {"=3", "f.conf:1: no key before '='"},
      {"[open", "f.conf:1: bad section line"},
      {"[]", "f.conf:1: bad section line"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf([&] { ParseSections(c.text, "f.conf"); }), c.error) << c.text;
  }
  EXPECT_EQ(ErrorOf([] { ParseEntries("a=1\n[s]\n", "f.conf"); }),
            "f.conf:2: sections are not used here");
}

TEST(ConfigArguments, OptionsBecomeEntries) {
  const char* argv[] = {"prog", "--name", "a", "--busy", "--width", "-3"};
  const auto entries = ParseArguments(6, argv, {"busy"}, "prog");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].key + "=" + entries[0].value, "name=a");
  EXPECT_EQ(entries[1].key + "=" + entries[1].value, "busy=1");
  EXPECT_EQ(entries[2].key + "=" + entries[2].value, "width=-3");
  EXPECT_EQ(entries[2].line, 4);

  const char* stray[] = {"prog", "name"};
  EXPECT_EQ(ErrorOf([&] { ParseArguments(2, stray, {}, "prog"); }),
            "prog:1: 'name' is not an option");
  const char* cut[] = {"prog", "--busy", "--name"};
  EXPECT_EQ(ErrorOf([&] { ParseArguments(3, cut, {"busy"}, "prog"); }),
            "prog:2: --name needs a value");
}

TEST(ConfigValues, NumbersTakeTheWholeTextWithinTheirType) {
  EXPECT_EQ(Number<int32_t>("42"), 42);
  EXPECT_EQ(Number<int32_t>("-2147483648"), INT32_MIN);
  EXPECT_EQ(Number<int64_t>("-0"), 0);
  EXPECT_EQ(Number<uint16_t>("0xFFFF"), 0xFFFF);
  EXPECT_EQ(Number<int32_t>("-0x10"), -16);
  for (const char* bad :
       {"", "-", "x", "3 ", "3x", "1e3", "+1", "0x", "2147483648", "-2147483649"}) {
    EXPECT_THROW(Number<int32_t>(bad), std::invalid_argument) << bad;
  }
  EXPECT_THROW(Number<uint32_t>("-1"), std::invalid_argument);
  EXPECT_THROW(Number<uint8_t>("256"), std::invalid_argument);

  EXPECT_EQ(Numbers<int>("352x544", 'x', 2, 2), (std::vector<int>{352, 544}));
  EXPECT_EQ(Numbers<unsigned>("4", ','), (std::vector<unsigned>{4}));
  EXPECT_THROW(Numbers<int>("3x4x5", 'x', 2, 2), std::invalid_argument);
  EXPECT_THROW(Numbers<int>("3", 'x', 2, 3), std::invalid_argument);
  EXPECT_THROW(Numbers<int>("3,,4", ','), std::invalid_argument);

  EXPECT_TRUE(Flag("1"));
  EXPECT_FALSE(Flag("0"));
  EXPECT_THROW(Flag("yes"), std::invalid_argument);
  EXPECT_EQ(Choice(std::string_view("b"), {std::pair{"a", 1}, {"b", 2}}), 2);
  try {
    Choice(std::string_view("c"), {std::pair{"a", 1}, {"b", 2}});
    ADD_FAILURE() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "'c' is none of a, b");
  }
}

struct Target {
  int images = -1;
  std::vector<std::pair<std::string, int>> statuses;
};

const KeyTable<Target> kKeys = {
    {"images", [](Target& t, std::string_view v) { t.images = Number<int>(v); }},
    {"statuses*", [](Target& t, std::string_view rest,
                     std::string_view v) { t.statuses.emplace_back(rest, Number<int>(v)); }},
};

TEST(ConfigKeys, KnownKeysSetAndEverythingElseIsRefusedWithItsPlace) {
  Target t;
  kKeys.Apply(t, ParseEntries("images=3\nstatuses1=4\nstatuses12=0", "f"), "f");
  EXPECT_EQ(t.images, 3);
  EXPECT_EQ(t.statuses, (std::vector<std::pair<std::string, int>>{{"1", 4}, {"12", 0}}));

  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      // The fault that passed unseen before: a misspelt key.
      {"imagse=3", "f:1: unknown key 'imagse'"},
      {"images=3\nimages=three", "f:2: images: 'three' is not a number"},
      {"statuses=4", "f:1: unknown key 'statuses'"},
      {"Images=3", "f:1: unknown key 'Images'"},
  };
  for (const Case& c : cases) {
    Target ignored;
    EXPECT_EQ(ErrorOf([&] { kKeys.Apply(ignored, ParseEntries(c.text, "f"), "f"); }), c.error)
        << c.text;
  }
  // An item inside a value is refused without a place of its own.
  try {
    kKeys.ApplyItem(t, "images", "x");
    ADD_FAILURE() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "images: 'x' is not a number");
  }
}

}  // namespace
}  // namespace dactyra::sim::config
