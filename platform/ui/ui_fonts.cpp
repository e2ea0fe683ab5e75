// Fonts of the forms: the faces the forms name and the installed faces that
// stand in for them, the default face of controls without a font of their
// own, and the pitch at which a label stacks its lines.
//
// The forms were laid out for the system faces of the Chinese (GB2312)
// character set. Their layout counts on two properties of those faces:
// every Latin letter, digit and sign is exactly half as wide as a Chinese
// character (so a text of n bytes is n half-cells wide), and a line is one
// character height high. The stand-ins keep the first property where the
// forms rely on it: WenQuanYi Zen Hei Mono draws all of ASCII at half a
// Chinese character. The second is kept by the labels, which stack their
// lines close to the named face's own pitch (see linePitch).
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <cmath>

#include "platform/ui/ui_core.h"

namespace ui::detail {

namespace {

// Half-width Latin, a Hei face: stands in for the default face and for 黑体.
const QString kHalfWidthHei = QStringLiteral("WenQuanYi Zen Hei Mono");
// Half-width Latin, a Ming face: stands in for 宋体.
const QString kHalfWidthMing = QStringLiteral("AR PL UMing CN");
// Proportional Latin, Hei faces.
const QString kMicroHei = QStringLiteral("WenQuanYi Micro Hei");
const QString kZenHei = QStringLiteral("WenQuanYi Zen Hei");

struct StandIn {
  const char* face;  // as the forms name it (UTF-8)
  QStringList families;
  bool systemCell;  // the named face's line is one character height high
};

const std::vector<StandIn>& standIns() {
  static const std::vector<StandIn> table = {
      {"", {kHalfWidthHei, kHalfWidthMing, kMicroHei}, true},
      {"黑体", {kHalfWidthHei, kMicroHei}, true},
      {"宋体", {kHalfWidthMing, kHalfWidthHei, kMicroHei}, true},
      {"新宋体", {kHalfWidthMing, kHalfWidthHei, kMicroHei}, true},
      {"微软雅黑", {kMicroHei, kZenHei, kHalfWidthHei}, false},
  };
  return table;
}

const StandIn* standInOf(const QString& face) {
  for (const StandIn& s : standIns())
    if (face == QString::fromUtf8(s.face)) return &s;
  return nullptr;
}

// Lines of the named system faces: one character height, the baseline at
// 0.86 of it. The stand-ins draw their ideographs a little taller, so their
// lines get an eighth more room, shared above and below.
constexpr double kSystemCellAscent = 0.86;
constexpr double kSystemCellRoom = 1.125;
// From this character height on Qt draws text as outlines.
constexpr int kOutlinedPixelSize = 64;
// Character height of the default face of controls without a font of their own.
constexpr int kDefaultPixelHeight = 12;

}  // namespace

QStringList faceFamilies(const QString& face) {
  if (const StandIn* s = standInOf(face)) return s->families;
  // Other faces (an installed display font, say) keep their name; Chinese
  // glyphs they lack come from the Hei face.
  return {face, kMicroHei, kHalfWidthHei};
}

QFont formFont(const QFont& base, const QString& face, int pixelHeight, bool bold) {
  QFont f = base;
  f.setFamilies(faceFamilies(face));
  if (pixelHeight > 0) f.setPixelSize(pixelHeight);
  f.setBold(bold);
  return f;
}

QFont defaultFormFont() {
  QFont f;
  f.setFamilies(faceFamilies(QString()));
  f.setPixelSize(kDefaultPixelHeight);
  return f;
}

int pointsToPixels(int points) { return static_cast<int>(std::lround(points * 96.0 / 72.0)); }

LinePitch linePitch(const QFont& f) {
  QFontMetricsF m(f);
  const QStringList fams = f.families();
  bool systemCell = false;
  for (const StandIn& s : standIns())
    if (s.systemCell && !fams.isEmpty() && s.families == fams) systemCell = true;
  double px = f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize();
  if (systemCell && px > 0)
    return {px * kSystemCellRoom, px * ((kSystemCellRoom - 1) / 2 + kSystemCellAscent)};
  return {m.lineSpacing(), m.ascent() + m.leading() / 2};
}

double drawnBoldStroke(const QFont& f) {
  if (!f.bold()) return 0;
  const QFontInfo info(f);
  const int px = info.pixelSize();
  if (px < kOutlinedPixelSize) return 0;
  for (const QString& style : QFontDatabase::styles(info.family()))
    if (style.contains(QLatin1String("Bold"), Qt::CaseInsensitive)) return 0;
  // The made-up bold widens each stroke by a 24th of the character height.
  return px / 24.0;
}

void useDefaultFormFont() {
  if (!qApp) return;
  const QFont f = defaultFormFont();
  QApplication::setFont(f);
  // Opens the faces now, at start-up, rather than in the first paint of the
  // first window.
  QImage scratch(64, 32, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&scratch);
  p.setFont(f);
  p.drawText(QPointF(0, 24), QStringLiteral("\u4e2d0A"));
}

}  // namespace ui::detail
