// The settings window through the real runtime, headless: what it shows and
// lists, the music previews and their icons, browsing, and saving (apply, OK,
// cancel), including a store that refuses part of a save.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "event_fixture.h"
#include "maintenance/maintenance.h"
#include "maintenance/settings_window.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"
#include "sqlite_direct.h"

using model::operator""_t;
using model::Text;

namespace {

const char* const kMusicCombos[] = {"背景音乐组合框", "开始抽奖音乐组合框", "停止抽奖音乐组合框",
                                    "中奖名单音乐组合框"};
const char* const kIcons[] = {"图片框2", "图片框3", "图片框4", "图片框5"};

// The settings record as the file holds it, field by field (UTF-8).
std::vector<std::vector<std::string>> fileRecords(const std::string& path) {
  std::vector<std::vector<std::string>> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return out;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM records ORDER BY rowid", -1, &st, nullptr);
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* t = sqlite3_column_text(st, i);
      row.push_back(t ? reinterpret_cast<const char*>(t) : "");
    }
    out.push_back(row);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

using fixture::execSql;

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1024, 768);
    for (const char* f : {"Music/bj/idle.wav", "Music/bj/party.wav", "Music/Start/roll.wav",
                          "Music/end/stop.wav", "Music/end/readme.txt"})
      fixture::writeSilentWav(ev.path(f), 5.0);  // long enough to be seen playing
    std::filesystem::create_directories(ev.path("Prize/bj/folder.jpg"));  // a folder, not listed
    bg = fixture::solidJpeg(8, 6, 0xff336699u);
    image::writeFile(ev.path("Prize/bj/bg.jpg"), bg);
    other = fixture::solidJpeg(4, 4, 0xff00ff00u);
    image::writeFile(ev.path("Prize/bj/other.jpg"), other);
    image::writeFile(ev.path("notes.txt"), model::Bytes{'n', 'o', 't', 'e'});
    ev.makePersons({{"0001"_t, "张三"_t}});
    ev.makeAwards({{"一等奖"_t, "电视"_t, 1.0, 1.0}});
    ui::setProgramFolder(ev.dir);
    settingsFile = model::programPath(ev.dir, model::kSettingsFile);
  }
  void TearDown() override {
    store::failNextWrites(0);
    fixture::endProgramTest();
  }

  // Starts the program (which opens the stores and applies the settings)
  // with the given settings record, then opens the settings window.
  void openWith(const std::vector<Text>& record) {
    ev.makeSettings(record);
    app::registerAllHandlers();
    ASSERT_TRUE(app::StartProgram(ev.makeForms({"StartWindow", "BannerWindow", "SettingsWindow"})));
    ASSERT_TRUE(maintenance::SettingsWindow().open());
  }
  void openStandard() {
    openWith({"星河科技"_t, "年度晚会"_t, "新春快乐"_t, "bg.jpg"_t, "idle.wav"_t, "禁用"_t,
              "stop.wav"_t, "party.wav"_t});
  }

  static ui::Control ctl(const char* name) { return ui::Control("SettingsWindow", name); }
  static QComboBox* combo(const char* name) {
    return qobject_cast<QComboBox*>(ui::testing::controlWidget("SettingsWindow", name));
  }
  // The operator picks the item with this text from the combo's list.
  static void choose(const char* name, const char* item) {
    QComboBox* cb = combo(name);
    ASSERT_NE(cb, nullptr);
    const int index = cb->findText(QString::fromUtf8(item));
    ASSERT_GE(index, 0) << item;
    cb->setCurrentIndex(index);
    emit cb->activated(index);
  }
  static void click(const char* name) {
    QWidget* w = ui::testing::controlWidget("SettingsWindow", name);
    ASSERT_NE(w, nullptr) << name;
    QTest::mouseClick(w, Qt::LeftButton);
  }
  static std::vector<std::string> items(const char* name) {
    std::vector<std::string> out;
    ui::Control c = ctl(name);
    for (int i = 0; i < c.itemCount(); ++i) out.push_back(c.itemText(i).toUtf8());
    return out;
  }
  // Which icons show the stop icon.
  static std::vector<bool> stopIcons() {
    std::vector<bool> out;
    for (const char* icon : kIcons) {
      const model::Bytes shown = ctl(icon).picture();
      EXPECT_TRUE(shown == maintenance::StopIcon() || shown == maintenance::PlayIcon()) << icon;
      out.push_back(shown == maintenance::StopIcon());
    }
    return out;
  }
  static std::vector<std::string> playing() { return music::status().files; }
  std::string path(const char* rel) const { return model::programPath(ev.dir, rel); }
  static std::vector<Text> messages() {
    std::vector<Text> out;
    for (const auto& d : ui::testing::shownDialogs())
      if (d.kind == "message") out.push_back(d.text);
    return out;
  }
  // Types a value into every box of the window.
  static void typeAll() {
    ctl("编辑框1").setText("新主标题"_t);
    ctl("编辑框2").setText("新副标题"_t);
    ctl("编辑框3").setText("万事如意"_t);
    ctl("背景音乐组合框").setText("party.wav"_t);
    ctl("开始抽奖音乐组合框").setText("roll.wav"_t);
    ctl("停止抽奖音乐组合框").setText("禁用"_t);
    ctl("中奖名单音乐组合框").setText("/somewhere/else.mp3"_t);
    ctl("背景图片组合框").setText("other.jpg"_t);
  }
  static const std::vector<std::string>& typedRecord() {
    static const std::vector<std::string> r = {"新主标题",  "新副标题",           "万事如意",
                                               "other.jpg", "party.wav",          "roll.wav",
                                               "禁用",      "/somewhere/else.mp3"};
    return r;
  }

  fixture::TempEvent ev;
  model::Bytes bg, other;
  std::string settingsFile;
};

