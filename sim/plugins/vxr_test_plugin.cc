// A configurable reader plug-in for tests, written only against the plug-in
// interface header.
//
// Behaviour is read, at every call, from "<stem>.conf" in the folder named by
// the environment variable VXR_TEST_DIR, <stem> being this file's own name
// without its extension; so several copies of the same build loaded at once
// behave differently. Every call, and the load and unload of the file, is
// appended as one line to "<stem>.log" in the same folder.
//
// Configuration lines, "key=value"; "#" starts a comment line. A key not
// listed here or a value that does not read ends the process with the file
// and line (sim/config):
//   prefix=TEXT               what VXR_GetPrefix answers (default "Test")
//   null_prefix=1             VXR_GetPrefix answers NULL
//   device=SERIAL             one device (repeat; an empty serial is allowed)
//   list_count=N              NumDevices to write instead of the true count
//   list_result=N             what VXR_GetDeviceList answers instead
//   list_pointer=I:OFFSET     pointer I set to the block address + OFFSET
//   list_unterminated=I       text I written without its NUL (an 'X' instead)
//   open_fails=1              VXR_OpenDevice answers NULL
//   max=WxH[xBYTES]           VXR_GetMaxSize answer (default 4x3, BYTES W*H)
//   max_fails=1               VXR_GetMaxSize answers false
//   image=WxH                 the header of delivered images (default: max);
//                             pixels written stay within the max BYTES
//   images=N                  images delivered per handle, then idle (-1: all)
//   image_delay_ms=N          wait before each delivery
//   pace=N                    N deliveries a second per handle on a fixed
//                             schedule, as a real reader keeps its pace
//                             however long the caller took (benchmarks)
//   idle=block|return|timeout:MS
//                             VXR_GetImage with nothing to deliver: wait for
//                             VXR_ShutdownDevice, return false, or wait MS
//   ignore_shutdown=1         VXR_ShutdownDevice answers true and does
//                             nothing: a VXR_GetImage under way goes on
//   command_result=N          VXR_SendCommand answer
//   command_delay_ms=N        VXR_SendCommand takes that long
//   command_answer=HEX        the pending result bytes
//   result_short=1            VXR_GetResult copies one byte fewer
//   frozen=1                  read this file once and keep it (benchmarks)
//   quiet=1                   log only the load and the unload (benchmarks)
//   stamp=1                   the first 8 pixel bytes of an image carry the
//                             monotonic clock (CLOCK_MONOTONIC, nanoseconds,
//                             little-endian) when VXR_GetImage returns it
//                             (latency benchmarks)
//
// Pixel (x, y) of the k-th image (from 0) of a handle is (k + x + 3y) & 0xFF.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "plugins/interface/vxr_plugin.h"
#include "sim/config/standin_files.h"

struct TVxrCapture {
  int id = 0;
  std::string serial;
  bool shutdown = false;
  int delivered = 0;
  std::chrono::steady_clock::time_point due{};  // of the next paced delivery
  int in_get_image = 0;
  int in_command = 0;
};

