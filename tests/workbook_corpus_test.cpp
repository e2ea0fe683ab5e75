// The workbook corpus (tests/workbooks, made by tools/make_workbook_corpus.sh):
// every workbook is read through the import's reader and compared cell by
// cell, columns A to F down to the first blank row, with what LibreOffice
// shows for it (NAME.csv) - or refused with a message naming what
// NAME.refused names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/spreadsheet/spreadsheet.h"
#include "temp_files.h"

namespace fs = std::filesystem;

using fixture::readAll;

namespace {

// Cells where the reader shows, on purpose, something else than
// LibreOffice: file name (any file when empty), cell, the reader's text, why.
struct Difference {
  const char* file;
  const char* cell;
  const char* text;
  const char* reason;
};
const Difference kDifferences[] = {
    // Formulas giving a truth value: the .xls file holds the result as a
    // truth value, but LibreOffice drops the cell's boolean format when it
    // writes .xls and shows 1 / 0 on reading it back; the reader shows
    // TRUE / FALSE, as for the .xlsx of the same workbook.
    {"libreoffice_participants.xls", "b5", "TRUE", "formula truth value"},
    {"libreoffice_participants.xls", "a7", "FALSE", "formula truth value"},
    // An 18-digit identity number typed as a number, under General:
    // LibreOffice shows it with an exponent; a whole number is never shown
    // with one, so the reader writes out its 15 significant digits, as it
    // and LibreOffice do under "0" (d2 of libreoffice_long_numbers).
    {"", "d7", "110101199001011000", "whole numbers without exponent"},
    {"libreoffice_long_numbers.xlsx", "d3", "110101199001011000", "whole numbers without exponent"},
    {"libreoffice_long_numbers.xls", "d3", "110101199001011000", "whole numbers without exponent"},
    // A 16-digit number the .xls file holds exactly: LibreOffice shows
    // every digit; the reader shows 15 significant digits, as from the
    // .xlsx of the same workbook (where LibreOffice stored only 15).
    {"libreoffice_long_numbers.xls", "c5", "6222021234567900", "15 significant digits"},
    // Formulas whose file holds no result (openpyxl, xlwt) or a placeholder
    // 0 (XlsxWriter, which asks for a calculation on opening): LibreOffice
    // calculates the first two; the reader reads them empty and the
    // preview says so (kNotes below).
    {"openpyxl_formulas.xlsx", "b2", "", "formula without result"},
    {"openpyxl_formulas.xlsx", "c2", "", "formula without result"},
    {"openpyxl_formulas.xlsx", "b3", "", "formula without result"},
    {"openpyxl_formulas.xlsx", "c3", "", "formula without result"},
    {"xlwt_formulas.xls", "b2", "", "formula without result"},
    {"xlwt_formulas.xls", "c2", "", "formula without result"},
    {"xlwt_formulas.xls", "b3", "", "formula without result"},
    {"xlwt_formulas.xls", "c3", "", "formula without result"},
    {"xlsxwriter_formulas.xlsx", "b2", "", "formula without result"},
    {"xlsxwriter_formulas.xlsx", "c2", "", "formula without result"},
    {"xlsxwriter_formulas.xlsx", "b3", "", "formula without result"},
    {"xlsxwriter_formulas.xlsx", "c3", "", "formula without result"},
};

// What the reader notes of a file for the preview (files not named: nothing).
struct Noted {
  const char* file;
  std::vector<int> longNumberRows;
  int formulasWithoutResult;
};
const Noted kNotes[] = {
    {"libreoffice_participants.xlsx", {7}, 0},
    {"libreoffice_participants.xls", {7}, 0},
    {"gnumeric_participants.xlsx", {7}, 0},
    {"libreoffice_long_numbers.xlsx", {2, 3, 5}, 0},
    {"libreoffice_long_numbers.xls", {2, 3, 5}, 0},
    {"openpyxl_formulas.xlsx", {}, 4},
    {"xlwt_formulas.xls", {}, 4},
    {"xlsxwriter_formulas.xlsx", {}, 4},
};

// Rows of a CSV text as LibreOffice writes it: fields separated by commas,
// quoted with '"' when they hold a comma, a quote or a line break.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
      any = true;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(field);
      rows.push_back(row);
      row.clear();
      field.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any) {
    row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}

