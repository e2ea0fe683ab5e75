// Fuzz target for the workbook readers (libFuzzer). Each input is written to
// a scratch file and opened as the import opens a workbook; every sheet is
// read. PD_FUZZ_FORMAT=xls or xlsx hands every input to that reader alone
// (the file's first bytes would send nearly every mutated input to neither);
// PD_FUZZ_FORMAT=biff takes the input as a workbook stream and packs it into
// a sound compound file first, so that the mutations reach the records
// rather than break the container; without it the input goes where its
// first bytes send it.
//
// Beyond the sanitizers' checks, an input fails when a reader breaks its
// contract: a refusal without a reason, a cell outside columns A to F, an
// empty cell kept, or a gap of rows in what it read.
#include <algorithm>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/spreadsheet/spreadsheet.h"
#include "platform/spreadsheet/spreadsheet_source.h"
#include "tests/xls_builder.h"

namespace {

std::string scratch;

void removeScratch() { unlink(scratch.c_str()); }

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "reader contract broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/pd-fuzz-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  scratch = name;
  std::atexit(removeScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* format = std::getenv("PD_FUZZ_FORMAT");
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (format && std::strcmp(format, "biff") == 0)
    bytes = xlsbuild::compound({{u"Workbook", bytes}});
  FILE* f = std::fopen(scratch.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);

  using namespace spreadsheet::detail;
  const bool zip = size >= 2 && data[0] == 'P' && data[1] == 'K';
  const bool xlsx = format ? std::strcmp(format, "xlsx") == 0 : zip;
  model::Text error;
  std::unique_ptr<SheetSource> source = xlsx ? openXlsx(scratch, &error) : openXls(scratch, &error);
  if (!source) {
    check(!error.empty(), "refused without a reason");
    return 0;
  }
  for (int i = 0; i < source->sheetCount() && i < 4; ++i) {
    CellMap cells;
    spreadsheet::SheetNotes notes;
    ReadWatch watch;
    model::Text why;
    if (!source->readSheet(i, {&cells, &notes, &watch}, &why)) {
      check(!why.empty(), "sheet refused without a reason");
      continue;
    }
    int lastRow = 1;
    for (const auto& [key, text] : cells) {
      const int row = static_cast<int>(key >> 16), column = static_cast<int>(key & 0xFFFF);
      check(column >= 1 && column <= kReadColumns, "cell outside columns A to F");
      check(!text.empty(), "empty cell kept");
      check(row >= 1 && row <= lastRow + 1, "gap of rows read");
      if (row > lastRow) lastRow = row;
    }
    check(std::is_sorted(notes.longNumberRows.begin(), notes.longNumberRows.end()) &&
              (notes.longNumberRows.empty() || notes.longNumberRows.back() <= lastRow + 1),
          "long-number rows out of order or past the rows read");
  }
  return 0;
}
