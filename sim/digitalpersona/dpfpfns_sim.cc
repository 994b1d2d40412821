// A stand-in for dpFpFns.so, written only against the binding's interface
// header: readers by device id from the configuration (sim_config.h),
// contexts that connect to one reader and, while monitored, signal its
// imageReady event once per image. The acquisition buffer holds a 16-byte
// head (magic, width, height) and the pixels. Calls that break the contract
// are reported on standard error and counted (FTSim_Violations).
//
// Test exports: FTSim_Trigger signals one image on every monitored context
// now and answers how many; FTSim_LastPostNs is the steady-clock time of the
// latest signal; FTSim_Contexts counts open contexts; FTSim_Violations
// counts violations.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/foreign_handles.h"
#include "platform/text.h"
#include "plugins/interface/digitalpersona.h"
#include "sim/digitalpersona/sim_config.h"

namespace {

using dactyra::sim::digitalpersona::NowNs;
using dactyra::sim::digitalpersona::ReaderPixels;
using dactyra::sim::digitalpersona::ReadSimConfig;
using dactyra::sim::digitalpersona::SimConfig;
using dactyra::sim::digitalpersona::SimReader;

constexpr const char* kName = "dpFpFns";
constexpr uint32_t kMagic = 0x31505046;  // "FPP1"
constexpr size_t kHead = 16;

void Violation(const std::string& what) { dactyra::sim::digitalpersona::Violation(kName, what); }

struct Context {
  bool connected = false;
  SimReader reader;
  int frame_ms = 0;
  void* image_ready = nullptr;
  bool monitored = false;
  bool ui_link = false;
  bool stop = false;
  std::thread frames;
};

std::mutex g_mutex;
std::condition_variable g_wake;
bool g_initialised = false;
std::set<Context*> g_contexts;
std::atomic<uint64_t> g_last_post_ns{0};

const SimReader* FindReader(const SimConfig& config, int64_t devid) {
  for (const SimReader& reader : config.readers) {
    if (reader.devid == devid) return &reader;
  }
  return nullptr;
}

void CopyText(const std::string& utf8, uint16_t* field, size_t capacity) {
  const dactyra::platform::Text text = dactyra::platform::FromUtf8(utf8);
  const size_t count = std::min(text.size(), capacity - 1);
  for (size_t i = 0; i < count; ++i) field[i] = text[i];
  field[count] = 0;
}

uint32_t AcquisitionBytes(const SimReader& reader) {
  return static_cast<uint32_t>(kHead + static_cast<size_t>(std::max(reader.width, 0)) *
                                           static_cast<size_t>(std::max(reader.height, 0)));
}

// Whether `handle` is an event the system knows (platform/foreign_handles.h).
bool IsEvent(void* handle) {
#ifdef _WIN32
  DWORD flags = 0;
  return handle != nullptr && GetHandleInformation(handle, &flags) != 0;
#else
  const int fd = DACTYRA_HANDLE_FD(handle);
  return fd >= 3 && fcntl(fd, F_GETFD) != -1;
#endif
}

// Under g_mutex.
bool Signal(Context& c) {
  if (!IsEvent(c.image_ready)) {
    Violation("the imageReady event went away while monitored");
    return false;
  }
  g_last_post_ns.store(NowNs());
#ifdef _WIN32
  return SetEvent(c.image_ready) != 0;
#else
  const uint64_t one = DACTYRA_EVENT_SIGNAL;
  return write(DACTYRA_HANDLE_FD(c.image_ready), &one, sizeof one) ==
         static_cast<ssize_t>(sizeof one);
#endif
}

Context* Known(TFTContext context, const char* call) {
  auto* c = static_cast<Context*>(context);
  if (!g_contexts.count(c)) {
    Violation(std::string(call) + " with an unknown context");
    return nullptr;
  }
  return c;
}

void StopFrames(std::unique_lock<std::mutex>& lock, Context& c) {
  if (!c.monitored) return;
  c.monitored = false;
  c.stop = true;
  g_wake.notify_all();
  lock.unlock();
  if (c.frames.joinable()) c.frames.join();
  lock.lock();
}

}  // namespace

