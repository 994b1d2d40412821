// The few POSIX C calls the tests use that MinGW's run-time lacks, for the
// Windows builds of the tests (force-included there by dactyra_test): the
// environment setters and mkdtemp. Tests only; the library has its Env.
// Only C run-time headers: windows.h would bring its macros into every
// test.
#pragma once

#ifdef _WIN32

#include <direct.h>
#include <errno.h>
#include <process.h>
#include <stdlib.h>
#include <string.h>

#include <random>

// _putenv_s changes both the run-time's copy (getenv) and the process
// environment that child processes inherit.
inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name)) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// Replaces the trailing "XXXXXX" of `pattern` and makes that folder.
inline char* mkdtemp(char* pattern) {
  const size_t length = strlen(pattern);
  if (length < 6 || strcmp(pattern + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed() ^ static_cast<unsigned>(_getpid()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = length - 6; i < length; ++i) pattern[i] = kLetters[random() % 36];
    if (_mkdir(pattern) == 0) return pattern;
    if (errno != EEXIST) break;
  }
  return nullptr;
}

#endif  // _WIN32
