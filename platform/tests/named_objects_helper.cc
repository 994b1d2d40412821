// A second process for the named-object tests. It takes one object, reports
// on standard output, and then obeys lines on standard input:
//   mutex NAME             wait for the mutex; "release" releases it
//   event NAME             take the event (created signalled); "set" sets it
//   mutex-try NAME MS      one timed wait on the mutex, then exit
//   event-try NAME MS      one timed wait on the event, then exit
//   count NAME FILE N      N times: open the mutex, take it, add one to the
//                          number in FILE, release it and close it
// Each wait prints its result: signalled, abandoned, timeout or failed.
// End of input ends the process without releasing anything.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/backend.h"
#include "platform/env.h"
#include "platform/named_objects.h"

using namespace dactyra::platform;

namespace {

const char* Name(WaitResult r) {
  switch (r) {
    case WaitResult::kSignalled:
      return "signalled";
    case WaitResult::kAbandoned:
      return "abandoned";
    case WaitResult::kTimeout:
      return "timeout";
    case WaitResult::kFailed:
      return "failed";
  }
  return "?";
}

void Say(const std::string& line) { std::cout << line << std::endl; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  const Text name = FromUtf8(argv[2]);
  const uint32_t timeout =
      argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : kInfinite;
  Text error;
  if (command == "mutex" || command == "mutex-try") {
    auto mutex = Env::Default().CreateNamedMutex(name, &error);
    if (!mutex) {
      Say("failed " + ToUtf8(error));
      return 1;
    }
    const WaitResult result = mutex->Wait(timeout);
    Say(Name(result));
    if (command == "mutex-try") return 0;
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line == "release") Say(mutex->Release() ? "released" : "not-held");
    }
    std::_Exit(0);  // leaves without releasing
  }
  if (command == "event" || command == "event-try") {
    auto event = Env::Default().CreateNamedEvent(name, true, &error);
    if (!event) {
      Say("failed " + ToUtf8(error));
      return 1;
    }
    Say(Name(event->Wait(timeout)));
    if (command == "event-try") return 0;
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line == "set") {
        event->Set();
        Say("set");
      }
    }
    std::_Exit(0);
  }
  if (command == "count" && argc > 4) {
    const std::string file = argv[3];
    const long rounds = std::strtol(argv[4], nullptr, 10);
    for (long i = 0; i < rounds; ++i) {
      auto mutex = Env::Default().CreateNamedMutex(name, &error);
      if (!mutex || mutex->Wait(kInfinite) != WaitResult::kSignalled) return 1;
      // Read, pause, write: without exclusion increments get lost.
      long value = 0;
      if (FILE* f = std::fopen(file.c_str(), "r")) {
        if (std::fscanf(f, "%ld", &value) != 1) value = 0;
        std::fclose(f);
      }
      if (i % 8 == 0) Sleep(1);
      FILE* f = std::fopen(file.c_str(), "w");
      if (!f) return 1;
      std::fprintf(f, "%ld\n", value + 1);
      std::fclose(f);
      if (!mutex->Release()) return 1;
    }
    Say("done");
    return 0;
  }
  return 2;
}
