#include "templates/vx_extract_dll.h"

#include <cstring>
#include <limits>

namespace dactyra::templates {

using platform::Text;

Text EngineFileName() { return u"VxExtract" + platform::ModuleSuffix(); }

TVxImage::TVxImage(uint8_t* buffer, int32_t width, int32_t height)
    : FHeight(height), FWidth(width), FBuffer(buffer) {
  if (width < 0 || height < 0) throw Exception(u"Negative image size");
  if (FBuffer == nullptr) {
    owned_ = std::make_unique<uint8_t[]>(static_cast<size_t>(width) * static_cast<size_t>(height));
    FBuffer = owned_.get();
  }
}

template <typename Fn>
Fn TVxTemplate::Operation(int index) const {
  // The object's first word is the address of its table of operations.
  void* const* table = *reinterpret_cast<void* const* const*>(FInterface);
  return reinterpret_cast<Fn>(table[index]);
}

TVxTemplate::~TVxTemplate() {
  Operation<TVxReleaseTemplateProc>(VX_TEMPLATE_OP_RELEASE)(FInterface);
}

int32_t TVxTemplate::ExportRecord(uint8_t* buffer, int32_t width, int32_t height,
                                  int32_t horzResolution, int32_t vertResolution, int32_t position,
                                  int32_t impressionType, bool saveCurvature, bool saveG) {
  return Operation<TVxExportRecordProc>(VX_TEMPLATE_OP_EXPORT_RECORD)(
      FInterface, buffer, width, height, horzResolution, vertResolution, position, impressionType,
      saveCurvature ? 1 : 0, saveG ? 1 : 0);
}

TVxExtractDll::TVxExtractDll(std::unique_ptr<platform::Module> module)
    : module_(std::move(module)) {
  extract_minutiae_ = module_->Function<TVxExtractMinutiaeProc>(VX_EXTRACT_EXTRACT_MINUTIAE);
  get_default_config_ = module_->Function<TVxGetDefaultConfigProc>(VX_EXTRACT_GET_DEFAULT_CONFIG);
}

std::unique_ptr<TVxExtractDll> TVxExtractDll::Create(platform::Env& env,
                                                     const Text& library_folder) {
  const Text name = EngineFileName();
  Text error;
  std::unique_ptr<platform::Module> module =
      env.LoadModule(name, platform::Module::Search::kDefault, &error);
  if (!module) {
    // Only the last attempt's message is kept, as the caller reports it.
    error.clear();
    module = env.LoadModule(library_folder + name, platform::Module::Search::kDefault, &error);
  }
  if (!module) {
    if (error.empty()) error = u"The module " + library_folder + name + u" could not be loaded";
    throw EVxExtractLoad(error);
  }
  return std::unique_ptr<TVxExtractDll>(new TVxExtractDll(std::move(module)));
}

void TVxExtractDll::PegParametrosDefault(TVxExtractorConfiguration* params) {
  if (get_default_config_ != nullptr) get_default_config_(params);
}

std::unique_ptr<TVxTemplate> TVxExtractDll::ExtractMinutiae(
    const uint8_t* idata, int32_t iw, int32_t ih, const TVxExtractorConfiguration* params) {
  if (extract_minutiae_ == nullptr) return nullptr;
  if (iw <= 0 || ih <= 0) throw Exception(u"The image has no pixels");
  if (!FImagemBinaria || FImagemBinaria->width() != iw || FImagemBinaria->height() != ih) {
    FImagemBinaria.reset();  // the old buffer goes first: peak memory is one buffer
    FImagemBinaria = std::make_unique<TVxImage>(nullptr, iw, ih);
  }
  VxTemplate* object = extract_minutiae_(idata, iw, ih, params, FExtrairEsqueleto ? -1 : 0,
                                         FImagemBinaria->buffer());
  if (object == nullptr) return nullptr;
  return std::make_unique<TVxTemplate>(object);
}

}  // namespace dactyra::templates
