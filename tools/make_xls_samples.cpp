// Writes the hand-made .xls files kept in the tests, for what no spreadsheet
// program here writes (the tests and the fuzz runs read them; the build never
// runs this tool):
//   make_xls_samples SOURCE_DIR
// tests/workbooks/hand_*.xls with NAME.csv, the texts LibreOffice shows for
// them, tests/data/xls/*.xls, records whose counts run past their end, and
// tests/fuzz/biff/*, workbook streams that start the fuzz runs of records.
#include <cstdio>
#include <fstream>
#include <string>

#include "model/text.h"
#include "tests/xls_builder.h"

using namespace xlsbuild;

namespace {

bool write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

std::string gbk(const char* utf8) { return model::Text::fromUtf8(utf8).bytes(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_xls_samples SOURCE_DIR\n");
    return 2;
  }
  const std::string corpus = std::string(argv[1]) + "/tests/workbooks/";
  const std::string data = std::string(argv[1]) + "/tests/data/xls/";
  const std::string biff = std::string(argv[1]) + "/tests/fuzz/biff/";
  bool ok = true;

  // Excel 5.0/95 (BIFF5): stream "Book", texts in code page 936, a number
  // format with a literal, a formula whose text is in a STRING record.
  Book old;
  old.biff = 5;
  old.codePage = 936;
  old.formats = {{164, "0.00\"" + gbk("元") + "\""}};
  old.xfFormats.assign(16, 0);
  old.xfFormats.push_back(164);
  old.sheets = {label(0, 0, bytes16(gbk("编号"))) + label(0, 1, bytes16(gbk("姓名"))) +
                label(0, 5, bytes16(gbk("备注"))) + label(1, 0, bytes16("0001")) +
                label(1, 1, bytes16(gbk("王五"))) + rk(1, 2, (13800138u << 2) | 2u) +
                number(1, 5, 12.5, 16) + formulaText5(2, 0, "0002") +
                label(2, 1, bytes16(gbk("赵六"))) + formulaNumber(2, 2, 1.0 / 3)};
  ok &= write(corpus + "hand_biff5.xls", file(old, u"Book"));
  ok &= write(corpus + "hand_biff5.xls.csv",
              "编号,姓名,,,,备注\n0001,王五,13800138,,,12.50元\n0002,赵六,0.333333333333333,,,\n");

  // A workbook stream named in capitals, as some writers do.
  Book upper;
  upper.shared = {u"编号", u"姓名", u"0001", u"钱七"};
  upper.sheets = {labelSst(0, 0, 0) + labelSst(0, 1, 1) + labelSst(1, 0, 2) + labelSst(1, 1, 3) +
                  formulaNumber(1, 2, 13800138000.0)};
  ok &= write(corpus + "hand_stream_case.xls", file(upper, u"WORKBOOK"));
  ok &= write(corpus + "hand_stream_case.xls.csv", "编号,姓名,,,,\n0001,钱七,13800138000,,,\n");

  // A LABEL whose count (32767 UTF-16 characters) runs far past its record.
  Book label8;
  label8.codePage = 1200;
  label8.sheets = {label(0, 0, unicode(u"编号")) + label(1, 0, unicode(u"0001")) +
                   record(0x0204, cellHead(1, 1, 15) + "\xFF\x7F\x01" + std::string(21, 'A')) +
                   label(1, 2, unicode(u"完"))};
  ok &= write(data + "label-count-past-record.xls", file(label8));
  // A number format whose count (65535) runs past its record.
  Book format;
  format.codePage = 936;
  std::string f;
  put16(&f, 164), put16(&f, 0xFFFF), put8(&f, 1);
  f += std::string(7, 'A');
  format.extraGlobals = record(0x041E, f);
  format.sheets = {label(0, 0, unicode(u"编号")) + label(1, 0, unicode(u"0001"))};
  ok &= write(data + "format-count-past-record.xls", file(format));

  // Workbook streams: the books above, and one of every BIFF8 cell kind with
  // number formats, a 1904 date system and shared strings split over records.
  Book every;
  every.codePage = 1200;
  every.date1904 = true;
  every.formats = {{164, "0.00"}, {165, "yyyy-mm-dd hh:mm"}, {166, "#,##0\" yuan\";[Red]-#,##0"}};
  every.xfFormats.assign(16, 0);
  for (int id : {164, 165, 166, 14, 10}) every.xfFormats.push_back(id);
  every.shared = {u"编号", u"姓名", u"张三", u"", std::u16string(40, u'长') + u"abc"};
  every.maxRecord = 48;
  every.sheets = {
      labelSst(0, 0, 0) + labelSst(0, 1, 1) + labelSst(1, 0, 4) + labelSst(1, 1, 2) +
          number(1, 2, 13800138000.0, 16) + rk(1, 3, (45306u << 2) | 2u, 17) +
          mulrk(1, 4, {(1234u << 2) | 3u, 0x3FF00000u}, 18) + formulaText(2, 0, u"0002") +
          formulaNumber(2, 1, 0.125, 20) + formulaBool(2, 2, true) + formulaError(2, 3, 0x07) +
          formulaText(2, 4, u"") + boolErr(2, 5, 0x2A, true) + label(3, 0, unicode(u"李四")) +
          record(0x00D6, cellHead(3, 1, 15) + unicode(u"富") + "\x01\x00" + std::string(4, '\0')),
      labelSst(0, 0, 2)};
  ok &= write(biff + "every-cell.biff8", every.stream());
  ok &= write(biff + "excel95.biff5", old.stream());
  ok &= write(biff + "shared-strings.biff8", upper.stream());
  ok &= write(biff + "label-count.biff8", label8.stream());

  if (!ok) std::fprintf(stderr, "make_xls_samples: cannot write under %s\n", argv[1]);
  return ok ? 0 : 1;
}
