#include "capture/vxr/vxr_capture_device.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "capture/vxr/vxr_capture_module.h"
#include "support/exception.h"

namespace dactyra {
namespace {

// An image the library can hand on: a real size whose pixels lie within the
// buffer.
bool FitsBuffer(const TVxrImageSize& size, int32_t byte_size) {
  return size.Width > 0 && size.Height > 0 &&
         static_cast<int64_t>(size.Width) * size.Height <= byte_size;
}

}  // namespace

TVxrCaptureDeviceImpl::TVxrCaptureDeviceImpl(TVxrCaptureModule& modulo, TVxrCaptureHandle handle)
    : TVxCaptureDevice(/*active=*/true, /*useThread=*/true), FModulo(modulo), FHandle(handle) {}

TVxrCaptureDeviceImpl::~TVxrCaptureDeviceImpl() = default;

// How long a stop waits for an image call that was asked to return, and
// for a plug-in without VXR_ShutdownDevice, whose captures end by
// themselves (the longest known takes 3 s).
constexpr uint32_t kStopBoundMs = 1500;
constexpr uint32_t kStopBoundWithoutShutdownMs = 15000;

uint32_t TVxrCaptureDeviceImpl::StopBoundMs() const {
  return FModulo.HasShutdown() ? kStopBoundMs : kStopBoundWithoutShutdownMs;
}

bool TVxrCaptureDeviceImpl::BeginCall() {
  std::lock_guard lock(FStateLock);
  if (FClosing || !FHandle) return false;
  FInCall = true;
  return true;
}

bool TVxrCaptureDeviceImpl::EndCall() {
  {
    std::lock_guard lock(FStateLock);
    FInCall = false;
    if (!FClosePending) return false;
  }
  CloseHandle();
  return true;
}

void TVxrCaptureDeviceImpl::CloseHandle() {
  {
    std::lock_guard commands(FComandos);
    TVxrCaptureHandle handle;
    {
      std::lock_guard lock(FStateLock);
      handle = std::exchange(FHandle, nullptr);
      FClosePending = false;
    }
    if (handle) FModulo.CloseDevice(handle);
  }
  ReleaseImageBuffer();
}

void TVxrCaptureDeviceImpl::Allocate() {
  if (!BeginCall()) throw Exception(u"@@@4");
  TVxrImageSize size{};
  const bool known = FModulo.GetMaxImageSize(FHandle, size);
  if (EndCall() || !known || size.ByteSize < 0) throw Exception(u"@@@4");
  std::unique_ptr<uint8_t[]> buffer;
  try {
    buffer = std::make_unique_for_overwrite<uint8_t[]>(sizeof(TVxrImage) +
                                                       static_cast<size_t>(size.ByteSize));
  } catch (const std::bad_alloc&) {
    throw Exception(u"@@@4");
  }
  FImageWidth = size.Width;
  FImageHeight = size.Height;
  FByteSize = size.ByteSize;
  ReplaceImageBuffer(std::shared_ptr<uint8_t[]>(std::move(buffer)));
}

bool TVxrCaptureDeviceImpl::WaitImage() {
  TVxrImage* image = ImageRecord();
  if (!image || !BeginCall()) return false;
  const bool received = FModulo.GetImage(FHandle, image);
  // An image that arrives after Close is nobody's.
  if (EndCall() || !received) return false;
  TVxrImageSize size;
  std::memcpy(&size, &image->Size, sizeof(size));
  // Width x Height pixels are read from this buffer by every handler: an
  // image that claims more than it holds is dropped.
  if (!FitsBuffer(size, FByteSize)) return false;
  FImageWidth = size.Width;
  FImageHeight = size.Height;
  ClaimDelivery();
  return true;
}

void TVxrCaptureDeviceImpl::Close() {
  std::lock_guard closing(FFechamento);
  TVxrCaptureHandle handle;
  {
    std::lock_guard lock(FStateLock);
    FActive = false;
    // A later Close repeats the shutdown without the handle: an image call
    // may be closing it as it returns.
    handle = FClosing ? nullptr : FHandle;
    FClosing = true;
  }
  // The handle stays open through this: only the pending close below lets
  // a returning image call close it.
  FModulo.ShutdownDevice(handle);
  {
    std::lock_guard lock(FStateLock);
    if (FInCall) {
      FClosePending = FHandle != nullptr;
      return;
    }
  }
  CloseHandle();
}

platform::Text TVxrCaptureDeviceImpl::SendCommandStr(const platform::Text& command,
                                                     const platform::Text& args, bool noHandle) {
  // No device lock: a command may run beside a waiting WaitImage.
  if (noHandle) return FModulo.SendCommandStr(nullptr, command, args);
  std::lock_guard commands(FComandos);
  // A closed device has no handle; a null one would reach the plug-in as a
  // command to the plug-in as a whole.
  if (!FHandle) throw Exception(u"Send command not available.");
  return FModulo.SendCommandStr(FHandle, command, args);
}

}  // namespace dactyra
