// The application frame: start-up, layout, settings, tool strip, guard,
// clock, volume and the end of the program, through the real runtime.
#include <gtest/gtest.h>

#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_state.h"
#include "event_fixture.h"
#include "frame/frame.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/media/volume.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "program_session.h"

using model::operator""_t;
using model::Text;

namespace {

// A volume back end whose state the tests set and read.
struct FakeVolume : volume::Backend {
  struct State {
    bool endpoint = true;
    int muted = 0;
    int step = 35, count = 51;
    bool stepsOk = true;
    float scalar = -1;
    bool mixerOpen = true;
    int max = 65535, left = 0, right = 0, mute = 0;
    int toggles = 0;
  } s;
  struct Ep : volume::Endpoint {
    State* s;
    explicit Ep(State* st) : s(st) {}
    bool setMasterScalar(float v) override {
      s->scalar = v;
      return true;
    }
    bool getMute(int* m) override {
      *m = s->muted;
      return true;
    }
    bool getStepInfo(int* step, int* count) override {
      if (!s->stepsOk) return false;
      *step = s->step;
      *count = s->count;
      return true;
    }
  };
  struct Mx : volume::Mixer {
    State* s;
    explicit Mx(State* st) : s(st) {}
    bool open(int) override { return s->mixerOpen; }
    int maximum() override { return s->mixerOpen ? s->max : 0; }
    void read(int* l, int* r) override {
      *l = s->mixerOpen ? s->left : -1;
      *r = s->mixerOpen ? s->right : -1;
    }
    bool set(int l, int r) override {
      if (!s->mixerOpen) return false;
      s->left = l;
      s->right = r;
      return true;
    }
    int muteState() override { return s->mixerOpen ? s->mute : -1; }
  };
  Mx mx{&s};
  std::unique_ptr<volume::Endpoint> defaultEndpoint() override {
    if (!s.endpoint) return nullptr;
    return std::make_unique<Ep>(&s);
  }
  volume::Mixer& mixer() override { return mx; }
  void toggleMute() override {
    ++s.toggles;
    s.muted = !s.muted;
  }
};

const char* kStandIns[][2] = {
    {"DrawBackdropWindow",
     R"({"name":"DrawBackdropWindow","width":200,"height":100,"border":"none","alwaysOnTop":true,"taskbar":false,"controls":[]})"},
    {"DrawPanelWindow",
     R"({"name":"DrawPanelWindow","width":200,"height":100,"border":"none","alwaysOnTop":true,"controls":[]})"},
    {"WinnersListWindow",
     R"({"name":"WinnersListWindow","width":200,"height":100,"border":"none","alwaysOnTop":true,"taskbar":false,"controls":[]})"},
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1024, 768);
    volume::setBackend(&vol);
    ev.makePersons({{"0001"_t, "张三"_t}});
    ev.makeAwards({{"一等奖"_t, "电视"_t, 1.0, 1.0}});
    writeMusic("Music/bj/idle.wav");
    ev.makeSettings({"星河科技"_t, "2027年度晚会抽奖仪式"_t, "祝大家新春快乐"_t, "bg.jpg"_t,
                     "idle.wav"_t, "禁用"_t, "禁用"_t, "禁用"_t});
    background = fixture::solidJpeg(4, 3, 0xff336699u);
    image::writeFile(ev.path("Prize/bj/bg.jpg"), background);
    ui::setProgramFolder(ev.dir);
  }
  void TearDown() override {
    fixture::endProgramTest();
    volume::setBackend(nullptr);
  }
  void writeMusic(const std::string& rel) { fixture::writeSilentWav(ev.path(rel)); }
  // Loads the frame's forms (with stand-ins for the draw windows) and opens
  // the start window as the program does.
  void startProgram(bool standIns = true) {
    std::vector<std::pair<std::string, std::string>> extra;
    if (standIns)
      for (auto& s : kStandIns) extra.emplace_back(s[0], s[1]);
    const std::string forms = ev.makeForms({"StartWindow", "BannerWindow", "AboutWindow"}, extra);
    ASSERT_TRUE(app::StartProgram(forms));
  }
  ui::Control start(const char* name) { return ui::Control("StartWindow", name); }

  FakeVolume vol;
  fixture::TempEvent ev;
  model::Bytes background;
};

