// A capture module over an FPSmm module file: four exports for counting,
// naming and creating scanner objects, which push their images through a
// callback (see plugins/interface/fpsmm_module.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/capture_module.h"
#include "platform/env.h"
#include "platform/text.h"
#include "plugins/interface/fpsmm_module.h"

namespace dactyra {

// Raises the general error "Erro <status>" for a negative status.
void VerificarErro(int32_t status);

class TFPSmmCaptureModule : public TCaptureModule {
 public:
  // Loads the file, calls "_Init" and binds the other exports. Raises
  // EVelmoraFP "Invalid module '<name>' (<path>)." (after unloading the file
  // once) when an export is missing or "_Init" refuses. The prefix is the
  // module name.
  TFPSmmCaptureModule(platform::Text name, platform::Text path);
  TFPSmmCaptureModule(platform::Env& env, platform::Text name, platform::Text path);

  // The module's count (not the number of identifiers it filled); the
  // identifiers it filled replace the kept ones.
  int32_t DeviceCount() override;
  // Appends the kept identifiers unchanged, counting first when none are
  // kept; returns how many it appended.
  int32_t GetDeviceList(std::vector<platform::Text>& lista) override;
  // Creates a scanner object, opens it as "<prefix>\<serial>" (the bare
  // prefix for an empty serial) and starts it pushing images. Raises "Could
  // not open device <serial>" when opening is refused, "Erro <n>" for other
  // failures.
  std::unique_ptr<TVxCaptureDevice> OpenDevice(const platform::Text& serialNumber) override;

 private:
  std::vector<platform::Text> FIds;
  TFuncFPSmm_Init FProcInit = nullptr;
  TFuncFPSmm_GetDeviceCount FProcGetDeviceCount = nullptr;
  TFuncFPSmm_EnumDeviceIDs FProcEnumDeviceIDs = nullptr;
  TFuncFPSmm_CreateScannerImpl FProcCreateScannerImpl = nullptr;
};

}  // namespace dactyra
