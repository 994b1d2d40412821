// A stand-in for DPFPApi.so, written only against the binding's interface
// header: readers by GUID from the configuration (sim_config.h) and
// acquisitions that post every image to the window they were given, as
// message 1288 with a notice and an image block that stay valid until the
// acquisition is destroyed. Calls that break the contract are reported on
// standard error and counted (DPSim_Violations).
//
// Test exports: DPSim_Trigger posts one image to every started acquisition
// now and answers how many were posted; DPSim_LastPostNs is the steady-clock
// time of the latest post; DPSim_Acquisitions counts the acquisitions that
// exist; DPSim_Violations counts violations.
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

constexpr const char* kName = "DPFPApi";
// Pixels begin past the fixed head, so a reader of the block must use the
// offset at byte 40.
constexpr uint32_t kDataOffset = 96;

void Violation(const std::string& what) { dactyra::sim::digitalpersona::Violation(kName, what); }

struct Acquisition {
  SimReader reader;
  void* window = nullptr;
  uint32_t message = 0;
  bool wparam1 = false;
  int frame_ms = 0;
  std::vector<uint8_t> block;
  TDPFPImageNotice notice{};
  bool started = false;
  bool stop = false;
  std::thread frames;
};

std::mutex g_mutex;
std::condition_variable g_wake;
bool g_initialised = false;
std::set<Acquisition*> g_acquisitions;
std::set<void*> g_buffers;
std::atomic<uint64_t> g_last_post_ns{0};

const SimReader* FindReader(const SimConfig& config, const TDPGuid* guid) {
  for (const SimReader& reader : config.readers) {
    if (std::memcmp(reader.guid, guid, sizeof *guid) == 0) return &reader;
  }
  return nullptr;
}

void CopyText(const std::string& utf8, uint16_t* field, size_t capacity) {
  const dactyra::platform::Text text = dactyra::platform::FromUtf8(utf8);
  const size_t count = std::min(text.size(), capacity - 1);
  for (size_t i = 0; i < count; ++i) field[i] = text[i];
  field[count] = 0;
}

#ifdef _WIN32
bool WindowAlive(void* window) { return IsWindow(static_cast<HWND>(window)) != 0; }

bool PostRecord(void* window, uint32_t message, uintptr_t wparam, const void* lparam) {
  return PostMessageW(static_cast<HWND>(window), message, wparam,
                      reinterpret_cast<LPARAM>(lparam)) != 0;
}
#else
bool WindowAlive(void* window) {
  const int fd = DACTYRA_HANDLE_FD(window);
  return fd >= 3 && fcntl(fd, F_GETFD) != -1;
}

bool PostRecord(void* window, uint32_t message, uintptr_t wparam, const void* lparam) {
  const DactyraPostedMessage record{message, 0, wparam, reinterpret_cast<intptr_t>(lparam)};
  return write(DACTYRA_HANDLE_FD(window), &record, sizeof record) ==
         static_cast<ssize_t>(sizeof record);
}
#endif

// Under g_mutex.
bool PostImage(Acquisition& a) {
  if (!WindowAlive(a.window)) {
    Violation("the window went away while its acquisition runs");
    return false;
  }
  g_last_post_ns.store(NowNs());
  if (a.wparam1) PostRecord(a.window, a.message, 1, &a.notice);
  return PostRecord(a.window, a.message, DP_IMAGE_WPARAM, &a.notice);
}

void BuildBlock(Acquisition& a) {
  const SimReader& r = a.reader;
  const std::vector<uint8_t>& pixels = ReaderPixels(r);
  const size_t row = static_cast<size_t>(std::max(r.width, 1));
  const size_t rows = static_cast<size_t>(std::max(r.height, 1));
  a.block.assign(kDataOffset + row * rows, 0);
  TDPFPImageBlockHead head{};
  head.DataOffset = kDataOffset;
  head.Width = static_cast<int32_t>(row);
  head.Height = r.bottom_up ? -static_cast<int32_t>(rows) : static_cast<int32_t>(rows);
  std::memcpy(a.block.data(), &head, sizeof head);
  for (size_t y = 0; y < rows; ++y) {
    const size_t stored = r.bottom_up ? rows - 1 - y : y;
    std::memcpy(a.block.data() + kDataOffset + stored * row, pixels.data() + y * row, row);
  }
  a.notice.Size = sizeof a.notice;
  a.notice.ImageBlock = a.block.data();
}

