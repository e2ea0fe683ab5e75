// The form runtime's controls: their properties, events and the semantics the
// handlers rely on (radio boxes, combo boxes, list views, sliders, menus...).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "tests/ui_fixture.h"
#include "tests/wait_until.h"

using namespace uitest;
using model::Text;
using model::operator""_t;

namespace {

class Controls : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    ASSERT_TRUE(win.open());
  }
  ui::Window win{"ControlsWindow"};
  ui::Control c(const char* name) { return win.ctl(name); }
  QWidget* widget(const char* name) { return ui::testing::controlWidget("ControlsWindow", name); }
};

TEST_F(Controls, SettingOneRadioBoxNeverClearsAnother) {
  EXPECT_TRUE(c("单选框1").checked());
  c("单选框2").setChecked(true);
  EXPECT_TRUE(c("单选框1").checked());
  EXPECT_TRUE(c("单选框2").checked());
  c("单选框1").setChecked(false);
  c("单选框2").setChecked(false);
  EXPECT_FALSE(c("单选框1").checked());
  // A user's click still selects one of the group only.
  c("单选框1").setChecked(true);
  static_cast<QAbstractButton*>(widget("单选框2"))->click();
  EXPECT_FALSE(c("单选框1").checked());
  EXPECT_TRUE(c("单选框2").checked());
  static_cast<QAbstractButton*>(widget("单选框2"))->click();  // clicking it again keeps it
  EXPECT_TRUE(c("单选框2").checked());
}

TEST_F(Controls, CheckBoxClickSeesTheNewState) {
  bool seen = false;
  actions()["OnCheckClick"] = [&](const ui::EventArgs&) { seen = c("选择框1").checked(); };
  static_cast<QAbstractButton*>(widget("选择框1"))->click();
  EXPECT_EQ(count("OnCheckClick"), 1);
  EXPECT_TRUE(seen);
  c("选择框1").setChecked(false);  // the program's write raises nothing
  EXPECT_EQ(count("OnCheckClick"), 1);
}

TEST_F(Controls, ComboItemChosenArrivesWithTheTextAlreadySet) {
  Text seen;
  actions()["OnEditComboChosen"] = [&](const ui::EventArgs&) { seen = c("组合框2").text(); };
  EXPECT_EQ(c("组合框2").text(), "a.mp3"_t);
  c("组合框2").addItem("b.mp3"_t);
  EXPECT_EQ(c("组合框2").text(), "a.mp3"_t);  // adding keeps the typed text
  EXPECT_EQ(c("组合框2").itemCount(), 2);
  auto* combo = static_cast<QComboBox*>(widget("组合框2"));
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Down);
  ASSERT_EQ(count("OnEditComboChosen"), 1);
  EXPECT_EQ(seen, c("组合框2").itemText(c("组合框2").selectedIndex()));
  EXPECT_FALSE(seen.empty());
  // The program's own writes raise nothing.
  c("组合框2").setText("c:\\x.mp3"_t);
  EXPECT_EQ(c("组合框2").text(), "c:\\x.mp3"_t);
  EXPECT_EQ(count("OnEditComboChosen"), 1);
}

TEST_F(Controls, ListComboSelectedIndexBounds) {
  struct Case {
    int set, index;
    const char* text;
  } cases[] = {{0, 0, "1"}, {3, 3, "10"}, {9, 3, "10"}, {-1, -1, ""}, {-7, -1, ""}};
  for (const Case& k : cases) {
    c("组合框1").setSelectedIndex(k.set);
    EXPECT_EQ(c("组合框1").selectedIndex(), k.index) << k.set;
    EXPECT_EQ(c("组合框1").text(), Text::fromUtf8(k.text)) << k.set;
  }
  c("组合框1").setText("2"_t);  // a list shows only one of its items
  EXPECT_EQ(c("组合框1").selectedIndex(), 1);
  EXPECT_EQ(count("OnListComboChosen"), 0);
}

