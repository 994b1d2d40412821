// The extractor behind NFExtractor: binds the engine on first use, hands out
// configuration records as extractor handles, and turns an image into a
// template record, logging the image first when the log is switched on.
// Every operation holds the extractor's lock for its whole length (the
// process's one extractor uses ExtractorLock), so any thread may call.
//
// Configuration records are never freed while the extractor lives: a Java
// extractor may use its handle at any time and there is no call that
// releases one. Each costs VX_EXTRACT_CONFIG_SIZE (40) bytes plus one entry
// of the handle set, about 100 bytes in all; the Java layer reuses the
// handles of closed extractors, so their number is the largest number of
// extractors open at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "platform/env.h"
#include "platform/threads.h"
#include "support/exception.h"
#include "templates/vx_extract_dll.h"

namespace dactyra::templates {

// The engine is bound but has no ExtractMinutiae.
class ENoExtractMinutiae : public Exception {
 public:
  using Exception::Exception;
};

// A call that the caller got wrong (an unknown handle, an image that does
// not hold its pixels).
class EBadExtractorArgument : public Exception {
 public:
  using Exception::Exception;
};

// The engine broke its contract (a record size that is not positive, or
// that changes between the two export calls).
class EEngineContract : public Exception {
 public:
  using Exception::Exception;
};

// The fixed arguments of every record export.
inline constexpr int32_t kExportResolution = 500;

class TVxExtractor {
 public:
  // `library_folder`, with its trailing delimiter, is where the engine is
  // looked for after the loader's search and where the image log lives;
  // empty means the folder of the module that holds this code, asked of
  // `env` at each use.
  explicit TVxExtractor(platform::Env& env, platform::CriticalSection& lock,
                        platform::Text library_folder = {});
  ~TVxExtractor();
  TVxExtractor(const TVxExtractor&) = delete;
  TVxExtractor& operator=(const TVxExtractor&) = delete;

  // The process's extractor, over Env::Default() and ExtractorLock.
  static TVxExtractor& Instance();

  // The library's folder, with its trailing delimiter.
  platform::Text LibraryFolder() const;
  // Where the engine is looked for after the loader's search.
  platform::Text EnginePath() const { return LibraryFolder() + EngineFileName(); }

  // Binds the engine when it is not bound yet (EVxExtractLoad on failure,
  // and the next call tries again), then returns a new configuration record
  // filled with the engine's defaults (zeros when it has no
  // GetDefaultConfig). The result is never 0.
  uint64_t CreateExtractor();

  // Whether `handle` is one CreateExtractor returned.
  bool IsHandle(uint64_t handle) const;

  // The template record of `width` × `height` gray levels (row 0 first) in
  // `pixels`, at the enum ordinals `position` and `impression`. Nothing
  // when the engine finds no template. Throws EBadExtractorArgument for an
  // unknown handle, sizes that are not positive or pixels fewer than
  // width × height, ENoExtractMinutiae and EEngineContract as above.
  std::optional<std::vector<uint8_t>> Extract(uint64_t handle, std::span<const uint8_t> pixels,
                                              int32_t width, int32_t height, int32_t position,
                                              int32_t impression);

  // Checks the arguments Extract checks, apart from the pixels themselves:
  // the handle and the sizes, given how many pixel bytes there are.
  void CheckExtractArguments(uint64_t handle, size_t pixel_count, int32_t width,
                             int32_t height) const;

  // Whether the engine is bound (tests).
  bool Bound() const;
  // The binding, or null (tests).
  const TVxExtractDll* Binding() const { return dll_.get(); }

 private:
  // The record as bytes: only the engine knows its fields.
  struct alignas(VX_EXTRACT_CONFIG_ALIGN) Configuration {
    unsigned char bytes[VX_EXTRACT_CONFIG_SIZE];
    TVxExtractorConfiguration* record() {
      return reinterpret_cast<TVxExtractorConfiguration*>(bytes);
    }
  };

  platform::Env& env_;
  platform::CriticalSection& lock_;
  platform::Text library_folder_;
  std::unique_ptr<TVxExtractDll> dll_;
  // Every configuration record handed out, by its address.
  std::unordered_map<uint64_t, std::unique_ptr<Configuration>> configurations_;
};

}  // namespace dactyra::templates
