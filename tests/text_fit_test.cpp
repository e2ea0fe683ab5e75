// Winners' texts fit the places made for them, headless: the name slots in
// every display mode and slot layout, the banner line and the lines of the
// winners list, measured with the fonts the real widgets use; and a label
// whose text is too wide for it shows every character.
#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "event_fixture.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"

using model::operator""_t;
using model::Text;

namespace {

// Names of 2 to 4 characters; numbers, phones and identity numbers at their
// full lengths, some identity numbers ending in X.
const char* const kNames[] = {"欧阳娜娜", "张伟",   "司马相如", "王小明", "诸葛孔明", "李娜",
                              "上官婉儿", "陈静怡", "东方不败", "令狐冲", "皇甫嵩",   "杨帆"};

struct Award {
  const char* name;
  int perRoll;
};
const Award kAwards[] = {{"特等奖", 1}, {"一等奖", 5}, {"二等奖", 10}, {"三等奖", 20}};

std::vector<fixture::Row> persons(int mode, int count, bool withWins) {
  std::vector<fixture::Row> rows;
  for (int i = 1; i <= count; ++i) {
    char number[16], phone[24], id[32];
    std::snprintf(number, sizeof number, "%04d", 9000 + i);
    std::snprintf(phone, sizeof phone, "1%02d%08d", 30 + i % 60, 88880000 + i);
    std::snprintf(id, sizeof id, "%06d%08d%03d%c", 440301, 19991231, i % 1000,
                  i % 3 == 0 ? 'X' : '8');
    // With wins: the first 1, the next 5, 10 and 20 won the four awards.
    Text won;
    if (withWins) {
      int seen = 0;
      for (const Award& a : kAwards) {
        if (i > seen && i <= seen + a.perRoll) won = Text::fromUtf8(a.name);
        seen += a.perRoll;
      }
    }
    rows.push_back({Text::fromGbk(number), Text::fromUtf8(kNames[i % std::size(kNames)]),
                    Text::fromGbk(phone), Text::fromGbk(id), Text(), static_cast<long long>(mode),
                    won});
  }
  return rows;
}

QWidget* widget(const char* window, const std::string& control) {
  return ui::testing::controlWidget(window, control);
}

// The room a text of the widget's font needs: its advance, and the pixels of
// glyphs that reach beyond it on either side.
double extent(const QWidget* w, const QString& text) {
  QFontMetricsF m(w->font());
  const QRectF ink = m.boundingRect(text);
  return std::max(m.horizontalAdvance(text), ink.right()) - std::min(0.0, ink.left());
}

// Where a text needs more room than the widget gives.
std::string overflow(const QWidget* w, const QString& text) {
  const double need = extent(w, text);
  if (need > w->width())
    return text.toStdString() + ": needs " + std::to_string(need) + ", has " +
           std::to_string(w->width());
  return std::string();
}

class TextFit : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1366, 768);
    const Text off = model::musicDisabled();
    ev.makeSettings(
        {"星河科技"_t, "2027年度晚会抽奖仪式"_t, "祝大家新春快乐"_t, Text(), off, off, off, off});
    ui::setProgramFolder(ev.dir);
  }
  void TearDown() override { fixture::endProgramTest(); }
  void startWithAwards(long long rule) {
    std::vector<fixture::Row> awards;
    for (const Award& a : kAwards)
      awards.push_back({Text::fromUtf8(a.name), "奖品"_t, static_cast<double>(a.perRoll),
                        static_cast<double>(a.perRoll), 0.0, model::Bytes(), 1LL, rule});
    ev.makeAwards(awards);
    ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms())));
  }

  fixture::TempEvent ev;
};

// A rectangle of the screen, inclusive; empty when right < left.
struct Box {
  int left = 0, top = 0, right = -1, bottom = -1;
  bool empty() const { return right < left || bottom < top; }
};
std::string show(const Box& b) {
  return "[" + std::to_string(b.left) + "," + std::to_string(b.top) + " .. " +
         std::to_string(b.right) + "," + std::to_string(b.bottom) + "]";
}

