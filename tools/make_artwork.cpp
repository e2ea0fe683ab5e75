// Draws the pictures that the forms data embeds and writes them, with a
// README listing them, into a folder (forms/pictures by default):
//   make_artwork [DIR]
// JPEG for opaque pictures, PNG where transparency is needed.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "model/text.h"
#include "platform/media/canvas.h"
#include "platform/media/image.h"

using canvas::Align;
using canvas::Canvas;
using canvas::Color;
using canvas::Font;
using canvas::Paint;
using canvas::Pen;
using canvas::Point;
using canvas::rgb;
using model::operator""_t;

namespace {

struct Entry {
  std::string file;
  int w, h;
  std::string shows;
  std::string usedBy;
};

std::string gDir;
std::vector<Entry> gEntries;
bool gFailed = false;

void save(Canvas& c, const std::string& file, const std::string& shows, const std::string& usedBy) {
  const image::Image img = c.toImage();
  const bool png = file.size() > 4 && file.compare(file.size() - 4, 4, ".png") == 0;
  const image::Bytes bytes = png ? image::encodePng(img) : image::encodeJpeg(img, 92);
  const std::string path = gDir + "/" + file;
  if (bytes.empty() || !image::writeFile(path, bytes)) {
    std::fprintf(stderr, "make_artwork: cannot write %s\n", path.c_str());
    gFailed = true;
    return;
  }
  gEntries.push_back({file, img.width, img.height, shows, usedBy});
}

const Color kRedDark = rgb(120, 0, 0);
const Color kRed = rgb(198, 0, 0);
const Color kRedBright = rgb(236, 40, 30);
const Color kGold = rgb(255, 214, 80);
const Color kGoldDeep = rgb(214, 150, 20);
const Color kWhite = rgb(255, 255, 255);

Font hei(int px, bool bold = true) { return Font{"WenQuanYi Micro Hei"_t, px, bold}; }

// A glossy band: a vertical gradient with a light sheen over its upper half.
void glossy(Canvas& c, double x, double y, double w, double h, double radius, Color top,
            Color bottom, Pen pen = {}) {
  c.roundedRect(x, y, w, h, radius, Paint::vertical(top, bottom), pen);
  c.roundedRect(x + 1, y + 1, w - 2, h * 0.48, radius,
                Paint::vertical(rgb(255, 255, 255, 120), rgb(255, 255, 255, 20)));
}

void toolStrip() {
  Canvas c(1024, 50);
  c.verticalGradient(0, 0, 1024, 50, rgb(230, 40, 30), rgb(140, 0, 0));
  c.verticalGradient(0, 0, 1024, 24, rgb(255, 255, 255, 110), rgb(255, 255, 255, 25));
  c.line(0, 49.5, 1024, 49.5, rgb(90, 0, 0), 1);
  c.line(0, 0.5, 1024, 0.5, rgb(255, 150, 130), 1);
  save(c, "tool_strip_1024x50.jpg", "glossy red tool strip", "StartWindow tool strip (图片框1)");
}

void startButton(bool hot) {
  Canvas c(60, 30, kRedDark);
  glossy(c, 0.5, 0.5, 59, 29, 5, hot ? rgb(255, 80, 60) : kRedBright,
         hot ? rgb(200, 20, 10) : rgb(150, 0, 0), Pen{hot ? kGold : rgb(255, 120, 100), 1});
  c.shadowText(0, 0, 60, 30, "开始"_t, hei(17), hot ? kGold : kWhite, rgb(80, 0, 0), 1);
  save(c, hot ? "start_button_hot_60x30.jpg" : "start_button_normal_60x30.jpg",
       hot ? "开始 on red, highlighted (gold)" : "开始 on red", "StartWindow 开始超级按钮");
}

void minimiseButton(bool hot) {
  Canvas c(14, 30, kRedDark);
  glossy(c, 0, 0, 14, 30, 3, hot ? rgb(255, 80, 60) : kRedBright,
         hot ? rgb(200, 20, 10) : rgb(150, 0, 0));
  c.line(3.5, 20, 10.5, 20, hot ? kGold : kWhite, 2.2);
  save(c, hot ? "minimize_button_hot_14x30.jpg" : "minimize_button_normal_14x30.jpg",
       hot ? "minimise bar, highlighted" : "minimise bar on red", "StartWindow 最小化超级按钮");
}

// A speaker seen from the side, fitting the box x, y, size.
void speaker(Canvas& c, double x, double y, double s, Color fill, Color outline) {
  const std::vector<Point> body = {{x + s * 0.10, y + s * 0.36}, {x + s * 0.30, y + s * 0.36},
                                   {x + s * 0.55, y + s * 0.12}, {x + s * 0.55, y + s * 0.88},
                                   {x + s * 0.30, y + s * 0.64}, {x + s * 0.10, y + s * 0.64}};
  c.polygon(body, Paint::solid(fill), Pen{outline, 1});
}

void waves(Canvas& c, double cx, double cy, double s, Color colour) {
  c.arc(cx, cy, s * 0.16, -45, 90, colour, 1.6);
  c.arc(cx, cy, s * 0.30, -50, 100, colour, 1.6);
}

// A red "no" sign: a ring and a bar, with a light rim so it reads on red.
void noSign(Canvas& c, double cx, double cy, double r, Color rim) {
  c.circle(cx, cy, r, Paint{}, Pen{rim, 4.2});
  c.line(cx - r * 0.7, cy + r * 0.7, cx + r * 0.7, cy - r * 0.7, rim, 4.2);
  c.circle(cx, cy, r, Paint{}, Pen{rgb(230, 0, 0), 2.2});
  c.line(cx - r * 0.7, cy + r * 0.7, cx + r * 0.7, cy - r * 0.7, rgb(230, 0, 0), 2.2);
}

void speakerButton(bool muted) {
  Canvas c(30, 30, kRedDark);
  glossy(c, 0.5, 0.5, 29, 29, 4, kRedBright, rgb(150, 0, 0), Pen{rgb(255, 120, 100), 1});
  speaker(c, 3, 3, 24, kWhite, rgb(90, 0, 0));
  if (muted)
    noSign(c, 19, 15, 8.5, kWhite);
  else
    waves(c, 16, 15, 24, kWhite);
  save(c, muted ? "speaker_muted_30x30.jpg" : "speaker_normal_30x30.jpg",
       muted ? "white speaker on a red square with a red no sign" : "white speaker on a red square",
       "StartWindow speaker button (图片框2)");
}

void muteButton(bool muted) {
  Canvas c(32, 30, rgb(240, 240, 240));
  c.roundedRect(0.5, 0.5, 31, 29, 3, Paint::vertical(rgb(252, 252, 252), rgb(218, 218, 218)),
                Pen{rgb(170, 170, 170), 1});
  speaker(c, 2, 3, 24, rgb(120, 120, 120), rgb(70, 70, 70));
  if (muted)
    noSign(c, 20, 15, 8.5, rgb(250, 250, 250));
  else
    waves(c, 15, 15, 26, rgb(90, 90, 90));
  save(c, muted ? "mute_muted_32x30.jpg" : "mute_normal_32x30.jpg",
       muted ? "grey speaker with a red no sign" : "grey speaker with sound waves",
       "StartWindow volume panel mute button (图片框4)");
}

void musicIcons() {
  {
    Canvas c(20, 20, kWhite);
    c.circle(10, 10, 9, Paint::vertical(rgb(90, 200, 90), rgb(20, 130, 30)),
             Pen{rgb(10, 90, 20), 1});
    c.polygon({{7.5, 5}, {15, 10}, {7.5, 15}}, Paint::solid(kWhite));
    save(c, "play_icon_20x20.jpg", "white play triangle on a green disc",
         "SettingsWindow music icons (图片框2-图片框5)");
  }
  {
    Canvas c(20, 20, kWhite);
    c.circle(10, 10, 9, Paint::vertical(rgb(240, 80, 70), rgb(170, 0, 0)), Pen{rgb(110, 0, 0), 1});
    c.rect(6, 6, 8, 8, Paint::solid(kWhite));
    save(c, "stop_icon_20x20.jpg", "white stop square on a red disc",
         "SettingsWindow music icons while a preview plays");
  }
}

enum class State { Normal, Hot, Pressed };
const char* stateName(State s) {
  return s == State::Normal ? "normal" : s == State::Hot ? "hot" : "pressed";
}

// A picture-button face of the draw panel: gold-rimmed red, text in gold or
// white. The corners stay transparent (PNG): the panel around the buttons is
// its colour key, which a JPEG could not keep exact.
void drawFace(Canvas& c, double w, double h, State s) {
  const Color top = s == State::Hot       ? rgb(255, 90, 60)
                    : s == State::Pressed ? rgb(150, 0, 0)
                                          : kRedBright;
  const Color bottom = s == State::Hot       ? rgb(210, 30, 10)
                       : s == State::Pressed ? rgb(200, 20, 10)
                                             : rgb(150, 0, 0);
  if (s == State::Pressed)
    c.roundedRect(0.5, 0.5, w - 1, h - 1, 7, Paint::vertical(top, bottom), Pen{kGoldDeep, 1.5});
  else
    glossy(c, 0.5, 0.5, w - 1, h - 1, 7, top, bottom,
           Pen{s == State::Hot ? kGold : kGoldDeep, 1.5});
}

void drawButtons() {
  const struct {
    const char* id;
    model::Text label;
    const char* control;
  } buttons[] = {
      {"start", "开始"_t, "超级按钮1"},
      {"stop", "停止"_t, "超级按钮2"},
      {"redraw_award", "重抽本项"_t, "超级按钮3"},
      {"redraw_all", "重抽所有"_t, "超级按钮4"},
      {"next_award", "下一奖项"_t, "超级按钮5"},
  };
  for (const auto& b : buttons)
    for (State s : {State::Normal, State::Hot, State::Pressed}) {
      Canvas c(80, 32);
      drawFace(c, 80, 32, s);
      const double d = s == State::Pressed ? 1 : 0;
      c.shadowText(d, d, 80, 32, b.label, hei(b.label.length() > 4 ? 15 : 17),
                   s == State::Hot ? kWhite : kGold, rgb(70, 0, 0), 1);
      save(c, std::string("draw_") + b.id + "_" + stateName(s) + "_80x32.png",
           b.label.toUtf8() + " (" + stateName(s) + ")",
           std::string("DrawPanelWindow ") + b.control);
    }
  for (State s : {State::Normal, State::Hot, State::Pressed}) {
    Canvas c(24, 24);
    const Color disc = s == State::Hot       ? rgb(240, 60, 40)
                       : s == State::Pressed ? rgb(140, 0, 0)
                                             : rgb(190, 0, 0);
    c.circle(12, 12, 11, Paint::solid(disc), Pen{kGold, 1.5});
    const Color x = s == State::Hot ? kWhite : kGold;
    c.line(7.5, 7.5, 16.5, 16.5, x, 2.6);
    c.line(16.5, 7.5, 7.5, 16.5, x, 2.6);
    save(c, std::string("draw_close_") + stateName(s) + "_24x24.png",
         std::string("gold cross on a red disc, transparent corners (") + stateName(s) + ")",
         "DrawPanelWindow 关闭超级按钮");
  }
}

void winnersButtons() {
  for (State s : {State::Normal, State::Hot, State::Pressed}) {
    const Color top = s == State::Hot       ? rgb(255, 245, 210)
                      : s == State::Pressed ? rgb(215, 200, 170)
                                            : rgb(250, 250, 250);
    const Color bottom = s == State::Hot       ? rgb(240, 200, 110)
                         : s == State::Pressed ? rgb(235, 225, 200)
                                               : rgb(210, 210, 210);
    {
      Canvas c(40, 21, rgb(236, 236, 236));
      c.roundedRect(0.5, 0.5, 39, 20, 3, Paint::vertical(top, bottom), Pen{rgb(140, 110, 60), 1});
      c.text(0, s == State::Pressed ? 1 : 0, 40, 21, "导出"_t, hei(12), rgb(120, 0, 0));
      save(c, std::string("winners_export_") + stateName(s) + "_40x21.jpg",
           std::string("导出 on a light button (") + stateName(s) + ")",
           "WinnersListWindow 超级按钮1");
    }
    {
      Canvas c(21, 21, rgb(236, 236, 236));
      c.roundedRect(0.5, 0.5, 20, 20, 3, Paint::vertical(top, bottom), Pen{rgb(140, 110, 60), 1});
      const Color x = s == State::Hot ? rgb(200, 0, 0) : rgb(110, 0, 0);
      c.line(6.5, 6.5, 14.5, 14.5, x, 2.2);
      c.line(14.5, 6.5, 6.5, 14.5, x, 2.2);
      save(c, std::string("winners_close_") + stateName(s) + "_21x21.jpg",
           std::string("dark red cross on a light button (") + stateName(s) + ")",
           "WinnersListWindow 关闭超级按钮");
    }
  }
}

void firecracker(Canvas& c, double x, double y, double angle) {
  const double rad = angle * M_PI / 180, dx = std::cos(rad), dy = std::sin(rad);
  const double px = -dy, py = dx;  // across the cracker
  const double len = 11, half = 2.2;
  c.polygon({{x + px * half, y + py * half},
             {x + px * half + dx * len, y + py * half + dy * len},
             {x - px * half + dx * len, y - py * half + dy * len},
             {x - px * half, y - py * half}},
            Paint::solid(rgb(225, 20, 20)), Pen{rgb(120, 0, 0), 0.8});
  c.line(x + px * half + dx * 2, y + py * half + dy * 2, x - px * half + dx * 2,
         y - py * half + dy * 2, kGold, 1);
  c.line(x + dx * len, y + dy * len, x + dx * (len + 3), y + dy * (len + 3) - 1.5, rgb(60, 40, 20),
         0.8);
  c.circle(x + dx * (len + 3), y + dy * (len + 3) - 1.5, 1.2, Paint::solid(rgb(255, 230, 60)));
}

void aboutPicture() {
  Canvas c(50, 50, rgb(255, 248, 236));
  // A small monitor behind, bottom right.
  c.roundedRect(30, 31, 18, 13, 1.5, Paint::solid(rgb(90, 90, 100)), Pen{rgb(50, 50, 60), 0.8});
  c.rect(32, 33, 14, 9, Paint::vertical(rgb(120, 190, 255), rgb(40, 100, 200)));
  c.rect(37, 44, 4, 2.5, Paint::solid(rgb(90, 90, 100)));
  c.rect(34, 46.5, 10, 1.8, Paint::solid(rgb(70, 70, 80)));
  // The 福 diamond.
  c.polygon({{24, 2}, {44, 22}, {24, 42}, {4, 22}},
            Paint::vertical(rgb(240, 30, 20), rgb(170, 0, 0)), Pen{kGold, 1.6});
  c.text(4, 2, 40, 40, "福"_t, hei(20), kGold);
  // Firecrackers, bottom left.
  firecracker(c, 2, 38, -20);
  firecracker(c, 6, 45, -35);
  save(c, "about_50x50.jpg", "red 福 diamond with firecrackers and a small monitor",
       "AboutWindow 图片框1");
}

void lantern(Canvas& c, double cx, double top, double s) {
  c.line(cx, 0, cx, top, kGoldDeep, 2);
  c.rect(cx - s * 0.35, top, s * 0.7, s * 0.12, Paint::solid(kGoldDeep));
  c.ellipse(cx, top + s * 0.62, s * 0.6, s * 0.5, Paint::vertical(rgb(255, 70, 40), rgb(170, 0, 0)),
            Pen{kGoldDeep, 2});
  for (double k : {-0.3, 0.0, 0.3})
    c.ellipse(cx, top + s * 0.62, s * 0.6 * std::abs(k) + 1, s * 0.5, Paint{},
              Pen{rgb(220, 140, 40, 160), 1.2});
  c.rect(cx - s * 0.35, top + s * 1.08, s * 0.7, s * 0.12, Paint::solid(kGoldDeep));
  for (int i = -2; i <= 2; ++i)
    c.line(cx + i * s * 0.08, top + s * 1.2, cx + i * s * 0.08, top + s * 1.55, kGold, 1.5);
  c.text(cx - s * 0.5, top + s * 0.12, s, s, "福"_t, hei(int(s * 0.5)), kGold);
}

void startBackground() {
  Canvas c(1024, 614);
  c.verticalGradient(0, 0, 1024, 614, rgb(150, 0, 0), rgb(70, 0, 0));
  // A warm glow in the middle.
  for (int i = 0; i < 12; ++i) {
    const double r = 480 - i * 36;
    c.ellipse(512, 300, r * 1.25, r * 0.75, Paint::solid(rgb(220, 40, 20, 10)));
  }
  // Faint lucky-cloud circles.
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 9; ++col) {
      const double x = 60 + col * 115 + (row % 2) * 57, y = 120 + row * 130;
      c.circle(x, y, 26, Paint{}, Pen{rgb(255, 190, 80, 22), 2});
      c.circle(x, y, 14, Paint{}, Pen{rgb(255, 190, 80, 16), 1.5});
    }
  // Gold bands at top and bottom.
  c.rect(0, 0, 1024, 10, Paint::vertical(kGold, kGoldDeep));
  c.rect(0, 604, 1024, 10, Paint::vertical(kGoldDeep, kGold));
  c.line(0, 16, 1024, 16, rgb(255, 200, 80, 160), 1.5);
  c.line(0, 598, 1024, 598, rgb(255, 200, 80, 160), 1.5);
  lantern(c, 90, 40, 90);
  lantern(c, 934, 40, 90);
  save(c, "start_background_1024x614.jpg",
       "festive dark red with gold bands, lanterns and cloud rings",
       "StartWindow declared background picture");
}

