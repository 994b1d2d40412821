// The open databases of database/open_bases.h.
#include "database/open_bases.h"

namespace dactyra::database {

TOpenBases& TOpenBases::Instance() {
  // Never destroyed: a Java thread may still be in a call while the
  // process ends.
  static TOpenBases* bases = new TOpenBases;
  return *bases;
}

int64_t TOpenBases::Add(std::shared_ptr<TFingerprintDatabase> base) {
  std::lock_guard held(lock_);
  const int64_t handle = next_++;
  bases_.emplace(handle, std::move(base));
  return handle;
}

std::shared_ptr<TFingerprintDatabase> TOpenBases::Get(int64_t handle) const {
  std::lock_guard held(lock_);
  const auto it = bases_.find(handle);
  if (it == bases_.end()) throw EBaseClosed(u"The fingerprint base is closed");
  return it->second;
}

void TOpenBases::Close(int64_t handle) {
  std::shared_ptr<TFingerprintDatabase> closing;
  {
    std::lock_guard held(lock_);
    const auto it = bases_.find(handle);
    if (it == bases_.end()) return;
    closing = std::move(it->second);
    bases_.erase(it);
  }
  // Released outside the lock: closing the file may wait for SQLite.
}

TemplateMaker& ProcessTemplateMaker() {
  static EngineTemplateMaker* maker = new EngineTemplateMaker(templates::TVxExtractor::Instance());
  return *maker;
}

}  // namespace dactyra::database
