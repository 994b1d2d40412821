#include "capture/capture_module.h"

#include <utility>

#include "support/exception.h"

namespace dactyra {

TCaptureModule::TCaptureModule(platform::Text name, platform::Text path)
    : TCaptureModule(platform::Env::Default(), std::move(name), std::move(path)) {}

TCaptureModule::TCaptureModule(platform::Env& env, platform::Text name, platform::Text path)
    : FName(std::move(name)), FPath(std::move(path)) {
  platform::Text error;
  FHandle = env.LoadModule(FPath, platform::Module::Search::kAlteredSearchPath, &error);
  if (!FHandle) throw Exception(error.empty() ? u"Could not load " + FPath : error);
}

TCaptureModule::~TCaptureModule() = default;

}  // namespace dactyra