// The start menu's icons: 16 x 16 with a transparent ground, dark outlines so
// they read on the menu's red band and on its gold highlight alike.
const Color kInk = rgb(70, 20, 0);

void menuIcon(const char* id, const std::string& shows, const std::string& caption,
              const std::function<void(Canvas&)>& draw) {
  Canvas c(16, 16);
  draw(c);
  save(c, std::string("menu_") + id + "_16x16.png", shows,
       "StartWindow 超级菜单1 (" + caption + ")");
}

void menuIcons() {
  menuIcon("start_draw", "white die with red pips", "开始抽奖", [](Canvas& c) {
    c.roundedRect(1.5, 1.5, 13, 13, 3, Paint::vertical(kWhite, rgb(235, 225, 210)), Pen{kInk, 1});
    for (Point p : {Point{5, 5}, Point{11, 5}, Point{8, 8}, Point{5, 11}, Point{11, 11}})
      c.circle(p.x, p.y, 1.5, Paint::solid(rgb(210, 0, 0)));
  });
  menuIcon("winners_list", "list sheet with gold bullets", "查看中奖名单", [](Canvas& c) {
    c.rect(2.5, 1.5, 11, 13, Paint::solid(rgb(255, 252, 240)), Pen{kInk, 1});
    for (double y : {4.5, 8.0, 11.5}) {
      c.circle(5, y, 1.2, Paint::solid(kGoldDeep));
      c.line(7, y, 11.5, y, rgb(150, 0, 0), 1.2);
    }
  });
  menuIcon("void_redraw", "gold ticket crossed in red", "废奖&补奖", [](Canvas& c) {
    c.polygon({{1, 4},
               {15, 4},
               {15, 6.5},
               {13.8, 8},
               {15, 9.5},
               {15, 12},
               {1, 12},
               {1, 9.5},
               {2.2, 8},
               {1, 6.5}},
              Paint::vertical(rgb(255, 230, 120), kGoldDeep), Pen{kInk, 1});
    c.line(5.5, 5, 10.5, 11, rgb(220, 0, 0), 2);
    c.line(10.5, 5, 5.5, 11, rgb(220, 0, 0), 2);
  });
  menuIcon("participants", "two people", "参加抽奖人员管理...", [](Canvas& c) {
    c.circle(10.5, 4.5, 2.6, Paint::solid(rgb(255, 220, 180)), Pen{kInk, 1});
    c.roundedRect(6.5, 8, 8, 7, 3, Paint::solid(rgb(60, 110, 200)), Pen{kInk, 1});
    c.circle(5.5, 5.5, 2.6, Paint::solid(rgb(255, 220, 180)), Pen{kInk, 1});
    c.roundedRect(1.5, 9, 8, 6, 3, Paint::solid(rgb(40, 160, 80)), Pen{kInk, 1});
  });
  menuIcon("awards", "gold trophy", "奖项管理...", [](Canvas& c) {
    c.arc(3.5, 5.5, 2.5, 90, 180, kInk, 1.2);
    c.arc(12.5, 5.5, 2.5, -90, 180, kInk, 1.2);
    c.polygon({{3.5, 1.5}, {12.5, 1.5}, {11.5, 7}, {9, 9.5}, {7, 9.5}, {4.5, 7}},
              Paint::vertical(rgb(255, 236, 130), kGoldDeep), Pen{kInk, 1});
    c.rect(7, 9.5, 2, 2.5, Paint::solid(kGoldDeep));
    c.rect(4.5, 12, 7, 2.5, Paint::solid(rgb(150, 80, 20)), Pen{kInk, 1});
  });
  menuIcon("settings", "grey gear", "系统设置...", [](Canvas& c) {
    std::vector<Point> gear;
    for (int i = 0; i < 32; ++i) {
      const double a = i * M_PI / 16, r = (i / 2) % 2 == 0 ? 7.2 : 5.2;
      gear.push_back({8 + r * std::cos(a), 8 + r * std::sin(a)});
    }
    c.polygon(gear, Paint::vertical(rgb(235, 235, 240), rgb(150, 150, 160)), Pen{kInk, 1});
    c.circle(8, 8, 2.2, Paint::solid(rgb(90, 90, 100)), Pen{kInk, 0.8});
  });
  menuIcon("help", "white question mark on a blue disc", "使用说明", [](Canvas& c) {
    c.circle(8, 8, 7, Paint::vertical(rgb(90, 150, 240), rgb(20, 70, 180)), Pen{kInk, 1});
    c.text(0, 0.5, 16, 16, "?"_t, hei(12), kWhite);
  });
  menuIcon("about", "white i on a green disc", "关于", [](Canvas& c) {
    c.circle(8, 8, 7, Paint::vertical(rgb(90, 200, 110), rgb(20, 120, 50)), Pen{kInk, 1});
    c.circle(8, 4.6, 1.3, Paint::solid(kWhite));
    c.line(8, 7.2, 8, 12, kWhite, 2.2);
  });
  menuIcon("exit", "brown door with a gold arrow going out", "退出", [](Canvas& c) {
    c.rect(1.5, 1.5, 8, 13, Paint::vertical(rgb(190, 120, 60), rgb(120, 60, 20)), Pen{kInk, 1});
    c.circle(7.5, 8.5, 0.9, Paint::solid(kGold));
    c.line(7, 8, 13, 8, kInk, 3.6);
    c.polygon({{11, 4}, {15.5, 8}, {11, 12}}, Paint::solid(kGold), Pen{kInk, 1});
    c.line(7.5, 8, 12, 8, kGold, 1.8);
  });
}

