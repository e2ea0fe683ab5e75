// A small drawing surface for our tools (artwork, sample pictures), so that
// they draw without including Qt. Coordinates are pixels, doubles allowed;
// everything is antialiased. Colours carry alpha; texts are GBK (model::Text).
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "model/text.h"
#include "platform/media/image.h"

namespace canvas {

// Creates the application object the painter needs when none exists yet
// (offscreen unless QT_QPA_PLATFORM says otherwise). Call once before the
// first Canvas; later calls do nothing.
void init();

struct Color {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
};
constexpr Color rgb(int r, int g, int b, int a = 255) {
  return Color{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), std::uint8_t(a)};
}
constexpr Color kTransparent{0, 0, 0, 0};

// How a shape is filled: one colour, or a vertical gradient over the shape's
// bounding box through stops at 0..1.
struct Paint {
  std::vector<std::pair<double, Color>> stops;
  static Paint solid(Color c) { return Paint{{{0.0, c}}}; }
  static Paint vertical(Color top, Color bottom) { return Paint{{{0.0, top}, {1.0, bottom}}}; }
};

// How a shape is outlined: width 0 draws no outline.
struct Pen {
  Color color = kTransparent;
  double width = 0;
};

struct Point {
  double x, y;
};

enum class Align { Left, Center, Right };

struct Font {
  model::Text face;  // family name; unknown faces fall back to a CJK font
  int pixelSize = 12;
  bool bold = false;
};

class Canvas {
 public:
  // A w x h surface filled with `background` (transparent by default).
  Canvas(int w, int h, Color background = kTransparent);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int width() const;
  int height() const;

  void fill(Color c);
  // The rectangle x, y, w, h filled with a vertical gradient top -> bottom.
  void verticalGradient(double x, double y, double w, double h, Color top, Color bottom);
  void rect(double x, double y, double w, double h, const Paint& fill, Pen pen = {});
  void roundedRect(double x, double y, double w, double h, double radius, const Paint& fill,
                   Pen pen = {});
  void ellipse(double cx, double cy, double rx, double ry, const Paint& fill, Pen pen = {});
  void circle(double cx, double cy, double r, const Paint& fill, Pen pen = {}) {
    ellipse(cx, cy, r, r, fill, pen);
  }
  void polygon(const std::vector<Point>& points, const Paint& fill, Pen pen = {});
  // A line with round caps.
  void line(double x1, double y1, double x2, double y2, Color color, double width);
  // An arc of the circle around cx, cy (angles in degrees, 0 = 3 o'clock,
  // counter-clockwise), stroked with round caps.
  void arc(double cx, double cy, double r, double startDeg, double spanDeg, Color color,
           double width);
  // Text in the box x, y, w, h: horizontally by `align`, vertically centred.
  void text(double x, double y, double w, double h, const model::Text& text, const Font& font,
            Color color, Align align = Align::Center);
  // The same text with a soft dark shadow offset by `offset` pixels.
  void shadowText(double x, double y, double w, double h, const model::Text& text, const Font& font,
                  Color color, Color shadow, double offset, Align align = Align::Center);
  // Another picture, scaled into x, y, w, h.
  void drawImage(const image::Image& img, double x, double y, double w, double h);

  // The pixels (0xAARRGGBB, not premultiplied).
  image::Image toImage() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace canvas