TEST_F(Settings, ShowsTheRecordAndListsTheMediaFolders) {
  openStandard();
  EXPECT_EQ(maintenance::SettingsWindow().caption(), "系统设置"_t);
  EXPECT_EQ(store::currentAlias(), model::aliasSettings());
  EXPECT_EQ(ctl("编辑框1").text(), "星河科技"_t);
  EXPECT_EQ(ctl("编辑框2").text(), "年度晚会"_t);
  EXPECT_EQ(ctl("编辑框3").text(), "新春快乐"_t);
  EXPECT_EQ(ctl("背景音乐组合框").text(), "idle.wav"_t);
  EXPECT_EQ(ctl("开始抽奖音乐组合框").text(), "禁用"_t);
  EXPECT_EQ(ctl("停止抽奖音乐组合框").text(), "stop.wav"_t);
  EXPECT_EQ(ctl("中奖名单音乐组合框").text(), "party.wav"_t);
  EXPECT_EQ(ctl("背景图片组合框").text(), "bg.jpg"_t);
  EXPECT_EQ(ctl("图片框1").picture(), bg);
  EXPECT_EQ(stopIcons(), (std::vector<bool>(4, false)));

  // Files of any extension, in the file system's order; folders are skipped;
  // each music list starts with "禁用".
  auto sorted = [](std::vector<std::string> v, size_t from) {
    std::sort(v.begin() + from, v.end());
    return v;
  };
  EXPECT_EQ(sorted(items("背景图片组合框"), 0), (std::vector<std::string>{"bg.jpg", "other.jpg"}));
  EXPECT_EQ(sorted(items("背景音乐组合框"), 1),
            (std::vector<std::string>{"禁用", "idle.wav", "party.wav"}));
  EXPECT_EQ(sorted(items("中奖名单音乐组合框"), 1),
            (std::vector<std::string>{"禁用", "idle.wav", "party.wav"}));
  EXPECT_EQ(items("开始抽奖音乐组合框"), (std::vector<std::string>{"禁用", "roll.wav"}));
  EXPECT_EQ(sorted(items("停止抽奖音乐组合框"), 1),
            (std::vector<std::string>{"禁用", "readme.txt", "stop.wav"}));
}

