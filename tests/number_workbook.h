// A workbook of many number cells under one number format, written as a
// spreadsheet program stores numbers (libzip; no program of this project
// writes number cells): headings in row 1, then `rows` rows of six numbers,
// each cell styled with the format `code`.
#pragma once

#include <string>

#include "zip_parts.h"

namespace fixture {

inline bool writeNumberWorkbook(const std::string& path, int rows, const std::string& code) {
  const std::string ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  std::string sheet =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet " + ns + "><sheetData><row r=\"1\">";
  for (const char* h : {"编号", "姓名", "电话号码", "身份证号码", "图片文件", "备注"})
    sheet += std::string("<c t=\"inlineStr\"><is><t>") + h + "</t></is></c>";
  sheet += "</row>";
  sheet.reserve(sheet.size() + static_cast<size_t>(rows) * 160);
  for (int r = 1; r <= rows; ++r) {
    sheet += "<row>";
    for (int c = 0; c < 6; ++c)
      sheet += "<c s=\"1\"><v>" + std::to_string(13800000000LL + r * 6LL + c) + "</v></c>";
    sheet += "</row>";
  }
  sheet += "</sheetData></worksheet>";
  const ZipParts parts = {
      {"[Content_Types].xml",
       "<?xml version=\"1.0\"?><Types "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
      {"_rels/.rels",
       "<?xml version=\"1.0\"?><Relationships "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
       "Id=\"rId1\" Type=\"" +
           rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", "<?xml version=\"1.0\"?><workbook " + ns + " xmlns:r=\"" + rel +
                              "\"><sheets><sheet name=\"S\" sheetId=\"1\" "
                              "r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<?xml version=\"1.0\"?><Relationships "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
       "Id=\"rId1\" Type=\"" +
           rel +
           "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" +
           rel + "/styles\" Target=\"styles.xml\"/></Relationships>"},
      {"xl/styles.xml", "<?xml version=\"1.0\"?><styleSheet " + ns +
                            "><numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"" + code +
                            "\"/></numFmts><cellXfs count=\"2\"><xf numFmtId=\"0\"/><xf "
                            "numFmtId=\"164\"/></cellXfs></styleSheet>"},
      {"xl/worksheets/sheet1.xml", sheet},
  };
  return writeZipParts(path, parts);
}

}  // namespace fixture