// Where a slot's text is drawn: the pixels of its yellow ink, from the label
// as it paints itself, in screen coordinates.
Box inkBox(QWidget* w) {
  const QImage img = w->grab().toImage();
  Box b{img.width(), img.height(), -1, -1};
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QRgb p = img.pixel(x, y);
      if (qRed(p) > 160 && qGreen(p) > 160 && qBlue(p) < 120) {
        b.left = std::min(b.left, x);
        b.right = std::max(b.right, x);
        b.top = std::min(b.top, y);
        b.bottom = std::max(b.bottom, y);
      }
    }
  const QPoint at = w->mapToGlobal(QPoint(0, 0));
  return {at.x() + b.left, at.y() + b.top, at.x() + b.right, at.y() + b.bottom};
}

// The lines a frame paints, in screen coordinates: the outermost rows and
// columns that the frame's colour runs along for most of their length.
Box frameLines(QWidget* w) {
  const QImage img = w->grab().toImage();
  const QRgb line = img.pixel(img.width() / 2, img.height() - 1);  // the bottom line
  auto isLine = [&](int x, int y) { return img.pixel(x, y) == line; };
  Box b;
  std::vector<int> rows, columns;
  for (int y = 0; y < img.height(); ++y) {
    int n = 0;
    for (int x = 0; x < img.width(); ++x) n += isLine(x, y);
    if (n > img.width() * 3 / 4) rows.push_back(y);
  }
  for (int x = 0; x < img.width(); ++x) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y) n += isLine(x, y);
    if (n > (rows.empty() ? img.height() : rows.back() - rows.front()) * 3 / 4)
      columns.push_back(x);
  }
  if (rows.size() < 2 || columns.size() < 2) return b;
  const QPoint at = w->mapToGlobal(QPoint(0, 0));
  return {at.x() + columns.front(), at.y() + rows.front(), at.x() + columns.back(),
          at.y() + rows.back()};
}

struct Screen {
  int width, height;
};
void PrintTo(const Screen& s, std::ostream* os) { *os << s.width << "x" << s.height; }

// Every slot text of every display mode and quota, on both screen sizes,
// measured as painted: its ink lies inside its frame's lines, none of them
// crossing it, centred between the top and bottom lines, and texts side by
// side keep at least a digit's width apart.
class SlotInk : public ::testing::TestWithParam<std::tuple<int, Screen>> {
 protected:
  void SetUp() override {
    const Screen screen = std::get<1>(GetParam());
    fixture::beginProgramTest(screen.width, screen.height);
    const Text off = model::musicDisabled();
    ev.makeSettings(
        {"星河科技"_t, "2027年度晚会抽奖仪式"_t, "祝大家新春快乐"_t, Text(), off, off, off, off});
    ui::setProgramFolder(ev.dir);
  }
  void TearDown() override { fixture::endProgramTest(); }
  fixture::TempEvent ev;
};