TEST_F(Settings, EmptyOrMissingFoldersAndAFullPathPicture) {
  std::filesystem::remove_all(ev.path("Music/Start"));
  std::filesystem::remove_all(ev.path("Prize/bj/folder.jpg"));
  std::filesystem::remove(ev.path("Prize/bj/bg.jpg"));
  std::filesystem::remove(ev.path("Prize/bj/other.jpg"));
  image::writeFile(ev.path("elsewhere.jpg"), other);
  openWith({Text(), Text(), Text(), Text::fromUtf8(ev.path("elsewhere.jpg")), "禁用"_t, "禁用"_t,
            "禁用"_t, "禁用"_t});
  EXPECT_TRUE(items("背景图片组合框").empty());
  EXPECT_EQ(items("开始抽奖音乐组合框"), (std::vector<std::string>{"禁用"}));
  // A stored full path is shown as the start window shows it.
  EXPECT_EQ(ctl("背景图片组合框").text(), Text::fromUtf8(ev.path("elsewhere.jpg")));
  EXPECT_EQ(ctl("图片框1").picture(), other);
}

TEST_F(Settings, AnEmptyStoreGetsOneBlankRecord) {
  openWith({});
  EXPECT_EQ(fileRecords(settingsFile),
            (std::vector<std::vector<std::string>>{std::vector<std::string>(8, "")}));
  for (const char* box : {"编辑框1", "编辑框2", "编辑框3", "背景图片组合框"})
    EXPECT_EQ(ctl(box).text(), Text()) << box;
  for (const char* box : kMusicCombos) EXPECT_EQ(ctl(box).text(), Text()) << box;
  EXPECT_TRUE(ctl("图片框1").picture().empty());

  // "应用" writes into that record, as typed, without appending another.
  typeAll();
  click("按钮3");
  EXPECT_EQ(fileRecords(settingsFile), (std::vector<std::vector<std::string>>{typedRecord()}));
  EXPECT_TRUE(maintenance::SettingsWindow().isOpen());

  // Cancelling on an empty store still leaves the blank record.
  maintenance::SettingsWindow().destroy();
  ui::processPendingOnce();
  store::select(model::aliasSettings());
  store::clear();
  ASSERT_TRUE(maintenance::SettingsWindow().open());
  click("按钮2");
  ui::processPendingOnce();
  EXPECT_FALSE(maintenance::SettingsWindow().isOpen());
  EXPECT_EQ(fileRecords(settingsFile),
            (std::vector<std::vector<std::string>>{std::vector<std::string>(8, "")}));
}

TEST_F(Settings, PreviewsPlayOnceAndTheirIconsFollow) {
  openStandard();
  // The idle music of the start window plays endlessly before any preview.
  ASSERT_EQ(playing(), (std::vector<std::string>{path("\\Music\\bj\\idle.wav")}));
  EXPECT_EQ(music::status().times, -1);

  struct Case {
    const char* combo;
    const char* item;
    const char* file;  // played, under the program folder
    int icon;
  } cases[] = {
      {"背景音乐组合框", "party.wav", "\\Music\\bj\\party.wav", 0},
      {"开始抽奖音乐组合框", "roll.wav", "\\Music\\Start\\roll.wav", 1},
      {"停止抽奖音乐组合框", "stop.wav", "\\Music\\end\\stop.wav", 2},
      {"中奖名单音乐组合框", "idle.wav", "\\Music\\bj\\idle.wav", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.combo);
    choose(c.combo, c.item);
    EXPECT_EQ(ctl(c.combo).text(), Text::fromUtf8(c.item));
    EXPECT_EQ(playing(), (std::vector<std::string>{path(c.file)}));
    EXPECT_EQ(music::status().times, 1);
    std::vector<bool> want(4, false);
    want[c.icon] = true;
    EXPECT_EQ(stopIcons(), want);  // the previous choice's icon is back to play
  }

  // Choosing "禁用" changes nothing that plays, nor any icon.
  choose("背景音乐组合框", "禁用");
  EXPECT_EQ(playing(), (std::vector<std::string>{path("\\Music\\bj\\idle.wav")}));
  EXPECT_EQ(stopIcons(), (std::vector<bool>{false, false, false, true}));

  // A play icon does nothing; the stop icon stops all playback.
  click("图片框2");
  EXPECT_FALSE(playing().empty());
  click("图片框5");
  EXPECT_TRUE(playing().empty());
  EXPECT_EQ(stopIcons(), (std::vector<bool>(4, false)));
}