TEST(FramePure, OsNameTable) {
  struct Case {
    int platform, major, minor, code;
    const char* name;
    int kind;
  } cases[] = {
      {1, 4, 0, 1, "Windows 95", 1},       {1, 4, 10, 2, "Windows 98", 1},
      {1, 4, 90, 3, "Windows ME", 1},      {1, 4, 5, 0, "未知系统", 1},
      {2, 3, 51, 4, "Windows NT 3.51", 1}, {2, 4, 0, 5, "Windows NT 4.0", 1},
      {2, 5, 0, 6, "Windows 2000", 1},     {2, 5, 1, 7, "Windows XP", 1},
      {2, 5, 2, 7, "Windows XP", 1},       {2, 6, 0, 8, "Windows Vista", 2},
      {2, 6, 3, 8, "Windows Vista", 2},    {2, 10, 0, 0, "未知系统", 1},
      {3, 6, 0, 0, "未知系统", 1},
  };
  for (const auto& c : cases) {
    const int code = app::OsCodeFromVersion(c.platform, c.major, c.minor);
    EXPECT_EQ(code, c.code) << c.platform << "." << c.major << "." << c.minor;
    EXPECT_EQ(app::OsNameFromCode(code), Text::fromUtf8(c.name));
    EXPECT_EQ(app::OsKindFromName(app::OsNameFromCode(code)), c.kind);
  }
  // This Linux layer's fixed answer selects the endpoint path.
  EXPECT_EQ(app::GetOsName(), 8);
}

TEST(FramePure, ClockText) {
  struct Case {
    int h, m, s;
    const char* text;
  } cases[] = {{9, 5, 3, "9:05:03"},
               {23, 59, 59, "23:59:59"},
               {0, 0, 0, "0:00:00"},
               {12, 30, 7, "12:30:07"}};
  for (const auto& c : cases) EXPECT_EQ(app::ClockText(c.h, c.m, c.s).toUtf8(), c.text);
}

TEST(FramePure, CaptionLayout) {
  EXPECT_EQ(frame::CaptionWidth("XXXX公司"_t, 24), 192);
  EXPECT_EQ(frame::Centred(1024, 192), 416);
  EXPECT_EQ(frame::Centred(1365, 192), 586);  // halves are dropped
  EXPECT_EQ(frame::CaptionWidth(Text::fromGbk(std::string(22, 'a')), 48), 1056);
  EXPECT_EQ(frame::Centred(1024, 1056), -16);  // wider than the screen: negative left
  EXPECT_EQ(frame::Centred(1024, 0), 512);
}

TEST(FramePure, VolumeMappings) {
  EXPECT_EQ(app::MixerValueFromSlider(65535, 100, 30), 45874);
  EXPECT_EQ(app::MixerValueFromSlider(65535, 100, 0), 65535);
  EXPECT_EQ(app::MixerValueFromSlider(65535, 100, 100), 0);
  EXPECT_EQ(app::MixerValueFromSlider(0, 100, 30), -1);  // no range: no change
  EXPECT_EQ(app::SliderFromMixerValue(65535, 100, 45874), 30);
  EXPECT_EQ(app::SliderFromMixerValue(65534, 100, 32767), 50);
  EXPECT_EQ(app::SliderFromMixerValue(65535, 100, -1), 100);  // a failed read: the silent end
  EXPECT_EQ(app::SliderFromMixerValue(0, 100, 5), 100);       // no range: silent end
  EXPECT_EQ(app::PercentFromSteps(35, 51), 70);
  EXPECT_EQ(app::PercentFromSteps(7, 51), 14);
  EXPECT_EQ(app::PercentFromSteps(0, 1), -1);
}

