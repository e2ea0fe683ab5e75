// Number formats: the text a spreadsheet program shows for a number under
// its format code. The expected texts are what LibreOffice shows (its
// "as shown" text export, Chinese locale), except where noted.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "platform/spreadsheet/cell_format.h"

using spreadsheet::detail::builtinFormatCode;
using spreadsheet::detail::formatNumber;

namespace {

struct Case {
  double value;
  const char* code;
  const char* shown;
};

TEST(CellFormat, ShowsNumbersAsASpreadsheetDoes) {
  const Case cases[] = {
      // General: 15 significant digits, whole numbers in full.
      {22.222200000000001, "General", "22.2222"},
      {72.0, "General", "72"},
      {-0.5, "General", "-0.5"},
      {0.1 + 0.2, "General", "0.3"},
      {1.0 / 3, "General", "0.333333333333333"},
      {123456789012.5, "General", "123456789012.5"},
      {123456789012345.6, "General", "123456789012346"},
      {12345678901234.56, "General", "12345678901234.6"},
      {13800138000, "General", "13800138000"},
      // A whole number never gets an exponent (LibreOffice: 1.10101199001011E+017);
      // past 15 significant digits it shows zeros, as under "0".
      {110101199001011234.0, "General", "110101199001011000"},
      {110101199001011234.0, "0", "110101199001011000"},
      {110101199001011008.0, "0", "110101199001011000"},
      {6222021234567899.0, "General", "6222021234567900"},
      {123456789012345.0, "0", "123456789012345"},
      {-1234567890123456789.0, "#,##0", "-1,234,567,890,123,460,000"},
      {1e20, "General", "100000000000000000000"},
      {9.999999999999999e22, "0", "100000000000000000000000"},
      {1e-5, "General", "0.00001"},
      {1.5e-9, "General", "0.0000000015"},
      {0.000123456789012345, "General", "0.000123456789012345"},
      {1e-10, "General", "1E-10"},
      {1.2345678901234568e-07, "General", "1.23456789012346E-07"},
      {3.14159, "General\"x\"", "3.14159x"},
      {5, "", "5"},
      {5, "0\\", "5"},  // a trailing escape with nothing to escape
      // Decimals, grouping, scaling, rounding on 15 digits.
      {1.5, "0.00", "1.50"},
      {1.005, "0.00", "1.01"},
      {2.675, "0.00", "2.68"},
      {-0.001, "0.00", "0.00"},
      {1, "0.##", "1."},
      {1234.5, "#,##0.00", "1,234.50"},
      {1234.567, "#,##0", "1,235"},
      {1234567, "#,##0,", "1,235"},
      {100000, "0,", "100"},
      {12345.678, "0.0,,", "0.0"},
      {1234567, "000-0000", "123-4567"},
      {7, "0000", "0007"},
      // Percent, currency, literal text.
      {0.125, "0%", "13%"},
      {0.12345, "0.00%", "12.35%"},
      {0.5, "0.0%", "50.0%"},
      {1234.5, "\"¥\"#,##0.00", "¥1,234.50"},
      {-1234.5, "\"¥\"#,##0.00;[Red]-\"¥\"#,##0.00", "-¥1,234.50"},
      {1234.5, "[$$-409]#,##0.00", "$1,234.50"},
      {1, "$#,##0.00", "$1.00"},
      {12, "0\"元\"", "12元"},
      {12, "#,##0.00 \"元\"", "12.00 元"},
      {1234.5, "_-* #,##0.00_-;-* #,##0.00_-;_-* \"-\"??_-;_-@_-", " 1,234.50 "},
      {0, "_-* #,##0.00_-;-* #,##0.00_-;_-* \"-\"??_-;_-@_-", " -   "},
      // Sections and conditions.
      {5, "0.0;-0.0;\"zero\"", "5.0"},
      {0, "0.0;-0.0;\"zero\"", "zero"},
      {-5, "0.0;(0.0);\"zero\"", "(5.0)"},
      {0, "0;-0;;@", ""},
      {1.5, "[>1]\"big\";[<=1]\"small\"", "big"},
      {0.5, "[>1]\"big\";[<=1]\"small\"", "small"},
      {-3, "[<0]\"neg \"0;0", "neg 3"},
      // Scientific and fractions.
      {1234567.891, "0.00E+00", "1.23E+06"},
      {0.000123, "0.00E+00", "1.23E-04"},
      {123456.789, "##0.0E+0", "123.5E+3"},
      {5e-324, "0.00E+00", "4.94E-324"},
      {0.5, "# ?/?", " 1/2"},
      {0.3333, "# ?/?", " 1/3"},
      {2, "# ?/?", "2    "},
      {1.75, "# ?\?/??", "1  3/4 "},
      {3.14159265, "# ??\?/???", "3  16/113"},
      {0.999, "# ?/?", "1    "},
      // Dates and times.
      {45306, "yyyy-mm-dd", "2024-01-15"},
      {45306, "yyyy-mm-dd;@", "2024-01-15"},
      {45306.5, "yyyy/m/d h:mm:ss", "2024/1/15 12:00:00"},
      {45306, "yyyy\"年\"m\"月\"d\"日\"", "2024年1月15日"},
      {45306, "m/d/yy", "1/15/24"},
      {45306, "mmm d, yyyy", "1月 15, 2024"},
      {45306, "mmmm", "一月"},
      {45306, "mmmmm", "一"},
      {45306, "dddd", "星期一"},
      {45306, "ddd", "一"},
      {45306, "aaaa", "星期一"},
      {45306, "d-mmm-yy", "15-1月-24"},
      {45306, "[$-409]mmmm dddd", "January Monday"},
      {45306, "[$-804]mmmm dddd", "一月 星期一"},
      {45306, "[$-F800]dddd\\,\\ mmmm\\ dd\\,\\ yyyy", "2024年1月15日　星期一"},
      {0.5, "[$-F400]h:mm:ss AM/PM", "12:00:00"},
      {0.75, "h:mm AM/PM", "6:00 下午"},
      {0.75, "[$-409]h:mm AM/PM", "6:00 PM"},
      {0.5, "hh:mm:ss", "12:00:00"},
      {0.5208449, "h:mm", "12:30"},
      {0.52083, "[h]:mm", "12:30"},
      {1.52083, "[h]:mm:ss", "36:30:00"},
      {1.157e-05, "hh:mm:ss.00", "00:00:00.99"},
      {1.157e-05, "ss.00 s.0", "00.99 0.9"},
      {45306.999999, "yyyy-mm-dd hh:mm", "2024-01-16 00:00"},
      {-45306, "yyyy-mm-dd", "1775-12-14"},
      {60, "yyyy-mm-dd", "1900-02-28"},
      {1, "yyyy-mm-dd", "1899-12-31"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(formatNumber(c.value, c.code, false), c.shown) << c.value << " as " << c.code;
}

TEST(CellFormat, BuiltInFormatsAndThe1904DateSystem) {
  const Case cases[] = {
      {45306, "14", "2024-1-15"},
      {45306.75, "22", "2024-1-15 18:00"},
      {45306, "27", "2024年1月"},
      {45306, "31", "2024年1月15日"},
      {0.5, "32", "12时00分"},
      {1.5, "2", "1.50"},
      {0.125, "9", "13%"},
      {1234.5, "4", "1,234.50"},
      {22.222200000000001, "0", "22.2222"},
      {7, "400", "7"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(formatNumber(c.value, builtinFormatCode(std::stoi(c.code)), false), c.shown)
        << c.value << " as built-in " << c.code;
  // The same serial is 1462 days later in a workbook that counts from 1904.
  EXPECT_EQ(formatNumber(43844, "yyyy-mm-dd", true), "2024-01-15");
  EXPECT_EQ(formatNumber(0, "yyyy-mm-dd", true), "1904-01-01");
  EXPECT_EQ(formatNumber(43844, "0", true), "43844") << "numbers stay numbers";
  // A code longer than any program writes is damage: General.
  EXPECT_EQ(formatNumber(-1.5, std::string(5000, '0') + ".00", false), "-1.5");
}

// The flag that tells the preview a number lost its digits past the 15th.
TEST(CellFormat, TellsWhenANumberHasMoreThan15Digits) {
  struct Flagged {
    double value;
    const char* code;
    bool longNumber;
  };
  const Flagged cases[] = {
      {110101199001011234.0, "General", true},
      {110101199001011234.0, "0", true},
      {-1e15, "0.00", true},
      {1e13, "0%", true},  // 1000000000000000%
      {999999999999999.0, "General", false},
      {13800138000, "0", false},
      {110101199001011234.0, "0.00E+00", false},  // the exponent says it
      {0.000123456789012345678, "General", false},
      {45306, "yyyy-mm-dd", false},
  };
  for (const Flagged& c : cases) {
    bool flagged = !c.longNumber;
    spreadsheet::detail::NumberFormat(c.code).format(c.value, false, &flagged);
    EXPECT_EQ(flagged, c.longNumber) << c.value << " as " << c.code;
  }
}

// Codes as long as a spreadsheet program takes (255 characters) and past
// it: every place is filled as in a short code.
TEST(CellFormat, LongCodesFillEveryPlace) {
  const std::string hashes(255, '#');
  EXPECT_EQ(formatNumber(13800138000, hashes, false), "13800138000");
  EXPECT_EQ(formatNumber(0, hashes, false), "");
  EXPECT_EQ(formatNumber(42, std::string(20, '0'), false), "00000000000000000042");
  EXPECT_EQ(formatNumber(13800138000, std::string(240, '#') + ",##0", false), "13,800,138,000");
  EXPECT_EQ(formatNumber(1.25, "0." + std::string(250, '#'), false), "1.25");
  EXPECT_EQ(formatNumber(1.25, "0." + std::string(250, '?'), false),
            "1.25" + std::string(248, ' '));
  // One parse, many values.
  const spreadsheet::detail::NumberFormat once(std::string(254, '#') + "0");
  for (int v : {0, 7, 123456}) EXPECT_EQ(once.format(v, false), std::to_string(v));
}

// Serial day numbers and civil dates are one calculation both ways.
TEST(CellFormat, SerialDaysAndDatesAgree) {
  using spreadsheet::detail::serialDay;
  bool ok = false;
  EXPECT_EQ(serialDay(2024, 1, 15, false, &ok), 45306);
  EXPECT_TRUE(ok);
  EXPECT_EQ(serialDay(2024, 1, 15, true, &ok), 43844);
  EXPECT_EQ(serialDay(1899, 12, 30, false, &ok), 0);
  EXPECT_EQ(serialDay(2023, 2, 29, false, &ok), serialDay(2023, 3, 1, false, &ok))
      << "a day past the month's end counts on";
  for (auto [y, m, d] : {std::tuple{2024, 13, 1}, {2024, 0, 1}, {2024, 1, 32}, {40000, 1, 1}}) {
    serialDay(y, m, d, false, &ok);
    EXPECT_FALSE(ok) << y << "-" << m << "-" << d;
  }
  // Every day of a span around both day 0s and a leap century reads back.
  for (const bool date1904 : {false, true})
    for (long long day = -800; day <= 800; day += 7)
      for (long long base : {0LL, 36500LL}) {
        const std::string shown =
            formatNumber(static_cast<double>(day + base), "yyyy-m-d", date1904);
        int y = 0, m = 0, d = 0;
        ASSERT_EQ(std::sscanf(shown.c_str(), "%d-%d-%d", &y, &m, &d), 3) << shown;
        EXPECT_EQ(serialDay(y, m, d, date1904, &ok), day + base) << shown;
      }
  // A year past what a calendar holds is no date: General.
  EXPECT_EQ(formatNumber(2e10, "yyyy-mm-dd", false), "20000000000");
}

}  // namespace