TEST_F(Controls, ListViewRowsCellsAndFind) {
  ui::Control list = c("超级列表框1");
  EXPECT_EQ(list.columnCount(), 3);
  EXPECT_EQ(static_cast<QTreeWidget*>(widget("超级列表框1"))->columnWidth(1), 60);
  EXPECT_EQ(list.insertRow(100, "Abc"_t), 0);  // beyond the count: at the end
  EXPECT_EQ(list.insertRow(5, "张三"_t), 1);
  EXPECT_EQ(list.insertRow(0, "first"_t), 0);
  EXPECT_EQ(list.appendRow(), 3);
  EXPECT_EQ(list.rowCount(), 4);
  list.setCell(1, 2, "13800000000"_t);
  list.setCell(1, 9, "ignored"_t);
  EXPECT_EQ(list.cell(1, 0), "Abc"_t);
  EXPECT_EQ(list.cell(1, 2), "13800000000"_t);
  EXPECT_EQ(list.cell(9, 0), Text());
  EXPECT_EQ(list.cell(3, 0), Text());
  struct Find {
    const char* text;
    int row;
  } finds[] = {{"abc", 1}, {"ABC", 1}, {"Ab", -1}, {"张三", 2}, {"", 3}, {"none", -1}};
  for (const Find& f : finds) EXPECT_EQ(list.findItem(Text::fromUtf8(f.text)), f.row) << f.text;
  EXPECT_EQ(list.selectedIndex(), -1);
  list.selectRow(2);
  EXPECT_EQ(list.selectedIndex(), 2);
  EXPECT_GE(count("OnListCurrentChanged"), 1);
  list.ensureVisible(2);
  list.selectRow(-1);
  EXPECT_EQ(list.selectedIndex(), -1);
  list.removeAllRows();
  EXPECT_EQ(list.rowCount(), 0);
}

// Rows appended one at a time with messages processed in between (the import
// preview) are shown in batches: they read and write at once, reach the
// screen in order, and every other change of the rows takes them along.
TEST_F(Controls, ListViewAppendedRowsReachTheScreenInOrder) {
  ui::Control list = c("超级列表框1");
  auto* tree = static_cast<QTreeWidget*>(widget("超级列表框1"));
  auto shown = [&] {
    std::vector<std::string> out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      out.push_back(tree->topLevelItem(i)->text(0).toStdString() + "|" +
                    tree->topLevelItem(i)->text(2).toStdString());
    return out;
  };
  auto waitShown = [&](int rows) {
    for (int i = 0; i < 2000 && tree->topLevelItemCount() < rows; ++i) ui::waitPumping(10);
    return tree->topLevelItemCount();
  };
  std::vector<std::string> want;
  for (int i = 0; i < 300; ++i) {
    const int row = list.appendRow();
    ASSERT_EQ(row, i);
    list.setCell(row, 0, Text::fromUtf8("n" + std::to_string(i)));
    list.setCell(row, 2, Text::fromUtf8("p" + std::to_string(i)));
    EXPECT_EQ(list.cell(row, 2), Text::fromUtf8("p" + std::to_string(i)));
    want.push_back("n" + std::to_string(i) + "|p" + std::to_string(i));
    ui::processPendingOnce();
  }
  EXPECT_EQ(list.rowCount(), 300);
  EXPECT_EQ(list.findItem("N299"_t), 299);
  EXPECT_EQ(waitShown(300), 300);
  EXPECT_EQ(shown(), want);

  // Rows not yet shown go along with an insertion, a selection and a clear.
  list.appendRow();
  list.setCell(300, 0, "tail"_t);
  EXPECT_EQ(list.insertRow(0, "head"_t), 0);
  EXPECT_EQ(tree->topLevelItemCount(), 302);
  EXPECT_EQ(list.cell(301, 0), "tail"_t);
  list.appendRow();
  list.selectRow(302);
  EXPECT_EQ(list.selectedIndex(), 302);
  list.appendRow();
  list.removeAllRows();
  EXPECT_EQ(list.rowCount(), 0);
  // On the test clock the batches wait for its time, also one that was
  // waiting on the real clock when the test clock took over: the first row
  // after a clear shows at the next wait, a later one once the clock has
  // passed the longest delay (1 s), and a cleared row does not come back
  // after it.
  list.appendRow();
  ui::testing::useTestClock(true);
  ui::processPendingOnce();
  EXPECT_EQ(tree->topLevelItemCount(), 0);
  ui::waitPumping(1);
  EXPECT_EQ(tree->topLevelItemCount(), 1);
  list.appendRow();
  ui::waitPumping(29);  // the shortest delay is 30 ms
  EXPECT_EQ(tree->topLevelItemCount(), 1);
  ui::testing::advanceClock(1000);
  EXPECT_EQ(tree->topLevelItemCount(), 2);
  list.appendRow();
  list.removeAllRows();
  ui::testing::advanceClock(1000);
  EXPECT_EQ(tree->topLevelItemCount(), 0) << "a cleared row came back";
  // A row held back when the real clock takes over again shows on it.
  list.appendRow();
  list.appendRow();
  ui::testing::useTestClock(false);
  EXPECT_TRUE(testwait::pumpUntil([&] { return tree->topLevelItemCount() == 2; }));
  // A window closed with rows not yet shown takes them along.
  list.appendRow();
  win.destroy();
  ui::processPendingOnce();
  EXPECT_FALSE(win.isOpen());
}

