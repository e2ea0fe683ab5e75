// The drawing surface of our tools: QPainter on a QImage.
#include "platform/media/canvas.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace canvas {

namespace {

QColor toQ(Color c) { return QColor(c.r, c.g, c.b, c.a); }

QBrush brushFor(const Paint& p, const QRectF& box) {
  if (p.stops.empty()) return Qt::NoBrush;
  if (p.stops.size() == 1) return QBrush(toQ(p.stops.front().second));
  QLinearGradient g(box.topLeft(), box.bottomLeft());
  for (const auto& [at, c] : p.stops) g.setColorAt(at, toQ(c));
  return QBrush(g);
}

QPen penFor(Pen pen) {
  if (pen.width <= 0 || pen.color.a == 0) return Qt::NoPen;
  QPen q(toQ(pen.color));
  q.setWidthF(pen.width);
  q.setJoinStyle(Qt::RoundJoin);
  return q;
}

QFont fontFor(const Font& f) {
  QFont q(QString::fromStdString(f.face.toUtf8()));
  // Chinese glyphs come from the installed CJK font when the face lacks them.
  q.setFamilies({QString::fromStdString(f.face.toUtf8()), QStringLiteral("WenQuanYi Micro Hei")});
  q.setPixelSize(f.pixelSize > 0 ? f.pixelSize : 12);
  q.setBold(f.bold);
  q.setStyleStrategy(QFont::PreferAntialias);
  return q;
}

int alignFlags(Align a) {
  switch (a) {
    case Align::Left:
      return Qt::AlignLeft | Qt::AlignVCenter;
    case Align::Right:
      return Qt::AlignRight | Qt::AlignVCenter;
    case Align::Center:
      break;
  }
  return Qt::AlignCenter;
}

}  // namespace

void init() {
  if (QCoreApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (!getenv("XDG_RUNTIME_DIR")) {
    // Qt wants a private runtime folder; a tool run from a plain shell has none.
    static std::string dir = "/tmp/canvas-xdg-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  static int argc = 1;
  static char name[] = "canvas";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

struct Canvas::Impl {
  QImage img;
  QPainter painter;
  void begin() {
    painter.begin(&img);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  }
};

Canvas::Canvas(int w, int h, Color background) : d_(std::make_unique<Impl>()) {
  d_->img = QImage(w > 0 ? w : 1, h > 0 ? h : 1, QImage::Format_ARGB32_Premultiplied);
  d_->img.fill(toQ(background));
  d_->begin();
}

Canvas::~Canvas() { d_->painter.end(); }

int Canvas::width() const { return d_->img.width(); }
int Canvas::height() const { return d_->img.height(); }

void Canvas::fill(Color c) {
  QPainter& p = d_->painter;
  p.save();
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(d_->img.rect(), toQ(c));
  p.restore();
}

void Canvas::verticalGradient(double x, double y, double w, double h, Color top, Color bottom) {
  rect(x, y, w, h, Paint::vertical(top, bottom));
}

void Canvas::rect(double x, double y, double w, double h, const Paint& fill, Pen pen) {
  const QRectF box(x, y, w, h);
  d_->painter.setBrush(brushFor(fill, box));
  d_->painter.setPen(penFor(pen));
  d_->painter.drawRect(box);
}

void Canvas::roundedRect(double x, double y, double w, double h, double radius, const Paint& fill,
                         Pen pen) {
  const QRectF box(x, y, w, h);
  d_->painter.setBrush(brushFor(fill, box));
  d_->painter.setPen(penFor(pen));
  d_->painter.drawRoundedRect(box, radius, radius);
}

void Canvas::ellipse(double cx, double cy, double rx, double ry, const Paint& fill, Pen pen) {
  const QRectF box(cx - rx, cy - ry, 2 * rx, 2 * ry);
  d_->painter.setBrush(brushFor(fill, box));
  d_->painter.setPen(penFor(pen));
  d_->painter.drawEllipse(box);
}

void Canvas::polygon(const std::vector<Point>& points, const Paint& fill, Pen pen) {
  QPolygonF poly;
  for (const Point& pt : points) poly << QPointF(pt.x, pt.y);
  d_->painter.setBrush(brushFor(fill, poly.boundingRect()));
  d_->painter.setPen(penFor(pen));
  d_->painter.drawPolygon(poly);
}

void Canvas::line(double x1, double y1, double x2, double y2, Color color, double width) {
  QPen q(toQ(color));
  q.setWidthF(width);
  q.setCapStyle(Qt::RoundCap);
  d_->painter.setPen(q);
  d_->painter.drawLine(QPointF(x1, y1), QPointF(x2, y2));
}

void Canvas::arc(double cx, double cy, double r, double startDeg, double spanDeg, Color color,
                 double width) {
  QPen q(toQ(color));
  q.setWidthF(width);
  q.setCapStyle(Qt::RoundCap);
  d_->painter.setPen(q);
  d_->painter.setBrush(Qt::NoBrush);
  d_->painter.drawArc(QRectF(cx - r, cy - r, 2 * r, 2 * r), int(startDeg * 16), int(spanDeg * 16));
}

void Canvas::text(double x, double y, double w, double h, const model::Text& text, const Font& font,
                  Color color, Align align) {
  d_->painter.setFont(fontFor(font));
  d_->painter.setPen(toQ(color));
  d_->painter.drawText(QRectF(x, y, w, h), alignFlags(align),
                       QString::fromStdString(text.toUtf8()));
}

void Canvas::shadowText(double x, double y, double w, double h, const model::Text& t,
                        const Font& font, Color color, Color shadow, double offset, Align align) {
  text(x + offset, y + offset, w, h, t, font, shadow, align);
  text(x, y, w, h, t, font, color, align);
}

void Canvas::drawImage(const image::Image& img, double x, double y, double w, double h) {
  if (!img.valid()) return;
  QImage q(reinterpret_cast<const uchar*>(img.pixels.data()), img.width, img.height, img.width * 4,
           QImage::Format_ARGB32);
  d_->painter.drawImage(QRectF(x, y, w, h), q);
}

image::Image Canvas::toImage() const {
  // Finish pending painting before reading the pixels.
  QImage copy;
  {
    d_->painter.end();
    copy = d_->img.convertToFormat(QImage::Format_ARGB32);
    d_->begin();
  }
  image::Image out;
  out.width = copy.width();
  out.height = copy.height();
  out.pixels.resize(size_t(out.width) * size_t(out.height));
  for (int y = 0; y < out.height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(copy.constScanLine(y));
    std::copy(row, row + out.width, out.pixels.begin() + size_t(y) * size_t(out.width));
  }
  return out;
}

}  // namespace canvas
