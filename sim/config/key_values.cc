// Splitting configuration text and program arguments into entries.
#include "sim/config/key_values.h"

#include <algorithm>

namespace dactyra::sim::config {
namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

[[noreturn]] void Refuse(std::string_view origin, int line, const std::string& problem) {
  throw ConfigError(std::string(origin) + ":" + std::to_string(line) + ": " + problem);
}

}  // namespace

std::vector<Section> ParseSections(std::string_view text, std::string_view origin) {
  std::vector<Section> sections(1);
  int number = 0;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) Refuse(origin, number, "bad section line");
      sections.push_back({std::string(Trim(line.substr(1, line.size() - 2))), number, {}});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      Refuse(origin, number, "no '=' in '" + std::string(line) + "'");
    }
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) Refuse(origin, number, "no key before '='");
    sections.back().entries.push_back(
        {std::string(key), std::string(Trim(line.substr(equals + 1))), number});
  }
  return sections;
}

std::vector<Entry> ParseEntries(std::string_view text, std::string_view origin) {
  std::vector<Section> sections = ParseSections(text, origin);
  if (sections.size() > 1) Refuse(origin, sections[1].line, "sections are not used here");
  return std::move(sections.front().entries);
}

std::vector<Entry> ParseArguments(int argc, const char* const* argv,
                                  std::initializer_list<std::string_view> flags,
                                  std::string_view origin) {
  std::vector<Entry> entries;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!argument.starts_with("--") || argument.size() == 2) {
      Refuse(origin, i, "'" + std::string(argument) + "' is not an option");
    }
    const std::string_view key = argument.substr(2);
    if (std::find(flags.begin(), flags.end(), key) != flags.end()) {
      entries.push_back({std::string(key), "1", i});
    } else if (i + 1 < argc) {
      entries.push_back({std::string(key), argv[i + 1], i});
      ++i;
    } else {
      Refuse(origin, i, std::string(argument) + " needs a value");
    }
  }
  return entries;
}

bool Flag(std::string_view text) {
  if (text == "0" || text == "1") return text == "1";
  throw std::invalid_argument("'" + std::string(text) + "' is neither 0 nor 1");
}

}  // namespace dactyra::sim::config
