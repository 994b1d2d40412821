#include "templates/extractor.h"

#include <cstring>
#include <mutex>

#include "support/folders.h"
#include "templates/extractor_lock.h"
#include "templates/image_log.h"

namespace dactyra::templates {

using platform::Text;

namespace {

// Any address inside this library serves to find the module that holds it.
const char kInsideTheLibrary = 0;

Text Hex(uint64_t value) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  Text text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return u"0x" + text;
}

Text Number(int64_t value) { return platform::FromUtf8(std::to_string(value)); }

}  // namespace

TVxExtractor::TVxExtractor(platform::Env& env, platform::CriticalSection& lock, Text library_folder)
    : env_(env), lock_(lock), library_folder_(std::move(library_folder)) {}

TVxExtractor::~TVxExtractor() = default;

TVxExtractor& TVxExtractor::Instance() {
  // Never destroyed: a Java thread may still be extracting while the
  // process ends, and the engine stays loaded until then.
  static TVxExtractor* extractor = new TVxExtractor(platform::Env::Default(), ExtractorLock());
  return *extractor;
}

Text TVxExtractor::LibraryFolder() const {
  if (!library_folder_.empty()) return library_folder_;
  return FolderOfModuleName(env_.ModuleFileNameOf(&kInsideTheLibrary), PathDelimiters());
}

bool TVxExtractor::Bound() const {
  std::lock_guard held(lock_);
  return dll_ != nullptr;
}

uint64_t TVxExtractor::CreateExtractor() {
  std::lock_guard held(lock_);
  if (!dll_) dll_ = TVxExtractDll::Create(env_, LibraryFolder());
  // Zeroed, so an engine without defaults still gets a defined record.
  auto configuration = std::make_unique<Configuration>();
  std::memset(configuration->bytes, 0, sizeof configuration->bytes);
  dll_->PegParametrosDefault(configuration->record());
  const auto handle = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(configuration.get()));
  configurations_.emplace(handle, std::move(configuration));
  return handle;
}

bool TVxExtractor::IsHandle(uint64_t handle) const {
  std::lock_guard held(lock_);
  return configurations_.contains(handle);
}

void TVxExtractor::CheckExtractArguments(uint64_t handle, size_t pixel_count, int32_t width,
                                         int32_t height) const {
  std::lock_guard held(lock_);
  // Only addresses this extractor gave out reach the engine: 0, a handle of
  // another library copy or a stray number would be taken as a record.
  if (!configurations_.contains(handle)) {
    throw EBadExtractorArgument(u"Not an extractor handle: " + Hex(handle));
  }
  if (width <= 0 || height <= 0) {
    throw EBadExtractorArgument(u"Image size " + Number(width) + u" × " + Number(height) +
                                u" has no pixels");
  }
  const uint64_t needed = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (pixel_count < needed) {
    throw EBadExtractorArgument(u"Image buffer holds " + Number(static_cast<int64_t>(pixel_count)) +
                                u" bytes, " + Number(width) + u" × " + Number(height) + u" needs " +
                                Number(static_cast<int64_t>(needed)));
  }
}

std::optional<std::vector<uint8_t>> TVxExtractor::Extract(uint64_t handle,
                                                          std::span<const uint8_t> pixels,
                                                          int32_t width, int32_t height,
                                                          int32_t position, int32_t impression) {
  std::lock_guard held(lock_);
  CheckExtractArguments(handle, pixels.size(), width, height);
  // With a handle there is a binding: handles exist only once it is made.
  if (!dll_->HasExtractMinutiae()) {
    throw ENoExtractMinutiae(u"The extraction engine " + EngineFileName() +
                             u" has no ExtractMinutiae");
  }

  if (ImageLogEnabled(env_)) GravarLogImagem(env_, LibraryFolder(), width, height, pixels);

  const TVxExtractorConfiguration* configuration = configurations_.find(handle)->second->record();
  const std::unique_ptr<TVxTemplate> found =
      dll_->ExtractMinutiae(pixels.data(), width, height, configuration);
  if (!found) return std::nullopt;

  const int32_t size = found->ExportRecord(nullptr, width, height, kExportResolution,
                                           kExportResolution, position, impression, true, true);
  if (size <= 0) {
    throw EEngineContract(u"The extraction engine announced a template record of " + Number(size) +
                          u" bytes");
  }
  std::vector<uint8_t> record(static_cast<size_t>(size));
  const int32_t written = found->ExportRecord(record.data(), width, height, kExportResolution,
                                              kExportResolution, position, impression, true, true);
  if (written != size) {
    throw EEngineContract(u"The extraction engine announced a template record of " + Number(size) +
                          u" bytes and wrote one of " + Number(written));
  }
  return record;
}

}  // namespace dactyra::templates
