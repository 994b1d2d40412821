// The Lumidigm plug-in front: listing, opening, the arm-and-poll capture
// state machine and the image record.
#include "plugins/lumidigm/front/lumidigm_front.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <thread>

#include "plugins/lumidigm/v100/host_calls.h"

namespace dactyra::lumidigm {

const char kPrefix[] = "Lumidigm";

namespace {

constexpr uint16_t kSchemeVendor = 0x0525;
constexpr uint16_t kSchemeProduct = 0x3424;
// Leading values of a composite image from this one up are not images.
constexpr int32_t kFirstRejectedLeadingValue = 200;
constexpr size_t kSerialLength = 8;

}  // namespace

std::string SerialText(const v100::V100Config& config) {
  char text[kSerialLength + 1];
  std::snprintf(text, sizeof text, "%04X%04X",
                static_cast<unsigned>(config.Field16(v100::V100Config::kSerialHighOffset)),
                static_cast<unsigned>(config.Field16(v100::V100Config::kSerialLowOffset)));
  return text;
}

LumidigmFront::~LumidigmFront() {
  // Handles the host never closed are freed with the library.
  std::set<V100Device*> live;
  {
    std::lock_guard lock(live_lock_);
    live.swap(live_);
  }
  for (V100Device* device : live) {
    Shutdown(*device);
    delete device;
  }
}

bool LumidigmFront::OpenSensor(uint32_t number, v100::V100TransportInfo& info,
                               v100::V100Config& config) {
  info.device_number = number;
  if (sensors_.OpenTransport(info) != 0) return false;
  if (v100::GetConfig(info, config) == 0) return true;
  sensors_.CloseTransport(info);
  return false;
}

int32_t LumidigmFront::GetDeviceList(PVxrDeviceList buffer, int32_t size) {
  if (size < static_cast<int32_t>(VXR_DEVICE_LIST_EMPTY_SIZE) || !buffer) {
    return VXR_DEVICE_LIST_EMPTY_SIZE;
  }
  buffer->NumDevices = 0;
  uint32_t count = 0;
  if (!sensors_.CountDevices(count)) return VXR_DEVICE_LIST_EMPTY_SIZE;

  std::vector<Listed> listed;
  for (uint32_t number = 0; number < count; ++number) {
    v100::V100TransportInfo info;
    v100::V100Config config;
    if (!OpenSensor(number, info, config)) continue;
    sensors_.CloseTransport(info);
    listed.push_back({SerialText(config), number});
  }

  size_t required = VXR_DEVICE_LIST_TEXT_OFFSET(0);
  for (size_t i = 0; i < listed.size(); ++i) required += VXR_DEVICE_LIST_ENTRY_SIZE(kSerialLength);
  const uint32_t n = static_cast<uint32_t>(listed.size());
  buffer->NumDevices = n;
  if (static_cast<size_t>(size) >= required) {
    auto* base = reinterpret_cast<uint8_t*>(buffer);
    size_t text = VXR_DEVICE_LIST_TEXT_OFFSET(n);
    for (uint32_t i = 0; i < n; ++i) {
      char* address = reinterpret_cast<char*>(base + text);
      std::memcpy(base + VXR_DEVICE_LIST_TEXT_OFFSET(i), &address, sizeof address);
      std::memcpy(address, listed[i].serial.c_str(), kSerialLength + 1);
      text += kSerialLength + 1;
    }
  }
  {
    std::lock_guard lock(list_lock_);
    list_ = std::move(listed);
  }
  return static_cast<int32_t>(required);
}

V100Device* LumidigmFront::OpenDevice(const char* serial) {
  if (!serial) return nullptr;
  std::vector<Listed> list;
  {
    std::lock_guard lock(list_lock_);
    list = list_;
  }
  for (const Listed& entry : list) {
    if (entry.serial != serial) continue;
    auto device = std::make_unique<V100Device>();
    if (!OpenSensor(entry.device_number, device->transport, device->config)) continue;
    device->serial = entry.serial;
    std::lock_guard lock(live_lock_);
    live_.insert(device.get());
    return device.release();
  }
  return nullptr;
}

bool LumidigmFront::Live(V100Device* device) {
  if (!device) return false;
  std::lock_guard lock(live_lock_);
  return live_.count(device) != 0 && device->tag == kPrefix;
}

void LumidigmFront::Shutdown(V100Device& device) {
  // Set first: a step running on another thread ends at its next poll.
  device.stop.store(true);
  // The exchange that step may be in is ended, as often as it takes: one
  // it starts just after a cancel is ended by the next.
  std::unique_lock step(device.step, std::defer_lock);
  bool cancelled = false;
  while (!step.try_lock()) {
    {
      std::lock_guard transport(device.transport_lock);
      if (device.transport.transport) device.transport.transport->CancelExchanges();
    }
    cancelled = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (device.closed.load()) return;
  // A sensor whose exchange had to be ended answers late, if at all: its
  // disarm would wait behind that answer. It is left armed (the next
  // arming disarms first), and the next host's exchanges resynchronise.
  if (!cancelled) v100::ArmTrigger(device.transport, 0);
  {
    std::lock_guard transport(device.transport_lock);
    sensors_.CloseTransport(device.transport);
  }
  device.closed.store(true);
}

bool LumidigmFront::ShutdownDevice(V100Device* device) {
  if (!Live(device)) return false;
  Shutdown(*device);
  return true;
}

bool LumidigmFront::CloseDevice(V100Device* device) {
  {
    std::lock_guard lock(live_lock_);
    if (!device || live_.erase(device) == 0 || device->tag != kPrefix) return false;
  }
  Shutdown(*device);
  delete device;
  return true;
}

bool LumidigmFront::GetMaxSize(V100Device* device, PVxrImageSize size) {
  if (!Live(device) || !size) return false;
  TVxrImageSize s;
  s.Width = device->config.Field16(v100::V100Config::kWidthOffset);
  s.Height = device->config.Field16(v100::V100Config::kHeightOffset);
  // Two 16-bit factors: the product may pass 2^31; it is computed in 32
  // bits as the record holds it.
  s.ByteSize =
      static_cast<int32_t>(static_cast<uint32_t>(s.Width) * static_cast<uint32_t>(s.Height));
  *size = s;
  device->size_cache = s;
  device->size_known = true;
  return true;
}

bool LumidigmFront::Settle(V100Device& device) {
  const uint32_t started = sensors_.TickCount();
  for (;;) {
    if (device.stop.load()) return false;
    uint32_t status = 0;
    if (v100::GetAcqStatus(device.transport, status) != 0) return true;
    if (status == 0 || status == 10) return true;
    if (sensors_.TickCount() - started >= kSettleBudgetMs) return false;
  }
}

bool LumidigmFront::RearmCapture(V100Device& device) {
  if (device.stop.load()) return false;
  v100::V100CmdSettings settings;
  if (v100::GetCmd(device.transport, settings) != 0) return false;
  settings.SetField16(2, 0);
  settings.SetField16(20, 0);
  if (v100::SetCmd(device.transport, settings) != 0) return false;
  v100::ArmTrigger(device.transport, 0);
  if (!Settle(device)) return false;
  const bool scheme1 = device.config.Field16(v100::V100Config::kVendorOffset) == kSchemeVendor &&
                       device.config.Field16(v100::V100Config::kProductOffset) == kSchemeProduct;
  const int32_t armed = v100::ArmTrigger(device.transport, scheme1 ? 1 : 4);
  device.state = scheme1 ? CaptureState::kArmedType1 : CaptureState::kArmedType4;
  return armed == 0;
}

bool LumidigmFront::GetImage(V100Device* device, PVxrImage image) {
  if (!Live(device) || !image) return false;
  bool absent = false;
  const bool delivered = Step(*device, image, absent);
  // Outside the step, so a shutdown does not wait for the pause; the device
  // is not touched after it.
  if (absent) sensors_.Pause(kAbsentPauseMs);
  return delivered;
}

bool LumidigmFront::Step(V100Device& d, PVxrImage image, bool& absent) {
  if (d.stop.load() || !d.size_known || d.size_cache.ByteSize < 0) return false;
  std::lock_guard step(d.step);
  if (d.stop.load()) return false;

  uint32_t status = 0;
  const int32_t polled = v100::GetAcqStatus(d.transport, status);
  if (polled != 0 || status == 3) {
    // No answer at all: the sensor may have gone and come back under a new
    // transport; the re-arm then starts its capture afresh.
    if (d.stop.load()) return false;
    if (polled == v100::kNoResponse && !Reconnect(d)) {
      absent = !d.stop.load();
      return false;
    }
    RearmCapture(d);
    return false;
  }
  switch (d.state) {
    case CaptureState::kIdle:
      RearmCapture(d);
      return false;
    case CaptureState::kArmedType1:
      if (status == 4) {
        d.state = CaptureState::kImagePending;
      } else if (status == 0) {
        RearmCapture(d);
      }
      return false;
    case CaptureState::kArmedType4:
      if (status != 4) return false;
      v100::ArmTrigger(d.transport, 0);
      if (!Settle(d)) return false;
      v100::ArmTrigger(d.transport, 1);
      d.state = CaptureState::kImagePending;
      return false;
    case CaptureState::kImagePending: {
      if (status != 0) return false;
      image->Size = d.size_cache;
      image->Format = 0;
      image->Resolution = 500;
      int32_t leading = 0;
      uint32_t length = 0;
      // The caller's pixel area holds ByteSize bytes and the record says
      // W x H: an image of any other length is refused by the call.
      const std::span<uint8_t> pixels(VXR_IMAGE_PIXELS(image),
                                      static_cast<uint32_t>(d.size_cache.ByteSize));
      const int32_t fetched = v100::GetCompositeImage(d.transport, leading, length, pixels);
      const bool delivered = fetched == 0 && leading < kFirstRejectedLeadingValue;
      RearmCapture(d);
      return delivered;
    }
  }
  return false;
}

bool LumidigmFront::Reconnect(V100Device& device) {
  {
    std::lock_guard transport(device.transport_lock);
    sensors_.CloseTransport(device.transport);
    device.transport = {};
  }
  uint32_t count = 0;
  if (!sensors_.CountDevices(count)) return false;
  for (uint32_t number = 0; number < count; ++number) {
    if (device.stop.load()) return false;
    v100::V100TransportInfo info;
    v100::V100Config config;
    if (!OpenSensor(number, info, config)) continue;
    if (SerialText(config) == device.serial) {
      {
        std::lock_guard transport(device.transport_lock);
        device.transport = info;
      }
      device.config = config;
      device.state = CaptureState::kIdle;
      return true;
    }
    sensors_.CloseTransport(info);
  }
  return false;
}

void LumidigmFront::StopAll() {
  std::lock_guard lock(live_lock_);
  for (V100Device* device : live_) {
    device->stop.store(true);
    std::lock_guard transport(device->transport_lock);
    if (device->transport.transport) device->transport.transport->CancelExchanges();
  }
}

std::vector<std::string> LumidigmFront::Serials() const {
  std::lock_guard lock(list_lock_);
  std::vector<std::string> serials;
  for (const Listed& entry : list_) serials.push_back(entry.serial);
  return serials;
}

}  // namespace dactyra::lumidigm
