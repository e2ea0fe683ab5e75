// Pictures of the draw screen for a look by eye: the panel mid-roll with
// quotas 1, 5, 10 and 20, a committed roll with its banner line, and the
// winners list. Runs only when PD_SCREENSHOT_DIR names a folder and a real
// display (for instance Xvfb at 1920 x 1080) is there; skipped otherwise.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdlib>
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_internal.h"
#include "event_fixture.h"
#include "program_session.h"
#include "model/drawstate.h"
#include "platform/image.h"
#include "platform/music.h"
#include "platform/store.h"
#include "platform/ui.h"

using model::operator""_t;
using model::Text;

namespace {

const char* const kNames[] = {"张伟", "王芳", "李娜", "刘洋", "陈静", "杨帆", "赵磊",
                              "黄敏", "周杰", "吴刚", "徐丽", "孙涛", "胡军", "朱琳",
                              "高峰", "林欣", "何平", "郭靖", "马超", "罗兰", "梁栋",
                              "宋佳", "郑爽", "谢娜", "韩雪"};

TEST(DrawScreens, Capture) {
  const char* out = std::getenv("PD_SCREENSHOT_DIR");
  if (!out || QGuiApplication::platformName() == QLatin1String("offscreen"))
    GTEST_SKIP() << "set PD_SCREENSHOT_DIR and run on a display";
  const std::string dir = out;
  fixture::beginProgramTest(0, 0);
  fixture::TempEvent ev;
  std::vector<fixture::Row> persons;
  int i = 0;
  for (const char* n : kNames) {
    char number[8];
    std::snprintf(number, sizeof number, "%04d", ++i);
    persons.push_back({Text::fromGbk(number), Text::fromUtf8(n), Text::fromGbk("13800138000"),
                       Text::fromGbk("110101199001011234"), Text(), 2LL, Text()});
  }
  ev.makePersons(persons);
  image::Image img;
  img.width = 300;
  img.height = 200;
  img.pixels.assign(300 * 200, 0xff3366ccu);
  const model::Bytes picture = image::encodeJpeg(img, 90);
  ev.makeAwards({{"特等奖"_t, "汽车"_t, 1.0, 1.0, 0.0, picture, 1LL, 1LL},
                 {"一等奖"_t, "电脑"_t, 5.0, 5.0, 0.0, picture, 1LL, 1LL},
                 {"二等奖"_t, "手机"_t, 10.0, 10.0, 0.0, picture, 1LL, 1LL},
                 {"三等奖"_t, "书券"_t, 20.0, 20.0, 0.0, picture, 1LL, 1LL}});
  const Text off = model::musicDisabled();
  ev.makeSettings(
      {"星河科技"_t, "2027年度晚会抽奖仪式"_t, "祝大家新春快乐"_t, Text(), off, off, off, off});
  ui::setProgramFolder(ev.dir);
  ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms())));
  ui::waitPumping(300);
  app::OnStartMenuStartDrawClick();
  ui::waitPumping(300);

  auto shoot = [&](const std::string& name) {
    QPixmap p = QGuiApplication::primaryScreen()->grabWindow(0);
    EXPECT_TRUE(p.save(QString::fromStdString(dir + "/" + name + ".png")));
  };
  for (const char* quota : {"1", "5", "10", "20"}) {
    QTimer::singleShot(400, [&, quota] {
      shoot(std::string("rolling_quota_") + quota);
      ui::testing::pressKey(32);
    });
    ui::testing::pressKey(32);
    ui::waitPumping(600);
    if (std::string(quota) == "1") {
      ui::waitPumping(5000);  // the line scrolls in from the right edge
      shoot("committed_with_banner");
    }
    ui::testing::pressKey(32);  // next award
    ui::waitPumping(200);
  }
  ui::testing::pressKey(32);  // the winners list
  ui::waitPumping(1500);
  shoot("winners_list");
  ui::waitPumping(8000);
  shoot("winners_list_later");
  fixture::endProgramTest();
}

}  // namespace
