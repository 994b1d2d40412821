#include "capture/fpsmm/fpsmm_capture_module.h"

#include <algorithm>
#include <string>
#include <utility>

#include "capture/fpsmm/fpsmm_capture_device.h"
#include "capture/velmora_error.h"
#include "support/exception.h"

namespace dactyra {
namespace {

constexpr int32_t kMaxFpsmmDevices = 1024;

platform::Text Decimal(int64_t value) { return platform::FromUtf8(std::to_string(value)); }

}  // namespace

void VerificarErro(int32_t status) {
  if (status < 0) throw Exception(u"Erro " + Decimal(status));
}

TFPSmmCaptureModule::TFPSmmCaptureModule(platform::Text name, platform::Text path,
                                         platform::Env& env)
    : TCaptureModule(std::move(name), std::move(path), env) {
  // Exactly these names: an FPSmm module has no decorated spelling.
  FProcInit = FHandle->Function<TFuncFPSmm_Init>("_Init");
  bool accepted = FProcInit && FProcInit() >= 0;
  if (accepted) {
    FProcGetDeviceCount = FHandle->Function<TFuncFPSmm_GetDeviceCount>("_GetDeviceCount");
    FProcEnumDeviceIDs = FHandle->Function<TFuncFPSmm_EnumDeviceIDs>("_EnumDeviceIDs");
    FProcCreateScannerImpl = FHandle->Function<TFuncFPSmm_CreateScannerImpl>("_CreateScannerImpl");
    accepted = FProcGetDeviceCount && FProcEnumDeviceIDs && FProcCreateScannerImpl;
  }
  if (!accepted) {
    // Unloaded here, once; the base destructor finds nothing left.
    FHandle.reset();
    throw EVelmoraFP(u"Invalid module '" + FName + u"' (" + FPath + u").");
  }
  FPrefix = FName;
}

int32_t TFPSmmCaptureModule::DeviceCount() {
  int32_t count = 0;
  VerificarErro(FProcGetDeviceCount(&count));
  // A negative count with a good status counts as none: it can size no
  // array.
  if (count <= 0) {
    FIds.clear();
    return 0;
  }
  // The count sizes the array handed to the module, so a module that
  // answers INT32_MAX would have us zero-fill gigabytes: no machine has
  // more readers than this.
  count = std::min(count, kMaxFpsmmDevices);
  std::vector<const TFPSmmChar*> slots(static_cast<size_t>(count), nullptr);
  int32_t filled = 0;
  VerificarErro(FProcEnumDeviceIDs(count, slots.data(), &filled));
  // Only the slots the module was given can have been filled.
  if (filled < 0) filled = 0;
  if (filled > count) filled = count;
  std::vector<platform::Text> ids;
  ids.reserve(static_cast<size_t>(filled));
  for (int32_t i = 0; i < filled; ++i) {
    if (slots[i]) ids.emplace_back(slots[i]);
  }
  FIds = std::move(ids);
  return count;
}

int32_t TFPSmmCaptureModule::GetDeviceList(std::vector<platform::Text>& lista) {
  if (FIds.empty()) DeviceCount();
  lista.insert(lista.end(), FIds.begin(), FIds.end());
  return static_cast<int32_t>(FIds.size());
}

std::unique_ptr<TVxCaptureDevice> TFPSmmCaptureModule::OpenDevice(
    const platform::Text& serialNumber) {
  PFPSmmScannerImpl impl = nullptr;
  VerificarErro(FProcCreateScannerImpl(&impl));
  if (!impl || !impl->pVMT) throw Exception(u"Could not open device " + serialNumber);
  const platform::Text identifier = serialNumber.empty() ? FPrefix : FPrefix + u"\\" + serialNumber;
  const TFPSmmScannerVMT& vmt = *impl->pVMT;
  int32_t status = vmt.SetSomething(impl, 1);
  if (status == 0) status = vmt.InitScanner(impl, identifier.c_str());
  if (status < 0) throw Exception(u"Could not open device " + serialNumber);
  auto device = std::make_unique<TFPsmmCaptureDeviceImpl>(*this, impl);
  device->IniciarCapturaFPSmm();
  return device;
}

}  // namespace dactyra
