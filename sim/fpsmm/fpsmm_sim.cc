// A stand-in FPSmm module, written only against the module interface header
// (plugins/interface/fpsmm_module.h): the four exports, scanner objects with
// their twelve-entry table, and a thread per capturing object that pushes
// finger images through the image callback at a configured rate and size.
//
// Built under several file names (FPSmm<name>.so); every copy reads the file
// named by the environment variable FPSMM_SIM_CONFIG at every call, so tests
// can change it between calls. Lines "key=value"; "#" starts a comment line;
// a line "[<stem>]" starts a section for the copy whose file name without
// extension is <stem> (letter case ignored); lines before any section apply
// to every copy, a section's lines to its copy only. A key not listed here
// or a value that does not read, in any section, ends the process with the
// file and line (sim/config).
//   init=N              what "_Init" answers (default 0)
//   id=TEXT             one device identifier, UTF-8 (repeat)
//   count=N             what "_GetDeviceCount" reports (default: the ids)
//   fill=N              identifiers "_EnumDeviceIDs" fills (default: all
//                       that fit)
//   count_status=N, enum_status=N, create_status=N
//                       the exports' statuses (default 0)
//   set_something=N, init_scanner=N, callbacks_status=N, start_status=N,
//   stop_status=N       the scanner object's statuses (default 0)
//   max=WxH             maxWidth and maxHeight of new objects (320x480)
//   size=WxH            the size of delivered images, in turn (repeat;
//                       default max). Sizes without pixels (a width or
//                       height not positive, or too large) are announced
//                       with a 16-byte pixel buffer.
//   interval_ms=N       wait before each image (default 10)
//   images=N            images per capture run, then idle (-1: no end)
//   pixels=finger|pattern
//                       finger: an impression of sim/fingerprint (seed=N);
//                       pattern: pixel (x, y) of the k-th image of a run is
//                       (k + x + 3y) & 0xFF
//   seed=N              the finger's seed (default 1)
//   quiet=1             log only the load, the unload and violations
//
// Every call, the load and the unload of the file are appended as one line
// to "<stem>.log" beside the configuration file; a call that breaks the
// contract the library must keep logs a line beginning "violation".
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <pthread.h>
#include <windows.h>
#endif

#include "plugins/interface/fpsmm_module.h"
#include "sim/config/standin_files.h"
#include "sim/fingerprint/fingerprint.h"

namespace {

namespace config = dactyra::sim::config;

struct Size {
  int32_t width = 0;
  int32_t height = 0;
};

struct Config {
  int32_t init = 0;
  std::vector<std::u16string> ids;
  bool has_count = false;
  long long count = 0;
  long long fill = -1;
  int32_t count_status = 0;
  int32_t enum_status = 0;
  int32_t create_status = 0;
  int32_t set_something = 0;
  int32_t init_scanner = 0;
  int32_t callbacks_status = 0;
  int32_t start_status = 0;
  int32_t stop_status = 0;
  Size max{320, 480};
  std::vector<Size> sizes;
  int interval_ms = 10;
  long long images = -1;
  bool pattern = false;
  uint64_t seed = 1;
  bool quiet = false;
};

struct Files {
  std::string stem;
  std::string config;
  std::string log;
};

Files LocateFiles() {
  Files files;
  files.stem = config::OwnStem(reinterpret_cast<void*>(&LocateFiles));
  const char* path = std::getenv("FPSMM_SIM_CONFIG");
  if (!path || !*path) return files;
  files.config = path;
  files.log = config::FolderOf(files.config) + "/" + files.stem + ".log";
  return files;
}

const Files& OwnFiles() {
  static const Files files = LocateFiles();
  return files;
}

std::mutex g_log_mutex;
bool g_quiet = false;

void Log(const std::string& line, bool always = false) {
  std::lock_guard lock(g_log_mutex);
  if (g_quiet && !always) return;
  config::AppendLine(OwnFiles().log, line);
}

void Violation(const std::string& what) { Log("violation: " + what, true); }

std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = c;
    size_t n = 1;
    if (c >= 0xF0 && i + 3 < utf8.size()) {
      cp = ((c & 0x07u) << 18) | ((utf8[i + 1] & 0x3Fu) << 12) | ((utf8[i + 2] & 0x3Fu) << 6) |
           (utf8[i + 3] & 0x3Fu);
      n = 4;
    } else if (c >= 0xE0 && i + 2 < utf8.size()) {
      cp = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3Fu);
      n = 3;
    } else if (c >= 0xC0 && i + 1 < utf8.size()) {
      cp = ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3Fu);
      n = 2;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::string Utf8(const TFPSmmChar* text) {
  std::string out;
  for (; text && *text; ++text) {
    const char16_t c = *text;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      // Surrogates are written one by one: the log is for people.
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool SameAsciiNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? char(ch - 'A' + 'a') : ch; };
           return lower(x) == lower(y);
         });
}

