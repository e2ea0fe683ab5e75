// Spreadsheet import: the operator picks a workbook, its first sheet is read
// into the preview list of ImportPreviewWindow, and on confirmation every
// preview row is appended to the current store (the participant store while
// the participants window is open).
//
// Sheet layout: row 1 holds headings and is not read; data rows start at row
// 2; columns A to F are 编号, 姓名, 电话号码, 身份证号码, 图片文件, 备注. The
// reading stops at the first blank row (only ASCII and full-width spaces).
//
// A workbook written by the export (row 1: exactly 编号, 姓名, 电话号码,
// 身份证号码, 备注 in A to E and nothing in F) is read in the export's own
// layout instead: column E is 备注 and there is no 图片文件, so an exported
// list comes back as it went out.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "forms/names.h"
#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "maintenance/spreadsheet_internal.h"
#include "model/records.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace maintenance {

using model::operator""_t;
using model::Text;

namespace {

constexpr int kImportColumns = 6;

// The record field of each sheet column, A to F.
Text fieldOfColumn(int column) {
  switch (column) {
    case 1:
      return model::person::编号();
    case 2:
      return model::person::姓名();
    case 3:
      return model::person::电话号码();
    case 4:
      return model::person::身份证号码();
    case 5:
      return model::person::图片文件();
    default:
      return model::person::备注();
  }
}

// The preview column (0-based) that each sheet column, A onwards, is read
// into.
using ColumnMap = std::vector<int>;
const ColumnMap kSixColumns = {0, 1, 2, 3, 4, 5};

// The export's layout when row 1 holds exactly its headings, A onwards, and
// nothing in the columns after them up to F; else the six columns.
const ColumnMap& SheetLayout(const spreadsheet::Workbook& book) {
  static const ColumnMap exported = [] {
    ColumnMap m;
    for (const ExportColumn& c : kExportColumns) m.push_back(c.previewColumn);
    return m;
  }();
  for (int c = 1; c <= kImportColumns; ++c) {
    const Text expected =
        c <= kExportColumnCount ? Text::fromUtf8(kExportColumns[c - 1].heading) : Text();
    if (book.cellText(std::string(1, static_cast<char>(96 + c)) + "1") != expected)
      return kSixColumns;
  }
  return exported;
}

ui::Window ImportPreview() { return ui::Window(forms::ImportPreviewWindow::window); }
ui::Control PreviewList() { return ui::Control(forms::ImportPreviewWindow::超级列表框_导入预览); }
ui::Control FileDialog() { return ui::Control(forms::ParticipantsWindow::通用对话框_公用); }

void SetStatus(const Text& t) {
  ui::Control(forms::ImportPreviewWindow::状态条1).setStatusText(0, t);
}

// The cell of column c (1-based) and sheet row r: "b2".
std::string CellAddress(int column, int row) {
  return std::string(1, static_cast<char>(96 + column)) + std::to_string(row);
}

// True while the import writes: a second press of either button, which the
// once-per-row message processing would let through, is not acted on.
bool gImporting = false;
// The application reading the chosen workbook on a thread of its own, while
// it does: 取消 stops it.
spreadsheet::Application* gReading = nullptr;

// Rows listed by number in a message at most; more are counted.
constexpr size_t kRowsNamed = 10;

// "第 2、5、7 行" for the rows given (sheet rows), the first kRowsNamed of them.
Text RowList(const std::vector<int>& rows) {
  Text out = "第 "_t;
  for (size_t i = 0; i < rows.size() && i < kRowsNamed; ++i)
    out += (i ? "、"_t : Text()) + model::numberToText(static_cast<long long>(rows[i]));
  if (rows.size() > kRowsNamed)
    out += " 等 "_t + model::numberToText(static_cast<long long>(rows.size())) + " 行"_t;
  else
    out += " 行"_t;
  return out;
}

// What the operator should know of the sheet read, as one message; empty
// when there is nothing to say. Only rows that reach the preview count.
Text SheetWarnings(const spreadsheet::SheetNotes& notes, int lastRow) {
  std::vector<int> longRows;
  for (int r : notes.longNumberRows)
    if (r >= 2 && r <= lastRow) longRows.push_back(r);
  Text out;
  if (!longRows.empty())
    out += RowList(longRows) +
           "有超过 15 位的数字。电子表格只保存 15 位有效数字，第 15 位之后已变为 0，"
           "原来的数字在保存工作簿时就已丢失。请在电子表格程序中把这一列设为文本格式，"
           "重新输入这些号码后再导入。"_t;
  if (notes.formulasWithoutResult > 0) {
    if (!out.empty()) out += "\n\n"_t;
    out += "有 "_t + model::numberToText(static_cast<long long>(notes.formulasWithoutResult)) +
           " 个公式单元格在文件中没有计算结果（写出该文件的程序没有计算公式），"
           "读作空白。请先用电子表格程序打开该工作簿并保存，再重新导入，即可读到公式的值。"_t;
  }
  return out;
}

// Opens the workbook at path and reads its first sheet on a thread of its
// own, the window's status counting the rows meanwhile; the window stays
// responsive and 取消 (or closing it) stops the reading. False when the
// window was closed meanwhile, else *book is the workbook read or nullptr
// with the reason in *why.
bool ReadBeside(spreadsheet::Application* excel, const Text& path, spreadsheet::Workbook** book,
                Text* why) {
  ui::Window w = ImportPreview();
  ui::Control bar = ui::Control(forms::ImportPreviewWindow::进度条1);
  bar.setMaximum(0);  // no end known: the bar shows that work goes on
  bar.setVisible(true);
  *book = nullptr;
  gReading = excel;
  ui::runBeside(
      [&](const std::function<void()>& nudge) {
        excel->onProgress(nudge);
        spreadsheet::Workbook* opened = excel->open(path.toUtf8());
        if (!opened)
          *why = excel->error();
        else if (!opened->selectSheet(1))
          *why = opened->error();
        else
          *book = opened;
        excel->onProgress(nullptr);  // the nudge ends with this work
      },
      [&] {
        if (!w.isOpen()) {
          excel->cancel();
          return;
        }
        SetStatus("正在提取数据,请稍候...（已读到第 "_t +
                  model::numberToText(static_cast<long long>(excel->rowsRead())) + " 行）"_t);
      });
  gReading = nullptr;
  if (!w.isOpen() || excel->cancelled()) return false;
  bar.setVisible(false);
  return true;
}

}  // namespace

