// Spreadsheet export: the participant list as the participants window shows
// it (five columns) goes into a new workbook, sheet 1, row 1 the headings,
// every cell a text cell, saved where the operator chooses and then opened
// with the desktop's spreadsheet program.
//
// Workbooks are written as .xlsx only: the save dialog offers *.xlsx, and a
// name with another extension (.xls above all) is refused with a message
// rather than given bytes its name does not promise.
#include <cctype>
#include <string>
#include <vector>

#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "maintenance/spreadsheet_internal.h"
#include "platform/spreadsheet.h"
#include "platform/ui.h"

namespace maintenance {

using model::operator""_t;
using model::Text;

namespace {

constexpr int kExportColumns = 5;

Text Heading(int column) {
  switch (column) {
    case 1:
      return "编号"_t;
    case 2:
      return "姓名"_t;
    case 3:
      return "电话号码"_t;
    case 4:
      return "身份证号码"_t;
    default:
      return "备注"_t;
  }
}

std::string CellAddress(int column, int row) {
  return std::string(1, static_cast<char>(96 + column)) + std::to_string(row);
}

bool EndsWithXlsx(const std::string& path) {
  if (path.size() < 5) return false;
  std::string tail = path.substr(path.size() - 5);
  for (char& ch : tail) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return tail == ".xlsx";
}

// The participants window stays usable during an export and messages are
// processed after each row: a second press of 导出数据 meanwhile is ignored.
bool gExporting = false;

// Sets the text format, then the value, of one cell.
bool WriteTextCell(spreadsheet::Workbook* book, int column, int row, const Text& text) {
  const std::string address = CellAddress(column, row);
  return book->setNumberFormat(address, "@"_t) && book->setCellText(address, text);
}

}  // namespace

void OnParticipantsExportButtonClick() { ExportPersonnelToExcel(); }

void ExportPersonnelToExcel() {
  if (gExporting) return;
  ui::Control dialog = ParticipantsWindow().ctl("通用对话框_公用");
  dialog.setDialogSave(true);
  dialog.setFilter("*.xlsx|*.xlsx"_t);
  dialog.setDefaultExt("xlsx"_t);
  if (!dialog.showDialog()) return;
  const std::string path = dialog.fileName().toUtf8();
  if (!EndsWithXlsx(path)) {
    ui::messageBox("导出的文件为 xlsx 格式，请使用以 .xlsx 结尾的文件名！"_t);
    return;
  }
  gExporting = true;

  // The list as it stands now is what gets exported, even when a handler
  // running between two rows changes or closes it.
  ui::Control list = PersonnelList();
  std::vector<std::vector<Text>> rows(static_cast<size_t>(list.rowCount()));
  for (size_t k = 0; k < rows.size(); ++k)
    for (int c = 0; c < kExportColumns; ++c) rows[k].push_back(list.cell(static_cast<int>(k), c));

  ui::Window progress("ExportProgressWindow");
  ui::Window start("StartWindow");
  progress.open(false, &start);
  ui::Control bar = progress.ctl("进度条1");

  spreadsheet::Application excel;
  spreadsheet::Workbook* book = excel.add();
  bool written = book && book->selectSheet(1);
  for (int c = 1; c <= kExportColumns && written; ++c)
    written = WriteTextCell(book, c, 1, Heading(c));
  bar.setMaximum(static_cast<int>(rows.size()));
  for (size_t k = 1; k <= rows.size() && written; ++k) {
    ui::processPendingOnce();
    for (int c = 1; c <= kExportColumns && written; ++c)
      written = WriteTextCell(book, c, static_cast<int>(k) + 1, rows[k - 1][c - 1]);
    if (progress.isOpen()) bar.setPosition(bar.position() + 1);
  }
  if (progress.isOpen()) progress.destroy();
  Text why = book ? book->error() : excel.error();
  if (written) {
    written = book->saveAs(path);
    why = book->error();
  }
  excel.quit();
  gExporting = false;
  if (!written) {
    ui::messageBox("导出失败！\n"_t + why);
    return;
  }
  ui::messageBox("导出成功!"_t, Text(), ui::kOk, ui::kInformationIcon);
  ui::shellOpen(path, "open");
}

}  // namespace maintenance