void StopFrames(std::unique_lock<std::mutex>& lock, Acquisition& a) {
  if (!a.started) return;
  a.stop = true;
  a.started = false;
  g_wake.notify_all();
  lock.unlock();
  if (a.frames.joinable()) a.frames.join();
  lock.lock();
}

}  // namespace

DP_EXPORT int32_t DP_STDCALL DPFPInit(void) {
  const SimConfig config = ReadSimConfig("dpfpapi");
  if (config.Has("init", "fail")) return 1;
  std::lock_guard guard(g_mutex);
  g_initialised = true;
  return 0;
}

DP_EXPORT int32_t DP_STDCALL DPFPTerm(void) {
  std::lock_guard guard(g_mutex);
  if (!g_initialised) Violation("DPFPTerm without DPFPInit");
  if (!g_acquisitions.empty()) Violation("DPFPTerm with acquisitions left");
  if (!g_buffers.empty()) Violation("DPFPTerm with GUID buffers not freed");
  g_initialised = false;
  return 0;
}

DP_EXPORT int32_t DP_STDCALL DPFPEnumerateDevices(uint32_t* count, TDPGuid** guids) {
  const SimConfig config = ReadSimConfig("dpfpapi");
  std::lock_guard guard(g_mutex);
  if (!g_initialised) Violation("DPFPEnumerateDevices before DPFPInit");
  if (!count) {
    Violation("DPFPEnumerateDevices without a count address");
    return 1;
  }
  if (config.Has("enumerate", "fail")) return 1;
  *count = static_cast<uint32_t>(config.readers.size());
  if (guids) {
    auto* buffer = static_cast<TDPGuid*>(std::calloc(config.readers.size() + 1, sizeof(TDPGuid)));
    for (size_t i = 0; i < config.readers.size(); ++i) {
      std::memcpy(&buffer[i], config.readers[i].guid, sizeof(TDPGuid));
    }
    g_buffers.insert(buffer);
    *guids = buffer;
  }
  return 0;
}

DP_EXPORT void DP_STDCALL DPFPBufferFree(void* buffer) {
  std::lock_guard guard(g_mutex);
  if (g_buffers.erase(buffer) == 0) {
    Violation("DPFPBufferFree of a buffer it did not hand out");
    return;
  }
  std::free(buffer);
}

DP_EXPORT int32_t DP_STDCALL DPFPGetDeviceInfo(const TDPGuid* guid, TDPFPDeviceInfo* info) {
  const SimConfig config = ReadSimConfig("dpfpapi");
  if (!guid || !info) {
    Violation("DPFPGetDeviceInfo with a null address");
    return 1;
  }
  if (info->cbSize != sizeof *info) Violation("DPFPGetDeviceInfo: cbSize not set");
  const SimReader* reader = FindReader(config, guid);
  if (!reader || reader->info_fails) return 1;
  const uint32_t size = info->cbSize;
  std::memset(info, 0, sizeof *info);
  info->cbSize = size;
  CopyText(reader->product, info->ProductName, std::size(info->ProductName));
  CopyText(reader->id, info->SerialNumber, std::size(info->SerialNumber));
  return 0;
}

