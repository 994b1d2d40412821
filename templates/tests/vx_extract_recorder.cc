// A recording extraction engine for the binding's tests: the exports and
// template objects of the engine contract, records every call it gets and
// counts every broken rule of the contract, and writes records that say
// what reached it (vx_extract_recorder.h). With VX_RECORDER_LOG set in the
// environment it also appends one line per call to that file, for tests in
// a Java VM. Built without ExtractMinutiae and GetDefaultConfig when
// VX_RECORDER_BARE is defined.
#include "templates/tests/vx_extract_recorder.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "templates/vx_extract_abi.h"

#define RECORDER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

VxRecorderState state;
// The engine is called one at a time by contract; the lock only keeps the
// record of a broken contract sound.
std::mutex state_lock;

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  const char* path = std::getenv("VX_RECORDER_LOG");
  if (path == nullptr) return;
  FILE* file = std::fopen(path, "a");
  if (file == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fputc('\n', file);
  std::fclose(file);
}

void Violation(const char* what) {
  ++state.violations;
  state.last_violation = what;
  Log("VIOLATION %s", what);
}

struct Minutia {
  uint32_t word;
  uint8_t quality, curvature, g;
};

}  // namespace

// The engine's own definitions of the records the contract leaves opaque.
struct TVxExtractorConfiguration {
  uint8_t bytes[VX_EXTRACT_CONFIG_SIZE];
};
struct VxTemplate;

namespace {

void VX_EXTRACT_CALL Release(VxTemplate* self);
int32_t VX_EXTRACT_CALL ExportRecord(VxTemplate* self, void* buffer, int32_t width, int32_t height,
                                     int32_t hres, int32_t vres, int32_t position,
                                     int32_t impression, int32_t save_curvature, int32_t save_g);
void VX_EXTRACT_CALL Unused(VxTemplate*) { Violation("operation 1 or 2 called"); }

void* const kTable[] = {reinterpret_cast<void*>(&Release), reinterpret_cast<void*>(&Unused),
                        reinterpret_cast<void*>(&Unused), reinterpret_cast<void*>(&ExportRecord)};

}  // namespace

struct VxTemplate {
  void* const* table = kTable;
  uint32_t magic = 0x54504C54;
  int32_t width = 0;
  int32_t height = 0;
  uint32_t sum = 0;
  bool config_ok = false;
  std::vector<Minutia> minutiae;
};

