// BIFF workbooks (.xls), read with FreeXL.
#include <freexl.h>

#include <string>

#include "platform/spreadsheet_source.h"

namespace spreadsheet::detail {

using model::operator""_t;

namespace {

class XlsSource : public SheetSource {
 public:
  ~XlsSource() override {
    if (handle_) freexl_close(handle_);
  }

  bool open(const std::string& path, Text* error) {
    const int rc = freexl_open(path.c_str(), &handle_);
    if (rc != FREEXL_OK) {
      if (handle_) freexl_close(handle_);
      handle_ = nullptr;
      *error = "文件不是有效的 xls 工作簿"_t;
      return false;
    }
    unsigned int count = 0;
    if (freexl_get_info(handle_, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0) {
      *error = "工作簿中没有工作表"_t;
      return false;
    }
    sheets_ = static_cast<int>(count);
    return true;
  }

  int sheetCount() const override { return sheets_; }

  bool readSheet(int index, CellMap* cells, Text* error) override {
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(handle_, static_cast<unsigned short>(index)) != FREEXL_OK ||
        freexl_worksheet_dimensions(handle_, &rows, &columns) != FREEXL_OK) {
      *error = "无法读取工作表"_t;
      return false;
    }
    for (unsigned int r = 0; r < rows && r < 1048576; ++r) {
      for (unsigned short c = 0; c < columns && c < 16384; ++c) {
        FreeXL_CellValue v;
        if (freexl_get_cell_value(handle_, r, c, &v) != FREEXL_OK) {
          *error = "工作表内容损坏"_t;
          return false;
        }
        std::string text;
        switch (v.type) {
          case FREEXL_CELL_INT:
            text = std::to_string(v.value.int_value);
            break;
          case FREEXL_CELL_DOUBLE:
            text = numberText(v.value.double_value);
            break;
          case FREEXL_CELL_TEXT:
          case FREEXL_CELL_SST_TEXT:
          case FREEXL_CELL_DATE:
          case FREEXL_CELL_DATETIME:
          case FREEXL_CELL_TIME:
            if (v.value.text_value) text = v.value.text_value;
            break;
          default:
            break;
        }
        if (!text.empty())
          (*cells)[cellKey(static_cast<int>(r) + 1, static_cast<int>(c) + 1)] =
              Text::fromUtf8(text);
      }
    }
    return true;
  }

 private:
  const void* handle_ = nullptr;
  int sheets_ = 0;
};

}  // namespace

std::unique_ptr<SheetSource> openXls(const std::string& path, Text* error) {
  auto source = std::make_unique<XlsSource>();
  if (!source->open(path, error)) return nullptr;
  return source;
}

}  // namespace spreadsheet::detail