Size ParseSize(std::string_view value) {
  const auto sides = config::Numbers<int32_t>(value, 'x', 2, 2);
  return {sides[0], sides[1]};
}

using config::Number;

const config::KeyTable<Config> kKeys = {
    {"init", [](Config& c, std::string_view v) { c.init = Number<int32_t>(v); }},
    {"id", [](Config& c, std::string_view v) { c.ids.push_back(Utf16(std::string(v))); }},
    {"count",
     [](Config& c, std::string_view v) {
       c.count = Number<long long>(v);
       c.has_count = true;
     }},
    {"fill", [](Config& c, std::string_view v) { c.fill = Number<long long>(v); }},
    {"count_status", [](Config& c, std::string_view v) { c.count_status = Number<int32_t>(v); }},
    {"enum_status", [](Config& c, std::string_view v) { c.enum_status = Number<int32_t>(v); }},
    {"create_status", [](Config& c, std::string_view v) { c.create_status = Number<int32_t>(v); }},
    {"set_something", [](Config& c, std::string_view v) { c.set_something = Number<int32_t>(v); }},
    {"init_scanner", [](Config& c, std::string_view v) { c.init_scanner = Number<int32_t>(v); }},
    {"callbacks_status",
     [](Config& c, std::string_view v) { c.callbacks_status = Number<int32_t>(v); }},
    {"start_status", [](Config& c, std::string_view v) { c.start_status = Number<int32_t>(v); }},
    {"stop_status", [](Config& c, std::string_view v) { c.stop_status = Number<int32_t>(v); }},
    {"max", [](Config& c, std::string_view v) { c.max = ParseSize(v); }},
    {"size", [](Config& c, std::string_view v) { c.sizes.push_back(ParseSize(v)); }},
    {"interval_ms", [](Config& c, std::string_view v) { c.interval_ms = Number<int>(v); }},
    {"images", [](Config& c, std::string_view v) { c.images = Number<long long>(v); }},
    {"pixels",
     [](Config& c, std::string_view v) {
       c.pattern = config::Choice(v, {std::pair{"finger", false}, {"pattern", true}});
     }},
    {"seed", [](Config& c, std::string_view v) { c.seed = Number<uint64_t>(v); }},
    {"quiet", [](Config& c, std::string_view v) { c.quiet = config::Flag(v); }},
};

// Every section is checked, this copy's applied: the lines above the first
// section, then the sections named after it.
Config ReadConfig() {
  Config config;
  const Files& files = OwnFiles();
  try {
    for (const config::Section& section :
         config::ParseSections(config::ReadConfigText(files.config), files.config)) {
      Config others;
      const bool mine = section.name.empty() || SameAsciiNoCase(section.name, files.stem);
      kKeys.Apply(mine ? config : others, section.entries, files.config);
    }
  } catch (const config::ConfigError& error) {
    config::Fail(files.stem, error);
  }
  if (config.sizes.empty()) config.sizes.push_back(config.max);
  std::lock_guard lock(g_log_mutex);
  g_quiet = config.quiet;
  return config;
}

// A size the stand-in can render: both sides positive and at most 64 MiB.
bool Drawable(Size size) {
  return size.width > 0 && size.height > 0 &&
         static_cast<long long>(size.width) * size.height <= (64ll << 20);
}

// A scanner object: the record the library reads, then the stand-in's own.
struct Scanner {
  TFPSmmScannerImpl record{};
  int id = 0;

  std::mutex mutex;
  std::condition_variable wake;
  // Contract state: SetSomething(1) answered 0, then InitScanner.
  bool prepared = false;
  bool initialised = false;
  bool has_callbacks = false;
  void* context = nullptr;
  TFPSmmImageCallback image = nullptr;
  TFPSmmNoticeCallback notice1 = nullptr;
  TFPSmmNoticeCallback notice2 = nullptr;
  bool capturing = false;
  bool stop = false;
  std::thread thread;
#ifdef _WIN32
  // Set by the unload for a run it cannot wait for (see Park).
  HANDLE parked = nullptr;
#endif
};

std::mutex g_mutex;
std::vector<std::unique_ptr<Scanner>> g_scanners;
int g_next_id = 1;
// The texts of the last "_EnumDeviceIDs", valid until the next one.
std::vector<std::u16string> g_id_texts;

