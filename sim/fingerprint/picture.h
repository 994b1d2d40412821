// Pictures for people: an RGB canvas to mark minutiae, cores and deltas on a
// gray impression, and a PNG writer. Used by the commands that show what the
// generator and the extraction engine see.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/fingerprint/fingerprint.h"

namespace dactyra::sim::fingerprint {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height), rgb_(3u * width * height, 255) {}
  // A canvas holding the gray pixels of an impression.
  static Canvas FromGray(int width, int height, const std::vector<uint8_t>& gray);

  void Set(int x, int y, Rgb c);
  void Line(double x0, double y0, double x1, double y1, Rgb c);
  void Circle(double x, double y, double r, Rgb c);
  // An ending as a circle, a bifurcation as a square, with a tail in its
  // direction (radians, counter-clockwise on screen).
  void Mark(double x, double y, double direction, MinutiaType type, Rgb c);
  void Square(double x, double y, double half, Rgb c);
  void Triangle(double x, double y, double half, Rgb c);
  // Copies `other` with its top-left corner at (x, y).
  void Paste(const Canvas& other, int x, int y);

  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<uint8_t>& rgb() const { return rgb_; }

 private:
  int width_, height_;
  std::vector<uint8_t> rgb_;
};

// Marks the true minutiae (green), cores (red) and deltas (blue).
void DrawTruth(Canvas& canvas, const Impression& impression);

// Writes 8-bit gray (channels 1) or RGB (channels 3) pixels as a PNG file.
// Returns false, with a reason in `error`, when the file cannot be written.
bool WritePng(const std::string& path, int width, int height, int channels, const uint8_t* pixels,
              std::string* error);

}  // namespace dactyra::sim::fingerprint