// The operator opens a music list whose text is one of its items and closes
// it with Escape: nothing is chosen, nothing previews. Picking an item from
// the list previews it; so does Return on a highlighted item.
TEST_F(Settings, OpeningAListIsNoChoiceOnlyAPickIs) {
  openStandard();
  QWidget* window = combo("背景音乐组合框")->window();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  const std::vector<std::string> idle = playing();
  ASSERT_EQ(idle, (std::vector<std::string>{path("\\Music\\bj\\idle.wav")}));

  QComboBox* cb = combo("背景音乐组合框");
  ASSERT_EQ(cb->currentText(), "idle.wav");
  auto openList = [cb] {
    // The edit field has the focus first, as after a click into it.
    QTest::mouseClick(cb->lineEdit(), Qt::LeftButton);
    ASSERT_TRUE(cb->lineEdit()->hasFocus());
    QTest::mouseClick(cb, Qt::LeftButton, Qt::NoModifier,
                      QPoint(cb->width() - 4, cb->height() / 2));
    ASSERT_TRUE(QTest::qWaitFor([cb] { return cb->view()->isVisible(); }, 20000));
  };
  openList();
  QTest::keyClick(cb->view(), Qt::Key_Escape);
  ASSERT_TRUE(QTest::qWaitFor([cb] { return !cb->view()->isVisible(); }, 20000));
  EXPECT_EQ(playing(), idle);
  EXPECT_EQ(music::status().times, -1);
  EXPECT_EQ(stopIcons(), (std::vector<bool>(4, false)));
  EXPECT_EQ(ctl("背景音乐组合框").text(), "idle.wav"_t);

  // A click on an item of the list.
  openList();
  const int party = cb->findText("party.wav");
  ASSERT_GE(party, 0);
  QAbstractItemView* view = cb->view();
  const QModelIndex item = view->model()->index(party, cb->modelColumn(), view->rootIndex());
  // The pointer moves onto the item, then clicks it.
  QTest::mouseMove(view->viewport(), view->visualRect(item).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->currentIndex() == item; }, 20000));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    view->visualRect(item).center());
  EXPECT_EQ(ctl("背景音乐组合框").text(), "party.wav"_t);
  EXPECT_EQ(playing(), (std::vector<std::string>{path("\\Music\\bj\\party.wav")}));
  EXPECT_EQ(music::status().times, 1);
  EXPECT_EQ(stopIcons(), (std::vector<bool>{true, false, false, false}));

  // Return on a highlighted item picks it too.
  openList();
  view = cb->view();
  const int idleRow = cb->findText("idle.wav");
  view->setCurrentIndex(view->model()->index(idleRow, cb->modelColumn(), view->rootIndex()));
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_EQ(ctl("背景音乐组合框").text(), "idle.wav"_t);
  EXPECT_EQ(playing(), (std::vector<std::string>{path("\\Music\\bj\\idle.wav")}));
  EXPECT_EQ(music::status().times, 1);
}

TEST_F(Settings, EachPreviewResolvesItsOwnText) {
  openStandard();
  // The stop choice plays from its own folder whatever the others hold; a
  // full path plays as it stands, a typed name as typed.
  ctl("背景音乐组合框").setText(Text::fromUtf8(path("\\Music\\end\\stop.wav")));
  ctl("停止抽奖音乐组合框").setText("stop.wav"_t);
  maintenance::PreviewStopMusic();
  EXPECT_EQ(playing(), (std::vector<std::string>{path("\\Music\\end\\stop.wav")}));

  const std::string full = path("\\Music\\Start\\roll.wav");
  ctl("停止抽奖音乐组合框").setText(Text::fromUtf8(full));
  maintenance::PreviewStopMusic();
  EXPECT_EQ(playing(), (std::vector<std::string>{full}));

  // A file that cannot be played gives silence and no message.
  ctl("开始抽奖音乐组合框").setText("missing.mp3"_t);
  maintenance::PreviewStartMusic();
  EXPECT_TRUE(playing().empty());
  EXPECT_EQ(stopIcons(), (std::vector<bool>{false, true, false, false}));
  EXPECT_TRUE(messages().empty());
}