TEST_F(FrameTest, CreationLaysOutTheScreenAndOpensTheBanner) {
  startProgram();
  ui::Window w("StartWindow");
  EXPECT_EQ(w.left(), 0);
  EXPECT_EQ(w.top(), 0);
  EXPECT_EQ(w.width(), 1024);
  EXPECT_EQ(w.height(), 768);
  EXPECT_EQ(start("图片框1").top(), 738);
  EXPECT_EQ(start("图片框1").width(), 1034);
  EXPECT_EQ(start("最小化超级按钮").left(), 1010);
  EXPECT_EQ(start("透明标签10").left(), 930);
  EXPECT_EQ(start("图片框2").left(), 896);
  EXPECT_EQ(start("图片框3").left(), 896);
  EXPECT_EQ(start("图片框3").top(), 588);

  ui::Window banner("BannerWindow");
  EXPECT_TRUE(banner.isOpen());
  EXPECT_FALSE(banner.visible());
  EXPECT_EQ(banner.width(), 1024);
  EXPECT_EQ(banner.left(), 0);
  EXPECT_EQ(banner.top(), 738 - 37 - 10);
  EXPECT_EQ(ui::Control("BannerWindow", "标签1").width(), 2048);
  EXPECT_EQ(frame::gBannerScrolling.load(), 1);
  EXPECT_TRUE(ui::flatLookOn());
  EXPECT_EQ(frame::gOsKind, 2);
  // The stores are open and the settings store is left current.
  EXPECT_EQ(store::currentAlias(), "xtsz"_t);
  EXPECT_TRUE(store::isOpen("rymd"_t));
  EXPECT_TRUE(store::isOpen("jxsz"_t));
}

TEST_F(FrameTest, StripLayoutOnAWideScreen) {
  ui::testing::overrideScreenSize(1920, 1080);
  startProgram();
  EXPECT_EQ(start("图片框1").top(), 1050);
  EXPECT_EQ(start("图片框1").width(), 1930);
  EXPECT_EQ(start("最小化超级按钮").left(), 1906);
  EXPECT_EQ(start("透明标签10").left(), 1826);
  EXPECT_EQ(start("图片框2").left(), 1792);
  EXPECT_EQ(start("图片框3").top(), 900);
  EXPECT_EQ(ui::Window("BannerWindow").width(), 1920);
}

TEST_F(FrameTest, AppliedSettingsCaptionsPictureMusicAndLayout) {
  startProgram();
  EXPECT_EQ(start("主标题").caption(), "星河科技"_t);
  EXPECT_EQ(start("主标题").width(), 8 * 24);
  EXPECT_EQ(start("主标题").left(), (1024 - 192) / 2);
  EXPECT_EQ(start("副标题").width(), "2027年度晚会抽奖仪式"_t.length() * 20);
  EXPECT_EQ(start("祝福词").width(), 14 * 48);
  EXPECT_EQ(start("祝福词").left(), (1024 - 672) / 2);
  EXPECT_EQ(start("祝福词").top(), (768 - start("祝福词").height()) / 2);
  EXPECT_TRUE(start("祝福词").visible());
  EXPECT_EQ(ui::Window("StartWindow").picture(), background);
  const music::Status st = music::status();
  ASSERT_EQ(st.files.size(), 1u);
  EXPECT_EQ(st.files[0], ev.path("Music/bj/idle.wav"));
  EXPECT_EQ(st.times, -1);
}

TEST_F(FrameTest, MusicDecisions) {
  startProgram();
  struct Case {
    std::string value;
    std::string expected;  // empty: nothing plays
  } cases[] = {
      {"禁用", ""},
      {"idle.wav", ev.path("Music/bj/idle.wav")},
      {ev.path("Music/bj/idle.wav"), ev.path("Music/bj/idle.wav")},
  };
  for (const auto& c : cases) {
    store::select("xtsz"_t);
    ASSERT_TRUE(store::write(model::settings::背景音乐(), Text::fromUtf8(c.value)));
    frame::ApplySystemSettings();
    const music::Status st = music::status();
    if (c.expected.empty()) {
      EXPECT_TRUE(st.files.empty()) << c.value;
    } else {
      ASSERT_EQ(st.files.size(), 1u) << c.value;
      EXPECT_EQ(st.files[0], c.expected);
    }
  }
}

TEST_F(FrameTest, EmptySettingsStoreGivesEmptyCaptions) {
  ev.makeSettings({});
  startProgram();
  EXPECT_EQ(start("主标题").caption(), Text());
  EXPECT_EQ(start("主标题").width(), 0);
  EXPECT_EQ(start("主标题").left(), 512);
  EXPECT_TRUE(ui::Window("StartWindow").picture().empty());
}

