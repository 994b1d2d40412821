// The UCBioBSP stand-in's controls for tests, and the rule by which it draws
// its frames. The library itself (UCBioBSP.so) exports the seven functions
// of plugins/virdi/ucbiobsp.h and these controls.
//
// Configuration: the file named by the environment variable
// DACTYRA_UCBIOBSP_CONFIG, read at the first call and again whenever it
// changes (or at UCBioSim_Reset). Lines "key=value"; "#" starts a comment;
// a key or option not listed here, or a value that does not read, ends the
// process with the file and line (sim/config).
//   init_failures=N     the first N UCBioAPI_Init calls fail
//   enumerate=fail      every UCBioAPI_EnumerateDevice fails
//   reader=ID WxH [option ...] name=NAME
//                       one reader, in enumeration order; NAME is the rest
//                       of the line (spaces kept, may be empty). Options:
//     capture=ok        frames, then success (the default)
//     capture=fail      frames, then a failure
//     capture=noframe   callbacks without a frame, then success
//     capture=nullframe callbacks announcing a frame at a null address,
//                       then success
//     capture=timeout   one callback without a frame, then the whole
//                       time-out the caller gave, then a failure
//     frames=N          frames shown per capture (default 3)
//     frame_ms=N        wait before each frame (default 0)
//     seed=S            the finger (default: the ID)
//     open=fail         UCBioAPI_OpenDevice fails
//     info=fail         UCBioAPI_GetDeviceInfo fails
//     present=A-B       attached only during enumerations A to B (counted
//                       from 1 since the last reset; B may be left out)
//
// Frame k (from 0) of every capture on a reader of size W x H is
// FramePixels(seed, W, H, k); it is exactly W x H bytes, the size the
// reader's device information reports. The last frame of a capture is
// frame N - 1.
//
// The stand-in checks what the plug-in interface of UCBioBSP asks of its
// caller (the SDK handle it issued, open devices, the capture's purpose,
// time-out and options, callbacks returning 0, FIR handles released once)
// and records each breach as a violation.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <string>
#include <vector>

#include "sim/fingerprint/fingerprint.h"

extern "C" {
#endif

// Re-reads the configuration and forgets counts, enumerations, open
// devices, FIR handles and violations.
void UCBioSim_Reset(void);
// Calls of one function by its name ("UCBioAPI_Capture"); or, for
// "open devices" and "FIR handles", how many are held now; for
// "violations", how many were recorded.
uint32_t UCBioSim_Count(const char* what);
// The violations, one per line, as far as `size` allows (NUL-terminated
// when size > 0); returns the length of the whole text.
size_t UCBioSim_Violations(char* buffer, size_t size);

#ifdef __cplusplus
}

namespace dactyra::sim::virdi {

inline fingerprint::ImpressionOptions FrameOptions(uint64_t seed, int k) {
  fingerprint::ImpressionOptions options;
  // The finger settles on the sensor: each frame a little further moved.
  options.shift_x = 4.0 * k;
  options.shift_y = -2.0 * k;
  options.noise = 2.0;
  options.seed = seed * 1000 + static_cast<uint64_t>(k);
  return options;
}

inline std::vector<uint8_t> FramePixels(uint64_t seed, int width, int height, int k) {
  return fingerprint::Finger::Generate(seed).Render(width, height, FrameOptions(seed, k)).pixels;
}

inline std::string Violations() {
  std::string text(UCBioSim_Violations(nullptr, 0) + 1, '\0');
  text.resize(UCBioSim_Violations(text.data(), text.size()));
  return text;
}

}  // namespace dactyra::sim::virdi
#endif
