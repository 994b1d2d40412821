// The Virdi reader plug-in's state and operations: readers listed under the
// names UCBioBSP reports, opened by name and captured one UCBioBSP capture
// per image. vxr_virdi.cc exports one process-wide instance through the
// reader plug-in interface; tests make their own over a clock of their own.
//
// Contract of each operation (the plug-in interface's, plus):
//   GetDeviceList  answers from the last enumeration while it is less than
//                  1000 ms old (unsigned tick difference, so a wrap of the
//                  32-bit tick count does not freeze it); otherwise
//                  initialises UCBioBSP when that has not succeeded yet,
//                  enumerates and remembers the readers, leaving out ID 200.
//   OpenDevice     the first listed reader of exactly that name (ID 255 never
//                  opens), refreshing a stale list first; null when UCBioBSP
//                  cannot open it or reports an image size that is not
//                  positive or whose bytes do not fit a signed 32-bit count.
//   GetImage       one UCBioBSP capture of up to 3000 ms; the last frame the
//                  capture callback saw, at 500 dpi, format 0.
//   GetMaxSize, GetImage, CloseDevice
//                  refuse (false) a null handle, a handle this instance did
//                  not open and one it has closed, without reading it and
//                  without calling UCBioBSP.
// Listing and opening must not run at the same time (the library serialises
// them); captures on different devices, and listing, may run side by side.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/env.h"
#include "plugins/interface/vxr_plugin.h"
#include "plugins/virdi/ucbiobsp.h"

namespace dactyra::virdi {

// The reader family; devices carry its address as their tag.
extern const char kPrefix[];

// Readers listed at most this long ago are not enumerated again.
inline constexpr uint32_t kListFreshMs = 1000;
// UCBioBSP reports these IDs: 200 is never listed, 255 never opened.
inline constexpr UCBioAPI_DEVICE_ID kUnlistedId = 200;
inline constexpr UCBioAPI_DEVICE_ID kUnopenableId = 255;
inline constexpr int32_t kResolution = 500;

class VirdiPlugin {
 public:
  explicit VirdiPlugin(platform::Env& env = platform::Env::Default());
  // Releases the reader list. UCBioBSP is not shut down, and devices never
  // closed stay allocated.
  ~VirdiPlugin();
  VirdiPlugin(const VirdiPlugin&) = delete;
  VirdiPlugin& operator=(const VirdiPlugin&) = delete;

  int32_t GetDeviceList(PVxrDeviceList buffer, int32_t size);
  TVxrCaptureHandle OpenDevice(const char* serial_number);
  bool CloseDevice(TVxrCaptureHandle handle);
  bool GetMaxSize(TVxrCaptureHandle handle, PVxrImageSize size);
  bool GetImage(TVxrCaptureHandle handle, PVxrImage image);

 private:
  struct Entry {
    std::string name;
    UCBioAPI_DEVICE_ID id;
  };
  struct Device;

  bool ListIsFresh();
  // Refreshes the list from UCBioBSP; false (list kept) when UCBioBSP cannot
  // be initialised or cannot enumerate.
  bool Enumerate();
  // The live device behind `handle`, or null; with `remove`, no longer
  // live afterwards.
  Device* Find(TVxrCaptureHandle handle, bool remove = false);

  platform::Env& env_;
  // 0 until UCBioAPI_Init succeeds, then kept. Read by captures on other
  // threads while a listing may retry the initialisation.
  std::atomic<UCBioAPI_HANDLE> sdk_{0};
  // Listing and opening only (serialised by the caller).
  std::vector<Entry> list_;
  bool enumerated_ = false;
  uint32_t enumerated_at_ = 0;
  // Devices opened and not yet closed; a handle is read only once found
  // here.
  std::mutex devices_lock_;
  std::unordered_set<const void*> devices_;
};

}  // namespace dactyra::virdi