DP_EXPORT int32_t DP_STDCALL DPFPCreateAcquisition(int32_t priority, const TDPGuid* guid,
                                                   uint32_t kind, TDPHandle window,
                                                   uint32_t message,
                                                   TDPFPAcquisition* acquisition) {
  const SimConfig config = ReadSimConfig("dpfpapi");
  if (priority != 1 && priority != 3) Violation("DPFPCreateAcquisition: priority not 1 or 3");
  if (kind != 4) Violation("DPFPCreateAcquisition: kind not 4");
  if (message != DP_WM_IMAGE) Violation("DPFPCreateAcquisition: message not 1288");
  if (!WindowAlive(window)) Violation("DPFPCreateAcquisition: no window");
  if (!guid || !acquisition) {
    Violation("DPFPCreateAcquisition with a null address");
    return 1;
  }
  if (config.Has("create", "failall") || (priority == 1 && config.Has("create", "fail1"))) {
    return 1;
  }
  const SimReader* reader = FindReader(config, guid);
  if (!reader) return 1;
  auto a = std::make_unique<Acquisition>();
  a->reader = *reader;
  a->window = window;
  a->message = message;
  a->wparam1 = config.Has("wparam1", "1");
  a->frame_ms = config.frame_ms;
  BuildBlock(*a);
  std::lock_guard guard(g_mutex);
  if (!g_initialised) Violation("DPFPCreateAcquisition before DPFPInit");
  *acquisition = a.get();
  g_acquisitions.insert(a.release());
  return 0;
}

DP_EXPORT int32_t DP_STDCALL DPFPStartAcquisition(TDPFPAcquisition acquisition) {
  const SimConfig config = ReadSimConfig("dpfpapi");
  std::lock_guard guard(g_mutex);
  auto* a = static_cast<Acquisition*>(acquisition);
  if (!g_acquisitions.count(a)) {
    Violation("DPFPStartAcquisition of an unknown acquisition");
    return 1;
  }
  if (a->started) Violation("DPFPStartAcquisition twice");
  if (config.Has("start", "fail")) return 1;
  a->started = true;
  a->stop = false;
  if (a->frame_ms > 0) {
    a->frames = std::thread([a] {
      std::unique_lock lock(g_mutex);
      while (!a->stop) {
        if (g_wake.wait_for(lock, std::chrono::milliseconds(a->frame_ms),
                            [a] { return a->stop; })) {
          break;
        }
        PostImage(*a);
      }
    });
  }
  return 0;
}

DP_EXPORT int32_t DP_STDCALL DPFPStopAcquisition(TDPFPAcquisition acquisition) {
  std::unique_lock lock(g_mutex);
  auto* a = static_cast<Acquisition*>(acquisition);
  if (!g_acquisitions.count(a)) {
    Violation("DPFPStopAcquisition of an unknown acquisition");
    return 1;
  }
  if (!a->started) Violation("DPFPStopAcquisition of an acquisition not started");
  StopFrames(lock, *a);
  return 0;
}

DP_EXPORT int32_t DP_STDCALL DPFPDestroyAcquisition(TDPFPAcquisition acquisition) {
  std::unique_lock lock(g_mutex);
  auto* a = static_cast<Acquisition*>(acquisition);
  if (!g_acquisitions.count(a)) {
    Violation("DPFPDestroyAcquisition of an unknown acquisition");
    return 1;
  }
  if (a->started) {
    Violation("DPFPDestroyAcquisition of a started acquisition");
    StopFrames(lock, *a);
  }
  g_acquisitions.erase(a);
  delete a;
  return 0;
}

DP_EXPORT int32_t DPSim_Trigger(void) {
  std::lock_guard guard(g_mutex);
  int32_t posted = 0;
  for (Acquisition* a : g_acquisitions) {
    if (a->started && PostImage(*a)) ++posted;
  }
  return posted;
}

DP_EXPORT uint64_t DPSim_LastPostNs(void) { return g_last_post_ns.load(); }

DP_EXPORT int32_t DPSim_Acquisitions(void) {
  std::lock_guard guard(g_mutex);
  return static_cast<int32_t>(g_acquisitions.size());
}

DP_EXPORT int32_t DPSim_Violations(void) { return dactyra::sim::digitalpersona::Violations(); }
