// Pictures of the program's screens for a look by eye: for each display mode
// (1 to 5) the panel mid-roll with quotas 1, 5, 10 and 20, committed rolls
// with their banner line, the winners list at its start and at its end; then
// the start window and each maintenance window. The participants have 4-digit
// numbers, names of 2 to 4 characters, 11-digit phones and 18-character
// identity numbers, so that the widest texts of every mode are seen.
//
// Runs only when PD_SCREENSHOT_DIR names a folder and a real display (for
// instance Xvfb at 1920 x 1080 with a window manager) is there; skipped
// otherwise. PD_SCREENSHOT_MODES limits the display modes ("35": modes 3
// and 5). Files are named <mode>_<what>.png.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_internal.h"
#include "draw/void_redraw.h"
#include "event_fixture.h"
#include "frame/frame.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"

using model::operator""_t;
using model::Text;

namespace {

const char* const kNames[] = {
    "张伟",   "欧阳娜娜", "王小明",   "李娜",   "司马相如", "刘洋", "陈静怡",   "诸葛孔明",
    "杨帆",   "赵磊",     "上官婉儿", "黄敏",   "周杰伦",   "吴刚", "徐丽",     "孙涛",
    "皇甫嵩", "胡军",     "朱琳",     "高峰",   "林欣然",   "何平", "郭靖",     "马超",
    "罗兰",   "梁栋",     "宋佳",     "郑爽",   "谢娜",     "韩雪", "东方不败", "令狐冲",
    "任盈盈", "岳灵珊",   "田伯光",   "慕容复", "段誉",     "虚竹", "乔峰",     "阿朱",
};

std::vector<fixture::Row> persons(int mode) {
  std::vector<fixture::Row> rows;
  int i = 0;
  for (const char* n : kNames) {
    ++i;
    char number[16], phone[24], id[32];
    std::snprintf(number, sizeof number, "%04d", i);
    std::snprintf(phone, sizeof phone, "1%02d%08d", 30 + i, 10000000 + 7919 * i);
    // Every fourth identity number ends in X, the widest Latin letter there.
    std::snprintf(id, sizeof id, "%06d%08d%03d%c", 110101 + i, 19800101 + 17 * i, 100 + i,
                  i % 4 == 0 ? 'X' : static_cast<char>('0' + i % 10));
    rows.push_back({Text::fromGbk(number), Text::fromUtf8(n), Text::fromGbk(phone),
                    Text::fromGbk(id), Text(), static_cast<long long>(mode), Text()});
  }
  return rows;
}

bool modeWanted(int mode) {
  const char* modes = std::getenv("PD_SCREENSHOT_MODES");
  return !modes || std::string(modes).find(static_cast<char>('0' + mode)) != std::string::npos;
}

class Shooter {
 public:
  explicit Shooter(std::string dir) : dir_(std::move(dir)) {}
  void operator()(const std::string& name) const {
    QPixmap p = QGuiApplication::primaryScreen()->grabWindow(0);
    EXPECT_TRUE(p.save(QString::fromStdString(dir_ + "/" + name + ".png"))) << name;
  }