TEST_F(Controls, ListViewClicksReachItThroughADisabledLabel) {
  ui::Control list = c("超级列表框1");
  for (int i = 0; i < 10; ++i) list.insertRow(i, Text::fromUtf8(std::to_string(i)));
  QWidget* w = ui::testing::windowWidget("ControlsWindow");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w, 10000));
  auto* tree = static_cast<QTreeWidget*>(widget("超级列表框1"));
  // The hint label lies over the list; the click at its middle goes through it.
  QPoint inWindow = widget("透明标签2")->geometry().center();
  QTreeWidgetItem* under = tree->itemAt(tree->viewport()->mapFrom(w, inWindow));
  ASSERT_NE(under, nullptr);
  int expectedRow = tree->indexOfTopLevelItem(under);
  log().clear();
  QTest::mouseClick(w->windowHandle(), Qt::LeftButton, Qt::NoModifier, inWindow);
  EXPECT_EQ(count("OnListClick"), 1);
  EXPECT_EQ(list.selectedIndex(), expectedRow);
  QTest::mouseDClick(w->windowHandle(), Qt::LeftButton, Qt::NoModifier, inWindow);
  EXPECT_EQ(count("OnListDoubleClick"), 1);
  // Focus moving elsewhere is the list's focus lost.
  widget("编辑框1")->setFocus();
  EXPECT_EQ(count("OnListFocusLost"), 1);
}

TEST_F(Controls, SliderClampsAndRaisesOnlyForTheUser) {
  ui::Control s = c("滑块条1");
  EXPECT_EQ(s.position(), 100);
  EXPECT_EQ(s.minimum(), 0);
  EXPECT_EQ(s.maximum(), 100);
  s.setPosition(101);
  EXPECT_EQ(s.position(), 100);
  s.setPosition(-3);
  EXPECT_EQ(s.position(), 0);
  EXPECT_EQ(count("OnSliderChanged"), 0);
  auto* slider = static_cast<QSlider*>(widget("滑块条1"));
  EXPECT_EQ(slider->orientation(), Qt::Vertical);
  EXPECT_TRUE(slider->invertedAppearance());
  s.setPosition(50);
  s.setFocus();
  QTest::keyClick(slider, Qt::Key_PageUp);
  EXPECT_EQ(count("OnSliderChanged"), 1);
  EXPECT_NE(s.position(), 50);
}

TEST_F(Controls, ProgressStatusEditAndCheckList) {
  ui::Control p = c("进度条1");
  EXPECT_FALSE(p.visible());
  p.setVisible(true);
  p.setMaximum(10);
  p.setPosition(4);
  EXPECT_EQ(p.position(), 4);
  p.setPosition(p.position() + 100);
  EXPECT_EQ(p.position(), 10);
  c("状态条1").setStatusText(0, "正在提取数据,请稍候..."_t);
  c("编辑框5").setText("  "_t);
  EXPECT_EQ(c("编辑框5").text(), "  "_t);  // no trimming
  EXPECT_EQ(c("编辑框1").text(), "100"_t);
  ui::Control list = c("选择列表框1");
  EXPECT_EQ(list.itemCount(), 4);
  EXPECT_EQ(list.selectedIndex(), -1);
  list.setSelectedIndex(2);
  EXPECT_EQ(list.selectedIndex(), 2);
  EXPECT_FALSE(list.itemChecked(2));
  EXPECT_EQ(c("标签2").caption(), "一\r\n二"_t);  // read back byte for byte
}

TEST_F(Controls, FileDialogScriptedAnswers) {
  ui::Control d = c("通用对话框1");
  d.setKeepCurrentDir(true);
  ui::testing::queueFileAnswer(true, "/tmp/export/名单");
  EXPECT_TRUE(d.showDialog());
  EXPECT_EQ(d.fileName(), "/tmp/export/名单.xls"_t);  // the default extension
  ui::testing::queueFileAnswer(false, "");
  EXPECT_FALSE(d.showDialog());
  EXPECT_FALSE(d.showDialog());  // unscripted: cancelled
  auto shown = ui::testing::shownDialogs();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].kind, "file");
  EXPECT_EQ(shown[0].text, "Excel 文件|*.xls"_t);
}

