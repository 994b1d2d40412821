// The base of every opened capture device: its state, the image buffer it
// fills and the notification that hands each new image to its owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/text.h"
#include "plugins/interface/vxr_plugin.h"

namespace dactyra {

class TVxCaptureDevice {
 public:
  // Called for every new image with the device as sender.
  using TNotifyEvent = std::function<void(TVxCaptureDevice& sender)>;

  // Releases the image buffer. Devices that close themselves on release do
  // it in their own destructor; the owner must have stopped the thread that
  // delivers images before it releases the device.
  virtual ~TVxCaptureDevice();
  TVxCaptureDevice(const TVxCaptureDevice&) = delete;
  TVxCaptureDevice& operator=(const TVxCaptureDevice&) = delete;

  // The device is open and capturing may go on.
  bool Active() const { return FActive.load(); }
  // The device needs its owner's capture thread to pull images.
  bool UseThread() const { return FUseThread; }
  // Size of the last image, or of the largest one after Allocate.
  int32_t ImageWidth() const { return FImageWidth.load(); }
  int32_t ImageHeight() const { return FImageHeight.load(); }
  // May be set while images arrive (a device that pushes its images starts
  // when it opens): a delivery uses the handler set when it began.
  TNotifyEvent OnImage() const;
  void SetOnImage(TNotifyEvent handler);
  // The pixels of the last image (the buffer past its 20-byte header), or
  // null when there is no buffer. Valid during a delivery even when the
  // device is closed meanwhile.
  const uint8_t* ImageBuffer() const;

  // Prepares the image buffer; called once on the capture thread before the
  // first image.
  virtual void Allocate() = 0;
  // Waits for the next image; true when one arrived. DoImage must follow.
  virtual bool WaitImage() = 0;
  // Stops and releases the device. A device call under way on the capture
  // thread may still be returning (see StopBoundMs).
  virtual void Close() = 0;
  // How long a stop waits for the capture thread's device call to return
  // once Close has run; past it the owner may leave the thread behind (it
  // holds the device until its call returns).
  virtual uint32_t StopBoundMs() const { return UINT32_MAX; }
  // False when the thread that delivers the images belongs to a vendor
  // library that must not be held up: the owner drops an image it cannot
  // take at once rather than wait in the delivery.
  virtual bool MayHoldDelivery() const { return true; }
  // Passes a text command to the device, or to its module as a whole.
  virtual platform::Text SendCommandStr(const platform::Text& command, const platform::Text& args,
                                        bool noHandle) = 0;

  // Hands the image of the last successful WaitImage to OnImage. The image
  // buffer is kept until this returns, whatever Close does meanwhile.
  void DoImage();

 protected:
  // `active`: open and capturing may go on; `useThread`: the owner's
  // capture thread pulls the images.
  TVxCaptureDevice(bool active, bool useThread) : FActive(active), FUseThread(useThread) {}

  // The buffer's header, or null; for the image call that fills it.
  TVxrImage* ImageRecord() const;
  // Installs a new buffer; the old one goes now, or after a delivery that
  // still reads it.
  void ReplaceImageBuffer(std::shared_ptr<uint8_t[]> buffer);
  // Releases the buffer now, or once the running delivery has finished.
  void ReleaseImageBuffer();
  // Marks the image just received as handed out: the buffer stays until
  // the DoImage that follows has run.
  void ClaimDelivery();

  std::atomic<bool> FActive;
  const bool FUseThread;
  std::atomic<int32_t> FImageWidth{0};
  std::atomic<int32_t> FImageHeight{0};

 private:
  // Each delivery holds its own reference to the buffer it started with,
  // so a buffer goes when the device has let go of it and the last
  // delivery that reads it has ended.
  //
  // Guards the buffer fields below; held only for short steps, never during
  // a plug-in call or a callback.
  mutable std::mutex FBufferLock;
  // Never null; replaced whole, so a delivery keeps the one it took.
  std::shared_ptr<const TNotifyEvent> FOnImage = std::make_shared<const TNotifyEvent>();
  // The installed buffer; null before Allocate and after Close.
  std::shared_ptr<uint8_t[]> FImageBuffer;
  // The buffer of the image WaitImage handed out, until DoImage takes it.
  std::shared_ptr<uint8_t[]> FClaimed;
  // The buffer of the delivery running now, while one does.
  std::weak_ptr<uint8_t[]> FDelivering;
};

}  // namespace dactyra
