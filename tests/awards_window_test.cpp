// The awards window through the real runtime, headless: the list and the
// draw options, the form filled by a double click, add, modify and delete,
// the prize picture, and what each does with bad input or a store that
// refuses a write.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sqlite3.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "event_fixture.h"
#include "maintenance/awards_window.h"
#include "maintenance/maintenance.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"
#include "sqlite_direct.h"

using model::operator""_t;
using model::Text;
using Row = fixture::Row;
namespace award = model::award;

namespace {

struct Stored {
  std::string name, prize;
  double quota, winners, drawn;
  model::Bytes picture;
  long long order, rule;
  bool operator==(const Stored&) const = default;
};

void PrintTo(const Stored& s, std::ostream* os) {
  *os << "{" << s.name << "," << s.prize << "," << s.quota << "," << s.winners << "," << s.drawn
      << ",<" << s.picture.size() << " bytes>," << s.order << "," << s.rule << "}";
}

using fixture::execSql;

// Number of rows of a query on a store file, read past the program.
int countInFile(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return -1;
  sqlite3_stmt* st = nullptr;
  int n = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

// The form as shown: name, prize, chosen item (-1 none), winners, picture
// bytes, hint caption.
struct Form {
  std::string name, prize;
  int item;
  std::string winners;
  model::Bytes picture;
  std::string hint;
  bool operator==(const Form&) const = default;
};

void PrintTo(const Form& f, std::ostream* os) {
  *os << "{" << f.name << "," << f.prize << "," << f.item << "," << f.winners << ",<"
      << f.picture.size() << " bytes>," << f.hint << "}";
}

class Awards : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1024, 768);
    ui::setProgramFolder(ev.dir);
    prize = fixture::solidJpeg(6, 4, 0xffaa2200u);
    ev.makePersons({{"0001"_t, "张三"_t, ""_t, ""_t, ""_t, 0LL, "一等奖二等奖"_t}});
    ev.makeSettings({"标题"_t});
    app::registerAllHandlers();
    std::string error;
    ASSERT_TRUE(ui::loadForms(ev.makeForms({"AwardsWindow"}), &error)) << error;
    awardsFile = model::programPath(ev.dir, model::kAwardsFile);
  }
  void TearDown() override {
    store::failNextWrites(0);
    fixture::endProgramTest();
  }

  // Writes the award store, opens the three stores as the start-up does
  // (the settings store left current) and opens the awards window.
  void openWith(const std::vector<Row>& rows) {
    store::closeAll();
    ev.makeAwards(rows);
    store::open(model::programPath(ev.dir, model::kPersonsFile), model::aliasPersons());
    store::open(awardsFile, model::aliasAwards());
    store::open(model::programPath(ev.dir, model::kSettingsFile), model::aliasSettings());
    ASSERT_TRUE(maintenance::AwardsWindow().open());
  }
  void openStandard() {
    openWith({{"一等奖"_t, "电视"_t, 1.0, 3.0, 2.0, prize, 1LL, 1LL},
              {"二等奖"_t, "手机"_t, 5.0, 10.0, 4.0, model::Bytes(), 0LL, 1LL},
              {"三等奖"_t, "水杯"_t, 20.0, 30.0, 0.0, model::Bytes(), 1LL, 0LL}});
  }

  // Every award as stored, read without moving the window's cursor.
  std::vector<Stored> records() {
    const Text alias = store::currentAlias();
    store::select(model::aliasAwards());
    const int at = store::recordNumber();
    std::vector<Stored> out;
    store::goFirst();
    for (int i = 1; i <= store::recordCount(); ++i, store::skip(1))
      out.push_back({store::readText(award::奖项名称()).toUtf8(),
                     store::readText(award::奖品名称()).toUtf8(),
                     store::readDouble(award::每次名额()), store::readDouble(award::中奖人数()),
                     store::readDouble(award::已抽取人数()), store::readBytes(award::奖品图片()),
                     store::readInt(award::中奖顺序()), store::readInt(award::中奖方式())});
    if (at > 0)
      store::goTo(at);
    else
      store::skip(store::recordCount() + 1);
    store::select(alias);
    return out;
  }
  // The list's rows, columns joined by "|".
  static std::vector<std::string> listRows() {
    ui::Control list = maintenance::AwardList();
    std::vector<std::string> out;
    for (int r = 0; r < list.rowCount(); ++r) {
      std::string row;
      for (int c = 0; c < list.columnCount(); ++c) row += (c ? "|" : "") + list.cell(r, c).toUtf8();
      out.push_back(row);
    }
    return out;
  }
  static std::vector<Text> messages() {
    std::vector<Text> out;
    for (const auto& d : ui::testing::shownDialogs())
      if (d.kind == "message") out.push_back(d.text);
    return out;
  }
  static ui::Control ctl(const char* name) { return ui::Control("AwardsWindow", name); }
  static QWidget* widget(const char* name) {
    return ui::testing::controlWidget("AwardsWindow", name);
  }
  static void click(const char* name) {
    QWidget* w = widget(name);
    ASSERT_NE(w, nullptr) << name;
    QTest::mouseClick(w, Qt::LeftButton);
  }
  static QTreeWidget* tree() { return qobject_cast<QTreeWidget*>(widget("超级列表框1")); }
  static QPoint rowPoint(int row) {
    return tree()->visualItemRect(tree()->topLevelItem(row)).center();
  }
  // The operator clicks or double-clicks a row (-1: the empty space below
  // the rows).
  static QPoint at(int row) {
    return row >= 0 ? rowPoint(row) : QPoint(20, tree()->viewport()->height() - 5);
  }
  static void clickRow(int row) {
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, at(row));
  }
  // A real double click is a click (which selects the row) followed by the
  // double click itself.
  static void doubleClickRow(int row) {
    clickRow(row);
    QTest::mouseDClick(tree()->viewport(), Qt::LeftButton, {}, at(row));
  }
  static void doubleClickHint() { QTest::mouseDClick(widget("透明标签1"), Qt::LeftButton); }
  static Form form() {
    return {ctl("编辑框1").text().toUtf8(), ctl("编辑框2").text().toUtf8(),
            ctl("组合框1").selectedIndex(), ctl("编辑框3").text().toUtf8(),
            ctl("图片框1").picture(),       ctl("透明标签1").caption().toUtf8()};
  }
  static void fill(const char* name, const char* prizeName, int item, const char* winners) {
    ctl("编辑框1").setText(Text::fromUtf8(name));
    ctl("编辑框2").setText(Text::fromUtf8(prizeName));
    ctl("组合框1").setSelectedIndex(item);
    ctl("编辑框3").setText(Text::fromUtf8(winners));
  }
  static std::vector<bool> options() {
    return {ctl("单选框1").checked(), ctl("单选框2").checked(), ctl("选择框1").checked()};
  }

  fixture::TempEvent ev;
  model::Bytes prize;
  std::string awardsFile;
};

