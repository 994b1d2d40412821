#include "plugins/lumidigm/transport/open_transport.h"

#include <memory>

#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/serial_transports.h"
#include "plugins/lumidigm/transport/transport_se.h"
#include "plugins/lumidigm/transport/transport_usb.h"

namespace dactyra::v100 {
namespace {

bool SelectsServiceOrUsb(uint32_t baud_rate) { return baud_rate == 0 || baud_rate == 255; }

// The transport the record and the description call for; null when they
// call for none (a serial record whose read-handle field is neither 0 nor
// the NX selector, a description of an unknown transport kind, or no
// description at all).
std::unique_ptr<ITransport> Choose(V100TransportInfo& info, const V100DeviceDescriptor* descriptor,
                                   platform::Env& env) {
  if (SelectsServiceOrUsb(info.baud_rate)) {
    if (descriptor == nullptr) return nullptr;
    if (descriptor->transport_kind == 0) return std::make_unique<TransportUSB>(env);
    if (descriptor->transport_kind == 1) return std::make_unique<TransportSE>(env);
    return nullptr;
  }
  const auto selector = reinterpret_cast<uintptr_t>(info.read_handle);
  if (selector == 0) return std::make_unique<TransportRS232>(env);
  if (selector == kSerialNxSelector) {
    info.read_handle = nullptr;
    return std::make_unique<TransportRS232_NX>(env);
  }
  return nullptr;
}

}  // namespace

int32_t TransportTable::OpenTransport(V100TransportInfo& info) {
  V100DeviceDescriptor descriptor = NewDeviceDescriptor(env_);
  const std::shared_ptr<V100DeviceHandler> handler = V100DeviceHandler::GetInstance(env_);
  const int32_t described =
      handler ? handler->GetDevice(info.device_number, descriptor) : kDeviceHandlerBusy;
  int32_t result = kOpenFailed;
  if (described != 0 && info.baud_rate == 0) {
    result = described;
  } else {
    info.descriptor = described == 0 ? &descriptor : nullptr;
    std::unique_ptr<ITransport> transport = Choose(info, info.descriptor, env_);
    if (transport && transport->Open(info) == 0) {
      info.transport = transport.get();
      if (registry_.Add(transport.get())) {
        transport.release();
        result = 0;
      } else {
        transport->Close(info);
        info.transport = nullptr;
      }
    } else {
      // The failed transport's handles go with it.
      if (transport) transport->Close(info);
      info.transport = nullptr;
    }
    info.descriptor = nullptr;
  }
  if (handler) V100DeviceHandler::ReleaseInstance();
  return result;
}

int32_t TransportTable::CloseTransport(V100TransportInfo& info) {
  if (info.transport != nullptr) {
    std::unique_ptr<ITransport> transport(info.transport);
    transport->Close(info);
    registry_.Remove(transport.get());
    info.transport = nullptr;
  }
  return 0;
}

}  // namespace dactyra::v100