namespace {

namespace config = dactyra::sim::config;

struct Config {
  std::string prefix = "Test";
  bool null_prefix = false;
  std::vector<std::string> devices;
  long long list_count = -1;  // -1: the true count
  bool has_list_result = false;
  int32_t list_result = 0;
  std::vector<std::pair<long long, long long>> list_pointers;
  std::vector<long long> list_unterminated;
  bool open_fails = false;
  int32_t max_width = 4, max_height = 3, max_bytes = 12;
  bool max_fails = false;
  bool has_image = false;
  int32_t image_width = 0, image_height = 0;
  int images = -1;
  int image_delay_ms = 0;
  int pace = 0;
  enum class Idle { kBlock, kReturn, kTimeout } idle = Idle::kBlock;
  int idle_timeout_ms = 0;
  bool ignore_shutdown = false;
  int32_t command_result = 0;
  int command_delay_ms = 0;
  std::string command_answer;
  bool result_short = false;
  bool frozen = false;
  bool quiet = false;
  bool stamp = false;
};

// Paths of this copy's files; empty when VXR_TEST_DIR is not set.
struct Files {
  std::string config;
  std::string log;
};

std::mutex g_mutex;
std::condition_variable g_wake;
std::set<TVxrCapture*> g_handles;
int g_next_id = 1;
std::string g_prefix;
std::string g_result;
// Set by a configuration with quiet=1 or frozen=1.
std::atomic<bool> g_quiet{false};
std::mutex g_frozen_mutex;
std::unique_ptr<Config> g_frozen;

Files LocateFiles() {
  const char* dir = std::getenv("VXR_TEST_DIR");
  const std::string stem = config::OwnStem(reinterpret_cast<void*>(&LocateFiles));
  if (!dir || !*dir || stem.empty()) return {};
  return {std::string(dir) + "/" + stem + ".conf", std::string(dir) + "/" + stem + ".log"};
}

const Files& OwnFiles() {
  static const Files files = LocateFiles();
  return files;
}

void Log(const std::string& line, bool always = false) {
  if (g_quiet && !always) return;
  config::AppendLine(OwnFiles().log, line);
}

void SetSize(std::string_view value, int32_t& w, int32_t& h, int32_t* bytes) {
  const auto parts = config::Numbers<int32_t>(value, 'x', 2, bytes ? 3 : 2);
  w = parts[0];
  h = parts[1];
  if (bytes) *bytes = parts.size() == 3 ? parts[2] : static_cast<int32_t>(int64_t{w} * h);
}

using config::Flag;
using config::Number;

const config::KeyTable<Config> kKeys = {
    {"prefix", [](Config& c, std::string_view v) { c.prefix = v; }},
    {"null_prefix", [](Config& c, std::string_view v) { c.null_prefix = Flag(v); }},
    {"device", [](Config& c, std::string_view v) { c.devices.emplace_back(v); }},
    {"list_count", [](Config& c, std::string_view v) { c.list_count = Number<uint32_t>(v); }},
    {"list_result",
     [](Config& c, std::string_view v) {
       c.has_list_result = true;
       c.list_result = Number<int32_t>(v);
     }},
    {"list_pointer",
     [](Config& c, std::string_view v) {
       const auto at = config::Numbers<int64_t>(v, ':', 2, 2);
       c.list_pointers.emplace_back(at[0], at[1]);
     }},
    {"list_unterminated",
     [](Config& c, std::string_view v) { c.list_unterminated.push_back(Number<int64_t>(v)); }},
    {"open_fails", [](Config& c, std::string_view v) { c.open_fails = Flag(v); }},
    {"max",
     [](Config& c, std::string_view v) { SetSize(v, c.max_width, c.max_height, &c.max_bytes); }},
    {"max_fails", [](Config& c, std::string_view v) { c.max_fails = Flag(v); }},
    {"image",
     [](Config& c, std::string_view v) {
       c.has_image = true;
       SetSize(v, c.image_width, c.image_height, nullptr);
     }},
    {"images", [](Config& c, std::string_view v) { c.images = Number<int>(v); }},
    {"image_delay_ms", [](Config& c, std::string_view v) { c.image_delay_ms = Number<int>(v); }},
    {"pace", [](Config& c, std::string_view v) { c.pace = Number<int>(v); }},
    {"idle",
     [](Config& c, std::string_view v) {
       if (v.starts_with("timeout:")) {
         c.idle = Config::Idle::kTimeout;
         c.idle_timeout_ms = Number<int>(v.substr(8));
       } else {
         c.idle = config::Choice(
             v, {std::pair{"block", Config::Idle::kBlock}, {"return", Config::Idle::kReturn}});
       }
     }},
    {"command_result",
     [](Config& c, std::string_view v) { c.command_result = Number<int32_t>(v); }},
    {"command_delay_ms",
     [](Config& c, std::string_view v) { c.command_delay_ms = Number<int>(v); }},
    {"command_answer",
     [](Config& c, std::string_view v) {
       if (v.size() % 2) throw std::invalid_argument("an odd number of hex digits");
       c.command_answer.clear();
       for (size_t i = 0; i < v.size(); i += 2) {
         c.command_answer.push_back(
             static_cast<char>(Number<uint8_t>("0x" + std::string(v.substr(i, 2)))));
       }
     }},
    {"ignore_shutdown", [](Config& c, std::string_view v) { c.ignore_shutdown = Flag(v); }},
    {"result_short", [](Config& c, std::string_view v) { c.result_short = Flag(v); }},
    {"stamp", [](Config& c, std::string_view v) { c.stamp = Flag(v); }},
    {"frozen", [](Config& c, std::string_view v) { c.frozen = Flag(v); }},
    {"quiet", [](Config& c, std::string_view v) { c.quiet = Flag(v); }},
};

Config ReadConfigFile() {
  Config config;
  config::LoadFlat(OwnFiles().config, kKeys, "vxr_test", config);
  if (!config.has_image) {
    config.image_width = config.max_width;
    config.image_height = config.max_height;
  }
  return config;
}

Config ReadConfig() {
  std::lock_guard lock(g_frozen_mutex);
  if (g_frozen) return *g_frozen;
  Config config = ReadConfigFile();
  g_quiet = config.quiet;
  if (config.frozen) g_frozen = std::make_unique<Config>(config);
  return config;
}

std::string HandleName(TVxrCaptureHandle handle) {
  if (!handle) return "null";
  if (!g_handles.count(handle)) return "unknown";
  return std::to_string(handle->id);
}

// Records the load and the unload of this file.
struct LoadRecorder {
  LoadRecorder() { Log("load", true); }
  ~LoadRecorder() { Log("unload", true); }
} g_load_recorder;

}  // namespace