TEST_F(Settings, BrowsingMusicStoresTheFullPathAndPreviewsIt) {
  openStandard();
  const std::string chosen = path("\\Music\\bj\\party.wav");
  const char* buttons[] = {"按钮5", "按钮6", "按钮7", "按钮8"};
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(buttons[k]);
    ui::testing::clearShownDialogs();
    // Cancelled: nothing changes.
    const Text before = ctl(kMusicCombos[k]).text();
    ui::testing::queueFileAnswer(false, "");
    click(buttons[k]);
    EXPECT_EQ(ctl(kMusicCombos[k]).text(), before);

    ui::testing::queueFileAnswer(true, chosen);
    click(buttons[k]);
    EXPECT_EQ(ctl(kMusicCombos[k]).text(), Text::fromUtf8(chosen));
    EXPECT_EQ(playing(), (std::vector<std::string>{chosen}));
    EXPECT_TRUE(stopIcons()[k]);
    const auto dialogs = ui::testing::shownDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].kind, "file");
    EXPECT_EQ(dialogs[1].text, "图片文件(*.mp3)|*.mp3"_t);
  }
  click("按钮1");
  ui::processPendingOnce();
  const auto saved = fileRecords(settingsFile);
  ASSERT_EQ(saved.size(), 1u);
  for (int field = 4; field < 8; ++field) EXPECT_EQ(saved[0][field], chosen);
}

TEST_F(Settings, BrowsingAndChoosingTheBackgroundPicture) {
  openStandard();
  choose("背景图片组合框", "other.jpg");
  EXPECT_EQ(ctl("图片框1").picture(), other);

  // Cancelled: nothing changes.
  ui::testing::queueFileAnswer(false, "");
  click("按钮4");
  EXPECT_EQ(ctl("背景图片组合框").text(), "other.jpg"_t);

  // A file that is no picture is refused with a message; nothing changes.
  ui::testing::queueFileAnswer(true, ev.path("notes.txt"));
  click("按钮4");
  EXPECT_EQ(ctl("背景图片组合框").text(), "other.jpg"_t);
  EXPECT_EQ(ctl("图片框1").picture(), other);
  EXPECT_EQ(messages(), (std::vector<Text>{"所选文件不是有效的图片文件，背景图片没有改变！"_t}));

  const model::Bytes picture = fixture::solidJpeg(5, 5, 0xffff0000u);
  image::writeFile(ev.path("chosen.jpg"), picture);
  ui::testing::queueFileAnswer(true, ev.path("chosen.jpg"));
  click("按钮4");
  EXPECT_EQ(ctl("背景图片组合框").text(), Text::fromUtf8(ev.path("chosen.jpg")));
  EXPECT_EQ(ctl("图片框1").picture(), picture);
  bool sawFilter = false;
  for (const auto& d : ui::testing::shownDialogs())
    if (d.kind == "file") sawFilter = d.text == "图片文件(*.jpg)|*.jpg"_t;
  EXPECT_TRUE(sawFilter);

  // Saved as the full path, and the start window shows that picture.
  click("按钮3");
  EXPECT_EQ(fileRecords(settingsFile)[0][3], ev.path("chosen.jpg"));
  EXPECT_EQ(ui::Window("StartWindow").picture(), picture);
}

