#include "capture/capture_device.h"

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
  return FImageBuffer ? FImageBuffer.get() + sizeof(TVxrImage) : nullptr;
}

TVxrImage* TVxCaptureDevice::ImageRecord() const {
  std::lock_guard lock(FBufferLock);
  return reinterpret_cast<TVxrImage*>(FImageBuffer.get());
}

void TVxCaptureDevice::ReplaceImageBuffer(std::unique_ptr<uint8_t[]> buffer) {
  std::unique_ptr<uint8_t[]> old;
  {
    std::lock_guard lock(FBufferLock);
    FReleasePending = false;
    // Only the buffer a delivery started with is read by its handlers; any
    // later one in between can go at once.
    if (DeliveryRunning() && !FRetiredBuffer) {
      FRetiredBuffer = std::move(FImageBuffer);
    } else {
      old = std::move(FImageBuffer);
    }
    FImageBuffer = std::move(buffer);
  }
}

void TVxCaptureDevice::ReleaseImageBuffer() {
  std::unique_ptr<uint8_t[]> old;
  {
    std::lock_guard lock(FBufferLock);
    if (DeliveryRunning()) {
      FReleasePending = true;
    } else {
      old = std::move(FImageBuffer);
    }
  }
}

void TVxCaptureDevice::ClaimDelivery() {
  std::lock_guard lock(FBufferLock);
  FDeliveryClaimed = true;
}

void TVxCaptureDevice::DoImage() {
  std::shared_ptr<const TNotifyEvent> handler;
  {
    std::lock_guard lock(FBufferLock);
    FDeliveryClaimed = false;
    ++FDeliveries;
    handler = FOnImage;
  }
  // Ends the delivery however the handler leaves, and does the release a
  // Close asked for meanwhile.
  struct EndDelivery {
    TVxCaptureDevice& device;
    ~EndDelivery() {
      std::unique_ptr<uint8_t[]> released;
      std::unique_ptr<uint8_t[]> retired;
      std::lock_guard lock(device.FBufferLock);
      if (--device.FDeliveries > 0 || device.FDeliveryClaimed) return;
      retired = std::move(device.FRetiredBuffer);
      if (device.FReleasePending) {
        device.FReleasePending = false;
        released = std::move(device.FImageBuffer);
      }
    }
  } end{*this};
  if (*handler) (*handler)(*this);
}

}  // namespace dactyra