void OnParticipantsImportButtonClick() {
  ui::Control dialog = FileDialog();
  dialog.setDialogSave(false);
  // Both workbook formats are read, whatever the declared filter offers.
  dialog.setFilter("*.xls;*.xlsx|*.xls;*.xlsx"_t);
  dialog.setDefaultExt("xls"_t);
  if (!dialog.showDialog()) return;
  ImportPreview().open(true);
}

void OnImportPreviewCreated() {
  ui::Window w = ImportPreview();
  w.setVisible(true);
  SetStatus("正在提取数据,请稍候..."_t);
  const Text path = FileDialog().fileName();
  w.setCaption("数据导入（"_t + path + "）"_t);

  // 取消 acts while the sheet is read.
  ui::Control(forms::ImportPreviewWindow::按钮2).setEnabled(true);

  ui::Control list = PreviewList();
  // The application and its workbook are released when this function ends,
  // however the reading ends.
  spreadsheet::Application excel;
  spreadsheet::Workbook* book = nullptr;
  Text why;
  if (!ReadBeside(&excel, path, &book, &why)) return;  // closed: nothing is kept
  if (!book) {
    // Nothing to import: only 取消 is offered, and the operator is told why.
    SetStatus("数据提取失败"_t);
    ui::messageBox("无法读取所选文件，未提取任何数据。\n"_t + why);
    return;
  }
  const ColumnMap& layout = SheetLayout(*book);
  const int columns = static_cast<int>(layout.size());
  ui::Control bar = ui::Control(forms::ImportPreviewWindow::进度条1);
  bar.setMaximum(std::max(excel.rowsRead() - 1, 1));
  bar.setPosition(0);
  bar.setVisible(true);
  Text rowText = "1"_t;  // a seed that is not blank
  int sheetRow = 1;
  for (int r = 1; !model::removeSpaces(rowText).empty(); ++r) {
    ui::processPendingOnce();
    // Closed from its title bar or by 取消 while filling: stop, nothing is kept.
    if (!w.isOpen()) return;
    rowText = Text();
    sheetRow = r + 1;
    int previewRow = -1;
    for (int c = 1; c <= columns; ++c) {
      const Text cell = book->cellText(CellAddress(c, sheetRow));
      rowText += cell;
      if (model::removeSpaces(rowText).empty()) continue;
      if (previewRow < 0) previewRow = list.appendRow();
      list.setCell(previewRow, layout[static_cast<size_t>(c - 1)], cell);
    }
    bar.setPosition(r);
  }
  bar.setVisible(false);
  const Text warnings = SheetWarnings(book->notes(), sheetRow);
  // A damaged file read in part: why, and how many rows could be read.
  const Text damaged = book->warning();
  if (!damaged.empty())
    SetStatus(damaged);
  else if (list.rowCount() == 0)
    SetStatus("数据提取完成：没有可导入的数据"_t);
  else
    SetStatus("数据提取完成"_t);
  ui::Control(forms::ImportPreviewWindow::按钮1).setEnabled(true);
  if (!damaged.empty()) ui::messageBox(damaged);
  if (!warnings.empty()) ui::messageBox(warnings, "数据导入"_t);
}

