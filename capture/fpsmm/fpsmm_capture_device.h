// A device opened through an FPSmm module. It pushes its images: the module
// calls back on a thread of its own, and each image is copied into the
// device's buffer and handed to OnImage there. No capture thread of the
// library runs for it (Active and UseThread stay false).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "capture/capture_device.h"
#include "platform/text.h"
#include "plugins/interface/fpsmm_module.h"

namespace dactyra {

class TFPSmmCaptureModule;
class TFPsmmCaptureDeviceImpl;

// What the module's image callback reaches: the device while it lives, or
// nothing. It outlives the device when the module refused to stop, so a
// module that goes on calling back finds no device and its images are
// dropped.
struct FpsmmCallbackGate {
  std::mutex lock;
  std::condition_variable idle;
  // Null once the device is gone.
  TFPsmmCaptureDeviceImpl* device = nullptr;
  // Callbacks inside the device now.
  int running = 0;
};

class TFPsmmCaptureDeviceImpl final : public TVxCaptureDevice {
 public:
  // Over an opened scanner object, which the library never frees; the
  // module outlives the device.
  TFPsmmCaptureDeviceImpl(TFPSmmCaptureModule& modulo, PFPSmmScannerImpl impl);
  // Stops capturing when Close has not, and waits for an image delivery
  // still running (one whose handler called Close) to finish; errors are
  // not raised from here. Must not run inside the device's own delivery.
  // When the module still refuses to stop, the callback gate is kept, so
  // its later callbacks find no device.
  ~TFPsmmCaptureDeviceImpl() override;

  // Buffers the largest image the scanner object announces (the library
  // itself never calls it for these devices).
  void Allocate() override;
  // Images are pushed, never waited for: false at once.
  bool WaitImage() override { return false; }
  // Stops capturing; once it returns no image arrives. May run inside an
  // image delivery.
  void Close() override;
  // FPSmm devices take no commands: empty, without calling the module.
  platform::Text SendCommandStr(const platform::Text& command, const platform::Text& args,
                                bool noHandle) override;

  // The module that opened the device.
  TFPSmmCaptureModule& Modulo() const { return FModulo; }

  // Hands the callbacks to the scanner object and starts it, once.
  void IniciarCapturaFPSmm();
  // Stops it when it runs.
  void PararCapturaFPSmm();

  // The image callback's work: an image whose width or height is not
  // positive, or whose size overflows, is dropped without touching the
  // buffer; otherwise the buffer follows the image's size, receives its
  // pixels and the image is delivered. Runs on the module's thread.
  void ImagemRecebida(int32_t width, int32_t height, const uint8_t* pixels);

 private:
  static void FPSMM_STDCALL ImagemFPSmm(void* context, int32_t width, int32_t height,
                                        const uint8_t* pixels);
  static void FPSMM_STDCALL AvisoFPSmm(int32_t a, int32_t b);

  TFPSmmCaptureModule& FModulo;
  PFPSmmScannerImpl FImpl;
  // Set by a start that succeeded; taken back by the stop that ends it, so
  // two Close calls at once stop the scanner object once.
  std::atomic<bool> FIsCapturing{false};
  // The callbacks' context; kept past the device once a stop was refused.
  std::shared_ptr<FpsmmCallbackGate> FGate = std::make_shared<FpsmmCallbackGate>();
};

}  // namespace dactyra