Scanner* Find(PFPSmmScannerImpl self, const char* call) {
  std::lock_guard lock(g_mutex);
  for (const auto& scanner : g_scanners) {
    if (&scanner->record == self) return scanner.get();
  }
  Violation(std::string(call) + " on an object this module did not create");
  return nullptr;
}

std::string Name(const Scanner& scanner) { return std::to_string(scanner.id); }

using Fingers = std::vector<std::vector<uint8_t>>;

// The finger of `config` at each of its sizes, drawn once while the module
// is loaded: drawing is slow, and a run that draws on its own thread keeps
// its stop waiting meanwhile.
std::shared_ptr<const Fingers> DrawFingers(const Config& config) {
  static std::mutex lock;
  static std::map<std::string, std::shared_ptr<const Fingers>> drawn;
  if (config.pattern) return std::make_shared<const Fingers>();
  std::string key = std::to_string(config.seed);
  for (const Size size : config.sizes) {
    key += ":" + std::to_string(size.width) + "x" + std::to_string(size.height);
  }
  std::lock_guard held(lock);
  auto& fingers = drawn[key];
  if (!fingers) {
    const auto finger = dactyra::sim::fingerprint::Finger::Generate(config.seed);
    auto made = std::make_shared<Fingers>();
    for (const Size size : config.sizes) {
      made->push_back(Drawable(size) ? finger.Render(size.width, size.height).pixels
                                     : std::vector<uint8_t>());
    }
    fingers = std::move(made);
  }
  return fingers;
}

// Pushes images until told to stop; the callback runs without any lock.
#ifdef _WIN32
// Windows runs a module's static destructors under the loader lock, which
// a thread needs in order to end: the unload cannot wait for a run to end.
// A run the unload stops parks instead: in one kernel call it tells the
// unload so and waits for ever, so it never runs this module's code again
// (the process ends it). `lock` is released first: nothing of the scanner
// is touched after.
void Park(std::unique_lock<std::mutex>& lock, HANDLE parked) {
  static const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  lock.unlock();
  SignalObjectAndWait(parked, never, INFINITE, FALSE);
}
#endif

void Pump(Scanner* scanner, Config config, std::shared_ptr<const Fingers> drawn) {
  const Fingers& fingers = *drawn;
  std::vector<uint8_t> pattern;
  uint8_t dummy[16] = {};
  for (long long k = 0;; ++k) {
    std::unique_lock lock(scanner->mutex);
    const bool idle = config.images >= 0 && k >= config.images;
    if (idle) {
      scanner->wake.wait(lock, [&] { return scanner->stop; });
    } else {
      scanner->wake.wait_for(lock, std::chrono::milliseconds(config.interval_ms),
                             [&] { return scanner->stop; });
    }
    if (scanner->stop) {
#ifdef _WIN32
      if (scanner->parked) Park(lock, scanner->parked);
#endif
      return;
    }
    const TFPSmmImageCallback image = scanner->image;
    void* context = scanner->context;
    lock.unlock();

    const size_t which = static_cast<size_t>(k) % config.sizes.size();
    const Size size = config.sizes[which];
    const uint8_t* pixels = dummy;
    if (Drawable(size)) {
      if (config.pattern) {
        pattern.resize(static_cast<size_t>(size.width) * size.height);
        for (int32_t y = 0; y < size.height; ++y) {
          for (int32_t x = 0; x < size.width; ++x) {
            pattern[static_cast<size_t>(y) * size.width + x] =
                static_cast<uint8_t>((k + x + 3 * y) & 0xFF);
          }
        }
        pixels = pattern.data();
      } else {
        pixels = fingers[which].data();
      }
    }
    Log("image " + Name(*scanner) + " " + std::to_string(size.width) + "x" +
        std::to_string(size.height));
    image(context, size.width, size.height, pixels);
  }
}

// --- The scanner object's table ----------------------------------------------

void FPSMM_THISCALL Unused(PFPSmmScannerImpl self, const char* name) {
  Find(self, name);
  Violation(std::string(name) + " called");
}
void FPSMM_THISCALL Destroy(PFPSmmScannerImpl self) { Unused(self, "Destroy"); }
void FPSMM_THISCALL Func04(PFPSmmScannerImpl self) { Unused(self, "func0x04"); }
void FPSMM_THISCALL Func08(PFPSmmScannerImpl self) { Unused(self, "func0x08"); }
void FPSMM_THISCALL Func14(PFPSmmScannerImpl self) { Unused(self, "func0x14"); }
void FPSMM_THISCALL Func18(PFPSmmScannerImpl self) { Unused(self, "func0x18"); }
void FPSMM_THISCALL Func1c(PFPSmmScannerImpl self) { Unused(self, "func0x1c"); }
void FPSMM_THISCALL Func20(PFPSmmScannerImpl self) { Unused(self, "func0x20"); }

