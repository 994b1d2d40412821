// The Lumidigm plug-in's logic behind its exports: sensors listed by serial,
// opened, armed and polled one step per call, composite images handed back
// as image records. It starts no thread and prints nothing.
//
// Beyond the plain protocol it keeps these guarantees:
// - A handle is accepted only while it is live: handles are kept in a set,
//   so a closed or foreign handle is refused without being read.
// - Each listed serial keeps the device number the listing found for it, so
//   a sensor that did not answer does not shift the others.
// - VXR_GetImage before VXR_GetMaxSize is refused (no size to report).
// - A composite image of any length but the caller's ByteSize (W x H) is
//   refused, nothing copied, and the sensor re-armed: a longer one would
//   overrun the caller's buffer, a shorter one leave part of it unwritten.
// - A sensor that stops answering (pulled out, its service gone) is looked
//   for again by serial after each failed status poll, so capture goes on
//   when it comes back, under whatever device number it then has. A call
//   that does not find it pauses (kAbsentPauseMs) before it returns false,
//   outside the step, so a host's capture loop does not spin meanwhile.
// - Shutdown from another thread ends the exchange a running step is in
//   (a sensor answering late is not waited out), waits for the step to
//   end, then disarms and closes the transport, so no exchange runs on a
//   closed transport.
// - The status polls after a disarm end after kSettleBudgetMs: a sensor
//   that never settles makes the step fail without arming, rather than
//   keep the caller for ever.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "plugins/interface/vxr_plugin.h"
#include "plugins/lumidigm/front/sensor_access.h"
#include "plugins/lumidigm/v100/records.h"
#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::lumidigm {

// The prefix text; its address tags every live device.
extern const char kPrefix[];

// The pause of a capture step that found its sensor gone.
inline constexpr uint32_t kAbsentPauseMs = 100;
// How long the status polls after a disarm may wait for the sensor to
// settle (status 0 or 10); a sensor settles within milliseconds, one that
// has not after this never will.
inline constexpr uint32_t kSettleBudgetMs = 2000;

enum class CaptureState : uint32_t {
  kIdle = 0,
  kArmedType1 = 1,
  kImagePending = 2,
  kArmedType4 = 3,
};

struct V100Device {
  const char* tag = kPrefix;
  v100::V100TransportInfo transport;
  v100::V100Config config;
  CaptureState state = CaptureState::kIdle;
  std::atomic<bool> closed{false};
  std::atomic<bool> stop{false};
  std::string serial;
  TVxrImageSize size_cache{};
  bool size_known = false;
  // Held by each capture step and by shutdown: the transport is never closed
  // under a running exchange.
  std::mutex step;
  // Held while the transport record changes (a step that finds its sensor
  // again) and while a shutdown ends the exchange in progress on it; never
  // held across an exchange. Lock order: step, then transport_lock.
  std::mutex transport_lock;
};

class LumidigmFront {
 public:
  explicit LumidigmFront(SensorAccess& sensors) : sensors_(sensors) {}
  ~LumidigmFront();
  LumidigmFront(const LumidigmFront&) = delete;
  LumidigmFront& operator=(const LumidigmFront&) = delete;

  int32_t GetDeviceList(PVxrDeviceList buffer, int32_t size);
  V100Device* OpenDevice(const char* serial);
  bool ShutdownDevice(V100Device* device);
  bool CloseDevice(V100Device* device);
  bool GetMaxSize(V100Device* device, PVxrImageSize size);
  bool GetImage(V100Device* device, PVxrImage image);

  // The serials of the last listing, in order.
  std::vector<std::string> Serials() const;

  // Sets the stop flag of every open device and ends the exchanges under
  // way, so that steps running on other threads end at once; what the
  // library does before it goes. The devices stay open until closed or the
  // front is destroyed.
  void StopAll();

 private:
  struct Listed {
    std::string serial;
    uint32_t device_number;
  };

  // Opens sensor `number` and reads its configuration; on failure the
  // transport is closed again.
  bool OpenSensor(uint32_t number, v100::V100TransportInfo& info, v100::V100Config& config);
  bool Live(V100Device* device);
  void Shutdown(V100Device& device);
  // One capture step under the device's step lock; `absent` is set when the
  // sensor stopped answering and was not found again.
  bool Step(V100Device& d, PVxrImage image, bool& absent);
  bool RearmCapture(V100Device& device);
  // Closes the device's transport and opens the sensor with the device's
  // serial again; false when it is not there.
  bool Reconnect(V100Device& device);
  // Polls until the status is 0 or 10 or a poll fails (true), or until stop
  // is set or kSettleBudgetMs have passed (false).
  bool Settle(V100Device& device);

  SensorAccess& sensors_;
  // The listing replaces the list while no open runs (the host's contract);
  // the lock only keeps the two from tearing it.
  mutable std::mutex list_lock_;
  std::vector<Listed> list_;
  std::mutex live_lock_;
  std::set<V100Device*> live_;
};

// "%04X%04X" of the configuration's serial halves (offset 116, then 4).
std::string SerialText(const v100::V100Config& config);

}  // namespace dactyra::lumidigm
