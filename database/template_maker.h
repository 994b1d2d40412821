// How the fingerprint database turns a gray image into a template record:
// through the extraction engine binding, so the image log applies to the
// images of enrollments and searches as to every other extraction.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/gray_image.h"
#include "templates/extractor.h"

namespace dactyra::database {

class TemplateMaker {
 public:
  virtual ~TemplateMaker() = default;
  // The template record of `image` taken from finger `indDedo` (a finger
  // position code, 0 when unknown); nothing when the engine finds no
  // template. Throws for an image without pixels and for engine failures.
  // Safe from any thread.
  virtual std::optional<std::vector<uint8_t>> Make(const TGrayImage& image, int32_t indDedo) = 0;
};

// Over an extractor (the process's own unless another is given): one
// configuration, made with the engine's defaults at the first image.
class EngineTemplateMaker final : public TemplateMaker {
 public:
  explicit EngineTemplateMaker(
      templates::TVxExtractor& extractor = templates::TVxExtractor::Instance())
      : extractor_(extractor) {}
  std::optional<std::vector<uint8_t>> Make(const TGrayImage& image, int32_t indDedo) override;

 private:
  templates::TVxExtractor& extractor_;
  std::mutex lock_;
  uint64_t handle_ = 0;
};

}  // namespace dactyra::database
