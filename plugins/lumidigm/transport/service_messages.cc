#include "plugins/lumidigm/transport/service_messages.h"

#include <algorithm>
#include <cstring>

#include "plugins/lumidigm/v100/packet.h"

namespace dactyra::v100 {
namespace {

// The text in `field` up to its first NUL, at most field.size() - 1 bytes.
std::string BoundedText(std::span<const uint8_t> field) {
  const size_t limit = field.size() - 1;
  const auto end = std::find(field.begin(), field.begin() + limit, uint8_t{0});
  return std::string(field.begin(), end);
}

void PutText(std::span<uint8_t> field, std::string_view text) {
  const size_t n = std::min(text.size(), field.size() - 1);
  std::memcpy(field.data(), text.data(), n);
}

}  // namespace

std::array<uint8_t, kServiceRequestSize> EncodeServiceRequest(const ServiceRequest& request) {
  std::array<uint8_t, kServiceRequestSize> out{};
  StoreU32(out.data(), request.code);
  StoreU32(out.data() + 4, request.argument);
  PutText(std::span(out).subspan(8, kServiceLabelSize), request.label);
  return out;
}

ServiceRequest DecodeServiceRequest(std::span<const uint8_t, kServiceRequestSize> bytes) {
  return ServiceRequest{LoadU32(bytes.data()), LoadU32(bytes.data() + 4),
                        BoundedText(bytes.subspan(8, kServiceLabelSize))};
}

std::optional<uint32_t> ParseCountReply(std::span<const uint8_t, kServiceRequestSize> bytes) {
  const uint32_t count = LoadU32(bytes.data() + 4);
  if (count > kMaxServiceDevices) return std::nullopt;
  return count;
}

std::array<uint8_t, kServiceDeviceReplySize> EncodeDeviceReply(const ServiceDeviceReply& reply) {
  std::array<uint8_t, kServiceDeviceReplySize> out{};
  StoreU32(out.data(), reply.service_id);
  StoreU32(out.data() + 4, reply.device_index);
  StoreU32(out.data() + 8, reply.kind_value);
  StoreU32(out.data() + 2352, reply.status);
  return out;
}

std::optional<ServiceDeviceReply> ParseDeviceReply(
    std::span<const uint8_t, kServiceDeviceReplySize> bytes) {
  ServiceDeviceReply reply{LoadU32(bytes.data()), LoadU32(bytes.data() + 4),
                           LoadU32(bytes.data() + 8), LoadU32(bytes.data() + 2352)};
  // Only a successful reply's index is used.
  if (reply.status == 0 && reply.device_index >= kMaxServiceDevices) return std::nullopt;
  return reply;
}

std::array<uint8_t, kServiceNamesReplySize> EncodeNamesReply(const ServiceNamesReply& reply) {
  std::array<uint8_t, kServiceNamesReplySize> out{};
  PutText(std::span(out).subspan(0, kServiceTextSize), reply.second_name);
  PutText(std::span(out).subspan(kServiceTextSize, kServiceTextSize), reply.pipe_name);
  return out;
}

ServiceNamesReply ParseNamesReply(std::span<const uint8_t, kServiceNamesReplySize> bytes) {
  return ServiceNamesReply{BoundedText(bytes.subspan(0, kServiceTextSize)),
                           BoundedText(bytes.subspan(kServiceTextSize, kServiceTextSize))};
}

int32_t MapServiceStatus(uint32_t status) {
  switch (status) {
    case 2:
    case 3:
      return 163;
    case 6:
      return 164;
    case 7:
      return 165;
    default:
      return 162;
  }
}

}  // namespace dactyra::v100
