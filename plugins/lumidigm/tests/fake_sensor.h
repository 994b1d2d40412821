// An in-process V100 sensor for the plug-in front's tests: answers each
// request as the firmware would (configuration, settings, arming,
// acquisition status from a script, composite images), using the command
// classes from the device side, and records the commands it received.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "plugins/lumidigm/front/sensor_access.h"
#include "plugins/lumidigm/v100/catalogue.h"
#include "plugins/lumidigm/v100/records.h"
#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::lumidigm::testing {

class FakeSensor : public v100::ITransport {
 public:
  v100::V100Config config;
  v100::V100CmdSettings settings;
  // Statuses answered to Atomic_Get_Acq_Status in turn; when empty, 0.
  std::deque<uint32_t> statuses;
  int32_t leading_value = 0;
  std::vector<uint8_t> image;
  // Makes every exchange fail (a sensor that stopped answering).
  bool silent = false;
  // Runs inside each exchange, before the answer (tests use it to wait).
  std::function<void(uint32_t code)> on_exchange;

  // Commands received, as (code, argument).
  std::vector<std::pair<uint32_t, uint16_t>> received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  size_t Count(uint32_t code, int argument = -1) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& [c, a] : received_) n += c == code && (argument < 0 || a == argument);
    return n;
  }
  bool open() const { return open_; }

  int32_t Open(v100::V100TransportInfo& info) override {
    info.transport = this;
    open_ = true;
    return 0;
  }
  int32_t Close(v100::V100TransportInfo& info) override {
    info.transport = nullptr;
    open_ = false;
    return 0;
  }
  bool Exchange(v100::V100TransportInfo&, const uint8_t* request, uint32_t request_size,
                uint8_t* receive, uint32_t& receive_length) override {
    if (!open_) ADD_FAILURE() << "exchange on a closed transport";
    v100::V100PacketHeader header{};
    if (request_size < v100::kHeaderSize) return false;
    header = v100::ReadHeader(request);
    {
      std::lock_guard lock(mutex_);
      received_.emplace_back(header.command, header.argument);
    }
    if (on_exchange) on_exchange(header.command);
    if (silent) return false;
    auto cmd = v100::CommandFactory(header.command);
    if (!cmd || !cmd->UnpackRequest({request, request_size})) return false;
    switch (header.command) {
      case v100::Atomic_Get_Config::kCode:
        static_cast<v100::Atomic_Get_Config&>(*cmd).SetConfig(config);
        break;
      case v100::Atomic_Get_Cmd::kCode:
        static_cast<v100::Atomic_Get_Cmd&>(*cmd).SetSettings(settings);
        break;
      case v100::Atomic_Set_Cmd::kCode:
        settings = static_cast<v100::Atomic_Set_Cmd&>(*cmd).Settings();
        break;
      case v100::Atomic_Get_Acq_Status::kCode: {
        std::lock_guard lock(mutex_);
        uint32_t status = 0;
        if (!statuses.empty()) {
          status = statuses.front();
          statuses.pop_front();
        }
        static_cast<v100::Atomic_Get_Acq_Status&>(*cmd).SetStatus(status);
        break;
      }
      case v100::Atomic_Get_Composite_Image::kCode: {
        auto& c = static_cast<v100::Atomic_Get_Composite_Image&>(*cmd);
        c.SetLeadingValue(leading_value);
        c.SetImage(image);
        break;
      }
      default:
        break;
    }
    std::span<const uint8_t> packet;
    if (!cmd->PackResponse(packet) || packet.size() > receive_length) return false;
    std::copy(packet.begin(), packet.end(), receive);
    receive_length = static_cast<uint32_t>(packet.size());
    return true;
  }
  bool GetLockName(std::string& name) const override {
    name = "LUMIfake";
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<uint32_t, uint16_t>> received_;
  bool open_ = false;
};

// Sensors by device number; a null entry is counted but cannot be opened.
class FakeSensors : public SensorAccess {
 public:
  std::vector<std::shared_ptr<FakeSensor>> sensors;
  bool count_fails = false;
  int opens = 0;
  int closes = 0;

  bool CountDevices(uint32_t& count) override {
    if (count_fails) return false;
    count = static_cast<uint32_t>(sensors.size());
    return true;
  }
  int32_t OpenTransport(v100::V100TransportInfo& info) override {
    if (info.device_number >= sensors.size() || !sensors[info.device_number]) return 128;
    ++opens;
    return sensors[info.device_number]->Open(info);
  }
  int32_t CloseTransport(v100::V100TransportInfo& info) override {
    if (!info.transport) return 0;
    ++closes;
    return info.transport->Close(info);
  }
  // Recorded, not waited.
  std::vector<uint32_t> pauses;
  void Pause(uint32_t ms) override { pauses.push_back(ms); }
  // Stands still unless a test moves it.
  std::atomic<uint32_t> clock{0};
  uint32_t TickCount() override { return clock.load(); }
};

}  // namespace dactyra::lumidigm::testing
