// The finger generator: a master fingerprint grown from its orientation and
// ridge period maps (master.h), its minutiae read off the master's skeleton
// (skeleton.h), and impressions of it rendered in the phases of Render
// below.
#include "sim/fingerprint/fingerprint.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

#include "sim/fingerprint/master.h"
#include "sim/fingerprint/random.h"
#include "sim/fingerprint/skeleton.h"

namespace dactyra::sim::fingerprint {
namespace {

constexpr double kPi = std::numbers::pi;

// Half the frame, from its centre to an edge.
constexpr double kHalfWidth = kFrameWidth / 2.0;
constexpr double kHalfHeight = kFrameHeight / 2.0;

double Smoothstep(double e0, double e1, double x) {
  const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// Where the truth is read: a ridge cut by the finger's edge or by the frame
// ends there without a minutia, and the lines round a core or a delta meet
// without one either.
constexpr double kEdgeMargin = 14;
constexpr double kSingularMargin = 14;
// Ridge dots and pin holes smaller than this (pixels) are not kept: about a
// ridge period squared.
constexpr int kSmallest = 80;

}  // namespace

struct Finger::Model {
  Master master;
  // The true minutiae in the frame, its centre at 0 (see master.h).
  std::vector<Minutia> minutiae;
};

Finger::Finger(uint64_t seed, PatternClass pattern) : seed_(seed), pattern_(pattern) {
  auto model = std::make_shared<Model>();
  Random rng(seed * 0x2545f4914f6cdd1dull + static_cast<uint64_t>(pattern));
  model->master = GrowMaster(pattern, rng);
  const Master& m = model->master;
  const auto keep = [&](double x, double y) {
    const Complex z(x - kHalfWidth, y - kHalfHeight);
    if (!m.outline.Inside(z.real(), z.imag(), kEdgeMargin)) return false;
    for (const auto& b : m.singular)
      if (std::abs(z - b.z) < kSingularMargin) return false;
    return true;
  };
  // The ridges run across the normal; on screen y runs down, so the angle
  // counter-clockwise on screen is minus the frame's.
  const auto axis = [&](double x, double y) {
    const int ix = std::clamp(static_cast<int>(x), 0, kFrameWidth - 1);
    const int iy = std::clamp(static_cast<int>(y), 0, kFrameHeight - 1);
    return -(m.normal[static_cast<size_t>(iy) * kFrameWidth + ix] + kPi / 2);
  };
  for (const SkeletonMinutia& s : SkeletonMinutiae(model->master.ridge, kFrameWidth, kFrameHeight,
                                                   kSmallest, axis, keep)) {
    Minutia mi;
    mi.x = s.x - kHalfWidth;
    mi.y = s.y - kHalfHeight;
    mi.direction = s.direction;
    mi.type = s.type;
    model->minutiae.push_back(mi);
  }
  model_ = std::move(model);
}

Finger Finger::Generate(uint64_t seed) {
  return Finger(seed, static_cast<PatternClass>(Random(seed).Next() % 5));
}

Finger Finger::Generate(uint64_t seed, PatternClass pattern) { return Finger(seed, pattern); }

namespace {

// The move from the finger frame to an impression: p = R q + c + t + D(p),
// D a smooth displacement that grows towards the edge.
struct Placement {
  double cos_r = 1, sin_r = 0;
  Complex offset;  // image centre plus shift
  double amount = 0;
  double radius = 1;
  std::array<double, 3> fx{}, fy{}, phx{}, phy{}, ax{}, ay{};

