// Spreadsheet import and export of participants (inside maintenance/ and tests).
#pragma once

#include <iterator>

namespace maintenance {

// The columns the export writes, A onwards: the heading in row 1, the column
// of the participants list it takes its texts from, and the import preview
// column it is read back into. The import recognises an exported workbook by
// exactly these headings in row 1 (and nothing beside them), so a list goes
// out and comes back through this one table.
struct ExportColumn {
  const char* heading;  // UTF-8
  int listColumn;
  int previewColumn;
};
inline constexpr ExportColumn kExportColumns[] = {
    {"编号", 0, 0}, {"姓名", 1, 1}, {"电话号码", 2, 2}, {"身份证号码", 3, 3}, {"备注", 4, 5},
};
inline constexpr int kExportColumnCount = static_cast<int>(std::size(kExportColumns));

// Import: the participants window's 导入数据 button and ImportPreviewWindow.
void OnParticipantsImportButtonClick();
void OnImportPreviewCreated();
void OnImportPreviewImportButtonClick();
void OnImportPreviewCancelButtonClick();

// Export: the participants window's 导出数据 button.
void OnParticipantsExportButtonClick();
void ExportPersonnelToExcel();

}  // namespace maintenance
