// Reading a template record into minutiae, and the template's shared,
// prepared form.
#include "matching/template.h"

#include <bit>
#include <cmath>
#include <numbers>

#include "matching/cylinder.h"
#include "templates/record_walk.h"

namespace dactyra::matching {
namespace {

constexpr size_t kMaxMinutiae = 255;
constexpr double kFarthest = 100000;

double NormalisedDirection(double radians) {
  const double turn = 2 * std::numbers::pi;
  if (!std::isfinite(radians)) return 0;
  const double d = std::fmod(radians, turn);
  return d < 0 ? d + turn : d;
}

std::shared_ptr<const PreparedTemplate> Empty() {
  static const auto empty = std::make_shared<const PreparedTemplate>();
  return empty;
}

}  // namespace

Template::Template() : prepared_(Empty()) {}

Template::Template(std::shared_ptr<const PreparedTemplate> prepared)
    : prepared_(std::move(prepared)) {}

Template Template::FromRecord(std::span<const uint8_t> record) {
  const auto block = templates::FindBlock(record, templates::kMinutia);
  if (!block) throw TemplateError(u"Template record shorter than its header");
  // The record's own size byte must agree with the optional bytes its
  // flags announce: otherwise the minutiae cannot be told apart.
  if (record[25] != block->stride && block->count > 0)
    throw TemplateError(u"Template record's minutia size disagrees with its flags");
  if (record.size() < block->first + static_cast<size_t>(block->count) * block->stride)
    throw TemplateError(u"Template record's minutiae run past its end");
  std::vector<Minutia> minutiae;
  minutiae.reserve(static_cast<size_t>(block->count));
  for (const templates::RecordItem& item : templates::ReadItems(record, *block)) {
    Minutia m;
    m.x = item.x;
    m.y = item.y;
    m.direction = item.angle * (2 * std::numbers::pi / 256);
    m.kind = item.minutiaType == 1   ? MinutiaKind::kEnding
             : item.minutiaType == 2 ? MinutiaKind::kBifurcation
                                     : MinutiaKind::kOther;
    minutiae.push_back(m);
  }
  return Template(std::make_shared<const PreparedTemplate>(Prepare(std::move(minutiae))));
}

Template Template::FromMinutiae(std::span<const Minutia> given) {
  std::vector<Minutia> minutiae;
  for (const Minutia& m : given.first(std::min(given.size(), kMaxMinutiae))) {
    // Far outside any sensor: such a point cannot be a minutia.
    if (!(std::abs(m.x) <= kFarthest && std::abs(m.y) <= kFarthest)) continue;
    Minutia kept = m;
    kept.direction = NormalisedDirection(m.direction);
    minutiae.push_back(kept);
  }
  return Template(std::make_shared<const PreparedTemplate>(Prepare(std::move(minutiae))));
}

const std::vector<Minutia>& Template::minutiae() const { return prepared_->minutiae; }

size_t Template::usable() const { return prepared_->cylinders.size(); }

}  // namespace dactyra::matching
