// The contract every back end's Env keeps, written once against the
// interface. A back end takes part by giving the suite what it cannot make
// portably: an Env, a private scratch folder, a registry key with chosen
// values, and a module file that exports test_module_value (42) and
// test_module_marker.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace dactyra::platform::testing {

struct RegistryValue {
  Text name;
  // A 32-bit value when `is_text` is false, else `text`.
  bool is_text = false;
  uint32_t number = 0;
  Text text;
};

struct EnvBackEnd {
  std::string name;
  // The Env under test, for the life of the process.
  std::function<Env&()> env;
  // Called before each case: a fresh, empty folder (full path, no trailing
  // delimiter) that the case may fill; named objects made during the case
  // stay apart from those of other cases and processes.
  std::function<Text()> set_up;
  // Called after each case.
  std::function<void()> tear_down;
  // Makes key `path` under the current user hold exactly `values`.
  std::function<void(const Text& path, const std::vector<RegistryValue>& values)> write_key;
  // Sets a variable of the process environment.
  std::function<void(const Text& name, const Text& value)> set_environment;
  // The test module's file.
  Text test_module;
};

// The back ends this build runs the suite against.
std::vector<EnvBackEnd> BackEndsUnderTest();

}  // namespace dactyra::platform::testing