std::string address(int column, int row) {
  return std::string(1, static_cast<char>('a' + column - 1)) + std::to_string(row);
}

const Difference* knownDifference(const std::string& file, const std::string& cell) {
  for (const Difference& d : kDifferences)
    if ((!*d.file || file == d.file) && cell == d.cell) return &d;
  return nullptr;
}

TEST(WorkbookCorpus, EveryFileReadsAsLibreOfficeShowsIt) {
  const fs::path dir = fs::path(PD_SOURCE_DIR) / "tests" / "workbooks";
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string ext = e.path().extension().string();
    if (ext == ".xlsx" || ext == ".xls") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 13u);
  int matched = 0, withDifferences = 0;
  for (const fs::path& file : files) {
    const std::string name = file.filename().string();
    SCOPED_TRACE(name);
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.open(file.string());
    const fs::path refused = file.string() + ".refused";
    if (fs::exists(refused)) {
      // Refused, naming every line of NAME.refused.
      std::string why;
      if (!book)
        why = app.error().toUtf8();
      else if (!book->selectSheet(1))
        why = book->error().toUtf8();
      else
        ADD_FAILURE() << "read although it must be refused";
      const std::string expected = readAll(refused);
      size_t start = 0;
      while (start < expected.size()) {
        size_t end = expected.find('\n', start);
        if (end == std::string::npos) end = expected.size();
        const std::string line = expected.substr(start, end - start);
        if (!line.empty()) {
          EXPECT_NE(why.find(line), std::string::npos) << why;
        }
        start = end + 1;
      }
      ++matched;
      continue;
    }
    ASSERT_NE(book, nullptr) << app.error().toUtf8();
    ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
    const auto rows = parseCsv(readAll(file.string() + ".csv"));
    ASSERT_FALSE(rows.empty());
    bool same = true, known = false;
    // Rows as the import reads them: to the first blank row after row 1,
    // and blank from there on.
    bool ended = false;
    for (int r = 1; r <= static_cast<int>(rows.size()) + 2; ++r) {
      std::vector<std::string> expected(6);
      if (!ended && r <= static_cast<int>(rows.size())) {
        for (int c = 1; c <= 6 && c <= static_cast<int>(rows[r - 1].size()); ++c)
          expected[c - 1] = rows[r - 1][c - 1];
        if (r >= 2 && std::all_of(expected.begin(), expected.end(),
                                  [](const std::string& s) { return s.empty(); }))
          ended = true;
      }
      if (ended) expected.assign(6, std::string());
      for (int c = 1; c <= 6; ++c) {
        const std::string cell = address(c, r);
        const std::string got = book->cellText(cell).toUtf8();
        if (got == expected[c - 1]) continue;
        if (const Difference* d = knownDifference(name, cell); d && got == d->text) {
          known = true;
          continue;
        }
        same = false;
        ADD_FAILURE() << cell << ": read \"" << got << "\", LibreOffice shows \"" << expected[c - 1]
                      << "\"";
      }
    }
    Noted expected{name.c_str(), {}, 0};
    for (const Noted& n : kNotes)
      if (name == n.file) expected = n;
    EXPECT_EQ(book->notes().longNumberRows, expected.longNumberRows);
    EXPECT_EQ(book->notes().formulasWithoutResult, expected.formulasWithoutResult);
    if (same) ++matched;
    if (known) ++withDifferences;
  }
  std::cout << "workbook corpus: " << matched << " of " << files.size() << " files match ("
            << withDifferences << " with a known difference)\n";
}

}  // namespace
