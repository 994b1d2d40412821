// A worker thread that runs one routine with a parameter: the capture
// threads, event threads and message threads of the library.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

#include "platform/env.h"
#include "platform/threads.h"

namespace dactyra {

class TThreadGenerica;

// The routine a thread runs; it receives the thread itself, so that a loop
// can poll Terminated and read Parametro.
using TMetodoThreadGenerica = std::function<void(TThreadGenerica& thread)>;

// Created and started at once by its constructor; the routine runs once and
// the thread ends when it returns.
//
// Two ways of ownership, chosen by `liberarAuto`:
// - false: the creator owns the object (hold it in a std::unique_ptr).
//   Destroying it tells the thread to terminate and waits until it has
//   ended, so the routine never outlives the object.
// - true: the thread owns the object and frees it when the routine returns.
//   Such an object must be created with new (CreateSelfFreeing does it) and
//   the creator must not touch it after the constructor returns: it may
//   already be gone. Nobody may destroy it but the thread.
//
// A routine must not destroy its own thread object. An exception that
// escapes the routine ends the thread quietly; for an owned thread it can be
// read with FatalException after WaitFor.
class TThreadGenerica final {
 public:
  // Throws dactyra::Exception when the system cannot create the thread.
  // The thread comes from `env`.
  TThreadGenerica(TMetodoThreadGenerica rotina, bool liberarAuto, void* parametro,
                  platform::Env& env = platform::Env::Default());
  ~TThreadGenerica();
  TThreadGenerica(const TThreadGenerica&) = delete;
  TThreadGenerica& operator=(const TThreadGenerica&) = delete;

  // Starts a thread that frees itself; nothing of it is handed back.
  static void CreateSelfFreeing(TMetodoThreadGenerica rotina, void* parametro,
                                platform::Env& env = platform::Env::Default());

  void* Parametro() const { return parametro_; }
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

  // Asks the routine to end; it sees this through Terminated.
  void Terminate() { terminated_.store(true, std::memory_order_release); }

  // Waits until the routine has returned; at once when it already has.
  // Called from the thread itself it would never return, so it throws
  // dactyra::Exception there instead.
  void WaitFor();

  // What escaped the routine, or null. Meaningful after WaitFor.
  std::exception_ptr FatalException() const { return fatal_; }

 private:
  void Run(bool self_freeing);

  TMetodoThreadGenerica rotina_;
  void* const parametro_;
  const bool liberar_auto_;
  std::atomic<bool> terminated_{false};
  std::exception_ptr fatal_;
  // Opened by the constructor once it is done with the object; handed over
  // to the thread, so the member is empty after construction.
  std::shared_ptr<platform::Event> start_gate_;
  // Never null once the constructor has returned.
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace dactyra