  Complex Displacement(Complex p) const {
    if (amount == 0) return 0;
    const Complex r = p - offset;
    const double weight = std::norm(r) / (radius * radius);
    double dx = 0, dy = 0;
    for (int i = 0; i < 3; ++i) {
      dx += ax[i] * std::sin(fx[i] * r.real() + fy[i] * r.imag() + phx[i]);
      dy += ay[i] * std::sin(fy[i] * r.real() - fx[i] * r.imag() + phy[i]);
    }
    return amount * weight * Complex(dx, dy);
  }
  Complex ToFinger(Complex p) const {
    const Complex v = p - offset - Displacement(p);
    return Complex(cos_r * v.real() + sin_r * v.imag(), -sin_r * v.real() + cos_r * v.imag());
  }
  Complex ToImpression(Complex q) const {
    const Complex rq(cos_r * q.real() - sin_r * q.imag(), sin_r * q.real() + cos_r * q.imag());
    Complex p = rq + offset;
    for (int i = 0; i < 60; ++i) {
      const Complex next = rq + offset + Displacement(p);
      const bool done = std::abs(next - p) < 1e-12;
      p = next;
      if (done) break;
    }
    return p;
  }
};

void GaussianBlur(std::vector<float>& img, int w, int h, double sigma) {
  const int r = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
  std::vector<float> kernel(2 * r + 1);
  float total = 0;
  for (int i = -r; i <= r; ++i) total += kernel[i + r] = std::exp(-0.5f * i * i / (sigma * sigma));
  for (auto& v : kernel) v /= total;
  std::vector<float> tmp(img.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += kernel[i + r] * img[y * w + std::clamp(x + i, 0, w - 1)];
      tmp[y * w + x] = s;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += kernel[i + r] * tmp[std::clamp(y + i, 0, h - 1) * w + x];
      img[y * w + x] = s;
    }
}


// The phases of an impression.

Placement Place(int width, int height, const ImpressionOptions& options, Random& rng) {
  Placement place;
  const double rot = options.rotation_degrees * kPi / 180;
  place.cos_r = std::cos(rot);
  place.sin_r = std::sin(rot);
  place.offset = Complex(width / 2.0 + options.shift_x, height / 2.0 + options.shift_y);
  place.amount = options.distortion;
  place.radius = 0.5 * std::hypot(width, height);
  for (int i = 0; i < 3; ++i) {
    place.fx[i] = rng.Uniform(-1, 1) * 2 * kPi / 260;
    place.fy[i] = rng.Uniform(-1, 1) * 2 * kPi / 260;
    place.phx[i] = rng.Uniform(0, 2 * kPi);
    place.phy[i] = rng.Uniform(0, 2 * kPi);
    place.ax[i] = rng.Uniform(0.2, 0.6);
    place.ay[i] = rng.Uniform(0.2, 0.6);
  }
  return place;
}

// Which points of the impression the finger touches: inside its outline,
// and on the near side of a straight cut from a side chosen by the seed,
// placed so that the wanted fraction of the finger's visible area remains.
class Contact {
 public:
  Contact(const Master& m, const Placement& place, int width, int height, double contact,
          Random& rng)
      : master_(m), place_(place), cut_(std::polar(1.0, rng.Uniform(0, 2 * kPi))) {
    if (contact >= 1) return;
    std::vector<double> along;
    for (int y = 0; y < height; y += 2)
      for (int x = 0; x < width; x += 2) {
        Complex q;
        const Complex p(x + 0.5, y + 0.5);
        if (OnFinger(p, &q)) along.push_back(Along(p));
      }
    if (along.empty()) return;
    std::sort(along.begin(), along.end());
    const double keep = std::clamp(contact, 0.0, 1.0);
    limit_ = keep <= 0 ? -1e300 : along[static_cast<size_t>(keep * (along.size() - 1))];
  }
  // Whether the impression's point p touches, and where it lies in the
  // frame (`q`).
  bool Touches(Complex p, Complex* q) const { return OnFinger(p, q) && Along(p) <= limit_; }

 private:
  bool OnFinger(Complex p, Complex* q) const {
    *q = place_.ToFinger(p);
    return master_.outline.Inside(q->real(), q->imag());
  }
  double Along(Complex p) const { return std::real(std::conj(cut_) * (p - place_.offset)); }