TEST_F(FrameTest, MissingSettingsStoreIsFatal) {
  std::remove(model::programPath(ev.dir, model::kSettingsFile).c_str());
  EXPECT_EXIT(
      {
        ui::testing::interceptProgramEnd(false);
        startProgram();
      },
      ::testing::ExitedWithCode(255), "运行时出错!");
}

TEST_F(FrameTest, ClockTickShowsTimeAndMuteState) {
  // The tool strip's timer refreshes the clock and the mute state every
  // 1000 ms of the test clock.
  ui::testing::useTestClock(true);
  startProgram();
  EXPECT_EQ(start("透明标签10").caption(), Text());
  vol.s.muted = 1;
  ui::waitPumping(999);
  EXPECT_EQ(start("透明标签10").caption(), Text());
  ui::waitPumping(1);
  const std::string text = start("透明标签10").caption().toUtf8();
  EXPECT_GE(text.size(), 7u);
  EXPECT_EQ(text[text.size() - 3], ':');
  EXPECT_EQ(start("图片框2").picture(), ui::formPicture("pictures/speaker_muted_30x30.jpg"));
  vol.s.muted = 0;
  ui::waitPumping(999);
  EXPECT_EQ(start("图片框2").picture(), ui::formPicture("pictures/speaker_muted_30x30.jpg"));
  ui::waitPumping(1);
  EXPECT_EQ(start("图片框2").picture(), ui::formPicture("pictures/speaker_normal_30x30.jpg"));
  // The mixer path shows the muted pair when no line is open.
  frame::gOsKind = 1;
  vol.s.mixerOpen = false;
  app::ShowMuteState();
  EXPECT_EQ(start("图片框4").picture(), ui::formPicture("pictures/mute_muted_32x30.jpg"));
}

TEST_F(FrameTest, AutoHideBoundaries) {
  startProgram();
  ui::Control strip = start("图片框1");
  ui::Control check = start("选择框1");
  app::OnStartToolStripRightMouseDown(100, 10, 0);
  EXPECT_TRUE(check.visible());
  EXPECT_EQ(check.left(), 100);
  EXPECT_EQ(check.top(), 738 + 10 - check.height());
  // Not ticked: moves change nothing.
  app::OnStartMouseMove(10, 100, 0);
  EXPECT_TRUE(strip.visible());
  check.setChecked(true);
  app::OnStartMouseMove(10, 738, 0);  // on the strip's top line: nothing
  EXPECT_TRUE(strip.visible());
  EXPECT_TRUE(check.visible());
  start("图片框3").setVisible(true);
  app::OnStartMouseMove(10, 737, 0);
  EXPECT_FALSE(strip.visible());
  EXPECT_FALSE(start("图片框3").visible());
  EXPECT_FALSE(check.visible());
  app::OnStartMouseMove(10, 739, 0);
  EXPECT_TRUE(strip.visible());
}

TEST_F(FrameTest, VolumePanelAndSlider) {
  startProgram();
  // 51 steps at step 35 is 70 %: the inverted slider stands at 30.
  EXPECT_EQ(start("滑块条1").position(), 30);
  ui::Control panel = start("图片框3");
  app::OnStartVolumeIconMouseDown(0, 0, 0);
  EXPECT_TRUE(panel.visible());
  app::OnStartVolumeIconMouseDown(0, 0, 0);
  EXPECT_FALSE(panel.visible());
  start("滑块条1").setPosition(30);
  app::OnStartVolumeSliderPositionChanged();
  EXPECT_FLOAT_EQ(vol.s.scalar, 0.7f);
  frame::gOsKind = 1;
  app::OnStartVolumeSliderPositionChanged();
  EXPECT_EQ(vol.s.left, 45874);
  EXPECT_EQ(vol.s.right, 45874);
}

