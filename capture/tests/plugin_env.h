// An Env that reshapes the exports of the plug-in files it loads: the test
// plug-in stands for a plug-in without some exports, or for one built by a
// 32-bit Windows compiler that exports only decorated stdcall names
// ("_VXR_GetImage@8"). The file is loaded for real; only the lookup of its
// exports changes, and every name asked for is recorded.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "plugins/interface/vxr_plugin.h"

namespace dactyra::testing {

struct ExportShape {
  // Exports the file does not have, by plain name ("VXR_GetImage"): neither
  // form is found.
  std::set<std::string> missing;
  // Only the decorated names are found.
  bool decorated_only = false;
};

// The argument bytes in every decorated export name.
inline const std::map<std::string, unsigned>& ExportArgumentBytes() {
  static const std::map<std::string, unsigned> bytes = {
      {"VXR_GetPrefix", VXR_ARGS_GetPrefix},
      {"VXR_GetDeviceList", VXR_ARGS_GetDeviceList},
      {"VXR_OpenDevice", VXR_ARGS_OpenDevice},
      {"VXR_CloseDevice", VXR_ARGS_CloseDevice},
      {"VXR_ShutdownDevice", VXR_ARGS_ShutdownDevice},
      {"VXR_GetMaxSize", VXR_ARGS_GetMaxSize},
      {"VXR_GetImage", VXR_ARGS_GetImage},
      {"VXR_SendCommand", VXR_ARGS_SendCommand},
      {"VXR_GetResult", VXR_ARGS_GetResult},
  };
  return bytes;
}

inline std::string Decorated(const std::string& name) {
  return "_" + name + "@" + std::to_string(ExportArgumentBytes().at(name));
}

// The modules it hands out may outlive it.
class PluginEnv : public platform::EnvWrapper {
 public:
  explicit PluginEnv(ExportShape shape)
      : EnvWrapper(platform::Env::Default()), state_(std::make_shared<State>(std::move(shape))) {}

  std::unique_ptr<platform::Module> LoadModule(const platform::Text& file,
                                               platform::Module::Search search,
                                               platform::Text* error) override {
    auto real = EnvWrapper::LoadModule(file, search, error);
    if (!real) return nullptr;
    return std::make_unique<ShapedModule>(state_, std::move(real));
  }

  // Every export name looked up so far, in order.
  std::vector<std::string> lookups() const {
    std::lock_guard lock(state_->mutex);
    return state_->lookups;
  }
  // Modules handed out and not yet destroyed (unloaded).
  int loaded() const {
    std::lock_guard lock(state_->mutex);
    return state_->loaded;
  }

 private:
  struct State {
    explicit State(ExportShape s) : shape(std::move(s)) {}

    // The name under which the real file has what `asked` finds in the
    // shaped one; empty when the shaped file has nothing by that name.
    std::string PlainName(const std::string& asked) const {
      for (const auto& [name, bytes] : ExportArgumentBytes()) {
        if (asked != name && asked != Decorated(name)) continue;
        if (shape.missing.count(name)) return {};
        if (shape.decorated_only != (asked != name)) return {};
        return name;
      }
      return shape.decorated_only ? std::string() : asked;
    }

    const ExportShape shape;
    std::mutex mutex;
    std::vector<std::string> lookups;
    int loaded = 0;
  };

  class ShapedModule : public platform::Module {
   public:
    ShapedModule(std::shared_ptr<State> state, std::unique_ptr<platform::Module> real)
        : Module(real->file()), state_(std::move(state)), real_(std::move(real)) {
      std::lock_guard lock(state_->mutex);
      ++state_->loaded;
    }
    ~ShapedModule() override {
      std::lock_guard lock(state_->mutex);
      --state_->loaded;
    }
    void* Symbol(const char* name) const override {
      {
        std::lock_guard lock(state_->mutex);
        state_->lookups.push_back(name ? name : "(null)");
      }
      const std::string plain = state_->PlainName(name ? name : "");
      if (plain.empty()) return nullptr;
      return real_->Symbol(plain.c_str());
    }
    const platform::Text& file() const override { return real_->file(); }

   private:
    const std::shared_ptr<State> state_;
    const std::unique_ptr<platform::Module> real_;
  };

  const std::shared_ptr<State> state_;
};

}  // namespace dactyra::testing
