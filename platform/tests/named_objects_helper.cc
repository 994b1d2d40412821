// A second process for the named-object tests. It takes one object, reports
// on standard output, and then obeys lines on standard input:
//   mutex NAME             wait for the mutex; "release" releases it
//   event NAME             take the event (created signalled); "set" sets it
//   mutex-try NAME MS      one timed wait on the mutex, then exit
//   event-try NAME MS      one timed wait on the event, then exit
// Each wait prints its result: signalled, abandoned, timeout or failed.
// End of input ends the process without releasing anything.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

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
    auto mutex = NamedMutex::Create(name, &error);
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
    auto event = NamedEvent::Create(name, true, &error);
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
  return 2;
}
