// The native side of one Java Scanner: it owns the scanner component of one
// reader, starts and stops capture runs, and hands every captured image to
// the run's event thread, which delivers it (to Java, in the library).
//
// Threads. Start, stop and destruction run on Java threads under
// ScannersLock, or on the run's own event thread (a listener calling back).
// HandleCapture runs on the thread that processes the component's images;
// it takes only the small hand-over lock. The event thread takes no library
// lock while it delivers.
//
// A stop made on the run's own event thread does not wait for that thread:
// it asks it to end and returns; the thread ends once the delivery in
// progress returns. A stop made elsewhere waits until the event thread has
// ended; a listener that calls back into the scanner family meanwhile is
// refused (TTravaScanners), so the wait always ends. The two ScannerMan
// getters also take ScannerMan's monitor, but never wait for the lock while
// holding it (MonitorFrame), so a listener never waits for a monitor held
// by a thread that waits for the stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "imaging/gray_image.h"
#include "platform/env.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_fp.h"

namespace dactyra {

// What one capture run does with its images, on its event thread.
class TEntregaEventos {
 public:
  virtual ~TEntregaEventos() = default;
  // Runs `laco` (the wait-and-deliver loop) with whatever the deliveries
  // need around it (attaching to the VM and finding the classes). A failure
  // ends the thread without a report.
  virtual void Executar(const std::function<void()>& laco) = 0;
  // Delivers one image. A failure of the receiver that leaves delivery
  // possible is handled here; a failure that escapes ends the thread.
  virtual void Entregar(const TGrayImage& imagem) = 0;
};

// The event side of one capture run, shared by the scanner, the thread
// that processes images and the run's event thread (which may outlive the
// scanner).
struct TCorridaEventos {
  std::atomic<bool> FCapturing{true};
  // Auto-reset: wakes the event thread.
  platform::Event FCondHasImage{false, false};
  // Manual-reset: the run is being stopped.
  platform::Event FParada{true, false};
  // Manual-reset: the event thread has ended (or never started).
  platform::Event FTerminou{true, false};
  // The event thread's id while it runs, 0 before.
  std::atomic<uint64_t> FIdThread{0};

  // The latest image not yet taken by the event thread; under FImagemLock.
  std::mutex FImagemLock;
  GrayImagePtr FGrayImage;
  // Images handed over and images delivered, for the curious (tests).
  std::atomic<uint64_t> FEntregues{0};

  void Depositar(GrayImagePtr imagem);
  GrayImagePtr Retirar();
};

class TInnerScanner {
 public:
  // A component for the reader `readerName` ("<prefix>\\<serial>"),
  // addressed by name.
  TInnerScanner(const platform::Text& readerName, TAcessoLeitores& leitores,
                platform::Env& env = platform::Env::Default());
  // Stops the capture run first.
  ~TInnerScanner();
  TInnerScanner(const TInnerScanner&) = delete;
  TInnerScanner& operator=(const TInnerScanner&) = delete;

  // Starts a capture run delivering through `entrega`. False, with nothing
  // changed, when a run is already in progress (no second event thread).
  // A failure leaves the scanner idle (after a failed "LFD" command the
  // component stays active until the next stop).
  bool StartCapturing(std::shared_ptr<TEntregaEventos> entrega);
  // Ends the run and deactivates the reader. `esperaMs` bounds the wait for
  // the event thread (the library's unload gives a bound; Java calls wait
  // for ever). Nothing happens to an idle scanner's run.
  void StopCapturing(uint32_t esperaMs = platform::kInfinite);
  bool IsCapturing() const { return FCapturing.load(); }
  // Asks the run's event thread to end without waiting for it (so that a
  // stop of many scanners waits for their event threads at once).
  void PedirParada();

  // The reader name, "<prefix>\\<serial>".
  const platform::Text& NumSerie() const { return FNumSerie; }
  TVelmoraFP& VelmoraFP() { return *FVelmoraFP; }
  // The current run, or null (tests).
  std::shared_ptr<TCorridaEventos> Corrida();

 private:
  void HandleCapture();
  static void RunEvents(const std::shared_ptr<TCorridaEventos>& corrida,
                        const std::shared_ptr<TEntregaEventos>& entrega);

  platform::Text FNumSerie;
  // Written only by start and stop (serialised); read by IsCapturing.
  std::atomic<bool> FCapturing{false};
  std::unique_ptr<TVelmoraFP> FVelmoraFP;
  // Guards the pointer only; HandleCapture copies it.
  mutable std::mutex FCorridaLock;
  std::shared_ptr<TCorridaEventos> FCorrida;
};

}  // namespace dactyra
