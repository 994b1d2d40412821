// What the recording engine saw: the export VxRecorder_State of the test
// engine (templates/tests/vx_extract_recorder.cc) returns this record.
//
// The engine's records: bytes 0-3 "VXRC", 4-5 width, 6-7 height, 8-9 and
// 10-11 the two resolutions (16-bit little-endian), 12 position, 13
// impression type, 14 save-curvature flag, 15 save-G flag, 16-19 the sum of
// the pixels, 20 whether the configuration held the engine's defaults, 21
// unused; then the layout of template records with flags 1 | 2·curvature |
// 4·G, minutiae derived from the pixels, an empty skipped block, no cores,
// deltas or double cores. A picture whose pixels are all 255 has no
// template.
#pragma once

#include <cstdint>

struct VxRecorderState {
  int default_configs;     // GetDefaultConfig calls
  int extractions;         // ExtractMinutiae calls
  int templates_made;      // template objects returned
  int templates_released;  // operation 0 calls
  int exports;             // operation 3 calls
  int violations;          // broken contract: see last_violation
  const char* last_violation;
  // The last ExtractMinutiae call.
  const void* last_pixels;
  int32_t last_width;
  int32_t last_height;
  const void* last_config;
  int32_t last_skeleton;
  const void* last_binary;
  // The last operation 3 call.
  const void* last_export_buffer;
  int32_t last_export_args[8];  // width, height, resolutions, position, impression, flags
  int32_t last_export_result;
};

// Byte i of the engine's default configuration.
inline uint8_t VxRecorderDefaultByte(int i) { return static_cast<uint8_t>(0xA0 + i); }

using VxRecorderStateFn = VxRecorderState* (*)();
using VxRecorderResetFn = void (*)();
