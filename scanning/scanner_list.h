// The library-wide list of scanners handed to Java, and their handles.
//
// A handle is a number this list gave out, never reused within the
// process: an unknown number (0, a handle from before an uninitialize, any
// other value) is refused with EVelmoraFP instead of being taken for an
// address. All operations run under ScannersLock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/env.h"
#include "platform/text.h"
#include "scanning/inner_scanner.h"
#include "scanning/reader_access.h"

namespace dactyra {

class TListaScanners {
 public:
  explicit TListaScanners(TAcessoLeitores& leitores, platform::Env& env = platform::Env::Default());
  // Stops every scanner still capturing (waiting a bounded time for each
  // event thread: at unload the VM may no longer run it) and frees them.
  ~TListaScanners();
  TListaScanners(const TListaScanners&) = delete;
  TListaScanners& operator=(const TListaScanners&) = delete;

  // Every module's own count of readers, DigitalPersona's included.
  int32_t ContarLeitores();
  // The handle of the scanner for the reader at `index`, made on first
  // need; 0 when there is no reader there.
  int64_t PegScanner(int32_t index);
  // The scanner of `handle`; EVelmoraFP "Invalid scanner handle" otherwise.
  TInnerScanner& Scanner(int64_t handle);
  // Stops and frees every scanner; their handles are refused afterwards.
  // `esperaMs` bounds the wait for all event threads together.
  void Esvaziar(uint32_t esperaMs = platform::kInfinite);
  // The library is going (process exit or unload): every scanner is
  // stopped and freed, waiting a bounded time for the lock and for the
  // event threads (the VM may no longer run them). Its readers are closed
  // and their guards given back.
  void Descarregar();
  size_t Tamanho() const { return FScanners.size(); }

 private:
  struct Entrada {
    int64_t handle;
    std::unique_ptr<TInnerScanner> scanner;
  };

  TAcessoLeitores& FLeitores;
  platform::Env& FEnv;
  std::vector<Entrada> FScanners;
};

// The list behind the Java entry points.
TListaScanners& ScannerList();

// How long the library's unload waits for the event threads.
inline constexpr uint32_t kEsperaDescarga = 500;

}  // namespace dactyra
