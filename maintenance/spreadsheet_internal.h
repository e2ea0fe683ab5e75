// Spreadsheet import and export of participants (inside maintenance/ and tests).
#pragma once

namespace maintenance {

// Import: the participants window's 导入数据 button and ImportPreviewWindow.
void OnParticipantsImportButtonClick();
void OnImportPreviewCreated();
void OnImportPreviewImportButtonClick();
void OnImportPreviewCancelButtonClick();

// Export: the participants window's 导出数据 button.
void OnParticipantsExportButtonClick();
void ExportPersonnelToExcel();

}  // namespace maintenance