TEST_P(SlotInk, InsideItsFrameAndApartFromItsNeighbour) {
  const int mode = std::get<0>(GetParam());
  ev.makePersons(persons(mode, 40, false));
  const int quotas[] = {1, 2, 3, 4, 5, 10, 20};
  std::vector<fixture::Row> awards;
  for (int q : quotas)
    awards.push_back({Text::fromUtf8("奖" + std::to_string(q)), "奖品"_t, static_cast<double>(q),
                      100.0, 0.0, model::Bytes(), 1LL, 1LL});  // rule 1: all stay candidates
  ev.makeAwards(awards);
  ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms())));
  app::OnStartMenuStartDrawClick();
  ASSERT_TRUE(draw::DrawPanel().isOpen());
  for (int quota : quotas) {
    SCOPED_TRACE("quota " + std::to_string(quota));
    ASSERT_EQ(draw::gDrawQuota, quota);
    draw::SlotPicks picks{};
    ASSERT_TRUE(draw::SetUpRoll(picks));
    const draw::SlotLayout* layout = draw::SlotLayoutFor(quota);
    const int perColumn = layout->slotsPerColumn;
    for (int pass = 0; pass < 6; ++pass) {
      draw::RollOnePass(picks);
      std::vector<Box> ink(static_cast<size_t>(quota) + 1);
      for (int k = 1; k <= quota; ++k) {
        QWidget* label = widget("DrawPanelWindow", "名单" + std::to_string(k));
        QWidget* frame = widget("DrawBackdropWindow", "分组框" + std::to_string(k));
        ASSERT_TRUE(label && frame);
        const std::string text = draw::NameSlot(k).caption().toUtf8();
        const Box lines = frameLines(frame);
        ASSERT_FALSE(lines.empty()) << "no frame drawn for slot " << k;
        const Box b = ink[static_cast<size_t>(k)] = inkBox(label);
        ASSERT_FALSE(b.empty()) << "nothing drawn for " << text;
        EXPECT_TRUE(b.left > lines.left && b.right < lines.right && b.top > lines.top &&
                    b.bottom < lines.bottom)
            << "slot " << k << " " << text << ": ink " << show(b) << ", frame lines "
            << show(lines);
        // Centred: as much room above the ink as below it, give or take the
        // rounding of a pixel on either side.
        EXPECT_LE(std::abs((b.top - lines.top) - (lines.bottom - b.bottom)), 2)
            << "slot " << k << " " << text << ": ink " << show(b) << ", frame lines "
            << show(lines);
      }
      if (quota < 10) continue;
      const double digit = QFontMetricsF(widget("DrawPanelWindow", "名单1")->font())
                               .horizontalAdvance(QLatin1Char('0'));
      for (int k = 1; k <= perColumn; ++k) {
        const Box& left = ink[static_cast<size_t>(k)];
        const Box& right = ink[static_cast<size_t>(k + perColumn)];
        EXPECT_GE(right.left - left.right - 1, digit) << "slots " << k << " and " << k + perColumn
                                                      << ": " << show(left) << " " << show(right);
      }
    }
    draw::gDrawStopped = 1;
    draw::NextAward();
  }
}

INSTANTIATE_TEST_SUITE_P(ModesAndScreens, SlotInk,
                         ::testing::Combine(::testing::Values(1, 2, 3, 4, 5),
                                            ::testing::Values(Screen{1920, 1080},
                                                              Screen{1366, 768})),
                         [](const ::testing::TestParamInfo<SlotInk::ParamType>& info) {
                           const Screen s = std::get<1>(info.param);
                           return "Mode" + std::to_string(std::get<0>(info.param)) + "_" +
                                  std::to_string(s.width) + "x" + std::to_string(s.height);
                         });

// The congratulation line of a roll of five fits the banner label.
TEST_P(TextFit, BannerLineHoldsItsText) {
  const int mode = GetParam();
  ev.makePersons(persons(mode, 40, false));
  startWithAwards(0);
  app::OnStartMenuStartDrawClick();
  draw::NextAward();  // the award of five
  QTimer::singleShot(200, [] { ui::testing::pressKey(32); });
  ui::testing::pressKey(32);  // rolls until the timer stops it, then commits
  const Text line = ui::Control("BannerWindow", "标签1").caption();
  ASSERT_TRUE(line.toUtf8().find("中了一等奖") != std::string::npos) << line.toUtf8();
  QWidget* w = widget("BannerWindow", "标签1");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(overflow(w, QString::fromStdString(line.toUtf8())), "");
}

// Rows of pixels of an image that hold ink (anything but the background of
// the top left corner), as runs [first, last].
std::vector<std::pair<int, int>> inkBands(const QImage& img) {
  const QRgb background = img.pixel(0, 0);
  std::vector<std::pair<int, int>> bands;
  bool inBand = false;
  for (int y = 0; y < img.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < img.width() && !ink; ++x) ink = img.pixel(x, y) != background;
    if (ink && !inBand) bands.push_back({y, y});
    if (ink) bands.back().second = y;
    inBand = ink;
  }
  return bands;
}