// The texts a dialog shows on its labels and buttons.
std::vector<QString> shownTexts(QWidget* dialog) {
  std::vector<QString> out;
  for (QLabel* l : dialog->findChildren<QLabel*>())
    if (l->isVisible() && !l->text().isEmpty()) out.push_back(l->text());
  for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
    if (b->isVisible() && !b->text().isEmpty()) out.push_back(b->text());
  return out;
}

// Texts that are not Chinese: a Latin letter outside an accelerator mark
// such as "(&S)", and no Chinese character.
std::vector<std::string> notChinese(const std::vector<QString>& texts) {
  std::vector<std::string> out;
  for (QString t : texts) {
    t.remove(QRegularExpression("\\(&[A-Za-z]\\)"));
    bool chinese = false;
    for (QChar ch : t) chinese = chinese || (ch.unicode() >= 0x4e00 && ch.unicode() <= 0x9fff);
    if (!chinese) out.push_back(t.toStdString());
  }
  return out;
}

// The standard dialogs are Qt's own (also on a desktop that offers its own)
// and speak Chinese: the save dialog, its overwrite question, the buttons of
// a message box.
TEST_F(Controls, StandardDialogsSpeakChinese) {
  QTemporaryDir dir;
  const QString existing = dir.filePath("list.xls");
  {
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  ui::Control d = c("通用对话框1");
  d.setKeepCurrentDir(true);
  bool ownDialog = false;
  std::vector<QString> dialogTexts, questionTexts;
  ui::testing::queueFileAnswer(false, "");
  ui::testing::queueDuringDialog([&] {
    auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(fd, nullptr);
    ownDialog = fd->testOption(QFileDialog::DontUseNativeDialog) && fd->isVisible();
    dialogTexts = shownTexts(fd);
    // Saving over a file that exists asks first; the answer No keeps the
    // dialog open.
    QTimer::singleShot(0, fd, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      questionTexts = shownTexts(box);
      box->button(QMessageBox::No)->click();
    });
    fd->setDirectory(dir.path());
    auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QStringLiteral("list.xls"));
    auto* buttons = fd->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    ASSERT_NE(buttons->button(QDialogButtonBox::Save), nullptr);
    buttons->button(QDialogButtonBox::Save)->click();
  });
  EXPECT_FALSE(d.showDialog());
  EXPECT_TRUE(ownDialog);
  ASSERT_FALSE(dialogTexts.empty());
  EXPECT_EQ(notChinese(dialogTexts), std::vector<std::string>());
  ASSERT_GE(questionTexts.size(), 3u);  // the question and Yes, No
  EXPECT_EQ(notChinese(questionTexts), std::vector<std::string>());

  std::vector<QString> boxTexts;
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  ui::testing::queueDuringDialog([&] {
    if (QWidget* box = QApplication::activeModalWidget()) boxTexts = shownTexts(box);
  });
  ui::messageBox("继续吗？"_t, Text(), ui::kOkCancel);
  ASSERT_EQ(boxTexts.size(), 3u);  // the text, OK and Cancel
  EXPECT_EQ(notChinese(boxTexts), std::vector<std::string>());
}

// The open dialog's list in Chinese: column names, a folder's type, a
// file's type, size and date; each filter shows its pattern once.
TEST_F(Controls, FileDialogListsFilesInChinese) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("照片")));
  {
    QFile f(dir.filePath("名单.xls"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(7352, 'x'));
  }
  ui::Control d = c("通用对话框1");
  d.setKeepCurrentDir(true);
  struct FilterCase {
    Text filter;
    QStringList shown;
  } filters[] = {
      {"图片文件(*.jpg)|*.jpg"_t, {"图片文件(*.jpg)"}},
      {"*.xls;*.xlsx|*.xls;*.xlsx"_t, {"*.xls *.xlsx"}},
      {"Excel 文件|*.xls|全部|*.*"_t, {"Excel 文件 (*.xls)", "全部 (*.*)"}},
  };
  for (const FilterCase& fc : filters) {
    SCOPED_TRACE(fc.filter.toUtf8());
    d.setFilter(fc.filter);
    QStringList shown;
    QStringList headers, folderRow, fileRow;
    ui::testing::queueFileAnswer(false, "");
    ui::testing::queueDuringDialog([&] {
      auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(fd, nullptr);
      shown = fd->nameFilters();
      fd->setNameFilter(QStringLiteral("*"));
      fd->setDirectory(dir.path());
      auto* view = fd->findChild<QTreeView*>(QStringLiteral("treeView"));
      ASSERT_NE(view, nullptr);
      QAbstractItemModel* m = view->model();
      const QModelIndex root = view->rootIndex();
      ASSERT_TRUE(testwait::pumpUntil([&] { return m->rowCount(root) >= 2; }));
      for (int col = 0; col < 4; ++col)
        headers << m->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
      for (int row = 0; row < m->rowCount(root); ++row) {
        QStringList cells;
        for (int col = 0; col < 4; ++col) cells << m->index(row, col, root).data().toString();
        (cells[0] == QStringLiteral("照片") ? folderRow : fileRow) = cells;
      }
    });
    EXPECT_FALSE(d.showDialog());
    EXPECT_EQ(shown, fc.shown);
    EXPECT_EQ(headers, QStringList({"名称", "大小", "类型", "修改日期"}));
    ASSERT_EQ(folderRow.size(), 4);
    EXPECT_EQ(folderRow[1], "");
    EXPECT_EQ(folderRow[2], "文件夹");
    ASSERT_EQ(fileRow.size(), 4);
    EXPECT_EQ(fileRow[1], "7.18 KB");
    EXPECT_EQ(fileRow[2], "XLS 文件");
    // Dates as the Chinese locale writes them: digits and separators only,
    // year first.
    const QString year = QString::number(QDate::currentDate().year());
    EXPECT_TRUE(QRegularExpression("^\\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{2}$")
                    .match(fileRow[3])
                    .hasMatch())
        << fileRow[3].toStdString();
    EXPECT_TRUE(fileRow[3].startsWith(year)) << fileRow[3].toStdString();
  }
}