TEST_F(FrameTest, VolumeFailurePaths) {
  vol.s.endpoint = false;
  startProgram();
  EXPECT_EQ(app::SetMasterVolumeCoreAudio(50), -1);
  EXPECT_EQ(app::IsMutedCoreAudio(), -1);
  EXPECT_EQ(app::GetVolumePercentCoreAudio(), -1);
  EXPECT_EQ(start("滑块条1").position(), 100);  // the silent end
  EXPECT_EQ(start("图片框2").picture(), ui::formPicture("pictures/speaker_normal_30x30.jpg"));
  vol.s.endpoint = true;
  vol.s.count = 1;  // no range of steps
  EXPECT_EQ(app::GetVolumePercentCoreAudio(), -1);
  // Mixer with a mono line reading 0 on the left: the right's -1 is used.
  frame::gOsKind = 1;
  vol.s.left = 0;
  vol.s.right = -1;
  app::SetVolumeSliderFromSystem();
  EXPECT_EQ(start("滑块条1").position(), 100);
}

TEST_F(FrameTest, MuteButtonFlipsPicturesAndSendsTheToggle) {
  startProgram();
  app::OnStartMuteIconMouseDown(0, 0, 0);
  EXPECT_EQ(vol.s.toggles, 1);
  EXPECT_EQ(start("图片框2").picture(), ui::formPicture("pictures/speaker_muted_30x30.jpg"));
  app::OnStartMuteIconMouseDown(0, 0, 0);
  EXPECT_EQ(vol.s.toggles, 2);
  EXPECT_EQ(start("图片框2").picture(), ui::formPicture("pictures/speaker_normal_30x30.jpg"));
}

TEST_F(FrameTest, GuardClosesTheListAndRefusesWhileTheDrawIsOpen) {
  startProgram();
  ui::Window list("WinnersListWindow");
  ui::Window panel("DrawPanelWindow");
  ui::Window backdrop("DrawBackdropWindow");
  // Only the list open: it is closed, and the action goes on.
  list.open();
  frame::gListScrolling = 1;
  EXPECT_TRUE(app::GuardDrawRunning());
  EXPECT_EQ(frame::gListScrolling.load(), 0);
  ui::processPendingOnce();
  EXPECT_FALSE(list.isOpen());
  EXPECT_EQ(frame::gSuppressListRestore, 0);
  EXPECT_TRUE(ui::testing::shownDialogs().empty());

  // Draw open and list open: list closed, refusal with both draw windows
  // not topmost during the box, topmost again afterwards.
  backdrop.open();
  panel.open();
  list.open();
  bool topDuring = true;
  ui::testing::queueDuringDialog(
      [&] { topDuring = backdrop.alwaysOnTop() || panel.alwaysOnTop(); });
  EXPECT_FALSE(app::GuardDrawRunning());
  ASSERT_EQ(ui::testing::shownDialogs().size(), 1u);
  EXPECT_EQ(ui::testing::shownDialogs()[0].text, "抽奖时候不能进行该操作！"_t);
  EXPECT_FALSE(topDuring);
  EXPECT_TRUE(backdrop.alwaysOnTop());
  EXPECT_TRUE(panel.alwaysOnTop());
  ui::processPendingOnce();
  EXPECT_FALSE(list.isOpen());
}

TEST_F(FrameTest, GuardedAboutOpensModalAndIsRefusedDuringTheDraw) {
  startProgram();
  ui::Window about("AboutWindow");
  bool openDuring = false;
  QTimer::singleShot(50, [&] {
    openDuring = about.isOpen();
    EXPECT_EQ(ui::Control("AboutWindow", "标题标签").caption(), "澄星全功能抽奖软件"_t);
    about.destroy();
  });
  app::OnStartMenuAboutClick();  // returns once the modal window closed
  EXPECT_TRUE(openDuring);
  EXPECT_FALSE(about.isOpen());

  ui::Window("DrawBackdropWindow").open();
  ui::Window("DrawPanelWindow").open();
  app::OnStartMenuAboutClick();
  EXPECT_FALSE(about.isOpen());
  ASSERT_EQ(ui::testing::shownDialogs().size(), 1u);
  EXPECT_EQ(ui::testing::shownDialogs()[0].text, "抽奖时候不能进行该操作！"_t);
}

