// GBK text: conversion, search, cutting, numbers.
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "model/records.h"
#include "model/text.h"

using model::Text;
using model::operator""_t;

namespace {

Text gbk(const char* bytes) { return Text::fromGbk(bytes); }

TEST(TextConversion, LiteralIsGbk) {
  // 中 is D6 D0 in GBK.
  EXPECT_EQ("中"_t.bytes(), "\xD6\xD0");
  EXPECT_EQ("中奖"_t.length(), 4);
  EXPECT_EQ("abc"_t.bytes(), "abc");
}

TEST(TextConversion, RoundTripKeepsCharactersOutsideGbk) {
  for (const char* s : {"张三 Zhang", "𠮷野家", "抽奖🎉", "€ and ¥", ""}) {
    Text t = Text::fromUtf8(s);
    EXPECT_EQ(t.toUtf8(), s) << s;
  }
  // A character outside GBK takes four bytes.
  EXPECT_EQ(Text::fromUtf8("𠮷").length(), 4);
}

TEST(TextConversion, InvalidInputBecomesQuestionMarks) {
  EXPECT_EQ(Text::fromUtf8("a\xFF"
                           "b")
                .bytes(),
            "a?b");
  // A lone lead byte at the end of GBK text.
  EXPECT_EQ(gbk("ab\xD6").toUtf8(), "ab?");
}

struct FindCase {
  const char* hay;  // GBK bytes
  const char* needle;
  int start;
  int expected;
};

TEST(FindText, Table) {
  // 中 D6 D0, 文 CE C4; "\xD0\xCE" is the second half of 中 plus the first of 文.
  const FindCase cases[] = {
      {"abcabc", "c", 1, 3},
      {"abcabc", "c", 4, 6},
      {"abcabc", "c", 7, -1},
      {"abcabc", "x", 1, -1},
      {"abcabc", "abc", 0, 1},  // start below 1 counts as 1
      {"abcabc", "abc", -5, 1},
      {"\xD6\xD0\xCE\xC4", "\xD0\xCE", 1, -1},  // no match inside a character
      {"\xD6\xD0\xCE\xC4", "\xCE\xC4", 1, 3},
      {"\xD6\xD0\xCE\xC4", "\xCE\xC4", 2, 3},  // start on a second byte: next character
      {"\xD6\xD0"
       "a\xD6\xD0",
       "\xD6\xD0", 2, 4},
      {"\xD6\xD0"
       "a",
       "a", 1, 3},
      {"ab\xD6", "\xD6", 1, 3},  // lone lead byte at the end is a character
      {"abc", "", 1, 1},         // empty needle
      {"", "", 1, -1},
      {"", "a", 1, -1},
      {"ab", "abc", 1, -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(model::findText(gbk(c.hay), gbk(c.needle), c.start), c.expected)
        << "hay=" << c.hay << " needle=" << c.needle << " start=" << c.start;
}

TEST(FindText, AwardNamesRunTogether) {
  Text won = "一等奖特等奖"_t;
  EXPECT_EQ(model::findText(won, "特等奖"_t), 7);
  EXPECT_EQ(model::findText(won, "一等奖"_t), 1);
  EXPECT_EQ(model::findText(won, "二等奖"_t), -1);
}

TEST(LeftRight, Bounds) {
  Text t = gbk("abcdef");
  EXPECT_EQ(model::leftText(t, 0), Text());
  EXPECT_EQ(model::leftText(t, -3), Text());
  EXPECT_EQ(model::leftText(t, 2), gbk("ab"));
  EXPECT_EQ(model::leftText(t, 6), t);
  EXPECT_EQ(model::leftText(t, 99), t);
  EXPECT_EQ(model::rightText(t, 0), Text());
  EXPECT_EQ(model::rightText(t, -1), Text());
  EXPECT_EQ(model::rightText(t, 2), gbk("ef"));
  EXPECT_EQ(model::rightText(t, 99), t);
  // Bytes, not characters.
  EXPECT_EQ(model::leftText("中文"_t, 3).bytes(), "\xD6\xD0\xCE");
}

TEST(TextToInt, Table) {
  const std::pair<Text, int> cases[] = {
      {gbk("123"), 123},
      {gbk("  42abc"), 42},
      {gbk("\t-17"), -17},
      {gbk("+8"), 8},
      {gbk(""), 0},
      {gbk("abc"), 0},
      {gbk("-"), 0},
      {gbk("- 5"), 0},
      {"１２３"_t, 123},  // full-width digits
      {"－４５"_t, -45},  // full-width minus
      {"＋６"_t, 6},
      {"　　７"_t, 7},  // ideographic spaces (A1 A1)
      {Text::fromGbk("\xA3\xA0"
                     "9"),
       9},  // full-width space A3 A0
      {"１2３"_t, 123},
      {"12中3"_t, 12},
      {gbk("99999999999"), INT_MAX},
      {gbk("-99999999999"), INT_MIN},
      {gbk("2147483647"), INT_MAX},
      {gbk("-2147483648"), INT_MIN},
  };
  for (const auto& [t, v] : cases) EXPECT_EQ(model::textToInt(t), v) << t.toUtf8();
}

TEST(ParseWholeNumber, Table) {
  struct Case {
    Text text;
    std::optional<int> value;
  };
  const Case cases[] = {
      {gbk("0"), 0},
      {gbk("007"), 7},
      {gbk("  7 "), 7},
      {gbk("\t12\r\n"), 12},
      {"１２"_t, 12},
      {"１2３"_t, 123},
      {"　３　"_t, 3},
      {Text::fromGbk("\xA3\xA0"
                     "9"),
       9},
      {gbk("+3"), 3},
      {"＋３"_t, 3},
      {gbk("-3"), -3},
      {"－４"_t, -4},
      {gbk("999999999"), 999999999},
      {gbk("1234567890"), std::nullopt},
      {gbk(""), std::nullopt},
      {gbk("   "), std::nullopt},
      {gbk("+"), std::nullopt},
      {gbk("- 5"), std::nullopt},
      {gbk("abc"), std::nullopt},
      {"5人"_t, std::nullopt},
      {gbk("1.5"), std::nullopt},
      {gbk("1 0"), std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(model::parseWholeNumber(c.text), c.value) << c.text.toUtf8();
}

// The one reading of a decimal number in a text (the stores convert a text
// written into a number field with it): textToInt's characters, plus a
// half- or full-width point and the digits after it.
TEST(TextToDouble, Table) {
  struct Case {
    Text text;
    double value;
  };
  const Case cases[] = {
      {gbk(""), 0.0},
      {gbk("abc"), 0.0},
      {gbk("."), 0.0},
      {gbk("-"), 0.0},
      {gbk("12"), 12.0},
      {gbk(" 12.7"), 12.7},
      {gbk("\t-0.25xyz"), -0.25},
      {gbk("+.5"), 0.5},
      {gbk("5."), 5.0},
      {gbk("1.2.3"), 1.2},
      {"２.５"_t, 2.5},
      {"－３．７５"_t, -3.75},  // full-width minus and point
      {"　１２.５元"_t, 12.5},
      {Text::fromGbk("\xA3\xA0"
                     "8"),
       8.0},
      {"12中3"_t, 12.0},
      {gbk("- 5"), 0.0},
      {gbk("123456789012345678"), 123456789012345678.0},  // beyond textToInt's range
      {gbk("0.1"), 0.1},
  };
  for (const Case& c : cases) EXPECT_EQ(model::textToDouble(c.text), c.value) << c.text.toUtf8();
  // Whole numbers read the same as textToInt reads them.
  for (const char* t : {"7", " -42 ", "００９", "3人", "+6"})
    EXPECT_EQ(model::textToDouble(Text::fromUtf8(t)), model::textToInt(Text::fromUtf8(t))) << t;
}

TEST(NumberToText, Table) {
  EXPECT_EQ(model::numberToText(0LL).bytes(), "0");
  EXPECT_EQ(model::numberToText(-15LL).bytes(), "-15");
  EXPECT_EQ(model::numberToText(LLONG_MIN).bytes(), "-9223372036854775808");
  const std::pair<double, const char*> cases[] = {
      {90.0, "90"},      {-0.0, "0"},           {0.0, "0"},         {2.5, "2.5"},
      {-2.25, "-2.25"},  {1.0 / 3, "0.333333"}, {0.1 + 0.2, "0.3"}, {1e15, "1000000000000000"},
      {-0.0000001, "0"}, {0.9999999, "1"},
  };
  for (const auto& [d, s] : cases) EXPECT_EQ(model::numberToText(d).bytes(), s) << d;
}

TEST(Spaces, RemovesAsciiAndIdeographicSpacesOnly) {
  EXPECT_EQ(model::removeSpaces(" 张　三 "_t), "张三"_t);
  // A1 A1 split across two characters is not a space: A1 A1 only counts at
  // the start of a character ("\xB0\xA1" is 啊, followed by "\xA1\xB0").
  Text t = gbk("\xB0\xA1\xA1\xB0");
  EXPECT_EQ(model::removeSpaces(t), t);
}

TEST(EqualsIgnoreCase, AsciiOnly) {
  EXPECT_TRUE(model::equalsIgnoreCase(gbk("Abc"), gbk("aBC")));
  EXPECT_FALSE(model::equalsIgnoreCase(gbk("Abc"), gbk("Abd")));
  EXPECT_FALSE(model::equalsIgnoreCase(gbk("Abc"), gbk("Abcd")));
  EXPECT_TRUE(model::equalsIgnoreCase("张三A"_t, "张三a"_t));
  // The second byte of a double-byte character is not a letter: 81 41 and
  // 81 61 are two different characters.
  EXPECT_FALSE(model::equalsIgnoreCase(gbk("\x81\x41"), gbk("\x81\x61")));
}

TEST(FileReferences, Table) {
  const std::string dir = "/opt/draw";
  EXPECT_EQ(model::programPath(dir, model::kPersonsFile), "/opt/draw/data/人员名单.edb");
  EXPECT_EQ(model::programPath(dir + "/", model::kBackgroundFolder, "春节.jpg"_t),
            "/opt/draw/Prize/bj/春节.jpg");
  EXPECT_EQ(model::resolveFileReference(dir, model::kIdleMusicFolder, "歌.mp3"_t),
            "/opt/draw/Music/bj/歌.mp3");
  EXPECT_EQ(model::resolveFileReference(dir, model::kStartMusicFolder, "C:\\音乐\\a.mp3"_t),
            "C:\\音乐\\a.mp3");
  EXPECT_EQ(model::resolveFileReference(dir, model::kStopMusicFolder, "/home/x/停.mp3"_t),
            "/home/x/停.mp3");
  // A backslash byte inside a GBK character is not a separator (81 5C is
  // one character).
  Text name = Text::fromGbk("\x81\x5C.jpg");
  std::string path = model::programPath(dir, model::kBackgroundFolder, name);
  EXPECT_EQ(path, "/opt/draw/Prize/bj/" + name.toUtf8());
  EXPECT_EQ(path.find('\\'), std::string::npos);
}

TEST(Music, DisabledValue) {
  EXPECT_TRUE(model::isMusicDisabled("禁用"_t));
  EXPECT_FALSE(model::isMusicDisabled("禁用.mp3"_t));
  EXPECT_FALSE(model::isMusicDisabled(Text()));
}

TEST(Fields, NamesAndListsAgree) {
  EXPECT_EQ(model::person::中奖项目(), "中奖项目"_t);
  EXPECT_EQ(model::award::已抽取人数(), "已抽取人数"_t);
  EXPECT_EQ(model::settings::中奖名单音乐(), "中奖名单音乐"_t);
  ASSERT_EQ(model::personFields().size(), 8u);
  EXPECT_STREQ(model::personFields()[5].name, "抽奖模式");
  EXPECT_STREQ(model::personFields()[5].kind, "integer");
  EXPECT_STREQ(model::personFields()[6].name, "中奖项目");
  ASSERT_EQ(model::awardFields().size(), 8u);
  EXPECT_STREQ(model::awardFields()[5].kind, "bytes");
  EXPECT_STREQ(model::awardFields()[7].name, "中奖方式");
  ASSERT_EQ(model::settingsFields().size(), 8u);
  EXPECT_STREQ(model::settingsFields()[0].name, "主标题");
}

}  // namespace