// Pixels of an image in the flat look's dark blue.
int darkBluePixels(const QImage& img, const QRect& area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor p = img.pixelColor(x, y);
      n += p.blue() > 60 && p.blue() < 130 && p.red() < 60 && p.green() < 80;
    }
  return n;
}

// In the flat look a combo box shows its drop-down arrow, and an edit combo
// too narrow for a file name draws the name narrower, to its end; an edit
// box too narrow for an identity number shows its start, also after the
// operator leaves it.
TEST_F(Controls, CombosShowTheirArrowAndTextsTheirEnds) {
  ui::setFlatLook(1);
  QWidget* w = ui::testing::windowWidget("ControlsWindow");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w, 10000));
  for (const char* name : {"组合框1", "组合框2"}) {
    SCOPED_TRACE(name);
    QWidget* combo = widget(name);
    const QImage img = combo->grab().toImage();
    // The drop-down part, right of the text, inside the frame.
    const QRect dropDown(img.width() - 18, 3, 14, img.height() - 6);
    EXPECT_GE(darkBluePixels(img, dropDown), 8);
  }

  ui::Control music = c("组合框2");
  music.setWidth(92);
  music.setHeight(20);
  auto render = [&](const char* text) {
    music.setText(Text::fromUtf8(text));
    return widget("组合框2")->grab().toImage();
  };
  const QImage whole = render("中奖名单音乐.wav");
  EXPECT_NE(whole, render("中奖名单音乐.wa"));  // the last letter is seen
  EXPECT_NE(whole, render("中奖名单音乐"));
  EXPECT_EQ(music.text(), "中奖名单音乐"_t);  // the text itself is unchanged

  ui::Control id = c("编辑框1");
  auto* edit = static_cast<QLineEdit*>(widget("编辑框1"));
  auto shownStart = [&](const char* text) {
    id.setText(Text::fromUtf8(text));
    return edit->grab().toImage();
  };
  const QImage start = shownStart("110101199001011234");
  EXPECT_NE(start, shownStart("910101199001011234"));  // the first digit is seen
  EXPECT_EQ(edit->cursorPosition(), 0);
  // Typed to its end and left: the start is shown again.
  edit->setFocus();
  edit->end(false);
  widget("编辑框5")->setFocus();
  EXPECT_EQ(edit->cursorPosition(), 0);
  ui::setFlatLook(0);
}