// The typed number itself is read by model::parseWholeNumber; the window
// accepts zero and more, the supplement one and more.
TEST(AwardsPure, WinnerCountIsAWholeNumberOfZeroOrMore) {
  int v = -1;
  EXPECT_TRUE(maintenance::ParseWinnerCount("　０ "_t, &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(maintenance::ParseWinnerCount("１2"_t, &v));
  EXPECT_EQ(v, 12);
  v = -1;
  EXPECT_FALSE(maintenance::ParseWinnerCount("-3"_t, &v));
  EXPECT_FALSE(maintenance::ParseWinnerCount("5人"_t, &v));
  EXPECT_EQ(v, -1);
}

TEST(AwardsPure, OnlyADecodableJpegIsAPrizePicture) {
  const model::Bytes jpeg = fixture::solidJpeg(3, 3);
  image::Image img;
  img.width = img.height = 2;
  img.pixels.assign(4, 0xff112233u);
  EXPECT_TRUE(maintenance::IsJpegPicture(jpeg));
  EXPECT_FALSE(maintenance::IsJpegPicture(image::encodePng(img)));
  EXPECT_FALSE(maintenance::IsJpegPicture(model::Bytes(jpeg.begin(), jpeg.begin() + 20)));
  EXPECT_FALSE(maintenance::IsJpegPicture(model::Bytes{'t', 'e', 'x', 't'}));
  EXPECT_FALSE(maintenance::IsJpegPicture(model::Bytes()));
}

TEST_F(Awards, AnEmptyStoreShowsAnEmptyListAndDefaultOptions) {
  openWith({});
  EXPECT_EQ(maintenance::AwardsWindow().caption(), "奖项设置"_t);
  EXPECT_EQ(store::currentAlias(), model::aliasAwards());
  EXPECT_TRUE(listRows().empty());
  EXPECT_EQ(options(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(form(), (Form{"", "", -1, "", {}, "  双击插入奖品图片"}));
  // With no award, modify and delete refuse and change nothing.
  click("按钮3");
  click("按钮2");
  EXPECT_EQ(messages(), (std::vector<Text>{"请先在列表中选择要修改的奖项！"_t,
                                           "请先在列表中选择要删除的奖项！"_t}));
  EXPECT_TRUE(records().empty());
}

TEST_F(Awards, ListShowsEveryAwardAndTheOptionsOfRecordOne) {
  openWith({{"一等奖"_t, "电视"_t, 2.0, 3.0, 1.0, prize, 1LL, 1LL},
            {"二等奖"_t, "手机"_t, 2.5, 10.0, 0.0, model::Bytes(), 0LL, 0LL}});
  EXPECT_EQ(listRows(),
            (std::vector<std::string>{"一等奖|电视|2|3|有图片", "二等奖|手机|2.5|10|无图片"}));
  EXPECT_EQ(options(), (std::vector<bool>{false, true, false}));
  store::select(model::aliasAwards());
  EXPECT_TRUE(store::eof());  // the fill leaves no award current
}

TEST_F(Awards, DoubleClickFillsTheForm) {
  struct Case {
    double quota;
    int item;
  } cases[] = {{1, 0}, {3, 2}, {5, 4}, {6, 5}, {7, 6}, {8, 6}, {10, 5}, {20, 6}, {0, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.quota);
    openWith({{"一等奖"_t, "电视"_t, 1.0, 1.0},
              {"特等奖"_t, "汽车"_t, c.quota, 12.0, 3.0, prize, 0LL, 0LL}});
    doubleClickRow(1);
    EXPECT_EQ(form(), (Form{"特等奖", "汽车", c.item, "12", prize, "  双击修改奖品图片"}));
    store::select(model::aliasAwards());
    EXPECT_EQ(store::recordNumber(), 2);
    maintenance::AwardsWindow().destroy();
    ui::processPendingOnce();
  }
}

TEST_F(Awards, AddAppendsTheFormAndRewritesTheOptions) {
  openStandard();
  struct Case {
    int item;
    double quota;
    const char* winners;
    double stored;
  } cases[] = {{5, 10, "30", 30}, {6, 20, "４０", 40}, {0, 1, " 2 ", 2}, {-1, 0, "0", 0}};
  int added = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    const std::string name = "纪念奖" + std::to_string(added + 1);  // names are unique
    fill(name.c_str(), "徽章", c.item, c.winners);
    // The options on screen go into record 1 with every add.
    click(added % 2 ? "单选框1" : "单选框2");
    click("选择框1");
    const std::vector<bool> chosen = options();
    ui::testing::queueFileAnswer(true, ev.path("prize.jpg"));
    image::writeFile(ev.path("prize.jpg"), prize);
    if (c.item != 0) doubleClickHint();
    click("按钮1");
    ++added;

    std::vector<Stored> r = records();
    ASSERT_EQ(r.size(), 3u + added);
    EXPECT_EQ(r.back(), (Stored{name, "徽章", c.quota, c.stored, 0,
                                c.item != 0 ? prize : model::Bytes(), 0, 0}));
    EXPECT_EQ(r[0].order, chosen[0] ? 0 : 1);
    EXPECT_EQ(r[0].rule, chosen[2] ? 0 : 1);
    EXPECT_EQ(r[0].drawn, 2);  // nothing else of record 1 changes
    EXPECT_EQ(r[1].order, 0);  // nor the options of other awards
    EXPECT_EQ(form(), (Form{"", "", 0, "0", {}, "  双击插入奖品图片"}));
    EXPECT_EQ(options(), chosen);  // the refill shows what was written

    // The list shows the new award, and its quota comes back on a double click.
    const std::string q = model::numberToText(c.quota).toUtf8();
    const std::string w = model::numberToText(c.stored).toUtf8();
    EXPECT_EQ(listRows().back(),
              name + "|徽章|" + q + "|" + w + (c.item != 0 ? "|有图片" : "|无图片"));
    doubleClickRow(2 + added);
    EXPECT_EQ(form().item, c.item);
    fill("", "", 0, "0");
    ctl("图片框1").setPicture(model::Bytes());
  }
  EXPECT_TRUE(messages().empty());
}

TEST_F(Awards, BadWinnerCountIsRefusedAndTheFormKept) {
  openStandard();
  const std::vector<Stored> before = records();
  for (const char* bad : {"abc", "", "5人", "-1", "2.5"}) {
    SCOPED_TRACE(bad);
    ui::testing::clearShownDialogs();
    fill("纪念奖", "徽章", 2, bad);
    click("按钮1");
    EXPECT_EQ(messages(), (std::vector<Text>{"中奖人数必须是0或正整数，奖项没有保存！"_t}));
    EXPECT_EQ(records(), before);
    EXPECT_EQ(form(), (Form{"纪念奖", "徽章", 2, bad, {}, "  双击插入奖品图片"}));

    ui::testing::clearShownDialogs();
    clickRow(1);
    click("按钮3");
    EXPECT_EQ(messages(), (std::vector<Text>{"中奖人数必须是0或正整数，奖项没有保存！"_t}));
    EXPECT_EQ(records(), before);
    EXPECT_EQ(form().winners, bad);
  }
}

// A name that shows nothing, that another award has, or that a participant's
// wins would then read as, is refused on add and on modify: nothing is
// stored and the form keeps what the operator typed.
TEST_F(Awards, AnAwardNameMustShowSomethingAndBeUnique) {
  openStandard();
  const std::vector<Stored> before = records();
  const Text empty = "奖项名称不能为空，奖项没有保存！"_t;
  auto taken = [](const char* name) {
    return "已有名为“"_t + Text::fromUtf8(name) + "”的奖项，奖项名称不能重复，奖项没有保存！"_t;
  };
  auto held = [](const char* name) {
    return "已有人员的中奖项目中含有“"_t + Text::fromUtf8(name) +
           "”，请换一个奖项名称，奖项没有保存！"_t;
  };
  struct Case {
    const char* name;
    int row;  // -1: add; else modify this row
    Text refusal;
  } cases[] = {
      {"", -1, empty},
      {"   ", -1, empty},
      {"　 ", -1, empty},
      {"", 1, empty},
      {"二等奖", -1, taken("二等奖")},
      {" 二等 奖", -1, taken("二等奖")},
      {"一等奖", 2, taken("一等奖")},
      // 张三 holds 一等奖二等奖: an award of that name would take both wins.
      {"一等奖二等奖", -1, held("一等奖二等奖")},
      {"一等奖二等奖", 2, held("一等奖二等奖")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " / " + std::to_string(c.row));
    ui::testing::clearShownDialogs();
    if (c.row >= 0) doubleClickRow(c.row);
    fill(c.name, "奖品", 1, "5");
    click(c.row >= 0 ? "按钮3" : "按钮1");
    EXPECT_EQ(messages(), (std::vector<Text>{c.refusal}));
    EXPECT_EQ(records(), before);
    EXPECT_EQ(form().name, c.name);
    EXPECT_EQ(form().winners, "5");
  }

  // Its own name is no clash: a modify that keeps the name is stored.
  ui::testing::clearShownDialogs();
  doubleClickRow(0);
  ctl("编辑框3").setText("4"_t);
  click("按钮3");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(records()[0].winners, 4);

  // Wins left behind by a deleted award (a store written before deletes took
  // them along) keep its name from a new award.
  clickRow(0);
  click("按钮2");  // asked, and answered OK
  ASSERT_EQ(records().size(), 2u);
  store::select(model::aliasPersons());
  store::goFirst();
  store::write(model::person::中奖项目(), "一等奖二等奖"_t);
  store::select(model::aliasAwards());
  ui::testing::clearShownDialogs();
  fill("一等奖", "电视", 1, "3");
  click("按钮1");
  EXPECT_EQ(messages(), (std::vector<Text>{held("一等奖")}));
  EXPECT_EQ(records().size(), 2u);
}

// Renaming an award renames the wins of its winners in the same change, so
// that they keep what they won; when the participants' store refuses, the
// award keeps its old name too.
TEST_F(Awards, RenamingAnAwardTakesItsWinsAlong) {
  openStandard();
  const std::string personsFile = model::programPath(ev.dir, model::kPersonsFile);
  execSql(personsFile,
          "CREATE TRIGGER refuse BEFORE UPDATE ON records BEGIN SELECT RAISE(ABORT, 'no'); END;");
  const std::vector<Stored> before = records();
  doubleClickRow(1);
  fill("幸运奖", "手机", 4, "10");
  click("按钮3");
  EXPECT_EQ(messages(), (std::vector<Text>{"奖项修改失败，数据没有改变！"_t}));
  EXPECT_EQ(records(), before);
  // 张三's wins, read without leaving the award store to the window.
  auto won = [] {
    store::CurrentStoreKeeper keep;
    store::select(model::aliasPersons());
    store::goFirst();
    return store::readText(model::person::中奖项目());
  };
  EXPECT_EQ(won(), "一等奖二等奖"_t);

  execSql(personsFile, "DROP TRIGGER refuse;");
  ui::testing::clearShownDialogs();
  doubleClickRow(1);
  fill("幸运奖", "手机", 4, "10");
  click("按钮3");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(records()[1].name, "幸运奖");
  EXPECT_EQ(records()[1].drawn, 4);
  EXPECT_EQ(won(), "一等奖幸运奖"_t);
  EXPECT_EQ(
      countInFile(personsFile, "SELECT count(*) FROM records WHERE \"中奖项目\" = '一等奖幸运奖'"),
      1);
}

// A winner count below the winners already drawn would leave drawn winners
// without a place: refused, and the form kept.
TEST_F(Awards, AWinnerCountBelowTheDrawnCountIsRefused) {
  openStandard();
  const std::vector<Stored> before = records();
  for (const char* below : {"3", "0"}) {
    SCOPED_TRACE(below);
    ui::testing::clearShownDialogs();
    doubleClickRow(1);  // 二等奖: 4 drawn
    ctl("编辑框3").setText(Text::fromUtf8(below));
    click("按钮3");
    EXPECT_EQ(messages(),
              (std::vector<Text>{"中奖人数不能少于已抽取人数（4名），奖项没有修改！"_t}));
    EXPECT_EQ(records(), before);
    EXPECT_EQ(form().winners, below);
  }
  // As many as drawn is allowed: the award is then full.
  ui::testing::clearShownDialogs();
  ctl("编辑框3").setText("4"_t);
  click("按钮3");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(records()[1].winners, 4);
  EXPECT_EQ(records()[1].drawn, 4);
}

TEST_F(Awards, ModifyReplacesTheClickedAwardAndKeepsWhatTheDrawWrote) {
  openStandard();
  doubleClickRow(1);
  // 已抽取人数 is kept.
  fill("二等奖", "平板", 1, "5");
  click("单选框2");
  const model::Bytes newPicture = fixture::solidJpeg(2, 2, 0xff0000ffu);
  image::writeFile(ev.path("new.jpg"), newPicture);
  ui::testing::queueFileAnswer(true, ev.path("new.jpg"));
  doubleClickHint();
  click("按钮3");

  std::vector<Stored> r = records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1], (Stored{"二等奖", "平板", 2, 5, 4, newPicture, 0, 1}));
  EXPECT_EQ(r[0].order, 1);  // 单选框2: big prizes first
  EXPECT_EQ(r[0].rule, 1);   // 选择框1 was unticked
  EXPECT_EQ(r[0].name, "一等奖");
  EXPECT_EQ(r[2], (Stored{"三等奖", "水杯", 20, 30, 0, {}, 1, 0}));
  // The form is cleared, the hint keeps its caption.
  EXPECT_EQ(form(), (Form{"", "", -1, "", {}, "  双击修改奖品图片"}));
  EXPECT_EQ(listRows()[1], "二等奖|平板|2|5|有图片");

  // Modifying record 1 writes its own options last: the form's options win.
  doubleClickRow(0);
  click("单选框1");
  click("选择框1");
  click("按钮3");
  r = records();
  EXPECT_EQ(r[0], (Stored{"一等奖", "电视", 1, 3, 2, prize, 0, 0}));

  // After the refill no award is current: modify refuses and keeps the form.
  fill("无主", "无", 1, "1");
  click("按钮3");
  EXPECT_EQ(messages(), (std::vector<Text>{"请先在列表中选择要修改的奖项！"_t}));
  EXPECT_EQ(records(), r);
  EXPECT_EQ(form().name, "无主");
}

TEST_F(Awards, DeleteRemovesTheClickedAwardOnly) {
  openStandard();
  // A click on no row leaves no award current: delete refuses.
  clickRow(-1);
  click("按钮2");
  EXPECT_EQ(messages(), (std::vector<Text>{"请先在列表中选择要删除的奖项！"_t}));
  EXPECT_EQ(records().size(), 3u);

  // Deleting record 1 makes the next award supply the options. 张三 won it:
  // the operator is asked first, and Cancel keeps everything.
  const Text asked =
      "奖项“一等奖”已有1名中奖人员，删除奖项将同时取消他们的这个奖项。你确定要删除吗？"_t;
  doubleClickRow(0);
  ui::testing::clearShownDialogs();
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  click("按钮2");
  EXPECT_EQ(messages(), (std::vector<Text>{asked}));
  EXPECT_EQ(records().size(), 3u);
  ui::testing::queueMessageAnswer(ui::kResultOk);
  click("按钮2");
  std::vector<Stored> r = records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].name, "二等奖");
  EXPECT_EQ(listRows(),
            (std::vector<std::string>{"二等奖|手机|5|10|无图片", "三等奖|水杯|20|30|无图片"}));
  EXPECT_EQ(options(), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(form().name, "一等奖");  // the form keeps what it shows
  EXPECT_EQ(countInFile(awardsFile, "SELECT count(*) FROM records"), 2);

  clickRow(1);
  click("按钮2");
  EXPECT_EQ(listRows(), (std::vector<std::string>{"二等奖|手机|5|10|无图片"}));

  // The winners of a deleted award lose that win and keep their others.
  store::select(model::aliasPersons());
  store::goFirst();
  EXPECT_EQ(store::readText(model::person::中奖项目()), "二等奖"_t);
}

