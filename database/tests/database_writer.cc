// A second process for the database tests: it opens the database named by
// its first argument and adds entries one after another for ever, each
// with three templates whose bytes follow from its code, printing
// "<id> <code>" once each entry is committed. A test kills it at some
// moment and then checks what the file holds.
//   database_writer FILE FIRST
// FIRST numbers the codes ("w<FIRST>", "w<FIRST+1>", ...).
#include <cstdlib>
#include <iostream>
#include <string>

#include "database/store.h"
#include "database/tests/writer_templates.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  using namespace dactyra::database;
  try {
    Store store(dactyra::platform::FromUtf8(argv[1]), true);
    std::cout << "ready" << std::endl;
    for (long k = std::strtol(argv[2], nullptr, 10);; ++k) {
      const std::string code = "w" + std::to_string(k);
      const auto templates = testing::WriterTemplates(code);
      const int32_t id = store.Add(dactyra::platform::FromUtf8(code), static_cast<int32_t>(k % 10),
                                   static_cast<double>(k), templates);
      std::cout << id << ' ' << code << std::endl;
    }
  } catch (const std::exception& e) {
    std::cerr << "database_writer: " << e.what() << std::endl;
    return 1;
  }
}