// The winners list label, count × 33 pixels high, holds every line of its
// text: each line that has text is drawn, one band of ink apart from the
// next, and nothing of the text lies below the label's height.
TEST_P(TextFit, WinnersListHoldsEveryLine) {
  const int mode = GetParam();
  ev.makePersons(persons(mode, 36, true));
  startWithAwards(0);
  draw::ShowWinnersList();
  ASSERT_TRUE(ui::Window("WinnersListWindow").isOpen());
  fixture::stopScrollers();
  QWidget* w = widget("WinnersListWindow", "标签2");
  ASSERT_NE(w, nullptr);
  const std::string text = ui::Control("WinnersListWindow", "标签2").caption().toUtf8();
  int lines = 0, withText = 0;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    ++lines;
    const QString line = QString::fromStdString(text.substr(start, end - start));
    if (!line.isEmpty()) ++withText;
    EXPECT_EQ(overflow(w, line), "");
  }
  ASSERT_EQ(lines, 4 * 3 + 36);  // header, empty line, end of block; one line per winner
  ASSERT_EQ(w->height(), lines * 33);

  const QImage shown = w->grab().toImage();
  EXPECT_EQ(static_cast<int>(inkBands(shown).size()), withText);
  // The same label 300 pixels higher draws nothing more.
  w->resize(w->width(), w->height() + 300);
  const QImage taller = w->grab().toImage();
  w->resize(w->width(), lines * 33);
  const auto bands = inkBands(taller);
  ASSERT_FALSE(bands.empty());
  EXPECT_LT(bands.back().second, lines * 33);
  EXPECT_EQ(taller.copy(0, 0, shown.width(), shown.height()), shown);
}

INSTANTIATE_TEST_SUITE_P(DisplayModes, TextFit, ::testing::Values(1, 2, 3, 4, 5));

// The banner's line label of a running program, for the tests of how labels
// draw their text.
class LabelText : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1366, 768);
    ev = std::make_unique<fixture::TempEvent>();
    ev->makePersons(persons(1, 1, false));
    const Text off = model::musicDisabled();
    ev->makeSettings({"a"_t, "b"_t, "c"_t, Text(), off, off, off, off});
    ev->makeAwards({});
    ui::setProgramFolder(ev->dir);
    ASSERT_TRUE(app::StartProgram(ev->makeForms(fixture::allProgramForms())));
    w = widget("BannerWindow", "标签1");
    ASSERT_NE(w, nullptr);
  }
  void TearDown() override {
    fixture::endProgramTest();
    ev.reset();
  }

  std::unique_ptr<fixture::TempEvent> ev;
  ui::Control line{"BannerWindow", "标签1"};
  QWidget* w = nullptr;
};

// A label too narrow for its text still shows the last character: the text
// is drawn narrower, not cut.
TEST_F(LabelText, TooWideTextShowsEveryCharacter) {
  auto render = [&](const char* text) {
    line.setCaption(Text::fromUtf8(text));
    line.setWidth(100);
    return w->grab().toImage();
  };
  const QImage all = render("恭喜：0123456789");
  const QImage lessOne = render("恭喜：012345678");
  EXPECT_NE(all, lessOne);  // the last digit is seen
  // And the text reaches across the whole label.
  const QRgb background = all.pixel(0, 0);
  int right = -1;
  for (int x = 0; x < all.width(); ++x)
    for (int y = 0; y < all.height(); ++y)
      if (all.pixel(x, y) != background) right = x;
  EXPECT_GE(right, 90);
}

// Bold text stays bold at the sizes that Qt draws as outlines (the slots of
// quotas 1 to 4 are 64 pixels high), as it is below them.
TEST_F(LabelText, LargeBoldTextIsBold) {
  line.setCaption("0035 张伟"_t);
  line.setWidth(600);
  line.setHeight(100);
  auto ink = [&](int px, bool bold) {
    QFont f = w->font();
    f.setPixelSize(px);
    f.setBold(bold);
    w->setFont(f);
    const QImage img = w->grab().toImage();
    const QRgb background = img.pixel(0, 0);
    long sum = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        sum += std::abs(qGray(img.pixel(x, y)) - qGray(background));
    return sum;
  };
  for (int px : {48, 64, 80}) {
    SCOPED_TRACE(px);
    EXPECT_GT(ink(px, true), ink(px, false) * 5 / 4);
  }
}

}  // namespace
