// Reading the stand-ins' configuration file and rendering their pictures.
#include "sim/digitalpersona/sim_config.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "sim/fingerprint/fingerprint.h"

namespace dactyra::sim::digitalpersona {

namespace {

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  const auto end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

bool ParseGuid(const std::string& hex, uint8_t* out) {
  if (hex.size() != 32) return false;
  for (int i = 0; i < 16; ++i) {
    const std::string pair = hex.substr(static_cast<size_t>(i) * 2, 2);
    char* end = nullptr;
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (*end != '\0') return false;
    out[i] = static_cast<uint8_t>(value);
  }
  return true;
}

std::atomic<int> g_violations{0};

}  // namespace

bool SimConfig::Has(const std::string& key, const std::string& value) const {
  for (const auto& [k, v] : options) {
    if (k == key && v == value) return true;
  }
  return false;
}

SimConfig ReadSimConfig(const std::string& library) {
  SimConfig config;
  const char* path = std::getenv("DACTYRA_DP_SIM");
  if (!path) return config;
  std::ifstream file(path);
  std::string line;
  std::string section;
  std::vector<SimReader> all;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      if (section == "reader") all.emplace_back();
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      std::fprintf(stderr, "dp sim: %s:%d: no '='\n", path, number);
      continue;
    }
    const std::string key = Trim(line.substr(0, equals));
    const std::string value = Trim(line.substr(equals + 1));
    if (section == library) {
      if (key == "frame_ms") config.frame_ms = std::atoi(value.c_str());
      config.options.emplace_back(key, value);
    } else if (section == "reader") {
      SimReader& reader = all.back();
      if (key == "library") {
        reader.library = value;
      } else if (key == "guid") {
        if (!ParseGuid(value, reader.guid))
          std::fprintf(stderr, "dp sim: bad guid %s\n", value.c_str());
      } else if (key == "devid") {
        reader.devid = std::strtoll(value.c_str(), nullptr, 10);
      } else if (key == "id") {
        reader.id = value;
      } else if (key == "product") {
        reader.product = value;
      } else if (key == "width") {
        reader.width = std::atoi(value.c_str());
      } else if (key == "height") {
        reader.height = std::atoi(value.c_str());
      } else if (key == "bottom_up") {
        reader.bottom_up = value == "1";
      } else if (key == "pattern") {
        reader.ramp = value == "ramp";
      } else if (key == "seed") {
        reader.seed = std::strtoull(value.c_str(), nullptr, 10);
      } else if (key == "info") {
        reader.info_fails = value == "fail";
      }
    }
  }
  for (SimReader& reader : all) {
    if (reader.library == library) config.readers.push_back(std::move(reader));
  }
  return config;
}

const std::vector<uint8_t>& ReaderPixels(const SimReader& reader) {
  using Key = std::tuple<bool, uint64_t, int, int>;
  static std::mutex mutex;
  static std::map<Key, std::unique_ptr<std::vector<uint8_t>>> cache;
  std::lock_guard guard(mutex);
  auto& slot = cache[Key{reader.ramp, reader.seed, reader.width, reader.height}];
  if (!slot) {
    const int width = reader.width > 0 ? reader.width : 1;
    const int height = reader.height > 0 ? reader.height : 1;
    if (reader.ramp) {
      slot = std::make_unique<std::vector<uint8_t>>(static_cast<size_t>(width) * height);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          (*slot)[static_cast<size_t>(y) * width + x] =
              static_cast<uint8_t>((x + 3 * y + reader.seed) & 0xFF);
        }
      }
    } else {
      slot = std::make_unique<std::vector<uint8_t>>(
          fingerprint::Finger::Generate(reader.seed).Render(width, height).pixels);
    }
  }
  return *slot;
}

void Violation(const char* library, const std::string& what) {
  ++g_violations;
  std::fprintf(stderr, "%s stand-in: contract violation: %s\n", library, what.c_str());
}

int Violations() { return g_violations.load(); }

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace dactyra::sim::digitalpersona
