// The engine's exports and its template object.
#include "sim/extract/vx_extract.h"

#include <cmath>
#include <new>

#include "sim/extract/extractor.h"

namespace dactyra::sim::extract {
namespace {

struct Template {
  VxTemplate base;  // first: its first word is the table
  Features features;
};

Template* Self(VxTemplate* t) { return reinterpret_cast<Template*>(t); }

void VX_STDCALL Release(VxTemplate* t) { delete Self(t); }

int32_t VX_STDCALL MinutiaCount(VxTemplate* t) {
  return t ? static_cast<int32_t>(Self(t)->features.minutiae.size()) : 0;
}

int32_t VX_STDCALL SingularCount(VxTemplate* t) {
  return t ? static_cast<int32_t>(Self(t)->features.cores.size() + Self(t)->features.deltas.size())
           : 0;
}

int32_t VX_STDCALL ExportRecord(VxTemplate* t, void* buffer, int32_t width, int32_t height,
                                int32_t horz, int32_t vert, int32_t position, int32_t impression,
                                int32_t save_curvature, int32_t save_g) {
  if (!t) return 0;
  return WriteRecord(Self(t)->features, static_cast<uint8_t*>(buffer), width, height, horz, vert,
                     position, impression, save_curvature != 0, save_g != 0);
}

constexpr VxTemplateOps kOps = {&Release, &MinutiaCount, &SingularCount, &ExportRecord};

}  // namespace
}  // namespace dactyra::sim::extract

using namespace dactyra::sim::extract;

VX_EXPORT void VX_STDCALL GetDefaultConfig(TVxExtractorConfiguration* config) {
  if (config) *config = DefaultConfig();
}

VX_EXPORT VxTemplate* VX_STDCALL ExtractMinutiae(const uint8_t* pixels, int32_t width,
                                                 int32_t height,
                                                 const TVxExtractorConfiguration* config,
                                                 int32_t skeleton, uint8_t* binary) {
  if (!pixels || !config || width < VX_MIN_SIDE || height < VX_MIN_SIDE || width > VX_MAX_SIDE ||
      height > VX_MAX_SIDE)
    return nullptr;
  // No exception may leave the engine: running out of memory gives no
  // template.
  try {
    auto t = new Template;
    t->base.Ops = &kOps;
    t->features = Extract(pixels, width, height, *config, skeleton != 0, binary);
    return &t->base;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