// Deleting an award and taking its wins back is one change: a participant
// store that refuses keeps the award too.
TEST_F(Awards, DeletingAnAwardWithWinnersIsOneChange) {
  openStandard();
  const std::vector<Stored> before = records();
  const std::string personsFile = model::programPath(ev.dir, model::kPersonsFile);
  execSql(personsFile,
          "CREATE TRIGGER refuse BEFORE UPDATE ON records BEGIN SELECT RAISE(ABORT, 'no'); END;");
  clickRow(1);  // 二等奖, held by 张三
  click("按钮2");
  EXPECT_EQ(messages().back(), "奖项删除失败，数据没有改变！"_t);
  EXPECT_EQ(records(), before);
  EXPECT_EQ(
      countInFile(personsFile, "SELECT count(*) FROM records WHERE \"中奖项目\" = '一等奖二等奖'"),
      1);
  EXPECT_EQ(countInFile(awardsFile, "SELECT count(*) FROM records"), 3);
}

TEST_F(Awards, PrizePictureMustBeAJpeg) {
  openStandard();
  doubleClickRow(0);
  ASSERT_EQ(form().picture, prize);

  // Cancelled: nothing changes.
  ui::testing::queueFileAnswer(false, "");
  doubleClickHint();
  EXPECT_EQ(form().picture, prize);
  ASSERT_FALSE(ui::testing::shownDialogs().empty());
  EXPECT_EQ(ui::testing::shownDialogs().back().text, "图片文件(*.jpg)|*.jpg"_t);

  image::Image img;
  img.width = img.height = 2;
  img.pixels.assign(4, 0xff112233u);
  image::writeFile(ev.path("a.png"), image::encodePng(img));
  image::writeFile(ev.path("notes.jpg"), model::Bytes{'n', 'o'});
  for (const char* bad : {"a.png", "notes.jpg", "missing.jpg"}) {
    SCOPED_TRACE(bad);
    ui::testing::clearShownDialogs();
    ui::testing::queueFileAnswer(true, ev.path(bad));
    doubleClickHint();
    EXPECT_EQ(messages(), (std::vector<Text>{"所选文件不是有效的JPG图片，奖品图片没有改变！"_t}));
    EXPECT_EQ(form().picture, prize);
  }
  // The picture is stored as the file's bytes.
  const model::Bytes other = fixture::solidJpeg(9, 9, 0xff00aa00u);
  image::writeFile(ev.path("other.jpg"), other);
  ui::testing::queueFileAnswer(true, ev.path("other.jpg"));
  doubleClickHint();
  click("按钮3");
  EXPECT_EQ(records()[0].picture, other);
}