TEST_F(Controls, DeclaredTextsAndTimerSwitch) {
  EXPECT_EQ(win.caption(), "控件"_t);
  ui::Window main("MainWindow");
  main.open();
  EXPECT_EQ(main.ctl("超级按钮1").caption(), "最小化"_t);
  EXPECT_FALSE(main.ctl("超级按钮1").picture().empty());
  // On the test clock the timer ticks once per interval, and not when off.
  ui::testing::useTestClock(true);
  main.ctl("时钟1").setTimerEnabled(false);
  EXPECT_FALSE(main.ctl("时钟1").enabled());
  log().clear();
  ui::waitPumping(40);
  EXPECT_EQ(count("OnClockTick"), 0);
  main.ctl("时钟1").setInterval(5);
  main.ctl("时钟1").setTimerEnabled(true);
  EXPECT_TRUE(main.ctl("时钟1").enabled());
  ui::waitPumping(40);
  EXPECT_EQ(count("OnClockTick"), 8);
  main.ctl("时钟1").setInterval(0);  // never fires: stopped
  EXPECT_FALSE(main.ctl("时钟1").enabled());
  ui::waitPumping(40);
  EXPECT_EQ(count("OnClockTick"), 8);
  // Back on the real clock the running timer keeps ticking.
  main.ctl("时钟1").setInterval(5);
  main.ctl("时钟1").setTimerEnabled(true);
  ui::testing::useTestClock(false);
  EXPECT_TRUE(main.ctl("时钟1").enabled());
  EXPECT_TRUE(testwait::pumpUntil([] { return count("OnClockTick") >= 10; }));
}