int32_t FPSMM_THISCALL SetSomething(PFPSmmScannerImpl self, int32_t value) {
  Scanner* scanner = Find(self, "SetSomething");
  if (!scanner) return -1;
  Log("SetSomething " + Name(*scanner) + " " + std::to_string(value));
  if (value != 1) Violation("SetSomething with " + std::to_string(value));
  const int32_t status = ReadConfig().set_something;
  std::lock_guard lock(scanner->mutex);
  scanner->prepared = status == 0;
  return status;
}

int32_t FPSMM_THISCALL InitScanner(PFPSmmScannerImpl self, const TFPSmmChar* identifier) {
  Scanner* scanner = Find(self, "InitScanner");
  if (!scanner) return -1;
  Log("InitScanner " + Name(*scanner) + " " + Utf8(identifier));
  std::lock_guard lock(scanner->mutex);
  if (!scanner->prepared) Violation("InitScanner before SetSomething answered 0");
  const int32_t status = ReadConfig().init_scanner;
  scanner->initialised = status >= 0;
  return status;
}

int32_t FPSMM_THISCALL SetCallbacks(PFPSmmScannerImpl self, void* context,
                                    TFPSmmImageCallback image, TFPSmmNoticeCallback notice1,
                                    TFPSmmNoticeCallback notice2) {
  Scanner* scanner = Find(self, "SetCallbacks");
  if (!scanner) return -1;
  Log("SetCallbacks " + Name(*scanner));
  std::lock_guard lock(scanner->mutex);
  if (!image || !notice1 || !notice2) Violation("SetCallbacks with a null callback");
  if (scanner->capturing) Violation("SetCallbacks while capturing");
  const int32_t status = ReadConfig().callbacks_status;
  if (status >= 0) {
    scanner->has_callbacks = image != nullptr;
    scanner->context = context;
    scanner->image = image;
    scanner->notice1 = notice1;
    scanner->notice2 = notice2;
  }
  return status;
}

int32_t FPSMM_THISCALL StartCapture(PFPSmmScannerImpl self) {
  Scanner* scanner = Find(self, "StartCapture");
  if (!scanner) return -1;
  Log("StartCapture " + Name(*scanner));
  const Config config = ReadConfig();
  std::thread finished;
  {
    std::lock_guard lock(scanner->mutex);
    if (!scanner->has_callbacks) {
      Violation("StartCapture before SetCallbacks");
      return -1;
    }
    if (scanner->capturing) {
      Violation("StartCapture while capturing");
      return -1;
    }
    if (config.start_status < 0) return config.start_status;
    // A run stopped from its own callback ended without being joined.
    finished = std::move(scanner->thread);
  }
  if (finished.joinable()) finished.join();
  auto fingers = DrawFingers(config);
  TFPSmmNoticeCallback notice = nullptr;
  {
    std::lock_guard lock(scanner->mutex);
    scanner->stop = false;
    scanner->capturing = true;
    scanner->thread = std::thread(Pump, scanner, config, std::move(fingers));
    notice = scanner->notice1;
  }
  // Reports the start through a further callback, which the library must
  // take and ignore.
  if (notice) notice(1, scanner->id);
  return config.start_status;
}

int32_t FPSMM_THISCALL StopCapture(PFPSmmScannerImpl self) {
  Scanner* scanner = Find(self, "StopCapture");
  if (!scanner) return -1;
  Log("StopCapture " + Name(*scanner));
  const int32_t status = ReadConfig().stop_status;
  if (status < 0) return status;
  std::thread running;
  {
    std::lock_guard lock(scanner->mutex);
    if (!scanner->capturing) Violation("StopCapture while not capturing");
    scanner->capturing = false;
    scanner->stop = true;
    scanner->wake.notify_all();
    // From inside its own callback the run cannot be waited for: it ends
    // when the callback returns, and no callback follows.
    if (scanner->thread.joinable() && scanner->thread.get_id() != std::this_thread::get_id()) {
      running = std::move(scanner->thread);
    }
  }
  if (running.joinable()) running.join();
  Log("StopCapture " + Name(*scanner) + " done");
  return status;
}

const TFPSmmScannerVMT kTable = {
    Destroy, Func04, Func08, StartCapture, StopCapture,  Func14,
    Func18,  Func1c, Func20, InitScanner,  SetCallbacks, SetSomething,
};