TEST_F(Awards, ARefusedWriteChangesNothingAndSaysSo) {
  openStandard();
  const std::vector<Stored> before = records();
  // The file refuses any change of 中奖方式, so the options' write fails
  // after the award itself was written.
  execSql(awardsFile,
          "CREATE TRIGGER refuse BEFORE UPDATE ON records "
          "WHEN NEW.\"中奖方式\" IS NOT OLD.\"中奖方式\" "
          "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  click("选择框1");  // 中奖方式 of record 1 would change from 1 to 0

  fill("纪念奖", "徽章", 1, "5");
  click("按钮1");
  EXPECT_EQ(messages(), (std::vector<Text>{"奖项保存失败，数据没有改变！"_t}));
  EXPECT_EQ(records(), before);
  EXPECT_EQ(countInFile(awardsFile, "SELECT count(*) FROM records"), 3);
  EXPECT_EQ(form().name, "纪念奖");  // nothing the operator typed is lost

  ui::testing::clearShownDialogs();
  doubleClickRow(2);
  fill("三等奖", "保温杯", 1, "5");
  click("按钮3");  // 选择框1 still ticked: record 1 would change
  EXPECT_EQ(messages(), (std::vector<Text>{"奖项修改失败，数据没有改变！"_t}));
  EXPECT_EQ(records(), before);
  EXPECT_EQ(countInFile(awardsFile, "SELECT count(*) FROM records WHERE \"奖品名称\" = '水杯'"), 1);
  EXPECT_EQ(form().prize, "保温杯");

  // A purge that fails leaves the award in place, and not marked deleted.
  execSql(awardsFile,
          "DROP TRIGGER refuse; CREATE TRIGGER keep BEFORE DELETE ON records "
          "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  ui::testing::clearShownDialogs();
  clickRow(2);  // 三等奖: nobody holds it, so nothing is asked
  click("按钮2");
  EXPECT_EQ(messages(), (std::vector<Text>{"奖项删除失败，数据没有改变！"_t}));
  EXPECT_EQ(records(), before);
  EXPECT_EQ(countInFile(awardsFile, "SELECT count(*) FROM deleted_records"), 0);

  // An I/O failure of the append itself: the same.
  execSql(awardsFile, "DROP TRIGGER keep;");
  ui::testing::clearShownDialogs();
  ctl("编辑框1").setText("纪念奖"_t);
  store::failNextWrites(1);
  click("按钮1");
  EXPECT_EQ(messages(), (std::vector<Text>{"奖项保存失败，数据没有改变！"_t}));
  EXPECT_EQ(records(), before);

  // The store taking writes again, the form kept on screen is added.
  click("按钮1");
  ASSERT_EQ(records().size(), 4u);
  EXPECT_EQ(records().back().prize, "保温杯");
}

TEST_F(Awards, CloseAndModalOpen) {
  openStandard();
  click("按钮4");
  ui::processPendingOnce();
  EXPECT_FALSE(maintenance::AwardsWindow().isOpen());

  QTimer::singleShot(0, [] {
    doubleClickRow(0);
    ctl("编辑框3").setText("9"_t);
    click("按钮3");
    click("按钮4");
  });
  ASSERT_TRUE(maintenance::AwardsWindow().open(true));  // returns once closed
  EXPECT_FALSE(maintenance::AwardsWindow().isOpen());
  EXPECT_EQ(records()[0].winners, 9);
  EXPECT_EQ(store::currentAlias(), model::aliasAwards());  // stays current after closing
}

}  // namespace