TEST_F(Controls, LabelsPaintShadowAndBackground) {
  ui::Window main("MainWindow");
  main.open();
  QWidget* label = ui::testing::controlWidget("MainWindow", "标签1");
  QImage img = label->grab().toImage();
  EXPECT_EQ(img.pixel(1, 1), qRgb(0, 0, 0));  // its black background
  main.ctl("标签1").setEnabled(false);
  EXPECT_TRUE(label->testAttribute(Qt::WA_TransparentForMouseEvents));
  main.ctl("标签1").setEnabled(true);
  EXPECT_FALSE(label->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(Controls, PictureBoxKeepsBytesAsGiven) {
  ui::Window main("MainWindow");
  main.open();
  ui::Control box = main.ctl("图片框1");
  ui::Bytes declared = box.picture();
  EXPECT_FALSE(declared.empty());
  ui::Bytes other{0x89, 'P', 'N', 'G', 0, 1};
  box.setPicture(other);
  EXPECT_EQ(box.picture(), other);
  box.setPicture({});
  EXPECT_TRUE(box.picture().empty());
  main.destroy();
  ui::processPendingOnce();
  EXPECT_TRUE(box.picture().empty());  // closed: nothing to read
  main.open();
  EXPECT_EQ(box.picture(), declared);
}

TEST_F(Controls, PopupMenuChoosesFitsAndRunsTheClickAfterwards) {
  ui::Window main("MainWindow");
  main.open();
  ui::testing::queueMenuChoice("废奖&补奖"_t);
  main.popupMenu(0, ui::screenHeight() - 2);
  EXPECT_EQ(count("OnMenuVoid"), 0);  // the command arrives after the menu closed
  ui::processPendingOnce();
  EXPECT_EQ(count("OnMenuVoid"), 1);
  EXPECT_LT(ui::testing::lastPopupPosition().y(), ui::screenHeight() - 2);
  EXPECT_GE(ui::testing::lastPopupPosition().y(), 0);
  // A hidden or disabled item cannot be chosen; no choice runs nothing.
  ui::testing::queueMenuChoice("退出"_t);
  main.popupMenu(10, 10);
  ui::testing::queueMenuChoice("隐藏"_t);
  main.popupMenu(10, 10);
  main.popupMenu(10, 10);
  ui::processPendingOnce();
  EXPECT_EQ(count("OnMenuStart"), 0);
  EXPECT_EQ(ui::testing::lastPopupPosition(), QPoint(10, 10));
}

// --- The styled pop-up menu --------------------------------------------------------------

// A window with a styled menu, written into a folder of its own with the test
// pictures, so each case can declare the style differently.
class MenuStyle : public ::testing::Test {
 protected:
  static constexpr const char* kMenu = R"(
    "menu": [
      { "caption": "文件", "level": 0, "visible": false },
      { "caption": "开始", "level": 1, "events": { "click": "OnMenuStart" } },
      { "caption": "-", "level": 1 },
      { "caption": "隐藏", "level": 1, "visible": false },
      { "caption": "废奖&&补奖", "level": 1, "events": { "click": "OnMenuVoid" } },
      { "caption": "-", "level": 1 },
      { "caption": "退出", "level": 1 }
    ])";
  static constexpr const char* kColors =
      R"([[250, 240, 220], [10, 20, 120], [255, 200, 60], [100, 0, 0], [0, 128, 0], [170, 0, 0]])";

  void SetUp() override {
    ui::initRuntime();
    registerLoggingHandlers();
    ui::testing::enableScripting(true);
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("pictures"));
    // Icons of the size the menu shows, one plain colour each.
    for (auto [name, colour] : {std::pair{"red.png", Qt::red}, std::pair{"green.png", Qt::green},
                                std::pair{"blue.png", Qt::blue}}) {
      QImage icon(16, 16, QImage::Format_RGB32);
      icon.fill(colour);
      ASSERT_TRUE(icon.save(dir.filePath(QString("pictures/") + name)));
    }
    QFile junk(dir.filePath("pictures/junk.png"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture");
  }
  void TearDown() override {
    ui::unloadForms();
    ui::testing::enableScripting(false);
    log().clear();
  }
  // Writes the window with these controls and loads the folder.
  bool load(const std::string& controls, std::string* error) {
    QFile f(dir.filePath("Styled.json"));
    if (!f.open(QIODevice::WriteOnly)) return false;
    std::string json = std::string(R"({"name": "StyledWindow", "width": 200, "height": 100,)") +
                       kMenu + R"(, "controls": [)" + controls + "]}";
    f.write(json.data(), static_cast<qint64>(json.size()));
    f.close();
    return ui::loadForms(dir.path().toStdString(), error);
  }

  QTemporaryDir dir;
};

// What the shown menu looked like, seen from inside its loop.
struct ShownMenu {
  std::vector<std::string> texts;  // "-" for a separator
  std::vector<QRgb> icons;         // the icon's colour, 0 for none
  QImage plain, highlighted;       // the first item highlighted
  std::vector<QRect> rows;
  int height = 0;
};

ShownMenu showMenu(ui::Window& w, int x, int y) {
  ShownMenu shown;
  ui::testing::queueDuringDialog([&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions()) {
      shown.texts.push_back(a->isSeparator() ? "-" : a->text().toStdString());
      shown.icons.push_back(a->icon().isNull() ? 0 : a->icon().pixmap(16).toImage().pixel(0, 0));
      shown.rows.push_back(menu->actionGeometry(a));
    }
    shown.height = menu->height();
    shown.plain = menu->grab().toImage();
    menu->setActiveAction(menu->actions().front());
    shown.highlighted = menu->grab().toImage();
  });
  w.popupMenu(x, y);
  return shown;
}

int distance(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
         std::abs(qBlue(a) - qBlue(b));
}

// The ink of the text in the row: the pixel farthest from the row's ground
// (the strokes are antialiased, so close to the text colour, not always on it).
QRgb ink(const QImage& img, const QRect& row, QRgb ground) {
  QRgb best = ground;
  for (int y = row.top(); y <= row.bottom(); ++y)
    for (int x = row.left(); x <= row.right(); ++x)
      if (distance(img.pixel(x, y), ground) > distance(best, ground)) best = img.pixel(x, y);
  return best;
}

TEST_F(MenuStyle, IconsAndColoursOnTheRightItems) {
  std::string error;
  ASSERT_TRUE(load(std::string(R"({"name": "超级菜单1", "type": "menuStyle", "colors": )") +
                       kColors +
                       R"(, "icons": ["pictures/red.png", "pictures/green.png",
                                      "pictures/blue.png"]})",
                   &error))
      << error;
  ui::Window w("StyledWindow");
  ASSERT_TRUE(w.open());
  ShownMenu m = showMenu(w, 0, ui::screenHeight() - 2);
  // The hidden item keeps its icon (green) to itself; the last item has none.
  ASSERT_EQ(m.texts, (std::vector<std::string>{"开始", "-", "废奖&&补奖", "-", "退出"}));
  EXPECT_EQ(m.icons, (std::vector<QRgb>{qRgb(255, 0, 0), 0, qRgb(0, 0, 255), 0, 0}));
  ASSERT_FALSE(m.plain.isNull());
  const int right = m.rows[0].right() - 2;
  for (int i : {0, 2, 4}) {
    SCOPED_TRACE(i);
    int cy = m.rows[i].center().y();
    EXPECT_EQ(m.plain.pixel(2, cy), qRgb(170, 0, 0));  // the icon band, both sides of the icon
    EXPECT_EQ(m.plain.pixel(23, cy), qRgb(170, 0, 0));
    EXPECT_EQ(m.plain.pixel(right, cy), qRgb(250, 240, 220));  // the background
    EXPECT_LT(distance(ink(m.plain, m.rows[i].adjusted(30, 0, 0, 0), qRgb(250, 240, 220)),
                       qRgb(10, 20, 120)),
              60);
  }
  for (int i : {1, 3})
    EXPECT_EQ(m.plain.pixel(m.plain.width() / 2, m.rows[i].center().y()), qRgb(0, 128, 0));
  // The highlighted item takes the highlight colours; the others keep theirs.
  EXPECT_EQ(m.highlighted.pixel(right, m.rows[0].center().y()), qRgb(255, 200, 60));
  EXPECT_LT(distance(ink(m.highlighted, m.rows[0].adjusted(30, 0, 0, 0), qRgb(255, 200, 60)),
                     qRgb(100, 0, 0)),
            60);
  EXPECT_EQ(m.highlighted.pixel(right, m.rows[2].center().y()), qRgb(250, 240, 220));
  // The styled menu still fits on the screen and runs its command afterwards.
  EXPECT_LE(ui::testing::lastPopupPosition().y() + m.height, ui::screenHeight());
  ui::testing::queueMenuChoice("废奖&补奖"_t);
  w.popupMenu(10, 10);
  EXPECT_EQ(count("OnMenuVoid"), 0);
  ui::processPendingOnce();
  EXPECT_EQ(count("OnMenuVoid"), 1);
}

