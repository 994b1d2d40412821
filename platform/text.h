// Text as the library keeps it: UTF-16, and its conversions to the byte
// encodings spoken at the edges (modified UTF-8 for JNI, the ANSI code page
// for reader plug-ins).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dactyra::platform {

// The library's text type: UTF-16 code units, surrogate pairs allowed.
using Text = std::u16string;
using TextView = std::u16string_view;

// Modified UTF-8 as JNI uses it: U+0000 becomes C0 80, a character beyond the
// BMP travels as its surrogate pair, 3 bytes for each half. Never fails.
std::string ToModifiedUtf8(TextView text);

// The reverse. Ill-formed sequences become U+FFFD, one per offending byte;
// standard 4-byte UTF-8 is accepted too and becomes a surrogate pair.
Text FromModifiedUtf8(std::string_view bytes);

// The "ANSI code page" is UTF-8 on this platform. A lone surrogate becomes
// '?'; ill-formed input bytes become U+FFFD.
std::string ToAnsi(TextView text);
Text FromAnsi(std::string_view bytes);

// Plain UTF-8 for diagnostics and file names.
std::string ToUtf8(TextView text);
Text FromUtf8(std::string_view bytes);

// Letter-case-insensitive comparisons. The Ascii forms fold only A-Z; the
// plain forms fold letters the way the user's locale does (Latin-1, Latin
// Extended, Greek and Cyrillic simple case pairs), as Windows'
// CompareString with NORM_IGNORECASE would for these scripts.
// Results are <0, 0, >0.
int CompareTextAsciiNoCase(TextView a, TextView b);
bool SameTextAsciiNoCase(TextView a, TextView b);
int CompareTextNoCase(TextView a, TextView b);
bool SameTextNoCase(TextView a, TextView b);

Text AsciiUpperCase(TextView text);
Text AsciiLowerCase(TextView text);
Text UpperCase(TextView text);
Text LowerCase(TextView text);

}  // namespace dactyra::platform
