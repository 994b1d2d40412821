// Reading the stand-ins' configuration file and rendering their pictures.
#include "sim/digitalpersona/sim_config.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "sim/config/standin_files.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::sim::digitalpersona {

namespace {

namespace config = dactyra::sim::config;
using Keys = config::KeyTable<SimConfig>;

// A library option whose value must be one of `allowed`; kept as written,
// for Has().
Keys::Key Option(std::string_view key, std::vector<std::string_view> allowed) {
  return {key, Keys::Setter([key, allowed](SimConfig& c, std::string_view value) {
            if (std::find(allowed.begin(), allowed.end(), value) == allowed.end()) {
              throw std::invalid_argument("'" + std::string(value) + "' is not a choice");
            }
            c.options.emplace_back(key, value);
          })};
}

Keys::Key FrameMs() {
  return {"frame_ms", Keys::Setter([](SimConfig& c, std::string_view value) {
            c.frame_ms = config::Number<int>(value);
          })};
}

const Keys kDPFPApiKeys = {
    Option("init", {"fail"}),
    Option("enumerate", {"fail"}),
    Option("create", {"fail1", "failall"}),
    Option("start", {"fail"}),
    Option("wparam1", {"0", "1"}),
    FrameMs(),
};

const Keys kDpFpFnsKeys = {
    Option("init", {"fail"}),    Option("terminate", {"fail"}),
    Option("list", {"fail"}),    Option("context", {"fail"}),
    Option("connect", {"fail"}), Option("monitor", {"fail"}),
    Option("uilink", {"fail"}),  FrameMs(),
};

void SetGuid(SimReader& reader, std::string_view hex) {
  if (hex.size() != 32) throw std::invalid_argument("a GUID is 32 hex digits");
  for (size_t i = 0; i < 16; ++i) {
    reader.guid[i] = config::Number<uint8_t>("0x" + std::string(hex.substr(2 * i, 2)));
  }
}

using config::Number;

const config::KeyTable<SimReader> kReaderKeys = {
    {"library",
     [](SimReader& r, std::string_view v) {
       r.library = config::Choice(v, {std::pair{"dpfpapi", "dpfpapi"}, {"dpfpfns", "dpfpfns"}});
     }},
    {"guid", SetGuid},
    {"devid", [](SimReader& r, std::string_view v) { r.devid = Number<int64_t>(v); }},
    {"id", [](SimReader& r, std::string_view v) { r.id = v; }},
    {"product", [](SimReader& r, std::string_view v) { r.product = v; }},
    {"width", [](SimReader& r, std::string_view v) { r.width = Number<int>(v); }},
    {"height", [](SimReader& r, std::string_view v) { r.height = Number<int>(v); }},
    {"bottom_up", [](SimReader& r, std::string_view v) { r.bottom_up = config::Flag(v); }},
    {"pattern",
     [](SimReader& r, std::string_view v) {
       r.ramp = config::Choice(v, {std::pair{"finger", false}, {"ramp", true}});
     }},
    {"seed", [](SimReader& r, std::string_view v) { r.seed = Number<uint64_t>(v); }},
    {"info",
     [](SimReader& r, std::string_view v) {
       r.info_fails = config::Choice(v, {std::pair{"fail", true}});
     }},
};

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
  const char* variable = std::getenv("DACTYRA_DP_SIM");
  const std::string path = variable ? variable : "";
  try {
    // Every section is checked, whichever library reads it.
    SimConfig other;
    for (const config::Section& section :
         config::ParseSections(config::ReadConfigText(path), path)) {
      if (section.name == "dpfpapi") {
        kDPFPApiKeys.Apply(library == "dpfpapi" ? config : other, section.entries, path);
      } else if (section.name == "dpfpfns") {
        kDpFpFnsKeys.Apply(library == "dpfpfns" ? config : other, section.entries, path);
      } else if (section.name == "reader") {
        SimReader reader;
        kReaderKeys.Apply(reader, section.entries, path);
        if (reader.library == library) config.readers.push_back(std::move(reader));
      } else if (!section.name.empty() || !section.entries.empty()) {
        throw config::ConfigError(path + ":" + std::to_string(section.line) +
                                  ": a line outside the sections dpfpapi, dpfpfns, reader");
      }
    }
  } catch (const config::ConfigError& error) {
    config::Fail(library + " stand-in", error);
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