DP_EXPORT int32_t DP_CDECL FT_init(void) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  if (config.Has("init", "fail")) return 1;
  std::lock_guard guard(g_mutex);
  g_initialised = true;
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_terminate(void) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  std::lock_guard guard(g_mutex);
  if (!g_initialised) Violation("FT_terminate without FT_init");
  if (!g_contexts.empty()) Violation("FT_terminate with contexts left open");
  if (config.Has("terminate", "fail")) return 1;
  g_initialised = false;
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_getNumDevices(int32_t* count) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  if (!count) {
    Violation("FT_getNumDevices without a count address");
    return 1;
  }
  *count = static_cast<int32_t>(config.readers.size());
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_getDeviceList(int32_t count, TFTDeviceInfo* list) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  if (config.Has("list", "fail")) return -1;
  if (count < 0 || (count > 0 && !list)) {
    Violation("FT_getDeviceList with a bad count or address");
    return -1;
  }
  const size_t n = std::min(static_cast<size_t>(count), config.readers.size());
  for (size_t i = 0; i < n; ++i) {
    const SimReader& r = config.readers[i];
    TFTDeviceInfo info{};
    info.devType = 1;
    info.devId = r.devid;
    CopyText(r.product, info.devName, std::size(info.devName));
    info.imgType = FT_GRAYSCALE;
    info.imgResolution = TFTImageResolution{500, 500};
    info.numIntensityLevels = 256;
    info.imgSize = TFTImageSize{r.width, r.height};
    info.imgOrientation = FT_PORTRAIT;
    info.maxImgSize = AcquisitionBytes(r);
    list[i] = info;
  }
  return static_cast<int32_t>(n);
}

