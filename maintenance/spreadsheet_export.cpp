// Spreadsheet export: the participant list as the participants window shows
// it (five columns) goes into a new workbook, sheet 1, row 1 the headings,
// every cell a text cell, saved where the operator chooses and then opened
// with the desktop's spreadsheet program.
//
// Workbooks are written as .xlsx only: the save dialog offers *.xlsx, and a
// name typed with another ending is saved as .xlsx rather than refused or
// given bytes its name does not promise: 名单.xls is saved as 名单.xlsx, any
// other name gets .xlsx added. The success message names the file written.
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "forms/names.h"
#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "maintenance/spreadsheet_internal.h"
#include "model/text.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "platform/ui/ui.h"

namespace maintenance {

using model::operator""_t;
using model::Text;

namespace {

std::string CellAddress(int column, int row) {
  return std::string(1, static_cast<char>(96 + column)) + std::to_string(row);
}

bool EndsWithIgnoringCase(const std::string& path, const std::string& ending) {
  if (path.size() < ending.size()) return false;
  for (size_t i = 0; i < ending.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(path[path.size() - ending.size() + i])) !=
        ending[i])
      return false;
  return true;
}

// The name the workbook is saved under: the chosen one when it ends in .xlsx;
// .xls replaced by .xlsx; otherwise .xlsx added.
std::string XlsxName(const std::string& chosen) {
  if (EndsWithIgnoringCase(chosen, ".xlsx")) return chosen;
  if (EndsWithIgnoringCase(chosen, ".xls")) return chosen.substr(0, chosen.size() - 4) + ".xlsx";
  return chosen + ".xlsx";
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
  ui::Control dialog = ui::Control(forms::ParticipantsWindow::通用对话框_公用);
  dialog.setDialogSave(true);
  dialog.setFilter("*.xlsx|*.xlsx"_t);
  dialog.setDefaultExt("xlsx"_t);
  if (!dialog.showDialog()) return;
  const std::string chosen = dialog.fileName().toUtf8();
  const std::string path = XlsxName(chosen);
  // The dialog asked about replacing the name chosen, not this one.
  if (path != chosen && std::filesystem::exists(path) &&
      ui::messageBox("文件“"_t + Text::fromUtf8(path) + "”已存在，要替换它吗？"_t, Text(),
                     ui::kOkCancel) != ui::kResultOk)
    return;
  gExporting = true;

  // The list as it stands now is what gets exported, even when a handler
  // running between two rows changes or closes it.
  ui::Control list = PersonnelList();
  std::vector<std::vector<Text>> rows(static_cast<size_t>(list.rowCount()));
  for (size_t k = 0; k < rows.size(); ++k)
    for (const ExportColumn& column : kExportColumns)
      rows[k].push_back(list.cell(static_cast<int>(k), column.listColumn));

  ui::Window progress(forms::ExportProgressWindow::window);
  ui::Window start(forms::StartWindow::window);
  progress.open(false, &start);
  ui::Control bar = ui::Control(forms::ExportProgressWindow::进度条1);

  spreadsheet::Application excel;
  spreadsheet::Workbook* book = excel.add();
  bool written = book && book->selectSheet(1);
  for (int c = 1; c <= kExportColumnCount && written; ++c)
    written = WriteTextCell(book, c, 1, Text::fromUtf8(kExportColumns[c - 1].heading));
  bar.setMaximum(static_cast<int>(rows.size()));
  int sheetRow = 1;
  for (size_t k = 0; k < rows.size() && written; ++k) {
    ui::processPendingOnce();
    // A participant whose five texts are empty or spaces would make a row
    // that the import takes for the blank row ending the list: every
    // participant after it would be lost on the way back. Such a record
    // holds nothing the export writes, so it is left out.
    Text rowText;
    for (const Text& t : rows[k]) rowText += t;
    if (!model::removeSpaces(rowText).empty()) {
      ++sheetRow;
      for (int c = 1; c <= kExportColumnCount && written; ++c)
        written = WriteTextCell(book, c, sheetRow, rows[k][c - 1]);
    }
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
  ui::messageBox("导出成功!\n"_t + Text::fromUtf8(path), Text(), ui::kOk, ui::kInformationIcon);
  ui::shellOpen(path, "open");
}

}  // namespace maintenance
