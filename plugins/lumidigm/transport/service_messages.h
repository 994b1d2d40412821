// The fixed-size records of the Lumidigm device service's main pipe, and
// the bounded readers of its replies. All fields are little-endian; every
// record travels whole in one write and one read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace dactyra::v100 {

inline constexpr uint32_t kServiceRequestSize = 264;
inline constexpr uint32_t kServiceDeviceReplySize = 2356;
inline constexpr uint32_t kServiceNamesReplySize = 520;
inline constexpr uint32_t kServiceTextSize = 260;
inline constexpr uint32_t kServiceLabelSize = 256;

// Request codes.
inline constexpr uint32_t kServiceCountDevices = 0;
inline constexpr uint32_t kServiceGetNames = 1;
inline constexpr uint32_t kServiceDescribeDevice = 2;

inline constexpr char kLabelGetNumDevices[] = "V100DeviceHandler::GetNumDevices";
inline constexpr char kLabelGetDevice[] = "V100DeviceHandler::GetDevice";

// Largest device count or index taken from a reply; anything beyond is not
// a sensible answer and is refused.
inline constexpr uint32_t kMaxServiceDevices = 256;

// A request, also the layout of the count reply (argument = count).
struct ServiceRequest {
  uint32_t code = 0;
  uint32_t argument = 0;
  std::string label;  // at most 255 characters go out
};
std::array<uint8_t, kServiceRequestSize> EncodeServiceRequest(const ServiceRequest& request);
// Reads a request or a count reply; the label is cut at its first NUL or at
// 255 characters.
ServiceRequest DecodeServiceRequest(std::span<const uint8_t, kServiceRequestSize> bytes);

// The count from a count reply; none when it is out of range.
std::optional<uint32_t> ParseCountReply(std::span<const uint8_t, kServiceRequestSize> bytes);

struct ServiceDeviceReply {
  uint32_t service_id = 0;
  uint32_t device_index = 0;
  uint32_t kind_value = 0;
  uint32_t status = 0;
};
std::array<uint8_t, kServiceDeviceReplySize> EncodeDeviceReply(const ServiceDeviceReply& reply);
// None when the device index is out of range.
std::optional<ServiceDeviceReply> ParseDeviceReply(
    std::span<const uint8_t, kServiceDeviceReplySize> bytes);

struct ServiceNamesReply {
  std::string second_name;
  std::string pipe_name;
};
std::array<uint8_t, kServiceNamesReplySize> EncodeNamesReply(const ServiceNamesReply& reply);
// Each text ends at its first NUL; one without a NUL in its 260 bytes is
// cut at 259 characters, never read past its field.
ServiceNamesReply ParseNamesReply(std::span<const uint8_t, kServiceNamesReplySize> bytes);

// The handler's code for a nonzero service status: 163 for 2 and 3, 164
// for 6, 165 for 7, 162 for every other.
int32_t MapServiceStatus(uint32_t status);

}  // namespace dactyra::v100