TEST_F(FrameTest, MinimiseAndRestore) {
  startProgram();
  ui::Window w("StartWindow");
  ui::Window banner("BannerWindow");
  banner.setVisible(true);
  app::OnStartMinimizeButtonClick();
  EXPECT_EQ(w.state(), ui::kMinimized);
  EXPECT_FALSE(banner.visible());
  EXPECT_FALSE(ui::Window("DrawPanelWindow").visible());  // closed: stored description
  // Restored with no draw open: the banner stays hidden.
  w.setState(ui::kNormal);
  ui::waitPumping(20);
  EXPECT_FALSE(banner.visible());
  // With both draw windows open, restore brings them and the banner back.
  ui::Window("DrawBackdropWindow").open();
  ui::Window("DrawPanelWindow").open();
  app::OnStartMinimizeButtonClick();
  EXPECT_TRUE(testwait::pumpUntil([] { return !ui::Window("DrawPanelWindow").visible(); }));
  w.setState(ui::kNormal);
  EXPECT_TRUE(testwait::pumpUntil([] { return ui::Window("DrawPanelWindow").visible(); }));
  EXPECT_TRUE(ui::Window("DrawBackdropWindow").visible());
  EXPECT_TRUE(banner.visible());
}

TEST_F(FrameTest, ExitItemEndsInOrderWithCodeZero) {
  startProgram();
  ui::Window list("WinnersListWindow");
  list.open();
  draw::gCurrentAwardName = "一等奖"_t;
  app::OnStartMenuExitClick();
  // Nothing is destroyed before the handler returns.
  EXPECT_TRUE(list.isOpen());
  EXPECT_TRUE(ui::Window("StartWindow").isOpen());
  EXPECT_EQ(frame::gSuppressListRestore, 1);
  EXPECT_FALSE(store::isOpen("xtsz"_t));  // the current store was closed
  EXPECT_TRUE(store::isOpen("rymd"_t));
  EXPECT_TRUE(testwait::pumpUntil([] { return ui::testing::interceptedEndCode() != -1000; }));
  EXPECT_FALSE(list.isOpen());
  EXPECT_EQ(ui::testing::interceptedEndCode(), 0);
  EXPECT_EQ(frame::gBannerScrolling.load(), 0);
  EXPECT_FALSE(draw::gCurrentAwardName.has_value());  // FreeGlobalVariables ran
  // A restore after the settings store closed is not fatal.
  frame::ApplySystemSettings();
}

TEST_F(FrameTest, ExitItemFromTheStartMenu) {
  startProgram();
  ui::testing::queueMenuChoice("退出"_t);
  app::OnStartStartButtonClick();
  EXPECT_TRUE(testwait::pumpUntil([] { return ui::testing::interceptedEndCode() != -1000; }));
  EXPECT_EQ(ui::testing::interceptedEndCode(), 0);
}

TEST_F(FrameTest, TerminationSignalTakesTheExitRoute) {
  startProgram();
  ui::Window list("WinnersListWindow");
  list.open();
  ui::onTerminationRequest(&app::OnTerminationRequest);
  ASSERT_EQ(std::raise(SIGTERM), 0);
  const std::uint32_t t0 = ui::tickCount();
  while (ui::testing::interceptedEndCode() == -1000 && ui::tickCount() - t0 < 15000)
    ui::waitPumping(10);
  EXPECT_EQ(ui::testing::interceptedEndCode(), 0);
  EXPECT_EQ(frame::gSuppressListRestore, 1);
  EXPECT_FALSE(list.isOpen());
  EXPECT_FALSE(store::isOpen("xtsz"_t));
  // A further request while or after the program ends does nothing.
  app::OnTerminationRequest();
  EXPECT_EQ(ui::testing::interceptedEndCode(), 0);
  ui::onTerminationRequest([] {});
}

TEST_F(FrameTest, ClosingTheStartWindowOtherwiseStillEndsWithZero) {
  startProgram();
  draw::gCurrentAwardName.reset();
  ui::Window("StartWindow").destroy();
  EXPECT_TRUE(testwait::pumpUntil([] { return ui::testing::interceptedEndCode() != -1000; }));
  EXPECT_EQ(ui::testing::interceptedEndCode(), 0);
}

}  // namespace