DP_EXPORT int32_t DP_CDECL FT_getDeviceInfo(int64_t devId, TFTDeviceDetails* details) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  if (!details) {
    Violation("FT_getDeviceInfo without a record");
    return -1;
  }
  if (details->cbSize != 440) Violation("FT_getDeviceInfo: cbSize not 440");
  const SimReader* reader = FindReader(config, devId);
  if (!reader || reader->info_fails) return -1;
  std::memset(details, 0, sizeof *details);
  details->cbSize = 440;
  CopyText(reader->id, details->SerialNumber, std::size(details->SerialNumber));
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_createContext(TFTContext* context) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  if (!context) {
    Violation("FT_createContext without an address");
    return 1;
  }
  if (config.Has("context", "fail")) return 1;
  std::lock_guard guard(g_mutex);
  if (!g_initialised) Violation("FT_createContext before FT_init");
  auto* c = new Context;
  g_contexts.insert(c);
  *context = c;
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_connectDevice(TFTContext context, int64_t devId, int32_t mode) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  std::lock_guard guard(g_mutex);
  Context* c = Known(context, "FT_connectDevice");
  if (!c) return 1;
  if (mode != 2) Violation("FT_connectDevice: mode not 2");
  if (c->connected) Violation("FT_connectDevice twice");
  if (config.Has("connect", "fail")) return 1;
  const SimReader* reader = FindReader(config, devId);
  if (!reader) return 1;
  c->reader = *reader;
  c->frame_ms = config.frame_ms;
  c->connected = true;
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_startMonitoringDevice(TFTContext context, TFTDeviceEvents* events) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  std::lock_guard guard(g_mutex);
  Context* c = Known(context, "FT_startMonitoringDevice");
  if (!c) return 1;
  if (!c->connected) Violation("FT_startMonitoringDevice before FT_connectDevice");
  if (!events || !events->imageReady) {
    Violation("FT_startMonitoringDevice without an imageReady event");
    return 1;
  }
  if (events->fingerTouching || events->fingerRemoved || events->error || events->stop) {
    Violation("FT_startMonitoringDevice: events other than imageReady set");
  }
  if (!IsEvent(events->imageReady)) Violation("imageReady is not an event");
  if (config.Has("monitor", "fail")) return 1;
  c->image_ready = events->imageReady;
  c->monitored = true;
  c->stop = false;
  if (c->frame_ms > 0) {
    c->frames = std::thread([c] {
      std::unique_lock lock(g_mutex);
      while (!c->stop) {
        if (g_wake.wait_for(lock, std::chrono::milliseconds(c->frame_ms),
                            [c] { return c->stop; })) {
          break;
        }
        Signal(*c);
      }
    });
  }
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_setupUIlink(TFTContext context, TFTUILink* link, void* user) {
  const SimConfig config = ReadSimConfig("dpfpfns");
  std::lock_guard guard(g_mutex);
  Context* c = Known(context, "FT_setupUIlink");
  if (!c) return 1;
  if (!link || !link->Callback) {
    Violation("FT_setupUIlink without a callback");
    return 1;
  }
  if (link->Callback(user, 0, nullptr) == 0) Violation("the display callback answered false");
  if (link->Width != c->reader.width || link->Height != c->reader.height) {
    Violation("FT_setupUIlink: size is not the reader's");
  }
  if (link->Rate != 200 || link->Reserved0 || link->Reserved1 || link->Reserved3 ||
      link->IntensityLevels != 256 || link->Orientation != FT_PORTRAIT) {
    Violation("FT_setupUIlink: display link fields");
  }
  if (config.Has("uilink", "fail")) return 1;
  c->ui_link = true;
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_acquireImage(TFTContext context, int32_t mode, uint32_t bufferSize,
                                           void* buffer, int32_t* status, uint8_t* quality) {
  std::unique_lock lock(g_mutex);
  Context* c = Known(context, "FT_acquireImage");
  if (!c) return 1;
  if (mode != 2) Violation("FT_acquireImage: mode not 2");
  if (!c->monitored || !c->ui_link) Violation("FT_acquireImage on a context not set up");
  if (!buffer || !status || !quality) {
    Violation("FT_acquireImage with a null address");
    return 1;
  }
  const uint32_t needed = AcquisitionBytes(c->reader);
  if (bufferSize < needed) {
    Violation("FT_acquireImage: buffer smaller than maxImgSize");
    return 1;
  }
  const SimReader reader = c->reader;
  lock.unlock();
  const std::vector<uint8_t>& pixels = ReaderPixels(reader);
  const uint32_t head[4] = {kMagic, static_cast<uint32_t>(reader.width),
                            static_cast<uint32_t>(reader.height), 0};
  std::memcpy(buffer, head, sizeof head);
  std::memcpy(static_cast<uint8_t*>(buffer) + kHead, pixels.data(), needed - kHead);
  *quality = 1;
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_getImagePixels(const void* buffer, int32_t pixelCount,
                                             uint8_t* pixels) {
  if (!buffer || !pixels) {
    Violation("FT_getImagePixels with a null address");
    return 1;
  }
  uint32_t head[4];
  std::memcpy(head, buffer, sizeof head);
  if (head[0] != kMagic) {
    Violation("FT_getImagePixels of a buffer FT_acquireImage did not fill");
    return 1;
  }
  if (static_cast<int64_t>(pixelCount) != int64_t{head[1]} * head[2]) {
    Violation("FT_getImagePixels: count is not width x height");
    return 1;
  }
  std::memcpy(pixels, static_cast<const uint8_t*>(buffer) + kHead, static_cast<size_t>(pixelCount));
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_disconnectDevice(TFTContext context) {
  std::unique_lock lock(g_mutex);
  Context* c = Known(context, "FT_disconnectDevice");
  if (!c) return 1;
  if (!c->connected) Violation("FT_disconnectDevice of a context not connected");
  StopFrames(lock, *c);
  c->connected = false;
  c->image_ready = nullptr;
  return 0;
}

DP_EXPORT int32_t DP_CDECL FT_closeContext(TFTContext context) {
  std::unique_lock lock(g_mutex);
  Context* c = Known(context, "FT_closeContext");
  if (!c) return 1;
  if (c->connected || c->monitored) {
    Violation("FT_closeContext of a connected context");
    StopFrames(lock, *c);
  }
  g_contexts.erase(c);
  delete c;
  return 0;
}

DP_EXPORT int32_t FTSim_Trigger(void) {
  std::lock_guard guard(g_mutex);
  int32_t signalled = 0;
  for (Context* c : g_contexts) {
    if (c->monitored && Signal(*c)) ++signalled;
  }
  return signalled;
}

DP_EXPORT uint64_t FTSim_LastPostNs(void) { return g_last_post_ns.load(); }

DP_EXPORT int32_t FTSim_Contexts(void) {
  std::lock_guard guard(g_mutex);
  return static_cast<int32_t>(g_contexts.size());
}

DP_EXPORT int32_t FTSim_Violations(void) { return dactyra::sim::digitalpersona::Violations(); }
