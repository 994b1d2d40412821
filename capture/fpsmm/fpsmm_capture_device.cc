#include "capture/fpsmm/fpsmm_capture_device.h"

#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "capture/fpsmm/fpsmm_capture_module.h"
#include "support/exception.h"

namespace dactyra {
namespace {

// Gates of devices released while their module still captured (a refused
// stop). The module may call back until it is unloaded, which comes after
// every member of its capture module is gone: they are kept for the life
// of the process, a few bytes each.
void KeepForever(std::shared_ptr<FpsmmCallbackGate> gate) {
  static auto* const lock = new std::mutex;
  static auto* const kept = new std::vector<std::shared_ptr<FpsmmCallbackGate>>;
  std::lock_guard held(*lock);
  kept->push_back(std::move(gate));
}

}  // namespace

TFPsmmCaptureDeviceImpl::TFPsmmCaptureDeviceImpl(TFPSmmCaptureModule& modulo,
                                                 PFPSmmScannerImpl impl)
    : TVxCaptureDevice(/*active=*/false, /*useThread=*/false), FModulo(modulo), FImpl(impl) {
  FGate->device = this;
}

TFPsmmCaptureDeviceImpl::~TFPsmmCaptureDeviceImpl() {
  // The base's Close on release, done here where it still reaches this
  // class. A module that fails to stop has nothing more to be told.
  try {
    Close();
  } catch (...) {
  }
  {
    std::unique_lock lock(FGate->lock);
    FGate->device = nullptr;
    FGate->idle.wait(lock, [this] { return FGate->running == 0; });
  }
  // Still capturing as far as anyone can tell: the module may call back
  // with the gate as context for as long as it lives.
  if (FIsCapturing.load()) KeepForever(FGate);
}

void TFPsmmCaptureDeviceImpl::IniciarCapturaFPSmm() {
  if (FIsCapturing.load()) return;
  VerificarErro(
      FImpl->pVMT->SetCallbacks(FImpl, FGate.get(), &ImagemFPSmm, &AvisoFPSmm, &AvisoFPSmm));
  VerificarErro(FImpl->pVMT->StartCapture(FImpl));
  FIsCapturing.store(true);
}

void TFPsmmCaptureDeviceImpl::PararCapturaFPSmm() {
  if (!FIsCapturing.exchange(false)) return;
  const int32_t status = FImpl->pVMT->StopCapture(FImpl);
  if (status < 0) {
    // Still capturing as far as anyone can tell: a later stop tries again.
    FIsCapturing.store(true);
    VerificarErro(status);
  }
}

void TFPsmmCaptureDeviceImpl::Close() { PararCapturaFPSmm(); }

platform::Text TFPsmmCaptureDeviceImpl::SendCommandStr(const platform::Text&, const platform::Text&,
                                                       bool) {
  return {};
}

void TFPsmmCaptureDeviceImpl::Allocate() {
  const uint64_t bytes = uint64_t{FImpl->maxWidth} * FImpl->maxHeight;
  if (FImpl->maxWidth > uint32_t{std::numeric_limits<int32_t>::max()} ||
      FImpl->maxHeight > uint32_t{std::numeric_limits<int32_t>::max()} ||
      bytes > std::numeric_limits<int32_t>::max() - sizeof(TVxrImage)) {
    throw Exception(u"@@@4");
  }
  ReplaceImageBuffer(std::make_unique<uint8_t[]>(sizeof(TVxrImage) + bytes));
  FBufferBytes = static_cast<size_t>(bytes);
  FImageWidth = static_cast<int32_t>(FImpl->maxWidth);
  FImageHeight = static_cast<int32_t>(FImpl->maxHeight);
}

void TFPsmmCaptureDeviceImpl::ImagemRecebida(int32_t width, int32_t height, const uint8_t* pixels) {
  if (width <= 0 || height <= 0 || !pixels) return;
  PushImage(width, height, pixels);
}

void FPSMM_STDCALL TFPsmmCaptureDeviceImpl::ImagemFPSmm(void* context, int32_t width,
                                                        int32_t height, const uint8_t* pixels) {
  auto* gate = static_cast<FpsmmCallbackGate*>(context);
  TFPsmmCaptureDeviceImpl* device;
  {
    std::lock_guard lock(gate->lock);
    device = gate->device;
    if (device == nullptr) return;
    ++gate->running;
  }
  // Nothing may unwind into the module: a failing handler loses this image
  // only.
  try {
    device->ImagemRecebida(width, height, pixels);
  } catch (...) {
  }
  // The last touch of the device: its release may go on once this is done.
  std::lock_guard lock(gate->lock);
  if (--gate->running == 0) gate->idle.notify_all();
}

void FPSMM_STDCALL TFPsmmCaptureDeviceImpl::AvisoFPSmm(int32_t, int32_t) {}

}  // namespace dactyra
