// The binding to the extraction engine (VxExtract.so): loading it, its
// defaults, and extraction into a template object that writes itself out as
// a template record. Not thread-safe: the extractor (templates/extractor.h)
// calls it under ExtractorLock only.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/env.h"
#include "support/exception.h"
#include "templates/vx_extract_abi.h"

namespace dactyra::templates {

// The engine's module file name on this platform ("VxExtract.dll" on
// Windows).
platform::Text EngineFileName();

// The engine could not be loaded; the message is the system's text for the
// last attempt.
class EVxExtractLoad : public Exception {
 public:
  using Exception::Exception;
};

// A plain pixel buffer of FWidth × FHeight bytes, owned unless it was given.
class TVxImage {
 public:
  // Keeps `buffer` when given (not owned), otherwise allocates width × height
  // zero bytes. Throws Exception for negative sizes.
  TVxImage(uint8_t* buffer, int32_t width, int32_t height);
  TVxImage(const TVxImage&) = delete;
  TVxImage& operator=(const TVxImage&) = delete;

  int32_t height() const { return FHeight; }
  int32_t width() const { return FWidth; }
  uint8_t* buffer() const { return FBuffer; }

 private:
  int32_t FHeight;
  int32_t FWidth;
  uint8_t* FBuffer;
  std::unique_ptr<uint8_t[]> owned_;
};

// One template object of the engine; releasing the wrapper releases it
// (operation 0), exactly once.
class TVxTemplate {
 public:
  explicit TVxTemplate(VxTemplate* engine_object) : FInterface(engine_object) {}
  ~TVxTemplate();
  TVxTemplate(const TVxTemplate&) = delete;
  TVxTemplate& operator=(const TVxTemplate&) = delete;

  // Operation 3 with its arguments in this order: the record's size, and
  // the record written into `buffer` when that is not null.
  int32_t ExportRecord(uint8_t* buffer, int32_t width, int32_t height, int32_t horzResolution,
                       int32_t vertResolution, int32_t position, int32_t impressionType,
                       bool saveCurvature, bool saveG);

 private:
  template <typename Fn>
  Fn Operation(int index) const;
  VxTemplate* FInterface;
};

class TVxExtractDll {
 public:
  // Binds the engine: by bare name through the loader's search, then as
  // `library_folder` + the engine's file name. Throws EVxExtractLoad with
  // the system's message for the second attempt when both fail. A missing
  // export leaves its operation unavailable.
  static std::unique_ptr<TVxExtractDll> Create(platform::Env& env,
                                               const platform::Text& library_folder);

  bool HasDefaultConfig() const { return get_default_config_ != nullptr; }
  bool HasExtractMinutiae() const { return extract_minutiae_ != nullptr; }

  // Fills the VX_EXTRACT_CONFIG_SIZE bytes at `params` with the engine's
  // defaults; leaves them as they are when the engine lacks
  // GetDefaultConfig.
  void PegParametrosDefault(TVxExtractorConfiguration* params);

  // Extracts from `iw` × `ih` gray levels at `idata` with the configuration
  // at `params`. Null when the engine lacks ExtractMinutiae or returns no
  // template. The engine's binary image goes to a work buffer of exactly
  // iw × ih bytes: it is made anew whenever an image's size differs from
  // the previous one's, so a larger image never runs past a smaller one's
  // buffer. Throws Exception for sizes that are not positive.
  std::unique_ptr<TVxTemplate> ExtractMinutiae(const uint8_t* idata, int32_t iw, int32_t ih,
                                               const TVxExtractorConfiguration* params);

  // The work buffer, absent before the first extraction (tests).
  const TVxImage* ImagemBinaria() const { return FImagemBinaria.get(); }

 private:
  TVxExtractDll(std::unique_ptr<platform::Module> module);

  bool FExtrairEsqueleto = false;
  std::unique_ptr<TVxImage> FImagemBinaria;
  std::unique_ptr<platform::Module> module_;
  TVxExtractMinutiaeProc extract_minutiae_ = nullptr;
  TVxGetDefaultConfigProc get_default_config_ = nullptr;
};

}  // namespace dactyra::templates