 private:
  std::string dir_;
};

// Waits with message processing until done() or a generous deadline.
void waitFor(const std::function<bool()>& done, int deadlineMs = 20000) {
  for (int waited = 0; !done() && waited < deadlineMs; waited += 50) ui::waitPumping(50);
}

void makeEvent(fixture::TempEvent& ev, int mode) {
  ev.makePersons(persons(mode));
  image::Image img;
  img.width = 300;
  img.height = 200;
  img.pixels.assign(300 * 200, 0xff3366ccu);
  const model::Bytes picture = image::encodeJpeg(img, 90);
  // Each award fills with one roll; the draw starts at the first.
  ev.makeAwards({{"特等奖"_t, "汽车"_t, 1.0, 1.0, 0.0, picture, 1LL, 0LL},
                 {"一等奖"_t, "笔记本电脑"_t, 5.0, 5.0, 0.0, picture, 1LL, 0LL},
                 {"二等奖"_t, "手机"_t, 10.0, 10.0, 0.0, picture, 1LL, 0LL},
                 {"三等奖"_t, "购物卡"_t, 20.0, 20.0, 0.0, picture, 1LL, 0LL}});
  // The music of the sample event, by the names the settings window lists.
  const char* const music[][2] = {{"Music/bj", "等待音乐.wav"},
                                  {"Music/Start", "滚动音乐.wav"},
                                  {"Music/end", "停止音乐.wav"},
                                  {"Music/bj", "中奖名单音乐.wav"}};
  std::vector<Text> settings = {"星河科技有限公司"_t, "2027年度晚会抽奖仪式"_t, "祝大家新春快乐"_t,
                                Text()};
  for (const auto& [folder, name] : music) {
    fixture::writeSilentWav(ev.path(std::string(folder) + "/" + name), 1.0);
    settings.push_back(Text::fromUtf8(name));
  }
  ev.makeSettings(settings);
}

// Shows the whole banner line from a little right of the left edge.
void bringBannerIn() {
  ui::Control line("BannerWindow", "标签1");
  line.setLeft(40);
  ui::waitPumping(100);
}

void drawScreens(const Shooter& shoot, int mode) {
  const std::string m = std::to_string(mode) + "_";
  app::OnStartMenuStartDrawClick();
  waitFor([] { return draw::DrawPanel().isOpen(); });
  ui::waitPumping(500);
  shoot(m + "panel_ready");
  for (const char* quota : {"1", "5", "10", "20"}) {
    QTimer::singleShot(500, [&, quota] {
      shoot(m + "rolling_quota_" + quota);
      ui::testing::pressKey(32);
    });
    ui::testing::pressKey(32);  // starts the roll; returns once it is committed
    ui::waitPumping(300);
    shoot(m + "stopped_quota_" + quota);
    if (std::string(quota) == "1" || std::string(quota) == "5") {
      bringBannerIn();
      shoot(m + "banner_quota_" + quota);
    }
    ui::testing::pressKey(32);  // next award, or the winners list after the last
    ui::waitPumping(300);
  }
  waitFor([] { return ui::Window("WinnersListWindow").isOpen(); });
  ui::waitPumping(1500);
  shoot(m + "winners_list_start");
  // The end of the list: the label's bottom at the bottom of the frame that
  // shows it (24 pixels above the window's bottom).
  ui::Control text("WinnersListWindow", "标签2");
  frame::gListScrolling = 0;
  ui::waitPumping(100);
  text.setTop(ui::Window("WinnersListWindow").height() - 24 - 48 - text.height());
  ui::waitPumping(300);
  shoot(m + "winners_list_end");
}

// An open dialog of `window`'s file dialog control showing `dir`, with the
// filter the program gives it.
void openDialogScreen(const Shooter& shoot, const char* window, const char* control,
                      const Text& filter, const std::string& dir, const std::string& name) {
  ui::Control d(window, control);
  d.setDialogSave(false);
  d.setFilter(filter);
  d.setKeepCurrentDir(true);
  ui::testing::queueFileAnswer(false, "");
  ui::testing::queueDuringDialog([&] {
    auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(fd, nullptr);
    fd->setDirectory(QString::fromStdString(dir));
    ui::waitPumping(700);
    shoot(name);
  });
  d.showDialog();
}

// A combo box of an open window with its list dropped down.
void comboScreen(const Shooter& shoot, const char* window, const char* combo) {
  auto* box = qobject_cast<QComboBox*>(ui::testing::controlWidget(window, combo));
  ASSERT_NE(box, nullptr) << window << " " << combo;
  box->showPopup();
  ui::waitPumping(400);
  shoot(std::string("combo_") + window + "_" + combo);
  box->hidePopup();
  ui::waitPumping(200);
}

void maintenanceScreens(const Shooter& shoot) {
  shoot("start_window");
  auto look = [&](const char* window) {
    ui::Window w(window);
    ASSERT_TRUE(w.open()) << window;
    ui::waitPumping(700);
    shoot(std::string("window_") + window);
  };
  auto close = [](const char* window) {
    ui::Window(window).destroy();
    ui::waitPumping(300);
  };
  for (const char* w : {"SettingsWindow", "AwardsWindow", "AboutWindow"}) {
    look(w);
    if (std::string(w) == "SettingsWindow")
      for (const char* combo : {"背景音乐组合框", "中奖名单音乐组合框", "背景图片组合框"})
        comboScreen(shoot, w, combo);
    if (std::string(w) == "AwardsWindow") {
      comboScreen(shoot, w, "组合框1");
      openDialogScreen(shoot, w, "打开文件对话框", "图片文件(*.jpg)|*.jpg"_t,
                       ui::programFolder() + "/Prize", "dialog_open_picture");
    }
    close(w);
  }
  // The void window with the winners of the award of twenty listed.
  ASSERT_TRUE(ui::Window("VoidRedrawWindow").open());
  ui::Control("VoidRedrawWindow", "组合框1").setSelectedIndex(3);
  draw::OnVoidRedrawAwardComboItemChosen();
  ui::waitPumping(700);
  shoot("window_VoidRedrawWindow");
  comboScreen(shoot, "VoidRedrawWindow", "组合框1");
  close("VoidRedrawWindow");
  look("ParticipantsWindow");
  openDialogScreen(shoot, "ParticipantsWindow", "通用对话框_公用", "*.xls;*.xlsx|*.xls;*.xlsx"_t,
                   ui::programFolder(), "dialog_open_workbook");
  for (const char* w : {"AddPersonWindow", "EditPersonWindow", "GenerateEntriesWindow"}) {
    look(w);
    close(w);
  }
  close("ParticipantsWindow");
}

// The save dialog of the winners list, and its question before it writes
// over a file that exists (answered No, then the dialog is cancelled).
void dialogScreens(const Shooter& shoot, const fixture::TempEvent& ev) {
  const std::string existing = ev.path("中奖名单.txt");
  fixture::writeSilentWav(existing);  // any file
  ui::testing::queueFileAnswer(false, "");
  ui::testing::queueDuringDialog([&] {
    auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(fd, nullptr);
    ui::waitPumping(700);
    shoot("dialog_save");
    QTimer::singleShot(700, fd, [&] {
      shoot("dialog_overwrite_question");
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        box->button(QMessageBox::No)->click();
    });
    fd->setDirectory(QString::fromStdString(ev.dir));
    ui::waitPumping(300);
    // The operator types the name of the file that exists and saves.
    if (auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
      name->setText(QStringLiteral("中奖名单.txt"));
    ui::waitPumping(300);
    if (auto* buttons = fd->findChild<QDialogButtonBox*>())
      buttons->button(QDialogButtonBox::Save)->click();
  });
  draw::OnWinnersListExportButtonClick();
}

TEST(DrawScreens, Capture) {
  const char* out = std::getenv("PD_SCREENSHOT_DIR");
  if (!out || QGuiApplication::platformName() == QLatin1String("offscreen"))
    GTEST_SKIP() << "set PD_SCREENSHOT_DIR and run on a display";
  const Shooter shoot(out);
  for (int mode = 1; mode <= 5; ++mode) {
    if (!modeWanted(mode)) continue;
    SCOPED_TRACE(mode);
    fixture::beginProgramTest(0, 0);
    {
      fixture::TempEvent ev;
      makeEvent(ev, mode);
      ui::setProgramFolder(ev.dir);
      ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms())));
      ui::waitPumping(500);
      drawScreens(shoot, mode);
      if (mode == 5) {
        dialogScreens(shoot, ev);
        ui::Window("WinnersListWindow").destroy();
        ui::waitPumping(500);
        maintenanceScreens(shoot);
      }
      fixture::endProgramTest();
    }
  }
}

}  // namespace
