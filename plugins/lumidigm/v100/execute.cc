#include "plugins/lumidigm/v100/execute.h"

#include <new>

#include "plugins/lumidigm/v100/catalogue.h"

namespace dactyra::v100 {

std::unique_ptr<ICmd> Execute(V100TransportInfo& info, ICmd& command) {
  if (info.transport == nullptr) return nullptr;
  std::span<const uint8_t> request;
  if (!command.PackRequest(request) || request.empty()) return nullptr;

  // Left uninitialised: only the bytes the transport reports are read.
  std::unique_ptr<uint8_t[]> received;
  try {
    received = std::make_unique_for_overwrite<uint8_t[]>(kReceiveBufferSize);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  uint32_t length = kReceiveBufferSize;
  if (!info.transport->Exchange(info, request.data(), static_cast<uint32_t>(request.size()),
                                received.get(), length)) {
    return nullptr;
  }
  if (length < kHeaderSize || length > kReceiveBufferSize) return nullptr;

  std::unique_ptr<ICmd> response = CommandFactory(ReadHeader(received.get()).command);
  if (response == nullptr) return nullptr;
  // Not checked on purpose: a response that stopped parsing early is still
  // the device's answer; host calls judge it by ParsedCompletely().
  response->UnpackResponse(std::span<const uint8_t>(received.get(), length));
  return response;
}

}  // namespace dactyra::v100
