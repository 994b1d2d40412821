// The contract every back end's Env keeps, written once against the
// interface. A back end takes part by giving the suite what it cannot make
// portably: an Env, a private scratch folder, a registry key with chosen
// values, a module file that exports test_module_value (42) and
// test_module_marker, and a way to open a folder to every user.
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
  // Sets a value that the user's "Environment" key reads: a variable of
  // the process environment on POSIX, the registry value on Windows.
  std::function<void(const Text& name, const Text& value)> set_environment;
  // Makes a file hidden from listings (its name begins with "." for the
  // POSIX back end already; Windows keeps it in the file's attributes).
  std::function<void(const Text& path)> hide;
  // The test module's file, as the system names a loaded module.
  Text test_module;
  // Put before the names of the named objects a case makes, so that they
  // stay apart from those of other processes where the system's name space
  // is the whole session (Windows); empty where set_up gives each case its
  // own.
  Text object_prefix;
  // How far short of a sleep the tick count may fall: the steps it advances
  // in (Windows' GetTickCount follows the system timer), and a little
  // more.
  uint32_t tick_step_ms = 5;
  // Lets every user write into the folder `path`.
  std::function<void(const Text& path)> open_to_others;
};

// The back ends this build runs the suite against.
std::vector<EnvBackEnd> BackEndsUnderTest();

}  // namespace dactyra::platform::testing
