// The image log: a copy, as an 8-bit gray BMP, of every image handed to the
// extraction engine while the current user's registry value "SI" under
// "\Software\Tessiva BR\dactyra" is the integer 1. Images go to
// <library folder>imglog/<yyyymmdd>/<hhnnss>.bmp; only today's and
// yesterday's day folders are kept. Fingerprints are personal data on a
// machine others may share: the log's folders are this user's only (0700),
// its images too (0600), and an image is written whole or not at all. No
// step follows a symbolic link: links in the log, and the folders holding
// them, stay, and a log folder that is itself a link is not used.
#pragma once

#include <cstdint>
#include <span>

#include "platform/env.h"

namespace dactyra::templates {

// The registry key and value that switch the log on.
inline constexpr char16_t kImageLogKey[] = u"\\Software\\Tessiva BR\\dactyra";
inline constexpr char16_t kImageLogValue[] = u"SI";

// Whether to log, read anew on every call: the key opens, "SI" exists and
// reads as the integer 1. Every failure means no.
bool ImageLogEnabled(platform::Env& env) noexcept;

// "yyyymmdd" of `day`, and of the day before it (calendar arithmetic: the
// day before 1 March is 28 or 29 February).
platform::Text DayFolderName(const platform::LocalTime& day);
platform::Text PreviousDayFolderName(const platform::LocalTime& day);

// Writes the image (width × height gray levels, row 0 first) into the log
// under `library_folder` (with its trailing delimiter), after removing the
// day folders other than today's and yesterday's. Returns whether the file
// was written; never throws: the log must not stop an extraction.
bool GravarLogImagem(platform::Env& env, const platform::Text& library_folder, int32_t width,
                     int32_t height, std::span<const uint8_t> pixels) noexcept;

}  // namespace dactyra::templates
