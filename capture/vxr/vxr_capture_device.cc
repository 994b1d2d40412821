#include "capture/vxr/vxr_capture_device.h"

#include <cstring>
#include <memory>
#include <new>

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

void TVxrCaptureDeviceImpl::Allocate() {
  std::lock_guard lock(FBloqueio);
  TVxrImageSize size{};
  if (!FHandle || !FModulo.GetMaxImageSize(FHandle, size) || size.ByteSize < 0) {
    throw Exception(u"@@@4");
  }
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
  std::lock_guard lock(FBloqueio);
  TVxrImage* image = ImageRecord();
  if (!FHandle || !image) return false;
  if (!FModulo.GetImage(FHandle, image)) return false;
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
  FActive = false;
  // Outside the device lock: a WaitImage blocked in the plug-in holds it
  // and returns only through this.
  FModulo.ShutdownDevice(FHandle);
  std::lock_guard lock(FBloqueio);
  {
    std::lock_guard commands(FComandos);
    if (FHandle) {
      FModulo.CloseDevice(FHandle);
      FHandle = nullptr;
    }
  }
  ReleaseImageBuffer();
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
