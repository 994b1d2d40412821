// The template record writer (layout in vx_extract.h).
#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/extract/extractor.h"

namespace dactyra::sim::extract {
namespace {

uint8_t AngleByte(double radians) {
  const double turns = radians / (2 * std::numbers::pi);
  return static_cast<uint8_t>(static_cast<long>(std::lround(turns * 256)) & 0xFF);
}

bool Encodable(double x, double y) { return x >= 0 && y >= 0 && x < 2048 && y < 2048; }

uint32_t Word(double x, double y, int type, double angle) {
  const uint32_t ix = static_cast<uint32_t>(std::min(2047.0, std::floor(x)));
  const uint32_t iy = static_cast<uint32_t>(std::min(2047.0, std::floor(y)));
  return ix << 21 | iy << 10 | static_cast<uint32_t>(type & 3) << 8 | AngleByte(angle);
}

class Writer {
 public:
  explicit Writer(uint8_t* out) : out_(out) {}
  void Byte(uint8_t v) {
    if (out_) out_[n_] = v;
    ++n_;
  }
  void U16(uint32_t v) {
    Byte(v & 0xFF);
    Byte((v >> 8) & 0xFF);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  size_t size() const { return n_; }

 private:
  uint8_t* out_;
  size_t n_ = 0;
};

}  // namespace

int32_t WriteRecord(const Features& f, uint8_t* buffer, int32_t width, int32_t height,
                    int32_t horz_resolution, int32_t vert_resolution, int32_t position,
                    int32_t impression_type, bool save_curvature, bool save_g) {
  // At most 255 minutiae fit the count byte: the best ones are kept.
  std::vector<const FoundMinutia*> kept;
  for (const auto& m : f.minutiae)
    if (Encodable(m.x, m.y)) kept.push_back(&m);
  std::stable_sort(kept.begin(), kept.end(), [](const FoundMinutia* a, const FoundMinutia* b) {
    return a->quality > b->quality;
  });
  if (kept.size() > 255) kept.resize(255);
  std::vector<const FoundSingular*> cores, deltas;
  for (const auto& c : f.cores)
    if (Encodable(c.x, c.y) && cores.size() < 255) cores.push_back(&c);
  for (const auto& d : f.deltas)
    if (Encodable(d.x, d.y) && deltas.size() < 255) deltas.push_back(&d);

  const uint8_t flags = 1 | (save_curvature ? 2 : 0) | (save_g ? 4 : 0);
  const int size_of_minutia = 5 + save_curvature + save_g;
  const uint32_t total = static_cast<uint32_t>(29 + kept.size() * size_of_minutia + 2 +
                                               4 * cores.size() + 2 + 7 * deltas.size() + 2);
  Writer w(buffer);
  w.U32(total);
  w.U16(static_cast<uint32_t>(std::clamp(width, 0, 0xFFFF)));
  w.U16(static_cast<uint32_t>(std::clamp(height, 0, 0xFFFF)));
  w.U16(static_cast<uint32_t>(std::clamp(horz_resolution, 0, 0xFFFF)));
  w.U16(static_cast<uint32_t>(std::clamp(vert_resolution, 0, 0xFFFF)));
  w.Byte(static_cast<uint8_t>(position & 0xFF));
  w.Byte(static_cast<uint8_t>(impression_type & 0xFF));
  w.Byte(1);
  for (int i = 15; i < 22; ++i) w.Byte(0);
  w.Byte(flags);
  w.Byte(0);
  w.Byte(static_cast<uint8_t>(kept.size()));
  w.Byte(static_cast<uint8_t>(size_of_minutia));
  for (const FoundMinutia* m : kept) {
    w.U32(Word(m->x, m->y, static_cast<int>(m->kind), m->direction));
    w.Byte(static_cast<uint8_t>(m->quality));
    if (save_curvature) w.Byte(static_cast<uint8_t>(m->curvature));
    if (save_g) w.Byte(static_cast<uint8_t>(m->contrast));
  }
  w.Byte(0);
  w.U16(0);  // no extra block
  w.Byte(static_cast<uint8_t>(cores.size()));
  w.Byte(4);
  for (const FoundSingular* c : cores) w.U32(Word(c->x, c->y, 0, c->angle));
  w.Byte(static_cast<uint8_t>(deltas.size()));
  w.Byte(7);
  for (const FoundSingular* d : deltas) {
    w.U32(Word(d->x, d->y, 0, 0));
    for (double a : d->arms) w.Byte(AngleByte(a));
  }
  w.Byte(0);
  w.Byte(4);
  return static_cast<int32_t>(w.size());
}

}  // namespace dactyra::sim::extract