void OnImportPreviewImportButtonClick() {
  if (gImporting) return;
  ui::Window w = ImportPreview();
  ui::Control list = PreviewList();
  ui::Control bar = ui::Control(forms::ImportPreviewWindow::进度条1);
  gImporting = true;
  ui::Control(forms::ImportPreviewWindow::按钮1).setEnabled(false);
  ui::Control(forms::ImportPreviewWindow::按钮2).setEnabled(false);
  SetStatus("正在导入数据,请稍候..."_t);
  bar.setVisible(true);
  const int rows = list.rowCount();
  bar.setMaximum(rows);
  if (rows == 0) {
    // Nothing would be added: say so, rather than report a success.
    gImporting = false;
    bar.setVisible(false);
    SetStatus("没有可导入的数据"_t);
    ui::messageBox(
        "没有可导入的数据：工作表第 2 行是空行。第 1 行是标题，数据从第 2 行读起，"
        "读到第一个空行为止。未导入任何记录。"_t);
    w.destroy();
    return;
  }

  // The rows are appended all or nothing: a store that refuses a write, or a
  // window closed halfway, leaves the store as it was.
  const Text alias = store::currentAlias();
  bool written = true;
  bool closed = false;
  {
    store::Transaction tx;
    for (int r = 1; r <= rows && written; ++r) {
      written = store::append({});
      for (int c = 1; c <= kImportColumns && written; ++c)
        written = store::write(fieldOfColumn(c), list.cell(r - 1, c - 1));
      if (!written) break;
      SetStatus("正在导入..."_t);
      bar.setPosition(r);
      ui::processPendingOnce();
      if (!w.isOpen()) {
        closed = true;
        break;
      }
      // A handler that ran meanwhile may have made another store current.
      store::select(alias);
    }
    if (written && !closed) written = tx.commit();
    if (!written || closed) tx.rollback();
  }
  gImporting = false;
  if (closed) {
    ui::messageBox("导入窗口已关闭，未导入任何数据。"_t);
    return;
  }
  bar.setVisible(false);
  if (!written) {
    SetStatus("数据导入失败"_t);
    ui::messageBox("数据导入失败，未导入任何数据，请重试！"_t);
    ui::Control(forms::ImportPreviewWindow::按钮1).setEnabled(true);
    ui::Control(forms::ImportPreviewWindow::按钮2).setEnabled(true);
    return;
  }
  SetStatus("数据导入完成"_t);
  ui::messageBox("数据导入成功！"_t, Text(), ui::kOk, ui::kInformationIcon);
  FillPersonnelList();
  w.destroy();
}

void OnImportPreviewCancelButtonClick() {
  if (gImporting) return;
  if (gReading) gReading->cancel();
  ImportPreview().destroy();
}

void registerSpreadsheetHandlers() {
  ui::registerHandler("OnParticipantsImportButtonClick", &OnParticipantsImportButtonClick);
  ui::registerHandler("OnImportPreviewCreated", &OnImportPreviewCreated);
  ui::registerHandler("OnImportPreviewImportButtonClick", &OnImportPreviewImportButtonClick);
  ui::registerHandler("OnImportPreviewCancelButtonClick", &OnImportPreviewCancelButtonClick);
  ui::registerHandler("OnParticipantsExportButtonClick", &OnParticipantsExportButtonClick);
}

}  // namespace maintenance
