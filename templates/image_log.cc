#include "templates/image_log.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/bmp_encoder.h"

namespace dactyra::templates {

using platform::Text;

namespace {

Text Digits(int value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return platform::FromUtf8(text);
}

// Deletes the plain files of `folder` (not the hidden ones, not sub-folders),
// then the folder itself if that left it empty. A plain file given as
// `folder` lists as empty and fails to be removed, so it stays.
//
// Symbolic links are left as they are, `folder` itself or an entry of it:
// the log deletes only what it wrote, and through a link it would delete
// files outside the log. A folder holding a link is not empty, so it stays.
void ApagarPasta(platform::Env& env, const Text& folder) {
  if (env.IsSymbolicLink(folder)) return;
  for (const platform::FolderEntry& entry : env.ListFolder(folder)) {
    if (entry.is_folder || entry.name.starts_with(u'.')) continue;
    const Text file = folder + platform::PathDelimiter() + entry.name;
    if (env.IsSymbolicLink(file)) continue;
    env.DeleteFile(file);
  }
  env.RemoveFolder(folder);
}

}  // namespace

bool ImageLogEnabled(platform::Env& env) noexcept {
  try {
    const auto key = env.OpenRegistryKey(platform::RegistryRoot::kCurrentUser, kImageLogKey);
    if (!key) return false;
    const std::optional<uint32_t> value = key->ReadInteger(kImageLogValue);
    return value.has_value() && *value == 1;
  } catch (...) {
    return false;
  }
}

Text DayFolderName(const platform::LocalTime& day) {
  return Digits(day.year, 4) + Digits(day.month, 2) + Digits(day.day, 2);
}

Text PreviousDayFolderName(const platform::LocalTime& day) {
  using namespace std::chrono;
  const year_month_day today{year{day.year}, month{static_cast<unsigned>(day.month)},
                             std::chrono::day{static_cast<unsigned>(day.day)}};
  const year_month_day before{sys_days{today} - days{1}};
  platform::LocalTime previous;
  previous.year = static_cast<int>(before.year());
  previous.month = static_cast<int>(static_cast<unsigned>(before.month()));
  previous.day = static_cast<int>(static_cast<unsigned>(before.day()));
  return DayFolderName(previous);
}

bool GravarLogImagem(platform::Env& env, const Text& library_folder, int32_t width, int32_t height,
                     std::span<const uint8_t> pixels) noexcept {
  try {
    const Text folder = library_folder + u"imglog" + platform::PathDelimiter();
    env.CreateFolders(folder);

    // One reading of the clock for the folder and the file name, so an
    // image taken at midnight lands in the folder of the day it is named by.
    const platform::LocalTime now = env.Now();
    const Text today = DayFolderName(now);
    const Text yesterday = PreviousDayFolderName(now);

    for (const platform::FolderEntry& entry : env.ListFolder(folder)) {
      if (entry.name.starts_with(u'.') || entry.name == today || entry.name == yesterday) continue;
      ApagarPasta(env, folder + entry.name);
    }

    const Text day_folder = folder + today;
    env.CreateFolders(day_folder);
    const Text file = day_folder + platform::PathDelimiter() + Digits(now.hour, 2) +
                      Digits(now.minute, 2) + Digits(now.second, 2) + u".bmp";

    std::vector<uint8_t> bmp;
    SaveGrayBitmap(width, height, pixels, bmp);
    return env.WriteFileBytes(
        file, std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size()));
  } catch (...) {
    return false;
  }
}

}  // namespace dactyra::templates