TEST_F(Settings, ApplyOkAndCancel) {
  openStandard();
  choose("停止抽奖音乐组合框", "stop.wav");  // a preview plays
  typeAll();

  // Cancel writes and applies nothing, and the preview plays on.
  click("按钮2");
  ui::processPendingOnce();
  EXPECT_FALSE(maintenance::SettingsWindow().isOpen());
  EXPECT_EQ(fileRecords(settingsFile)[0][0], "星河科技");
  EXPECT_EQ(playing(), (std::vector<std::string>{path("\\Music\\end\\stop.wav")}));
  EXPECT_EQ(ui::Control("StartWindow", "主标题").caption(), "星河科技"_t);

  // The close box does the same.
  ASSERT_TRUE(maintenance::SettingsWindow().open());
  typeAll();
  ui::testing::windowWidget("SettingsWindow")->close();
  ui::processPendingOnce();
  EXPECT_FALSE(maintenance::SettingsWindow().isOpen());
  EXPECT_EQ(fileRecords(settingsFile)[0][0], "星河科技");

  // Apply saves, applies and stays open; the preview's icon may still show
  // stop while the idle music plays, and clicking it stops all playback.
  ASSERT_TRUE(maintenance::SettingsWindow().open());
  choose("停止抽奖音乐组合框", "stop.wav");
  typeAll();
  click("按钮3");
  EXPECT_TRUE(maintenance::SettingsWindow().isOpen());
  EXPECT_EQ(fileRecords(settingsFile), (std::vector<std::vector<std::string>>{typedRecord()}));
  EXPECT_EQ(ui::Control("StartWindow", "主标题").caption(), "新主标题"_t);
  EXPECT_EQ(ui::Control("StartWindow", "祝福词").caption(), "万事如意"_t);
  EXPECT_EQ(ui::Window("StartWindow").picture(), other);
  EXPECT_EQ(playing(), (std::vector<std::string>{path("\\Music\\bj\\party.wav")}));
  EXPECT_EQ(music::status().times, -1);
  EXPECT_EQ(stopIcons(), (std::vector<bool>{false, false, true, false}));
  click("图片框4");
  EXPECT_TRUE(playing().empty());
  EXPECT_EQ(store::currentAlias(), model::aliasSettings());

  // OK saves, applies and closes; "禁用" as the idle music means silence.
  ctl("背景音乐组合框").setText("禁用"_t);
  music::play(path("\\Music\\end\\stop.wav"), 1);
  click("按钮1");
  ui::processPendingOnce();
  EXPECT_FALSE(maintenance::SettingsWindow().isOpen());
  EXPECT_EQ(fileRecords(settingsFile)[0][4], "禁用");
  EXPECT_TRUE(playing().empty());
  EXPECT_TRUE(messages().empty());
}

TEST_F(Settings, ModalWindowFromTheProgram) {
  openStandard();
  maintenance::SettingsWindow().destroy();
  ui::processPendingOnce();
  QTimer::singleShot(0, [] {
    ctl("编辑框1").setText("模态"_t);
    click("按钮1");
  });
  ASSERT_TRUE(maintenance::SettingsWindow().open(true));  // returns once closed
  EXPECT_FALSE(maintenance::SettingsWindow().isOpen());
  EXPECT_EQ(fileRecords(settingsFile)[0][0], "模态");
}

TEST_F(Settings, ARefusedSaveChangesNothingAndSaysSo) {
  openStandard();
  const auto before = fileRecords(settingsFile);
  typeAll();

  // The last of the eight writes is refused by the file: the seven before it
  // must not stay written, in the file or in the record the program reads.
  execSql(settingsFile,
          "CREATE TRIGGER refuse BEFORE UPDATE OF \"背景图片\" ON records "
          "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  click("按钮1");
  ui::processPendingOnce();
  EXPECT_TRUE(maintenance::SettingsWindow().isOpen());  // what was typed is still there
  EXPECT_EQ(ctl("编辑框1").text(), "新主标题"_t);
  EXPECT_EQ(messages(), (std::vector<Text>{"系统设置保存失败，设置没有改变！"_t}));
  EXPECT_EQ(fileRecords(settingsFile), before);
  store::select(model::aliasSettings());
  EXPECT_EQ(store::readText(model::settings::主标题()), "星河科技"_t);
  // Nothing was applied either.
  EXPECT_EQ(ui::Control("StartWindow", "主标题").caption(), "星河科技"_t);
  EXPECT_EQ(playing(), (std::vector<std::string>{path("\\Music\\bj\\idle.wav")}));

  // An I/O failure on the first write: the same.
  execSql(settingsFile, "DROP TRIGGER refuse;");
  ui::testing::clearShownDialogs();
  store::failNextWrites(1);
  click("按钮3");
  EXPECT_EQ(messages(), (std::vector<Text>{"系统设置保存失败，设置没有改变！"_t}));
  EXPECT_EQ(fileRecords(settingsFile), before);

  // Once the store takes the writes again, the same window saves.
  click("按钮1");
  ui::processPendingOnce();
  EXPECT_FALSE(maintenance::SettingsWindow().isOpen());
  EXPECT_EQ(fileRecords(settingsFile), (std::vector<std::vector<std::string>>{typedRecord()}));
}

}  // namespace
