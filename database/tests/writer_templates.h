// The templates the writer process stores for one code, so that a test can
// tell a whole entry from a torn one.
#pragma once

#include <string>
#include <vector>

#include "database/store.h"

namespace dactyra::database::testing {

// Three templates of a few pages each, their bytes a function of the code.
inline std::vector<StoredTemplate> WriterTemplates(const std::string& code) {
  unsigned seed = 2166136261u;
  for (char c : code) seed = (seed ^ static_cast<unsigned char>(c)) * 16777619u;
  std::vector<StoredTemplate> out(3);
  for (size_t t = 0; t < out.size(); ++t) {
    out[t].format = kTemplateRecordFormat;
    out[t].record.resize(3000 + 1000 * t);
    for (size_t i = 0; i < out[t].record.size(); ++i) {
      seed = seed * 1103515245u + 12345u;
      out[t].record[i] = static_cast<uint8_t>(seed >> 16);
    }
  }
  return out;
}

}  // namespace dactyra::database::testing
