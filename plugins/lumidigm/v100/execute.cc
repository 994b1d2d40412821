#include "plugins/lumidigm/v100/execute.h"

#include <new>

#include "plugins/lumidigm/v100/catalogue.h"

namespace dactyra::v100 {

std::span<uint8_t> ITransport::ReceiveBuffer() {
  if (!receive_buffer_) {
    // Left uninitialised: only the bytes a transport reports are read, and
    // pages nobody writes are never touched.
    try {
      receive_buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kReceiveBufferSize);
    } catch (const std::bad_alloc&) {
      return {};
    }
  }
  return {receive_buffer_.get(), kReceiveBufferSize};
}

std::unique_ptr<ICmd> Execute(V100TransportInfo& info, ICmd& command, PrepareResponse prepare,
                              void* context) {
  if (info.transport == nullptr) return nullptr;
  std::span<const uint8_t> request;
  if (!command.PackRequest(request) || request.empty()) return nullptr;

  const std::span<uint8_t> received = info.transport->ReceiveBuffer();
  if (received.empty()) return nullptr;
  uint32_t length = kReceiveBufferSize;
  if (!info.transport->Exchange(info, request.data(), static_cast<uint32_t>(request.size()),
                                received.data(), length)) {
    return nullptr;
  }
  if (length < kHeaderSize || length > kReceiveBufferSize) return nullptr;

  // One request, one answer: an answer of another command (a late answer
  // to an earlier request, say) is not this request's, however it parses.
  const uint32_t code = ReadHeader(received.data()).command;
  if (code != command.GetCommandCode() && code != Atomic_Error::kCode) return nullptr;
  std::unique_ptr<ICmd> response = CommandFactory(code);
  if (response == nullptr) return nullptr;
  if (prepare != nullptr) prepare(*response, context);
  // Not checked on purpose: a response that stopped parsing early is still
  // the device's answer; host calls judge it by ParsedCompletely().
  response->UnpackResponse(received.first(length));
  return response;
}

}  // namespace dactyra::v100