bool writeReadme() {
  std::string text =
      "# Pictures of the forms\n\n"
      "Drawn by tools/make_artwork.cpp (`make_artwork forms/pictures`); run it again after a "
      "change.\n"
      "JPEG where the picture is opaque, PNG where it needs transparency.\n\n"
      "| file | size | shows | used by |\n|---|---|---|---|\n";
  for (const Entry& e : gEntries)
    text += "| " + e.file + " | " + std::to_string(e.w) + " x " + std::to_string(e.h) + " | " +
            e.shows + " | " + e.usedBy + " |\n";
  return image::writeFile(gDir + "/README.md", image::Bytes(text.begin(), text.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    std::fprintf(stderr, "usage: make_artwork [DIR]   (default: forms/pictures)\n");
    return 2;
  }
  gDir = argc == 2 ? argv[1] : "forms/pictures";
  std::error_code ec;
  std::filesystem::create_directories(gDir, ec);
  if (ec) {
    std::fprintf(stderr, "make_artwork: cannot create %s: %s\n", gDir.c_str(),
                 ec.message().c_str());
    return 1;
  }
  canvas::init();
  toolStrip();
  for (bool hot : {false, true}) startButton(hot);
  for (bool hot : {false, true}) minimiseButton(hot);
  for (bool muted : {false, true}) speakerButton(muted);
  for (bool muted : {false, true}) muteButton(muted);
  musicIcons();
  drawButtons();
  winnersButtons();
  aboutPicture();
  startBackground();
  menuIcons();
  if (!writeReadme()) {
    std::fprintf(stderr, "make_artwork: cannot write %s/README.md\n", gDir.c_str());
    gFailed = true;
  }
  std::printf("make_artwork: %zu pictures in %s\n", gEntries.size(), gDir.c_str());
  return gFailed ? 1 : 0;
}
