// The configuration both DigitalPersona stand-ins read: one text file named
// by the environment variable DACTYRA_DP_SIM, read afresh at every
// enumeration (so a test can plug in or pull a reader between two listings
// by rewriting it). Lines are "key = value"; "#" starts a comment; a
// "[section]" line opens a section; a key not listed here, or a value not
// listed for it, is an error.
//
//   [dpfpapi]                 DPFPApi.so
//   init = fail               DPFPInit answers 1
//   enumerate = fail          DPFPEnumerateDevices answers 1
//   create = fail1 | failall  DPFPCreateAcquisition fails at priority 1, or always
//   start = fail              DPFPStartAcquisition answers 1
//   wparam1 = 1               each image is preceded by a message 1288 with WParam 1
//   frame_ms = N              an image every N ms while started (0: only on
//                             DPSim_Trigger; default 0)
//
//   [dpfpfns]                 dpFpFns.so
//   init = fail               FT_init answers 1
//   terminate = fail          FT_terminate answers 1
//   list = fail               FT_getDeviceList answers -1
//   context = fail | connect = fail | monitor = fail | uilink = fail
//                             that step of a capture answers 1
//   frame_ms = N              imageReady every N ms while monitored (0: only on
//                             FTSim_Trigger; default 0)
//
//   [reader]                  one reader; repeat for more
//   library = dpfpapi | dpfpfns
//   guid = 32 hex digits      DPFPApi identity
//   devid = N                 dpFpFns identity
//   id = {1234}               the identifier text
//   product = U.are.U® 4000B  the product name (DPFPApi) or device name
//   width = 448, height = 511 the reader's image size
//   bottom_up = 1             DPFPApi image blocks store the bottom row first
//   pattern = finger | ramp   pixels from sim/fingerprint (seed) or
//                             (x + 3y + seed) & 0xFF; default finger
//   seed = N
//   info = fail               DPFPGetDeviceInfo / FT_getDeviceInfo fails for it
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dactyra::sim::digitalpersona {

struct SimReader {
  std::string library;
  uint8_t guid[16] = {};
  int64_t devid = 0;
  std::string id;
  std::string product;
  int width = 448;
  int height = 511;
  bool bottom_up = false;
  bool ramp = false;
  uint64_t seed = 1;
  bool info_fails = false;
};

struct SimConfig {
  // Keys of the library's own section ("dpfpapi" or "dpfpfns").
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<SimReader> readers;  // this library's readers only
  int frame_ms = 0;

  bool Has(const std::string& key, const std::string& value) const;
};

// The configuration as `library` sees it now; empty when the variable or the
// file is missing. A line that does not read, in any section, ends the
// process with the file and line (sim/config).
SimConfig ReadSimConfig(const std::string& library);

// The reader's picture: width x height gray bytes, rows from the top.
// Rendered once per reader setting and kept.
const std::vector<uint8_t>& ReaderPixels(const SimReader& reader);

// Reports a contract violation on standard error and counts it.
void Violation(const char* library, const std::string& what);
int Violations();

// Nanoseconds of a steady clock.
uint64_t NowNs();

}  // namespace dactyra::sim::digitalpersona
