#include "capture/capture_device.h"

#include <cstring>
#include <limits>
#include <utility>

namespace dactyra {

TVxCaptureDevice::~TVxCaptureDevice() = default;

TVxCaptureDevice::TNotifyEvent TVxCaptureDevice::OnImage() const {
  std::lock_guard lock(FBufferLock);
  return *FOnImage;
}

void TVxCaptureDevice::SetOnImage(TNotifyEvent handler) {
  auto replacement = std::make_shared<const TNotifyEvent>(std::move(handler));
  std::lock_guard lock(FBufferLock);
  FOnImage.swap(replacement);
}

const uint8_t* TVxCaptureDevice::ImageBuffer() const {
  std::lock_guard lock(FBufferLock);
  // After a Close, the buffer of an image handed out or being delivered.
  const uint8_t* buffer = FImageBuffer ? FImageBuffer.get()
                          : FClaimed   ? FClaimed.get()
                                       : FDelivering.lock().get();
  return buffer ? buffer + sizeof(TVxrImage) : nullptr;
}

TVxrImage* TVxCaptureDevice::ImageRecord() const {
  std::lock_guard lock(FBufferLock);
  return reinterpret_cast<TVxrImage*>(FImageBuffer.get());
}

void TVxCaptureDevice::ReplaceImageBuffer(std::shared_ptr<uint8_t[]> buffer) {
  std::shared_ptr<uint8_t[]> old;
  std::lock_guard lock(FBufferLock);
  // Freed outside the lock, once no delivery holds it.
  old = std::exchange(FImageBuffer, std::move(buffer));
}

void TVxCaptureDevice::ReleaseImageBuffer() { ReplaceImageBuffer(nullptr); }

void TVxCaptureDevice::ClaimDelivery() {
  std::lock_guard lock(FBufferLock);
  FClaimed = FImageBuffer;
}

void TVxCaptureDevice::PushImage(int32_t width, int32_t height, const uint8_t* pixels) {
  if (width < 0 || height < 0) return;
  const uint64_t bytes = uint64_t(width) * uint64_t(height);
  if (bytes > std::numeric_limits<int32_t>::max() - sizeof(TVxrImage)) return;
  if (bytes > 0 && pixels == nullptr) return;
  if (width != ImageWidth() || height != ImageHeight() || !ImageRecord() ||
      bytes > FBufferBytes) {
    ReplaceImageBuffer(std::make_unique_for_overwrite<uint8_t[]>(sizeof(TVxrImage) + bytes));
    FBufferBytes = static_cast<size_t>(bytes);
    FImageWidth = width;
    FImageHeight = height;
  }
  if (bytes > 0) {
    std::memcpy(reinterpret_cast<uint8_t*>(ImageRecord()) + sizeof(TVxrImage), pixels,
                static_cast<size_t>(bytes));
  }
  DoImage();
}

void TVxCaptureDevice::DoImage() {
  std::shared_ptr<const TNotifyEvent> handler;
  std::shared_ptr<uint8_t[]> delivered;
  std::weak_ptr<uint8_t[]> previous;
  {
    std::lock_guard lock(FBufferLock);
    delivered = FClaimed ? std::move(FClaimed) : FImageBuffer;
    FClaimed.reset();
    previous = std::exchange(FDelivering, delivered);
    handler = FOnImage;
  }
  // Ends the delivery however the handler leaves.
  struct EndDelivery {
    TVxCaptureDevice& device;
    std::weak_ptr<uint8_t[]>& previous;
    ~EndDelivery() {
      std::lock_guard lock(device.FBufferLock);
      device.FDelivering = std::move(previous);
    }
  } end{*this, previous};
  if (*handler) (*handler)(*this);
}

}  // namespace dactyra