VXR_EXPORT const char* VXR_STDCALL VXR_GetPrefix(void);
const char* VXR_STDCALL VXR_GetPrefix(void) {
  Log("GetPrefix");
  const Config config = ReadConfig();
  if (config.null_prefix) return nullptr;
  std::lock_guard lock(g_mutex);
  // Kept for the life of the file, as the interface asks.
  g_prefix = config.prefix;
  return g_prefix.c_str();
}

VXR_EXPORT int32_t VXR_STDCALL VXR_GetDeviceList(PVxrDeviceList pBuffer, int32_t size);
int32_t VXR_STDCALL VXR_GetDeviceList(PVxrDeviceList pBuffer, int32_t size) {
  Log("GetDeviceList " + std::to_string(size));
  const Config config = ReadConfig();
  const size_t count = config.devices.size();
  size_t needed = VXR_DEVICE_LIST_EMPTY_SIZE;
  for (const std::string& serial : config.devices)
    needed += VXR_DEVICE_LIST_ENTRY_SIZE(serial.size());
  const int32_t answer = config.has_list_result ? config.list_result : static_cast<int32_t>(needed);
  if (size < 4 || !pBuffer) return answer;
  uint8_t* block = reinterpret_cast<uint8_t*>(pBuffer);
  const uint32_t written_count = config.list_count >= 0 ? static_cast<uint32_t>(config.list_count)
                                                        : static_cast<uint32_t>(count);
  std::memcpy(block, &written_count, 4);
  if (static_cast<size_t>(size) < needed) return answer;
  size_t text = VXR_DEVICE_LIST_TEXT_OFFSET(count);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* at = block + text;
    for (const auto& [index, offset] : config.list_pointers) {
      if (index == static_cast<long long>(i)) at = block + offset;
    }
    std::memcpy(block + 4 + i * sizeof(char*), &at, sizeof(char*));
    const std::string& serial = config.devices[i];
    std::memcpy(block + text, serial.data(), serial.size());
    const bool unterminated =
        std::find(config.list_unterminated.begin(), config.list_unterminated.end(),
                  static_cast<long long>(i)) != config.list_unterminated.end();
    block[text + serial.size()] = unterminated ? 'X' : 0;
    text += serial.size() + 1;
  }
  return answer;
}