// Records the load and the unload; at unload, ends every run still going
// (a library that forgot to stop would otherwise leave a thread in code
// that is about to vanish).
struct Lifetime {
  Lifetime() { Log("load", true); }
  ~Lifetime() {
    std::vector<std::unique_ptr<Scanner>> scanners;
    {
      std::lock_guard lock(g_mutex);
      scanners.swap(g_scanners);
    }
    for (const auto& scanner : scanners) {
      std::thread running;
      {
        std::lock_guard lock(scanner->mutex);
        if (scanner->capturing) Violation("unloaded while capturing " + Name(*scanner));
        scanner->stop = true;
#ifdef _WIN32
        // A run that ended already (or was ended with the process) is
        // joined; one still going parks (see Park).
        if (scanner->thread.joinable() &&
            WaitForSingleObject(pthread_gethandle(scanner->thread.native_handle()), 0) !=
                WAIT_OBJECT_0) {
          scanner->parked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        }
#endif
        scanner->wake.notify_all();
        running = std::move(scanner->thread);
      }
#ifdef _WIN32
      if (scanner->parked) {
        if (WaitForSingleObject(scanner->parked, 10000) != WAIT_OBJECT_0) {
          Violation("a run of " + Name(*scanner) + " did not end within 10 s of the unload");
        }
        CloseHandle(scanner->parked);
        running.detach();
      }
#endif
      if (running.joinable()) running.join();
    }
    Log("unload", true);
  }
} g_lifetime;

}  // namespace

// The exports carry names a C++ identifier may not have; the assembler
// names give them exactly.
#define FPSMM_SIM_EXPORT extern "C" __attribute__((visibility("default")))

FPSMM_SIM_EXPORT int32_t FPSMM_STDCALL SimInit(void) __asm__("_Init");
FPSMM_SIM_EXPORT int32_t FPSMM_STDCALL SimGetDeviceCount(int32_t* count) __asm__("_GetDeviceCount");
FPSMM_SIM_EXPORT int32_t FPSMM_STDCALL SimEnumDeviceIDs(int32_t capacity, const TFPSmmChar** ids,
                                                        int32_t* filled) __asm__("_EnumDeviceIDs");
FPSMM_SIM_EXPORT int32_t FPSMM_STDCALL
SimCreateScannerImpl(PFPSmmScannerImpl* impl) __asm__("_CreateScannerImpl");

int32_t FPSMM_STDCALL SimInit(void) {
  Log("_Init");
  return ReadConfig().init;
}

int32_t FPSMM_STDCALL SimGetDeviceCount(int32_t* count) {
  Log("_GetDeviceCount");
  const Config config = ReadConfig();
  if (!count) {
    Violation("_GetDeviceCount without a place for the count");
    return -1;
  }
  if (config.count_status < 0) return config.count_status;
  *count = static_cast<int32_t>(config.has_count ? config.count
                                                 : static_cast<long long>(config.ids.size()));
  return config.count_status;
}

int32_t FPSMM_STDCALL SimEnumDeviceIDs(int32_t capacity, const TFPSmmChar** ids, int32_t* filled) {
  Log("_EnumDeviceIDs " + std::to_string(capacity));
  const Config config = ReadConfig();
  if (capacity < 0 || (capacity > 0 && !ids) || !filled) {
    Violation("_EnumDeviceIDs with a bad array");
    return -1;
  }
  if (config.enum_status < 0) return config.enum_status;
  long long n = std::min<long long>(capacity, static_cast<long long>(config.ids.size()));
  if (config.fill >= 0) n = std::min<long long>(n, config.fill);
  std::lock_guard lock(g_mutex);
  g_id_texts.assign(config.ids.begin(), config.ids.begin() + n);
  for (long long i = 0; i < n; ++i) ids[i] = g_id_texts[static_cast<size_t>(i)].c_str();
  *filled = static_cast<int32_t>(n);
  return config.enum_status;
}

int32_t FPSMM_STDCALL SimCreateScannerImpl(PFPSmmScannerImpl* impl) {
  Log("_CreateScannerImpl");
  const Config config = ReadConfig();
  if (!impl) {
    Violation("_CreateScannerImpl without a place for the object");
    return -1;
  }
  if (config.create_status < 0) return config.create_status;
  auto scanner = std::make_unique<Scanner>();
  scanner->record.pVMT = &kTable;
  scanner->record.something = 0x5A5A5A5Au;
  scanner->record.maxWidth = static_cast<uint32_t>(config.max.width);
  scanner->record.maxHeight = static_cast<uint32_t>(config.max.height);
  std::lock_guard lock(g_mutex);
  scanner->id = g_next_id++;
  *impl = &scanner->record;
  g_scanners.push_back(std::move(scanner));
  return config.create_status;
}
