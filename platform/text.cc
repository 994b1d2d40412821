// Conversions between UTF-16 and the UTF-8 forms, and letter-case folding.
// Nothing here depends on the operating system; the ANSI code page lives in
// each back end.
#include "platform/text.h"

#include <algorithm>
#include <cstddef>

#include "platform/text_internal.h"

namespace dactyra::platform {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

void AppendThreeBytes(std::string& out, uint32_t c) {
  out.push_back(static_cast<char>(0xE0 | (c >> 12)));
  out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
  out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
}

void AppendCodePoint(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    AppendThreeBytes(out, c);
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(Text& out, uint32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Decodes UTF-8. In the modified form C0 80 is U+0000 and surrogates
// encoded as 3-byte sequences pass through (JNI sends pairs that way); in
// the standard form both are ill-formed. A sequence that is ill-formed
// yields one U+FFFD for its first byte and decoding resumes at the next
// byte, so every offending byte gives one replacement.
Text Decode(std::string_view bytes, bool modified) {
  Text out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t c = 0;
    uint32_t minimum = 0;
    if (b >= 0xC0 && b <= 0xDF) {
      length = 2;
      c = b & 0x1F;
      minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      c = b & 0x0F;
      minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      c = b & 0x07;
      minimum = 0x10000;
    }
    bool ok = length != 0 && i + length <= n;
    for (size_t k = 1; ok && k < length; ++k) {
      if (!IsContinuation(p[i + k])) {
        ok = false;
      } else {
        c = (c << 6) | (p[i + k] & 0x3F);
      }
    }
    if (ok) {
      if (c < minimum) {
        // Overlong; the one overlong form allowed is the modified U+0000.
        ok = modified && length == 2 && c == 0;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        ok = modified;
      } else if (c > 0x10FFFF) {
        ok = false;
      }
    }
    if (!ok) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i += length;
  }
  return out;
}

// Standard UTF-8; a lone surrogate becomes `lone`.
std::string EncodeUtf8(TextView text, char32_t lone) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendCodePoint(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendCodePoint(out, lone);
    } else {
      AppendCodePoint(out, c);
    }
  }
  return out;
}

// --- letter case -----------------------------------------------------------

// Runs of alternating case pairs: [first, last] where the upper-case letter
// sits on the even (or, with `odd_upper`, odd) code of each pair.
struct PairRun {
  char16_t first;
  char16_t last;
  bool odd_upper;
};

constexpr PairRun kPairRuns[] = {
    {0x0100, 0x012F, false}, {0x0132, 0x0137, false}, {0x0139, 0x0148, true},
    {0x014A, 0x0177, false}, {0x0179, 0x017E, true},  {0x0182, 0x0185, false},
    {0x01A0, 0x01A5, false}, {0x01CD, 0x01DC, true},  {0x01DE, 0x01EF, false},
    {0x01F8, 0x021F, false}, {0x0222, 0x0233, false}, {0x0246, 0x024F, false},
    {0x03D8, 0x03EF, false}, {0x0460, 0x0481, false}, {0x048A, 0x04BF, false},
    {0x04C1, 0x04CE, true},  {0x04D0, 0x052F, false}, {0x1E00, 0x1E95, false},
    {0x1EA0, 0x1EFF, false},
};

// Blocks where upper case sits at a fixed distance below lower case:
// [upper_first, upper_last] maps to [upper_first + delta, ...].
struct OffsetRun {
  char16_t upper_first;
  char16_t upper_last;
  char16_t delta;
};

constexpr OffsetRun kOffsetRuns[] = {
    {u'A', u'Z', 32},     {0x00C0, 0x00D6, 32}, {0x00D8, 0x00DE, 32}, {0x0388, 0x038A, 37},
    {0x038E, 0x038F, 63}, {0x0391, 0x03A1, 32}, {0x03A3, 0x03AB, 32}, {0x0400, 0x040F, 80},
    {0x0410, 0x042F, 32}, {0x0531, 0x0556, 48}, {0xFF21, 0xFF3A, 32},
};

// Single pairs that fit no run.
struct SinglePair {
  char16_t upper;
  char16_t lower;
};

