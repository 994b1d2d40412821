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

// Deletes the plain files of the day folder `name` of the log (not the
// hidden ones, not links, not sub-folders), then the folder itself if that
// left it empty.
//
// Everything goes through folders held open that never follow a link: a
// link in the log, at any level, is left as it is and what it leads to is
// never reached, even when another user swaps an entry for a link while
// the cleaning runs. A folder holding a link is not empty, so it stays.
void ApagarPasta(platform::Folder& log, const Text& name) {
  const std::unique_ptr<platform::Folder> folder = log.OpenFolder(name, false);
  if (!folder) return;
  for (const platform::Folder::Entry& entry : folder->List()) {
    if (entry.kind != platform::Folder::EntryKind::kFile || entry.name.starts_with(u'.')) continue;
    folder->DeleteFile(entry.name);
  }
  log.RemoveFolder(name);
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
    // The library's folder may be reached through links; the log below it
    // never is: "imglog" itself must be a real folder.
    const std::unique_ptr<platform::Folder> library = env.OpenFolder(library_folder);
    if (!library) return false;
    const std::unique_ptr<platform::Folder> log = library->OpenFolder(u"imglog", true);
    if (!log) return false;

    // One reading of the clock for the folder and the file name, so an
    // image taken at midnight lands in the folder of the day it is named by.
    const platform::LocalTime now = env.Now();
    const Text today = DayFolderName(now);
    const Text yesterday = PreviousDayFolderName(now);

    for (const platform::Folder::Entry& entry : log->List()) {
      if (entry.kind != platform::Folder::EntryKind::kFolder || entry.name.starts_with(u'.') ||
          entry.name == today || entry.name == yesterday) {
        continue;
      }
      ApagarPasta(*log, entry.name);
    }

    const std::unique_ptr<platform::Folder> day = log->OpenFolder(today, true);
    if (!day) return false;
    const Text file = Digits(now.hour, 2) + Digits(now.minute, 2) + Digits(now.second, 2) + u".bmp";

    std::vector<uint8_t> bmp;
    SaveGrayBitmap(width, height, pixels, bmp);
    return day->WriteFile(file,
                          std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size()));
  } catch (...) {
    return false;
  }
}

}  // namespace dactyra::templates
