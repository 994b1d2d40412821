// Canvas drawing and PNG output through libpng.
#include "sim/fingerprint/picture.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace dactyra::sim::fingerprint {

Canvas Canvas::FromGray(int width, int height, const std::vector<uint8_t>& gray) {
  Canvas c(width, height);
  for (size_t i = 0; i < static_cast<size_t>(width) * height && i < gray.size(); ++i)
    c.rgb_[3 * i] = c.rgb_[3 * i + 1] = c.rgb_[3 * i + 2] = gray[i];
  return c;
}

void Canvas::Set(int x, int y, Rgb c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* p = &rgb_[3 * (static_cast<size_t>(y) * width_ + x)];
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

void Canvas::Line(double x0, double y0, double x1, double y1, Rgb c) {
  const int steps = std::max(1, static_cast<int>(std::ceil(std::hypot(x1 - x0, y1 - y0) * 2)));
  for (int i = 0; i <= steps; ++i) {
    const double t = static_cast<double>(i) / steps;
    Set(static_cast<int>(std::floor(x0 + t * (x1 - x0))),
        static_cast<int>(std::floor(y0 + t * (y1 - y0))), c);
  }
}

void Canvas::Circle(double x, double y, double r, Rgb c) {
  const int steps = std::max(8, static_cast<int>(r * 8));
  for (int i = 0; i < steps; ++i) {
    const double a = 2 * M_PI * i / steps;
    Set(static_cast<int>(std::floor(x + r * std::cos(a))),
        static_cast<int>(std::floor(y + r * std::sin(a))), c);
  }
}

void Canvas::Square(double x, double y, double h, Rgb c) {
  Line(x - h, y - h, x + h, y - h, c);
  Line(x + h, y - h, x + h, y + h, c);
  Line(x + h, y + h, x - h, y + h, c);
  Line(x - h, y + h, x - h, y - h, c);
}

void Canvas::Triangle(double x, double y, double h, Rgb c) {
  Line(x, y - h, x + h, y + h, c);
  Line(x + h, y + h, x - h, y + h, c);
  Line(x - h, y + h, x, y - h, c);
}

void Canvas::Mark(double x, double y, double direction, MinutiaType type, Rgb c) {
  if (type == MinutiaType::kEnding) {
    Circle(x, y, 4, c);
  } else {
    Square(x, y, 3.5, c);
  }
  Line(x, y, x + 11 * std::cos(direction), y - 11 * std::sin(direction), c);
}

void Canvas::Paste(const Canvas& other, int x0, int y0) {
  for (int y = 0; y < other.height_; ++y)
    for (int x = 0; x < other.width_; ++x) {
      const uint8_t* p = &other.rgb_[3 * (static_cast<size_t>(y) * other.width_ + x)];
      Set(x0 + x, y0 + y, {p[0], p[1], p[2]});
    }
}

void DrawTruth(Canvas& canvas, const Impression& impression) {
  for (const auto& m : impression.minutiae) canvas.Mark(m.x, m.y, m.direction, m.type, {0, 190, 0});
  for (const auto& c : impression.cores) canvas.Square(c.x, c.y, 7, {230, 0, 0});
  for (const auto& d : impression.deltas) canvas.Triangle(d.x, d.y, 7, {0, 0, 230});
}

bool WritePng(const std::string& path, int width, int height, int channels, const uint8_t* pixels,
              std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  if (width < 1 || height < 1 || (channels != 1 && channels != 3) || !pixels)
    return fail("nothing to write");
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) return fail("cannot create the file");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return fail("out of memory");
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return fail("write failed");
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y)
    png_write_row(png, pixels + static_cast<size_t>(y) * width * channels);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace dactyra::sim::fingerprint
