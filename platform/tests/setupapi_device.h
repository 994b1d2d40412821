// A device interface registered through SetupAPI, for tests under Wine,
// where no driver can present one: the device is made a root-enumerated
// device of the class, its interface is created, and the interface is
// marked present the way a driver's IoSetDeviceInterfaceState marks it (its
// "Linked" value). Destroying the object removes the device again.
#pragma once

#include <windows.h>
// SetupAPI's header needs windows.h before it.
#include <setupapi.h>

#include <string>

#include "platform/text.h"

namespace dactyra::platform::testing {

class SetupApiDevice {
 public:
  SetupApiDevice(const GUID& interface_class, const std::wstring& name) : class_(interface_class) {
    set_ = SetupDiCreateDeviceInfoList(&class_, nullptr);
    if (set_ == INVALID_HANDLE_VALUE) return;
    device_.cbSize = sizeof device_;
    if (!SetupDiCreateDeviceInfoW(set_, name.c_str(), &class_, nullptr, nullptr,
                                  DICD_GENERATE_ID, &device_) ||
        !SetupDiRegisterDeviceInfo(set_, &device_, 0, nullptr, nullptr, nullptr)) {
      return;
    }
    registered_ = true;
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    if (!SetupDiCreateDeviceInterfaceW(set_, &device_, &class_, nullptr, 0, &interface_data)) {
      return;
    }
    wchar_t buffer[1024] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set_, &interface_data, detail, sizeof buffer, nullptr,
                                          nullptr)) {
      return;
    }
    path_ = detail->DevicePath;
    SetPresent(true);
  }
  ~SetupApiDevice() {
    if (registered_) SetupDiRemoveDevice(set_, &device_);
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
  }
  SetupApiDevice(const SetupApiDevice&) = delete;
  SetupApiDevice& operator=(const SetupApiDevice&) = delete;

  bool ok() const { return !path_.empty() && present_; }
  // The device path SetupAPI gives its interface ("\\?\root#...#{class}").
  Text path() const { return Text(path_.begin(), path_.end()); }

  // Marks the interface present or not, as its driver would.
  void SetPresent(bool present) {
    wchar_t guid[64];
    StringFromGUID2(class_, guid, 64);
    std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";
    key += guid;
    key += L"\\##?#" + path_.substr(4) + L"\\#\\Control";
    HKEY control;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE, nullptr, &control, nullptr) != ERROR_SUCCESS) {
      return;
    }
    const DWORD linked = present ? 1 : 0;
    present_ = RegSetValueExW(control, L"Linked", 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&linked), sizeof linked) ==
                   ERROR_SUCCESS &&
               present;
    RegCloseKey(control);
  }

 private:
  GUID class_;
  HDEVINFO set_ = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA device_{};
  bool registered_ = false;
  bool present_ = false;
  std::wstring path_;
};

}  // namespace dactyra::platform::testing