constexpr SinglePair kSinglePairs[] = {
    {0x0178, 0x00FF}, {0x0386, 0x03AC}, {0x038C, 0x03CC}, {0x04C0, 0x04CF}, {0x0187, 0x0188},
    {0x018B, 0x018C}, {0x0191, 0x0192}, {0x0198, 0x0199}, {0x01A7, 0x01A8}, {0x01AC, 0x01AD},
    {0x01AF, 0x01B0}, {0x01B3, 0x01B4}, {0x01B5, 0x01B6}, {0x01B8, 0x01B9}, {0x01BC, 0x01BD},
    {0x01C4, 0x01C6}, {0x01C7, 0x01C9}, {0x01CA, 0x01CC}, {0x01F1, 0x01F3}, {0x01F4, 0x01F5},
};

}  // namespace

namespace internal {

char16_t UpperCaseUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  // Final sigma has the same capital as sigma.
  if (c == 0x03C2) return 0x03A3;
  for (const OffsetRun& r : kOffsetRuns) {
    if (c >= r.upper_first + r.delta && c <= r.upper_last + r.delta) {
      return static_cast<char16_t>(c - r.delta);
    }
  }
  for (const PairRun& r : kPairRuns) {
    if (c >= r.first && c <= r.last) {
      const bool is_upper = ((c & 1) != 0) == r.odd_upper;
      return is_upper ? c : static_cast<char16_t>(c - 1);
    }
  }
  for (const SinglePair& p : kSinglePairs) {
    if (c == p.lower) return p.upper;
  }
  return c;
}

char16_t LowerCaseUnit(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  for (const OffsetRun& r : kOffsetRuns) {
    if (c >= r.upper_first && c <= r.upper_last) return static_cast<char16_t>(c + r.delta);
  }
  for (const PairRun& r : kPairRuns) {
    if (c >= r.first && c <= r.last) {
      const bool is_upper = ((c & 1) != 0) == r.odd_upper;
      // The last code of a run may be an upper-case letter without partner.
      if (is_upper && c < r.last) return static_cast<char16_t>(c + 1);
      return c;
    }
  }
  for (const SinglePair& p : kSinglePairs) {
    if (c == p.upper) return p.lower;
  }
  return c;
}

std::string EncodeUtf8WithLoneSurrogateAs(TextView text, char32_t lone) {
  return EncodeUtf8(text, lone);
}

}  // namespace internal

namespace {

using internal::LowerCaseUnit;
using internal::UpperCaseUnit;

char16_t AsciiUpper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}
char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// Code-point order of UTF-16 units: surrogates sort after U+E000..U+FFFF
// would otherwise put supplementary characters before them.
uint32_t OrderKey(char16_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c + 0x2000u;
  if (c >= 0xE000) return c - 0x800u;
  return c;
}

template <typename Fold>
int Compare(TextView a, TextView b, Fold fold) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint32_t x = OrderKey(fold(a[i]));
    const uint32_t y = OrderKey(fold(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <typename Fold>
Text Map(TextView text, Fold fold) {
  Text out(text);
  for (char16_t& c : out) c = fold(c);
  return out;
}

}  // namespace

std::string ToModifiedUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    if (c == 0) {
      out.push_back(static_cast<char>(0xC0));
      out.push_back(static_cast<char>(0x80));
    } else {
      // Every unit on its own, surrogates included: that is how JNI carries
      // characters beyond the BMP.
      AppendCodePoint(out, c);
    }
  }
  return out;
}

Text FromModifiedUtf8(std::string_view bytes) { return Decode(bytes, true); }

std::string ToUtf8(TextView text) { return EncodeUtf8(text, U'\uFFFD'); }
Text FromUtf8(std::string_view bytes) { return Decode(bytes, false); }

int CompareTextAsciiNoCase(TextView a, TextView b) { return Compare(a, b, AsciiUpper); }
bool SameTextAsciiNoCase(TextView a, TextView b) {
  return a.size() == b.size() && CompareTextAsciiNoCase(a, b) == 0;
}
int CompareTextNoCase(TextView a, TextView b) { return Compare(a, b, UpperCaseUnit); }
bool SameTextNoCase(TextView a, TextView b) {
  return a.size() == b.size() && CompareTextNoCase(a, b) == 0;
}

Text AsciiUpperCase(TextView text) { return Map(text, AsciiUpper); }
Text AsciiLowerCase(TextView text) { return Map(text, AsciiLower); }
Text UpperCase(TextView text) { return Map(text, UpperCaseUnit); }
Text LowerCase(TextView text) { return Map(text, LowerCaseUnit); }

}  // namespace dactyra::platform
