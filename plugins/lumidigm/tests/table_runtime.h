// A private runtime with a transport table of the test's own, made once the
// runtime is in place (its registry's named mutex lives there) and gone
// before the runtime is removed.
#pragma once

#include <memory>

#include "platform/env.h"
#include "plugins/lumidigm/tests/private_runtime.h"
#include "plugins/lumidigm/transport/open_transport.h"

namespace dactyra::v100::testing {

class TableRuntimeTest : public PrivateRuntimeTest {
 protected:
  void SetUp() override {
    PrivateRuntimeTest::SetUp();
    table_ = std::make_unique<TransportTable>(platform::Env::Default());
  }
  void TearDown() override {
    table_.reset();
    PrivateRuntimeTest::TearDown();
  }
  TransportTable& transports() { return *table_; }

 private:
  std::unique_ptr<TransportTable> table_;
};

}  // namespace dactyra::v100::testing
