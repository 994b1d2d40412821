// A minutiae template prepared for comparison: the minutiae of a template
// record, each with its Minutia Cylinder-Code (see cylinder.h), computed once
// when the template is made and shared, read-only, by every copy.
//
// Templates are immutable values: copying one is cheap (one reference), and
// any number of threads may compare the same templates at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "support/exception.h"

namespace dactyra::matching {

// A record that is not a template the matcher can read.
class TemplateError : public Exception {
 public:
  using Exception::Exception;
};

enum class MinutiaKind : uint8_t { kOther = 0, kEnding = 1, kBifurcation = 2 };

// One minutia in the record's own terms: pixels of the image it was found in
// (x to the right, y down; 500 dpi) and a direction in radians [0, 2π),
// counter-clockwise on screen from the +x axis.
struct Minutia {
  double x = 0;
  double y = 0;
  double direction = 0;
  MinutiaKind kind = MinutiaKind::kOther;
};

struct PreparedTemplate;

class Template {
 public:
  // The template of a record in the layout the extraction engine writes
  // (minutia count at byte 24, minutiae from byte 26; each a position and
  // angle word, then the optional bytes the flags at byte 22 announce).
  // Throws TemplateError when the record is shorter than its header, when
  // its minutia size byte disagrees with its flags, or when its minutiae run
  // past its end. A record without minutiae is a valid template that
  // matches nothing.
  static Template FromRecord(std::span<const uint8_t> record);

  // The template of minutiae given directly (tests, benchmarks, and callers
  // with templates of another format). At most 255 are kept, as in a
  // record; directions are taken modulo 2π.
  static Template FromMinutiae(std::span<const Minutia> minutiae);

  // An empty template: no minutiae, matches nothing.
  Template();

  // The minutiae as read, in record order.
  const std::vector<Minutia>& minutiae() const;
  // How many minutiae have a usable cylinder and so take part in a
  // comparison (a minutia with too few neighbours, or whose neighbourhood
  // lies mostly outside the finger, has none).
  size_t usable() const;

  const PreparedTemplate& prepared() const { return *prepared_; }

 private:
  explicit Template(std::shared_ptr<const PreparedTemplate> prepared);
  std::shared_ptr<const PreparedTemplate> prepared_;
};

}  // namespace dactyra::matching