namespace {

VxTemplate* Checked(VxTemplate* t) {
  if (t == nullptr || t->magic != 0x54504C54) {
    Violation("operation on something that is no live template");
    return nullptr;
  }
  return t;
}

void VX_EXTRACT_CALL Release(VxTemplate* self) {
  std::lock_guard held(state_lock);
  VxTemplate* t = Checked(self);
  if (t == nullptr) return;
  ++state.templates_released;
  Log("Release");
  t->magic = 0;
  delete t;
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

int32_t VX_EXTRACT_CALL ExportRecord(VxTemplate* self, void* buffer, int32_t width, int32_t height,
                                     int32_t hres, int32_t vres, int32_t position,
                                     int32_t impression, int32_t save_curvature, int32_t save_g) {
  std::lock_guard held(state_lock);
  VxTemplate* t = Checked(self);
  if (t == nullptr) return 0;
  ++state.exports;
  if ((save_curvature != 0 && save_curvature != 1) || (save_g != 0 && save_g != 1)) {
    Violation("a save flag that is not 0 or 1");
  }
  const int stride = 5 + (save_curvature ? 1 : 0) + (save_g ? 1 : 0);
  const int count = static_cast<int>(t->minutiae.size());
  const int32_t size = 26 + count * stride + 3 + 6;
  state.last_export_buffer = buffer;
  const int32_t args[8] = {width, height, hres, vres, position, impression, save_curvature, save_g};
  std::memcpy(state.last_export_args, args, sizeof args);
  state.last_export_result = size;
  Log("ExportRecord %s %d %d %d %d %d %d %d %d -> %d", buffer ? "buffer" : "null", width, height,
      hres, vres, position, impression, save_curvature, save_g, size);
  if (buffer == nullptr) return size;

  uint8_t* p = static_cast<uint8_t*>(buffer);
  std::memset(p, 0, static_cast<size_t>(size));
  std::memcpy(p, "VXRC", 4);
  Put16(p + 4, static_cast<uint32_t>(width));
  Put16(p + 6, static_cast<uint32_t>(height));
  Put16(p + 8, static_cast<uint32_t>(hres));
  Put16(p + 10, static_cast<uint32_t>(vres));
  p[12] = static_cast<uint8_t>(position);
  p[13] = static_cast<uint8_t>(impression);
  p[14] = static_cast<uint8_t>(save_curvature);
  p[15] = static_cast<uint8_t>(save_g);
  std::memcpy(p + 16, &t->sum, 4);
  p[20] = t->config_ok ? 1 : 0;
  p[22] = static_cast<uint8_t>(1 | (save_curvature ? 2 : 0) | (save_g ? 4 : 0));
  p[24] = static_cast<uint8_t>(count);
  p[25] = static_cast<uint8_t>(stride);
  uint8_t* m = p + 26;
  for (const Minutia& minutia : t->minutiae) {
    std::memcpy(m, &minutia.word, 4);
    m += 4;
    *m++ = minutia.quality;
    if (save_curvature) *m++ = minutia.curvature;
    if (save_g) *m++ = minutia.g;
  }
  // Skipped block of length 0, then three empty blocks (count 0, size 0).
  return size;
}

}  // namespace

RECORDER_EXPORT VxRecorderState* VxRecorder_State() { return &state; }

RECORDER_EXPORT void VxRecorder_Reset() {
  std::lock_guard held(state_lock);
  state = VxRecorderState{};
}

#ifndef VX_RECORDER_BARE

RECORDER_EXPORT void VX_EXTRACT_CALL GetDefaultConfig(TVxExtractorConfiguration* config) {
  std::lock_guard held(state_lock);
  ++state.default_configs;
  uint8_t* bytes = config->bytes;
  for (int i = 0; i < VX_EXTRACT_CONFIG_SIZE; ++i) bytes[i] = VxRecorderDefaultByte(i);
  Log("GetDefaultConfig");
}

RECORDER_EXPORT VxTemplate* VX_EXTRACT_CALL ExtractMinutiae(const uint8_t* pixels, int32_t width,
                                                            int32_t height,
                                                            const TVxExtractorConfiguration* config,
                                                            int32_t skeleton, uint8_t* binary) {
  std::lock_guard held(state_lock);
  ++state.extractions;
  state.last_pixels = pixels;
  state.last_width = width;
  state.last_height = height;
  state.last_config = config;
  state.last_skeleton = skeleton;
  state.last_binary = binary;
  if (skeleton != 0 && skeleton != -1) Violation("a skeleton flag that is neither 0 nor -1");
  if (width <= 0 || height <= 0 || pixels == nullptr || binary == nullptr || config == nullptr) {
    Violation("ExtractMinutiae without an image, a configuration or a work buffer");
    return nullptr;
  }
  bool config_ok = true;
  for (int i = 0; i < VX_EXTRACT_CONFIG_SIZE; ++i) {
    config_ok = config_ok && config->bytes[i] == VxRecorderDefaultByte(i);
  }
  // Every pixel is read and every byte of the work buffer written, as an
  // engine would: a short buffer shows under the address sanitizer.
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  uint32_t sum = 0;
  bool blank = true;
  for (size_t i = 0; i < count; ++i) {
    sum += pixels[i];
    blank = blank && pixels[i] == 255;
    binary[i] = pixels[i] < 128 ? 1 : 0;
  }
  Log("ExtractMinutiae %d %d %d %d", width, height, skeleton, config_ok ? 1 : 0);
  if (blank) return nullptr;

  auto* t = new VxTemplate;
  t->width = width;
  t->height = height;
  t->sum = sum;
  t->config_ok = config_ok;
  const int minutiae = 1 + static_cast<int>(sum % 40);
  for (int i = 0; i < minutiae; ++i) {
    const uint32_t x = static_cast<uint32_t>((i * 37 + sum) % static_cast<uint32_t>(width)) & 0x7FF;
    const uint32_t y =
        static_cast<uint32_t>((i * 53 + sum / 7) % static_cast<uint32_t>(height)) & 0x7FF;
    const uint32_t type = static_cast<uint32_t>(i % 2);
    const uint32_t angle = static_cast<uint32_t>((i * 13) & 0xFF);
    t->minutiae.push_back(Minutia{(x << 21) | (y << 10) | (type << 8) | angle,
                                  static_cast<uint8_t>(40 + i), static_cast<uint8_t>(i),
                                  static_cast<uint8_t>(200 - i)});
  }
  ++state.templates_made;
  return t;
}

#endif
