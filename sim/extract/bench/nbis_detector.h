// NIST's minutiae detector (NBIS, as Debian's libfprint carries it), reached
// through libfprint's public image API only, as the open engine's peer in
// its benchmark. Built only when libfprint's development files are present;
// nothing but the benchmark links it.
//
// One detector per thread: libfprint answers on the thread-default main
// context of the thread that asked, which Detect runs until the answer comes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/extract/evaluation.h"

namespace dactyra::sim::extract {

class NbisDetector {
 public:
  // The minutiae of a width × height gray image (ridges dark); false with a
  // reason in `error` when libfprint refused it.
  bool Detect(const uint8_t* pixels, int width, int height, std::vector<PeerMinutia>* out,
              std::string* error);
};

}  // namespace dactyra::sim::extract
