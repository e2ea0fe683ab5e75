// A bounded mutation run over the .xlsx reader and the number formatter:
// workbooks of the corpus with one XML part mutated (bytes flipped, ranges
// dropped or doubled, hostile numbers and elements spliced in) or the
// archive's own bytes damaged, and random format codes. Every file must be
// read or refused with a reason; nothing may crash (the sanitizer build
// catches memory faults). The count of cases is fixed, so the run does not
// depend on the machine's speed; PD_FUZZ_CASES and PD_FUZZ_SEED set a
// longer or another run.
#include <gtest/gtest.h>

#include <zip.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/cell_format.h"
#include "platform/spreadsheet.h"
#include "zip_parts.h"

namespace fs = std::filesystem;

namespace {

using Parts = std::vector<std::pair<std::string, std::string>>;

long envNumber(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

Parts readParts(const std::string& path) {
  Parts parts;
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!z) return parts;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
    if (!f) continue;
    std::string data;
    char buf[65536];
    zip_int64_t n = 0;
    while ((n = zip_fread(f, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
    zip_fclose(f);
    parts.emplace_back(zip_get_name(z, static_cast<zip_uint64_t>(i), 0), data);
  }
  zip_discard(z);
  return parts;
}

bool writeParts(const std::string& path, const Parts& parts) {
  return fixture::writeZip(path, parts);
}

const char* const kSplices[] = {
    "<c/>",
    "<row>",
    "</row>",
    "<c r=\"A4294967298\" t=\"s\"><v>0</v></c>",
    "<row r=\"4294967298\">",
    "<row r=\"-1\">",
    " r=\"XFE1\"",
    " t=\"s\"",
    " t=\"b\"",
    " t=\"e\"",
    " t=\"d\"",
    " t=\"inlineStr\"",
    " s=\"99999\"",
    "<v>1e308</v>",
    "<v>-45306.5</v>",
    "<v>99999999999</v>",
    "<v/>",
    "<is><r><t>x</t></r></is>",
    "_x0000_",
    "<![CDATA[x]]>",
    "&amp;",
    "&#0;",
    " formatCode=\"[h]:mm:ss.000;# ?\?/??;0.0E+0;@\"",
    " numFmtId=\"14\"",
    " date1904=\"1\"",
    " Target=\"../../../etc/passwd\"",
    " Target=\"/xl/worksheets/sheet1.xml\"",
};

void mutate(std::string* s, std::mt19937* rng) {
  auto pick = [&](size_t n) { return n == 0 ? 0 : static_cast<size_t>((*rng)() % n); };
  const int edits = 1 + static_cast<int>(pick(4));
  for (int e = 0; e < edits; ++e) {
    const size_t at = pick(s->size() + 1);
    switch (pick(5)) {
      case 0:
        if (!s->empty()) (*s)[pick(s->size())] = static_cast<char>((*rng)() & 0xFF);
        break;
      case 1:
        s->erase(at, pick(64));
        break;
      case 2: {
        const size_t len = pick(256);
        const std::string piece = s->substr(at, len);
        s->insert(at, piece);
        break;
      }
      default:
        s->insert(at, kSplices[pick(std::size(kSplices))]);
        break;
    }
  }
}

// Reads the first sheet as the import does; true when it was read.
bool readAsImport(const std::string& path, std::string* why) {
  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.open(path);
  if (!book) {
    *why = app.error().toUtf8();
    return false;
  }
  if (!book->selectSheet(1)) {
    *why = book->error().toUtf8();
    return false;
  }
  for (int r = 1; r <= 12; ++r)
    for (char c = 'a'; c <= 'f'; ++c) (void)book->cellText(std::string(1, c) + std::to_string(r));
  return true;
}

TEST(WorkbookFuzz, MutatedWorkbooksAreReadOrRefusedWithAReason) {
  const long cases = envNumber("PD_FUZZ_CASES", 300);
  std::mt19937 rng(static_cast<unsigned>(envNumber("PD_FUZZ_SEED", 20240115)));
  std::vector<Parts> seeds;
  for (const auto& e : fs::directory_iterator(fs::path(PD_SOURCE_DIR) / "tests" / "workbooks"))
    if (e.path().extension() == ".xlsx" && !fs::exists(e.path().string() + ".refused"))
      seeds.push_back(readParts(e.path().string()));
  ASSERT_FALSE(seeds.empty());
  const std::string file =
      (fs::temp_directory_path() / ("pd-fuzz-" + std::to_string(getpid()) + ".xlsx")).string();
  long read = 0, refused = 0;
  for (long i = 0; i < cases; ++i) {
    Parts parts = seeds[rng() % seeds.size()];
    if (rng() % 8 == 0) {
      // The archive's own bytes: headers, sizes, CRCs.
      ASSERT_TRUE(writeParts(file, parts));
      std::ifstream in(file, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      in.close();
      for (int k = 0; k < 4 && !bytes.empty(); ++k)
        bytes[rng() % bytes.size()] = static_cast<char>(rng() & 0xFF);
      std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    } else {
      auto& part = parts[rng() % parts.size()];
      mutate(&part.second, &rng);
      ASSERT_TRUE(writeParts(file, parts));
    }
    std::string why;
    if (readAsImport(file, &why)) {
      ++read;
    } else {
      ++refused;
      EXPECT_FALSE(why.empty()) << "case " << i << ": refused without a reason";
    }
  }
  fs::remove(file);
  std::cout << "mutated workbooks: " << read << " read, " << refused << " refused\n";
}

TEST(WorkbookFuzz, RandomFormatCodesGiveBoundedTexts) {
  const long cases = envNumber("PD_FUZZ_CASES", 300) * 20;
  std::mt19937 rng(static_cast<unsigned>(envNumber("PD_FUZZ_SEED", 20240115)));
  const char* const pieces[] = {
      "0",     "#",    "?",         ".",        ",",       "%", "E+", "e-",  "/",
      "@",     ";",    "\"x\"",     "\\",       "_",       "*", "[",  "]",   "[h]",
      "[Red]", "[>1]", "[$-409]",   "[$-F800]", "y",       "m", "d",  "h",   "s",
      "AM/PM", "A/P",  "上午/下午", "aaa",      "General", " ", "-",  ".000"};
  const double values[] = {0,
                           -0.0,
                           1,
                           -1,
                           0.5,
                           45306.75,
                           -45306,
                           1e15,
                           1e308,
                           -1e-308,
                           5e-324,
                           9.999999999999999e22,
                           123456789012345678.0,
                           0.1 + 0.2,
                           1e300};
  for (long i = 0; i < cases; ++i) {
    std::string code;
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) code += pieces[rng() % std::size(pieces)];
    const double v = values[rng() % std::size(values)];
    const std::string shown = spreadsheet::detail::formatNumber(v, code, rng() % 2 == 0);
    EXPECT_LT(shown.size(), 4096u) << code << " of " << v;
  }
}

}  // namespace