VXR_EXPORT TVxrCaptureHandle VXR_STDCALL VXR_OpenDevice(const char* serialNumber);
TVxrCaptureHandle VXR_STDCALL VXR_OpenDevice(const char* serialNumber) {
  const std::string serial = serialNumber ? serialNumber : "(null)";
  Log("OpenDevice [" + serial + "]");
  const Config config = ReadConfig();
  if (!serialNumber || config.open_fails ||
      std::find(config.devices.begin(), config.devices.end(), serial) == config.devices.end()) {
    return nullptr;
  }
  auto device = std::make_unique<TVxrCapture>();
  device->serial = serial;
  std::lock_guard lock(g_mutex);
  device->id = g_next_id++;
  TVxrCapture* handle = device.release();
  g_handles.insert(handle);
  return handle;
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_CloseDevice(TVxrCaptureHandle handle);
TVxrBool VXR_STDCALL VXR_CloseDevice(TVxrCaptureHandle handle) {
  std::unique_lock lock(g_mutex);
  const std::string name = HandleName(handle);
  if (name == "null" || name == "unknown") {
    lock.unlock();
    Log("CloseDevice " + name);
    return VXR_FALSE;
  }
  // The interface promises that no image call runs on a handle being
  // closed; record it when the library breaks that.
  const bool violation = handle->in_get_image > 0 || handle->in_command > 0;
  g_handles.erase(handle);
  std::unique_ptr<TVxrCapture> owned(violation ? nullptr : handle);
  lock.unlock();
  Log("CloseDevice " + name);
  if (violation) Log("VIOLATION CloseDevice during an image call or a command " + name);
  return VXR_TRUE;
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_ShutdownDevice(TVxrCaptureHandle handle);
TVxrBool VXR_STDCALL VXR_ShutdownDevice(TVxrCaptureHandle handle) {
  const bool ignored = ReadConfig().ignore_shutdown;
  std::unique_lock lock(g_mutex);
  const std::string name = HandleName(handle);
  const bool known = name != "null" && name != "unknown";
  if (known && !ignored) {
    handle->shutdown = true;
    g_wake.notify_all();
  }
  lock.unlock();
  Log("ShutdownDevice " + name + (ignored ? " (ignored)" : ""));
  return known ? VXR_TRUE : VXR_FALSE;
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_GetMaxSize(TVxrCaptureHandle handle, PVxrImageSize pSize);
TVxrBool VXR_STDCALL VXR_GetMaxSize(TVxrCaptureHandle handle, PVxrImageSize pSize) {
  std::string name;
  {
    std::lock_guard lock(g_mutex);
    name = HandleName(handle);
  }
  Log("GetMaxSize " + name);
  const Config config = ReadConfig();
  if (name == "null" || name == "unknown" || !pSize || config.max_fails) return VXR_FALSE;
  pSize->Width = config.max_width;
  pSize->Height = config.max_height;
  pSize->ByteSize = config.max_bytes;
  return VXR_TRUE;
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_GetImage(TVxrCaptureHandle handle, PVxrImage pImage);
TVxrBool VXR_STDCALL VXR_GetImage(TVxrCaptureHandle handle, PVxrImage pImage) {
  std::unique_lock lock(g_mutex);
  const std::string name = HandleName(handle);
  const bool known = name != "null" && name != "unknown";
  // Counted before the lock goes, so that a CloseDevice racing this call is
  // seen (and the handle kept) rather than freed under it.
  if (known) ++handle->in_get_image;
  lock.unlock();
  Log("GetImage " + name);
  if (!known) return VXR_FALSE;
  struct Leave {
    TVxrCapture* handle;
    std::unique_lock<std::mutex>& lock;
    ~Leave() {
      if (!lock.owns_lock()) lock.lock();
      --handle->in_get_image;
    }
  } leave{handle, lock};
  if (!pImage) return VXR_FALSE;
  const Config config = ReadConfig();
  lock.lock();
  if (handle->shutdown) return VXR_FALSE;
  if (config.images >= 0 && handle->delivered >= config.images) {
    switch (config.idle) {
      case Config::Idle::kReturn:
        return VXR_FALSE;
      case Config::Idle::kTimeout:
        g_wake.wait_for(lock, std::chrono::milliseconds(config.idle_timeout_ms),
                        [&] { return handle->shutdown; });
        return VXR_FALSE;
      case Config::Idle::kBlock:
        g_wake.wait(lock, [&] { return handle->shutdown; });
        return VXR_FALSE;
    }
  }
  if (config.image_delay_ms > 0) {
    if (g_wake.wait_for(lock, std::chrono::milliseconds(config.image_delay_ms),
                        [&] { return handle->shutdown; })) {
      return VXR_FALSE;
    }
  }
  if (config.pace > 0) {
    // Frames come a period apart whoever waits for them: one that a late
    // caller missed is gone, as a real reader's is, so a slow host shows as
    // a lower rate, not as a burst of stored frames.
    const auto now = std::chrono::steady_clock::now();
    const auto period = std::chrono::nanoseconds(1000000000 / config.pace);
    if (handle->due + period < now) handle->due = now;
    if (g_wake.wait_until(lock, handle->due, [&] { return handle->shutdown; })) return VXR_FALSE;
    handle->due += period;
  }
  const int k = handle->delivered++;
  lock.unlock();
  pImage->Size.Width = config.image_width;
  pImage->Size.Height = config.image_height;
  pImage->Size.ByteSize = static_cast<int32_t>(static_cast<uint32_t>(config.image_width) *
                                               static_cast<uint32_t>(config.image_height));
  pImage->Format = 0;
  pImage->Resolution = 500;
  // A header may claim more than fits; the pixels written never do.
  const long long limit = std::min<long long>(
      static_cast<long long>(config.image_width) * config.image_height, config.max_bytes);
  uint8_t* pixels = VXR_IMAGE_PIXELS(pImage);
  const int32_t w = std::max(config.image_width, 1);
  for (long long i = 0; i < limit; ++i) {
    const long long x = i % w, y = i / w;
    pixels[i] = static_cast<uint8_t>((k + x + 3 * y) & 0xFF);
  }
  if (config.stamp && limit >= 8) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ns =
        static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    for (int b = 0; b < 8; ++b) pixels[b] = static_cast<uint8_t>(ns >> (8 * b));
  }
  lock.lock();
  return VXR_TRUE;
}

VXR_EXPORT int32_t VXR_STDCALL VXR_SendCommand(TVxrCaptureHandle handle, const char* pCommand,
                                               const void* pArgs);
int32_t VXR_STDCALL VXR_SendCommand(TVxrCaptureHandle handle, const char* pCommand,
                                    const void* pArgs) {
  std::unique_lock lock(g_mutex);
  const std::string name = HandleName(handle);
  const bool known = name != "null" && name != "unknown";
  if (known) ++handle->in_command;
  lock.unlock();
  const char* args = static_cast<const char*>(pArgs);
  Log("SendCommand " + name + " [" + (pCommand ? pCommand : "(null)") + "] [" +
      (args ? args : "(null)") + "]");
  const Config config = ReadConfig();
  if (config.command_delay_ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(config.command_delay_ms));
  }
  lock.lock();
  if (known) --handle->in_command;
  g_result = config.command_answer;
  return config.command_result;
}

VXR_EXPORT int32_t VXR_STDCALL VXR_GetResult(TVxrCaptureHandle handle, void* pResult, int32_t size);
int32_t VXR_STDCALL VXR_GetResult(TVxrCaptureHandle handle, void* pResult, int32_t size) {
  std::string name;
  std::string result;
  {
    std::lock_guard lock(g_mutex);
    name = HandleName(handle);
    result = g_result;
  }
  Log("GetResult " + name + " " + std::to_string(size));
  const Config config = ReadConfig();
  if (!pResult || size <= 0) return 0;
  size_t n = std::min(result.size(), static_cast<size_t>(size));
  if (config.result_short && n > 0) --n;
  std::memcpy(pResult, result.data(), n);
  return static_cast<int32_t>(n);
}
