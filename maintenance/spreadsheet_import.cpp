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
#include <string>
#include <vector>

#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "maintenance/spreadsheet_internal.h"
#include "model/records.h"
#include "platform/spreadsheet.h"
#include "platform/store.h"
#include "platform/ui.h"

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

ui::Window ImportPreview() { return ui::Window("ImportPreviewWindow"); }
ui::Control PreviewList() { return ImportPreview().ctl("超级列表框_导入预览"); }
ui::Control FileDialog() { return ParticipantsWindow().ctl("通用对话框_公用"); }

void SetStatus(const Text& t) { ImportPreview().ctl("状态条1").setStatusText(0, t); }

// The cell of column c (1-based) and sheet row r: "b2".
std::string CellAddress(int column, int row) {
  return std::string(1, static_cast<char>(96 + column)) + std::to_string(row);
}

// True while the import writes: a second press of either button, which the
// once-per-row message processing would let through, is not acted on.
bool gImporting = false;

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

  ui::Control list = PreviewList();
  bool readable = true;
  Text why;
  {
    // The application and its workbook are released when this block ends,
    // however the reading ends.
    spreadsheet::Application excel;
    spreadsheet::Workbook* book = excel.open(path.toUtf8());
    if (!book) {
      readable = false;
      why = excel.error();
    } else if (!book->selectSheet(1)) {
      readable = false;
      why = book->error();
    } else {
      const ColumnMap& layout = SheetLayout(*book);
      const int columns = static_cast<int>(layout.size());
      Text rowText = "1"_t;  // a seed that is not blank
      for (int r = 1; !model::removeSpaces(rowText).empty(); ++r) {
        ui::processPendingOnce();
        // Closed from its title bar while reading: stop, nothing is kept.
        if (!w.isOpen()) return;
        rowText = Text();
        const int sheetRow = r + 1;
        int previewRow = -1;
        for (int c = 1; c <= columns; ++c) {
          const Text cell = book->cellText(CellAddress(c, sheetRow));
          rowText += cell;
          if (model::removeSpaces(rowText).empty()) continue;
          if (previewRow < 0) previewRow = list.appendRow();
          list.setCell(previewRow, layout[static_cast<size_t>(c - 1)], cell);
        }
      }
    }
  }
  if (!readable) {
    // Nothing to import: only 取消 is offered, and the operator is told why.
    SetStatus("数据提取失败"_t);
    ui::messageBox("无法读取所选文件，未提取任何数据。\n"_t + why);
    w.ctl("按钮2").setEnabled(true);
    return;
  }
  SetStatus("数据提取完成"_t);
  w.ctl("按钮1").setEnabled(true);
  w.ctl("按钮2").setEnabled(true);
}

void OnImportPreviewImportButtonClick() {
  if (gImporting) return;
  ui::Window w = ImportPreview();
  ui::Control list = PreviewList();
  ui::Control bar = w.ctl("进度条1");
  gImporting = true;
  w.ctl("按钮1").setEnabled(false);
  w.ctl("按钮2").setEnabled(false);
  SetStatus("正在导入数据,请稍候..."_t);
  bar.setVisible(true);
  const int rows = list.rowCount();
  bar.setMaximum(rows);

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
    w.ctl("按钮1").setEnabled(true);
    w.ctl("按钮2").setEnabled(true);
    return;
  }
  SetStatus("数据导入完成"_t);
  ui::messageBox("数据导入成功！"_t, Text(), ui::kOk, ui::kInformationIcon);
  FillPersonnelList();
  w.destroy();
}

void OnImportPreviewCancelButtonClick() {
  if (gImporting) return;
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