  const Master& master_;
  const Placement& place_;
  Complex cut_;
  double limit_ = 1e300;
};

// The gray picture before blur and noise, and where it touches. Pressure
// moves the level of the master at which a ridge begins, so wet fingers
// draw wide ridges and dry ones thin ridges.
void Paint(const Master& m, const Contact& contact, double pressure, Impression& out,
           std::vector<float>& img) {
  const double threshold = -0.55 * std::clamp(pressure, -1.0, 1.0);
  const int width = out.width, height = out.height;
  img.assign(static_cast<size_t>(width) * height, 238.f);
  out.contact.assign(img.size(), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Complex q;
      if (!contact.Touches(Complex(x + 0.5, y + 0.5), &q)) continue;
      const double gx = q.real() + kHalfWidth - 0.5, gy = q.imag() + kHalfHeight - 0.5;
      const int ix = static_cast<int>(std::floor(gx)), iy = static_cast<int>(std::floor(gy));
      double s = 0;
      if (ix >= 0 && iy >= 0 && ix + 1 < kFrameWidth && iy + 1 < kFrameHeight) {
        const double ax = gx - ix, ay = gy - iy;
        const float* r0 = &m.ridge[static_cast<size_t>(iy) * kFrameWidth + ix];
        const float* r1 = r0 + kFrameWidth;
        s = (1 - ay) * ((1 - ax) * r0[0] + ax * r0[1]) + ay * ((1 - ax) * r1[0] + ax * r1[1]);
      }
      const double dark = Smoothstep(threshold - 0.45, threshold + 0.45, s);
      const size_t at = static_cast<size_t>(y) * width + x;
      img[at] = static_cast<float>(212 - 165 * dark);
      out.contact[at] = 1;
    }
  }
}

void AddNoise(const std::vector<float>& img, double noise, Random& rng,
              std::vector<uint8_t>& pixels) {
  pixels.resize(img.size());
  for (size_t i = 0; i < img.size(); ++i) {
    const double n = noise > 0 ? noise * rng.Gaussian() : 0;
    pixels[i] = static_cast<uint8_t>(std::clamp(std::lround(img[i] + n), 0l, 255l));
  }
}

// The ground truth, moved with the finger; what leaves the contact is
// dropped. Directions move with the local map: a short step along each is
// moved too.
void MoveTruth(const Master& master, const std::vector<Minutia>& minutiae, const Placement& place,
               const Contact& contact, Impression& out) {
  auto keep = [&](Complex q, Complex* p) {
    *p = place.ToImpression(q);
    if (!(p->real() >= 0 && p->imag() >= 0 && p->real() < out.width && p->imag() < out.height))
      return false;
    Complex back;
    return contact.Touches(*p, &back);
  };
  for (const Minutia& t : minutiae) {
    Complex p;
    const Complex q(t.x, t.y);
    if (!keep(q, &p)) continue;
    const Complex ahead = place.ToImpression(q + Complex(std::cos(t.direction), -std::sin(t.direction)));
    const Complex d = ahead - p;
    Minutia mi;
    mi.x = p.real();
    mi.y = p.imag();
    mi.direction = std::fmod(std::atan2(-d.imag(), d.real()) + 2 * kPi, 2 * kPi);
    mi.type = t.type;
    out.minutiae.push_back(mi);
  }
  for (const auto& b : master.singular) {
    Complex p;
    if (!keep(b.z, &p)) continue;
    (b.core ? out.cores : out.deltas).push_back({p.real(), p.imag()});
  }
}

}  // namespace

Impression Finger::Render(int width, int height, const ImpressionOptions& options) const {
  Impression out;
  if (width < 1 || height < 1) return out;
  out.width = width;
  out.height = height;
  Random rng(options.seed * 0x9e3779b97f4a7c15ull + seed_ + 1);
  const Placement place = Place(width, height, options, rng);
  const Contact contact(model_->master, place, width, height, options.contact, rng);
  std::vector<float> img;
  Paint(model_->master, contact, options.pressure, out, img);
  if (options.blur > 0) GaussianBlur(img, width, height, options.blur);
  AddNoise(img, options.noise, rng, out.pixels);
  MoveTruth(model_->master, model_->minutiae, place, contact, out);
  return out;
}

std::string GroundTruthJson(const Impression& impression) {
  std::string out;
  char buf[192];
  std::snprintf(buf, sizeof buf, "{\"width\":%d,\"height\":%d,\"minutiae\":[", impression.width,
                impression.height);
  out += buf;
  for (size_t i = 0; i < impression.minutiae.size(); ++i) {
    const auto& m = impression.minutiae[i];
    std::snprintf(buf, sizeof buf, "%s{\"x\":%.3f,\"y\":%.3f,\"direction\":%.5f,\"type\":\"%s\"}",
                  i ? "," : "", m.x, m.y, m.direction,
                  m.type == MinutiaType::kEnding ? "ending" : "bifurcation");
    out += buf;
  }
  auto points = [&](const char* name, const std::vector<SingularPoint>& v) {
    out += "],\"";
    out += name;
    out += "\":[";
    for (size_t i = 0; i < v.size(); ++i) {
      std::snprintf(buf, sizeof buf, "%s{\"x\":%.3f,\"y\":%.3f}", i ? "," : "", v[i].x, v[i].y);
      out += buf;
    }
  };
  points("cores", impression.cores);
  points("deltas", impression.deltas);
  out += "]}";
  return out;
}

}  // namespace dactyra::sim::fingerprint
