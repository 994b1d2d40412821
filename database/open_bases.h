// The fingerprint databases Java has open, by handle, and the template
// maker they share (the process's extractor).
//
// Handles are numbers counted up from 1, never addresses: a handle that
// was closed never names another database later, and a native call that
// is running when its database is closed keeps the object alive until it
// returns (each call holds a shared reference).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "database/fingerprint_database.h"

namespace dactyra::database {

// A handle that names no open database (closed, or never given out).
class EBaseClosed : public EDatabase {
 public:
  using EDatabase::EDatabase;
};

class TOpenBases {
 public:
  static TOpenBases& Instance();

  int64_t Add(std::shared_ptr<TFingerprintDatabase> base);
  // Throws EBaseClosed for a handle that names none.
  std::shared_ptr<TFingerprintDatabase> Get(int64_t handle) const;
  // Forgets the handle; the database goes when its last call returns.
  void Close(int64_t handle);

 private:
  mutable std::mutex lock_;
  int64_t next_ = 1;
  std::map<int64_t, std::shared_ptr<TFingerprintDatabase>> bases_;
};

// The template maker of the databases Java opens: the process's extractor.
TemplateMaker& ProcessTemplateMaker();

}  // namespace dactyra::database
