// The stand-ins' one configuration form, read alike by every stand-in so
// that a test that sets a fault either gets it or fails: lines of
// "key=value", "#" comment lines and "[name]" section lines. A key the
// stand-in does not know, or a value it cannot read, is an error that names
// the file and the line: a misspelt fault key never passes unseen.
#pragma once

#include <charconv>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace dactyra::sim::config {

// What is wrong with a configuration, and where: "<origin>:<line>: <problem>".
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Entry {
  std::string key;
  std::string value;
  // Where it was written: the line from 1, or the index of a program's
  // argument.
  int line = 0;
};

struct Section {
  // "" for the lines above the first section line.
  std::string name;
  int line = 0;
  std::vector<Entry> entries;
};

// The sections of `text` in their order, the first always the unnamed one.
// Blank lines and lines whose first character that is not blank is '#' are
// skipped; "[name]" opens a section (names may repeat: each line opens one);
// any other line must be "key=value". Blanks at either end of a line and
// around its first '=' are dropped; the value is otherwise kept as written.
// A line without '=' or with an empty key raises ConfigError.
std::vector<Section> ParseSections(std::string_view text, std::string_view origin);

// The same for a configuration without sections: a section line is an error.
std::vector<Entry> ParseEntries(std::string_view text, std::string_view origin);

// A program's options as entries: "--key value", or "--key" alone for a key
// listed in `flags` (its value is "1"). Anything else raises ConfigError:
// an argument that is not an option, or an option without its value.
std::vector<Entry> ParseArguments(int argc, const char* const* argv,
                                  std::initializer_list<std::string_view> flags,
                                  std::string_view origin);

// --- Values: each parser takes the whole text or raises std::invalid_argument.

// An integer of type T, decimal or hexadecimal after "0x"; a sign only for a
// signed T; out of T's range is refused.
template <typename T>
T Number(std::string_view text) {
  static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
  const bool negative = !text.empty() && text.front() == '-';
  std::string_view digits = negative ? text.substr(1) : text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint64_t magnitude = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    throw std::invalid_argument("'" + std::string(text) + "' is not a number");
  }
  using Limits = std::numeric_limits<T>;
  const auto refuse = [&] {
    throw std::invalid_argument("'" + std::string(text) + "' is out of range");
  };
  if (negative) {
    if constexpr (std::is_signed_v<T>) {
      if (magnitude > static_cast<std::uint64_t>(Limits::max()) + 1) refuse();
      return static_cast<T>(-static_cast<std::int64_t>(magnitude - 1) - 1);
    } else {
      refuse();
    }
  }
  if (magnitude > static_cast<std::uint64_t>(Limits::max())) refuse();
  return static_cast<T>(magnitude);
}

// "0" or "1".
bool Flag(std::string_view text);

// Numbers of type T separated by `separator` ("4,0", "352x544"); at least
// `least` and at most `most` of them.
template <typename T>
std::vector<T> Numbers(std::string_view text, char separator, std::size_t least = 1,
                       std::size_t most = std::numeric_limits<std::size_t>::max()) {
  std::vector<T> numbers;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    numbers.push_back(Number<T>(text.substr(start, end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (numbers.size() < least || numbers.size() > most) {
    throw std::invalid_argument("'" + std::string(text) + "' has " +
                                std::to_string(numbers.size()) + " parts");
  }
  return numbers;
}

// One of the named choices.
template <typename T>
T Choice(std::string_view text, std::initializer_list<std::pair<const char*, T>> choices) {
  std::string names;
  for (const auto& [name, value] : choices) {
    if (name == text) return value;
    names += (names.empty() ? "" : ", ") + std::string(name);
  }
  throw std::invalid_argument("'" + std::string(text) + "' is none of " + names);
}

// --- Keys.

// The keys one stand-in knows and what each does with its value. A key
// written "name*" is a family: it takes every key that begins with "name"
// and goes on, and its setter gets the rest of the key as well.
template <typename Target>
class KeyTable {
 public:
  using Setter = std::function<void(Target&, std::string_view value)>;
  using FamilySetter = std::function<void(Target&, std::string_view rest, std::string_view value)>;

  struct Key {
    Key(std::string_view name, Setter set)
        : name(name), set([set](Target& t, std::string_view, std::string_view v) { set(t, v); }) {}
    Key(std::string_view name, FamilySetter set) : name(name), set(std::move(set)) {}
    std::string_view name;
    FamilySetter set;
  };

  KeyTable(std::initializer_list<Key> keys) : keys_(keys) {}

  // Raises ConfigError for an unknown key and for a value its setter
  // refuses.
  void Apply(Target& target, const Entry& entry, std::string_view origin) const {
    try {
      ApplyItem(target, entry.key, entry.value);
    } catch (const std::invalid_argument& bad) {
      throw ConfigError(std::string(origin) + ":" + std::to_string(entry.line) + ": " + bad.what());
    }
  }

  void Apply(Target& target, const std::vector<Entry>& entries, std::string_view origin) const {
    for (const Entry& entry : entries) Apply(target, entry, origin);
  }

  // The same for an item inside a value ("id=1,index=0"): the refusal is a
  // std::invalid_argument, placed by the entry that holds the item.
  void ApplyItem(Target& target, std::string_view key, std::string_view value) const {
    for (const Key& known : keys_) {
      std::string_view rest;
      if (known.name.ends_with('*')) {
        const std::string_view stem = known.name.substr(0, known.name.size() - 1);
        if (key.size() <= stem.size() || !key.starts_with(stem)) continue;
        rest = key.substr(stem.size());
      } else if (known.name != key) {
        continue;
      }
      try {
        known.set(target, rest, value);
      } catch (const std::invalid_argument& bad) {
        throw std::invalid_argument(std::string(key) + ": " + bad.what());
      }
      return;
    }
    throw std::invalid_argument("unknown key '" + std::string(key) + "'");
  }

 private:
  std::vector<Key> keys_;
};

}  // namespace dactyra::sim::config
