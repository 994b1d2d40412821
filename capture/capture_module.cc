#include "capture/capture_module.h"

#include <utility>

#include "support/exception.h"

namespace dactyra {

TCaptureModule::TCaptureModule(platform::Text name, platform::Text path, platform::Env& env)
    : FName(std::move(name)), FPath(std::move(path)) {
  platform::Text error;
  FHandle = env.LoadModule(FPath, platform::Module::Search::kAlteredSearchPath, &error);
  if (!FHandle) throw Exception(error.empty() ? u"Could not load " + FPath : error);
}

TCaptureModule::TCaptureModule(platform::Text name, platform::Text prefix)
    : FName(std::move(name)), FPrefix(std::move(prefix)) {}

TCaptureModule::~TCaptureModule() = default;

}  // namespace dactyra
