// vxr_lumidigm: the reader plug-in exports over the plug-in's one owner
// (LumidigmPlugin), made at the first export call and destroyed when the
// library is unloaded or the process exits.
//
// A host may still be calling when that happens: a Java program that exits
// while a capture thread loops on VXR_GetImage. So every export counts
// itself in flight, in static storage that has no destructor, and is
// refused once the owner's end has begun; the end stops every device,
// waits (bounded) for the calls in flight, and only then destroys the
// owner. A call that outlives the bound keeps the owner alive for good
// rather than run on freed memory.
#include <atomic>
#include <memory>

#include "platform/env.h"
#include "plugins/interface/vxr_plugin.h"
#include "plugins/lumidigm/front/lumidigm_plugin.h"

namespace {

using dactyra::lumidigm::LumidigmFront;
using dactyra::lumidigm::LumidigmPlugin;
using dactyra::lumidigm::V100Device;

// How long the owner's end waits for calls in flight; a step ends at its
// next status poll once stopped, so only an exchange stuck on a silent
// sensor (its read budget) can take this long.
constexpr uint32_t kEndWaitMs = 6000;

constinit std::atomic<int> calls_in_flight{0};
constinit std::atomic<bool> ending{false};

class Owner {
 public:
  Owner() : env_(dactyra::platform::Env::Default()), plugin_(std::make_unique<LumidigmPlugin>(env_)) {}
  ~Owner() {
    ending.store(true);
    plugin_->front().StopAll();
    const uint32_t started = env_.TickCount();
    while (calls_in_flight.load() != 0 && env_.TickCount() - started < kEndWaitMs) env_.Sleep(1);
    if (calls_in_flight.load() != 0) {
      (void)plugin_.release();  // still in use: kept for good
    }
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;

  LumidigmFront& front() { return plugin_->front(); }

 private:
  dactyra::platform::Env& env_;
  std::unique_ptr<LumidigmPlugin> plugin_;
};

// One export call: counted in flight for its whole run; `front()` is null
// once the owner's end has begun.
class Call {
 public:
  Call() {
    calls_in_flight.fetch_add(1);
    if (!ending.load()) {
      static Owner owner;
      front_ = &owner.front();
    }
  }
  ~Call() { calls_in_flight.fetch_sub(1); }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  LumidigmFront* front() const { return front_; }

 private:
  LumidigmFront* front_ = nullptr;
};

V100Device* Device(TVxrCaptureHandle handle) { return reinterpret_cast<V100Device*>(handle); }

TVxrBool Bool(bool value) { return value ? VXR_TRUE : VXR_FALSE; }

}  // namespace

VXR_EXPORT const char* VXR_STDCALL VXR_GetPrefix(void) { return dactyra::lumidigm::kPrefix; }

VXR_EXPORT int32_t VXR_STDCALL VXR_GetDeviceList(PVxrDeviceList pBuffer, int32_t size) {
  Call call;
  return call.front() ? call.front()->GetDeviceList(pBuffer, size) : VXR_DEVICE_LIST_EMPTY_SIZE;
}

VXR_EXPORT TVxrCaptureHandle VXR_STDCALL VXR_OpenDevice(const char* serialNumber) {
  Call call;
  return call.front() ? reinterpret_cast<TVxrCaptureHandle>(call.front()->OpenDevice(serialNumber))
                      : nullptr;
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_ShutdownDevice(TVxrCaptureHandle handle) {
  Call call;
  return Bool(call.front() && call.front()->ShutdownDevice(Device(handle)));
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_CloseDevice(TVxrCaptureHandle handle) {
  Call call;
  return Bool(call.front() && call.front()->CloseDevice(Device(handle)));
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_GetMaxSize(TVxrCaptureHandle handle, PVxrImageSize pSize) {
  Call call;
  return Bool(call.front() && call.front()->GetMaxSize(Device(handle), pSize));
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_GetImage(TVxrCaptureHandle handle, PVxrImage pImage) {
  Call call;
  return Bool(call.front() && call.front()->GetImage(Device(handle), pImage));
}
