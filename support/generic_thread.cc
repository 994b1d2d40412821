#include "support/generic_thread.h"

#include <utility>

#include "support/exception.h"

namespace dactyra {

TThreadGenerica::TThreadGenerica(TMetodoThreadGenerica rotina, bool liberarAuto, void* parametro,
                                 platform::Env& env)
    : rotina_(std::move(rotina)),
      parametro_(parametro),
      liberar_auto_(liberarAuto),
      start_gate_(std::make_shared<platform::Event>(true, false)),
      // The new thread waits at the gate until the constructor is done with
      // the object: a self-freeing thread would otherwise free it while Start
      // or Detach still use it. The thread holds its own reference to the
      // gate, so opening it touches nothing the thread may free.
      thread_(env.NewThread([this, self_freeing = liberarAuto, gate = start_gate_] {
        gate->Wait();
        Run(self_freeing);
      })) {
  const auto gate = std::move(start_gate_);
  if (!rotina_) throw Exception(u"Rotina da thread não informada.");
  if (!thread_ || !thread_->Start()) throw Exception(u"Não foi possível criar a thread.");
  if (liberar_auto_) thread_->Detach();
  // The last use of the object here: from now on a self-freeing thread may
  // free it at any moment.
  gate->Set();
}

TThreadGenerica::~TThreadGenerica() {
  // A self-freeing object is destroyed by its own thread, whose routine has
  // returned; there is nothing to wait for.
  if (liberar_auto_) return;
  Terminate();
  // From the thread itself (a routine that broke the rule) joining would
  // deadlock; the platform thread detaches instead.
  if (!thread_->IsCurrent()) thread_->Join();
}

void TThreadGenerica::CreateSelfFreeing(TMetodoThreadGenerica rotina, void* parametro,
                                        platform::Env& env) {
  // Ownership passes to the thread: the pointer may already be dangling when
  // release() hands it back, so it is not used.
  static_cast<void>(
      std::make_unique<TThreadGenerica>(std::move(rotina), true, parametro, env).release());
}

void TThreadGenerica::WaitFor() {
  if (thread_->IsCurrent()) throw Exception(u"Uma thread não pode esperar por si mesma.");
  thread_->Join();
}

void TThreadGenerica::Run(bool self_freeing) {
  // Frees the object when the routine is done, for a self-freeing thread.
  const std::unique_ptr<TThreadGenerica> owned(self_freeing ? this : nullptr);
  try {
    rotina_(*this);
  } catch (...) {
    // An error ends the thread without a report.
    if (!self_freeing) fatal_ = std::current_exception();
  }
}

}  // namespace dactyra