TEST_F(MenuStyle, IconsWithoutColoursKeepThePlainLook) {
  std::string error;
  ASSERT_TRUE(
      load(R"({"name": "超级菜单1", "type": "menuStyle", "icons": ["pictures/red.png"]})", &error))
      << error;
  ui::Window w("StyledWindow");
  ASSERT_TRUE(w.open());
  ShownMenu m = showMenu(w, 10, 10);
  EXPECT_EQ(m.icons, (std::vector<QRgb>{qRgb(255, 0, 0), 0, 0, 0, 0}));
  ASSERT_FALSE(m.plain.isNull());
  EXPECT_NE(m.plain.pixel(2, m.rows[0].center().y()), qRgb(170, 0, 0));
}

struct BadStyle {
  const char* what;
  const char* controls;
  const char* message;  // part of the error
};

class MenuStyleErrors : public MenuStyle, public ::testing::WithParamInterface<BadStyle> {};

TEST_P(MenuStyleErrors, FailTheLoad) {
  std::string error;
  EXPECT_FALSE(load(GetParam().controls, &error));
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
  EXPECT_NE(error.find("超级菜单"), std::string::npos) << error;
  EXPECT_FALSE(ui::Window("StyledWindow").exists());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, MenuStyleErrors,
    ::testing::Values(
        BadStyle{"missing icon",
                 R"({"name": "超级菜单1", "type": "menuStyle",
                     "icons": ["pictures/red.png", "pictures/none.png"]})",
                 "missing picture"},
        BadStyle{"undecodable icon",
                 R"({"name": "超级菜单1", "type": "menuStyle", "icons": ["pictures/junk.png"]})",
                 "cannot be decoded"},
        BadStyle{"icon not a path", R"({"name": "超级菜单1", "type": "menuStyle", "icons": [3]})",
                 "a picture must be a path"},
        BadStyle{"icons not a list",
                 R"({"name": "超级菜单1", "type": "menuStyle", "icons": "pictures/red.png"})",
                 "\"icons\" must be a list"},
        BadStyle{"more icons than items",
                 R"({"name": "超级菜单1", "type": "menuStyle", "icons": ["pictures/red.png",
                     "pictures/red.png", "pictures/red.png", "pictures/red.png",
                     "pictures/red.png"]})",
                 "5 icons for 4 menu items"},
        BadStyle{"five colours",
                 R"({"name": "超级菜单1", "type": "menuStyle",
                     "colors": [[1, 2, 3], [1, 2, 3], [1, 2, 3], [1, 2, 3], [1, 2, 3]]})",
                 "six [r, g, b]"},
        BadStyle{"colour out of range",
                 R"({"name": "超级菜单1", "type": "menuStyle",
                     "colors": [[1, 2, 3], [1, 2, 3], [1, 2, 3], [1, 2, 3], [1, 2, 3], [1, 2, 256]]})",
                 "colour 6"},
        BadStyle{"icons on another type",
                 R"({"name": "超级菜单1", "type": "label", "icons": ["pictures/red.png"]})",
                 "belong to a menuStyle"},
        BadStyle{"two styles",
                 R"({"name": "超级菜单1", "type": "menuStyle"},
                    {"name": "超级菜单2", "type": "menuStyle"})",
                 "already has the menu style"}),
    [](const ::testing::TestParamInfo<BadStyle>& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST_F(Controls, FlatLookAppliesToTheApplication) {
  ui::setFlatLook(1);
  EXPECT_TRUE(ui::flatLookOn());
  EXPECT_FALSE(qApp->styleSheet().isEmpty());
  ui::setFlatLook(0);
  EXPECT_FALSE(ui::flatLookOn());
  EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

}  // namespace
