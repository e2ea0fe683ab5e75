// The window-free rules of the draw: quotas, layouts, texts, decisions.
#include <gtest/gtest.h>

#include <string>

#include "draw/draw_logic.h"

using draw::Prompt;
using model::operator""_t;
using model::Text;

namespace {
Text gbk(const char* s) { return Text::fromGbk(s); }
}  // namespace

TEST(DrawQuota, PerRollCappedByPlacesLeftThenBroughtToALayout) {
  struct Case {
    long long perRoll;
    double remaining;
    int quota;   // the award's quota
    int layout;  // the slots it rolls
  } cases[] = {
      {20, 15, 10, 10},   {10, 7, 5, 5},    {3, 2, 2, 2},   {20, 20, 20, 20}, {20, 40, 20, 20},
      {15, 30, 10, 10},   {25, 30, 25, 20}, {25, 3, 3, 3},  {1, 1, 1, 1},     {5, 100, 5, 5},
      {8, 100, 5, 5},     {0, 7, 0, 1},     {-3, 7, -3, 1}, {4, 0, 4, 4},     {20, -2, 20, 20},
      {20, 12.5, 10, 10}, {2, 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.perRoll) + " with " + std::to_string(c.remaining) + " left");
    const int q = draw::ComputeQuota(c.perRoll, c.remaining);
    EXPECT_EQ(q, c.quota);
    EXPECT_EQ(draw::LayoutQuotaFor(q), c.layout);
    EXPECT_NE(draw::SlotLayoutFor(draw::LayoutQuotaFor(q)), nullptr);
  }
  for (int q : {0, 6, 7, 11, 19, 21}) EXPECT_EQ(draw::SlotLayoutFor(q), nullptr) << q;
}

TEST(DrawLayout, FramesOfTheWorkedBackdrop) {
  // Backdrop 1280 wide, bands 82 high and at top 524, picture at 16 + 200.
  draw::FrameGeometry g{82, 524, 1280, 236, 16, 200};
  auto one = draw::LayOutFrames(1, g);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].top, 263);
  EXPECT_EQ(one[0].width, 1024);
  EXPECT_EQ(one[0].height, 80);
  EXPECT_EQ(one[0].left, 236);

  auto four = draw::LayOutFrames(4, g);
  ASSERT_EQ(four.size(), 4u);
  const int tops4[] = {303 - 40 - 135, 303 - 40 - 45, 303 - 40 + 45, 303 - 40 + 135};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(four[k].top, tops4[k]) << k;

  auto ten = draw::LayOutFrames(10, g);
  ASSERT_EQ(ten.size(), 10u);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(ten[k].top, ten[k + 5].top) << k;
    EXPECT_EQ(ten[k].left, 236);
    EXPECT_EQ(ten[k + 5].left, 758);
    EXPECT_EQ(ten[k].width, 512);
    EXPECT_EQ(ten[k].height, 60);
  }
  EXPECT_EQ(ten[0].top, 303 - 30 - 140);

  auto twenty = draw::LayOutFrames(20, g);
  ASSERT_EQ(twenty.size(), 20u);
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(twenty[k].top, 108 + 40 * k) << k;
    EXPECT_EQ(twenty[k + 10].top, twenty[k].top);
    EXPECT_EQ(twenty[k].left, 236);
    EXPECT_EQ(twenty[k + 10].left, 758);
    EXPECT_EQ(twenty[k].width, 512);
    EXPECT_EQ(twenty[k].height, 30);
  }
  EXPECT_EQ(twenty[9].top, 468);

  // One pixel more: the centre line falls on 303.5 and the top is truncated.
  g.band22Top = 525;
  EXPECT_EQ(draw::LayOutFrames(1, g)[0].top, 263);
  EXPECT_TRUE(draw::LayOutFrames(7, g).empty());
}

TEST(DrawLayout, SlotCentredInItsFrameTowardZero) {
  EXPECT_EQ(draw::CentredLeft(757, 101, 252), 681);  // 681.5
  EXPECT_EQ(draw::CentredLeft(0, 1, 6), -2);         // -2.5
  EXPECT_EQ(draw::CentredLeft(236, 1024, 0), 748);
  const draw::SlotLayout* l20 = draw::SlotLayoutFor(20);
  ASSERT_NE(l20, nullptr);
  EXPECT_EQ(l20->charWidth, 14);
  EXPECT_EQ(l20->fontPoints, 18);
  EXPECT_EQ(draw::SlotLayoutFor(5)->charWidth, 28);
  EXPECT_EQ(draw::SlotLayoutFor(3)->charWidth, 36);
}

// A label as wide as its text when the text fits its frame with a
// character to spare; otherwise the frame less one character.
TEST(DrawLayout, SlotLabelKeepsInsideItsFrame) {
  struct Case {
    int bytes, charWidth, frameWidth, width;
  } cases[] = {
      {4, 36, 1024, 144},  // a number in a full-width frame
      {14, 28, 420, 392},  // an identity number that fits
      {14, 28, 419, 391},  // one pixel less: the frame less one character
      {14, 28, 327, 299},  // half a 1366-pixel screen
      {13, 14, 40, 26},    // quota 20 in a narrow frame
      {0, 28, 327, 0},     // no text
      {5, 28, 20, 0},      // a frame narrower than one character
  };
  for (const Case& c : cases)
    EXPECT_EQ(draw::SlotLabelWidth(c.bytes, c.charWidth, c.frameWidth), c.width)
        << c.bytes << " bytes, " << c.charWidth << " per byte, frame " << c.frameWidth;
}

TEST(DrawDisplayText, ModesAndMasks) {
  draw::PersonFields p{gbk("007"), "张三"_t, gbk("13812345678"), gbk("110101199001011234")};
  draw::PersonFields shortOnes{gbk("8"), Text(), gbk("123"), gbk("12345")};
  draw::PersonFields sevenId{gbk("9"), "李四"_t, Text(), gbk("1234567")};
  struct Case {
    int mode;
    const draw::PersonFields* person;
    Text slot;
    Text winners;
  } cases[] = {
      {1, &p, gbk("007"), gbk("007")},
      {2, &p, "张三"_t, "张三"_t},
      {3, &p, gbk("110101****1234"), gbk("110101********1234")},
      {4, &p, gbk("138****5678"), gbk("138****5678")},
      {5, &p, "007 张三"_t, "007 张三"_t},
      // Outside 1..5 the slots and the list show 编号 rather than nothing.
      {0, &p, gbk("007"), gbk("007")},
      {6, &p, gbk("007"), gbk("007")},
      {3, &shortOnes, gbk("12345****2345"), gbk("12345********2345")},
      {4, &shortOnes, gbk("123****123"), gbk("123****123")},
      {5, &shortOnes, gbk("8 "), gbk("8 ")},
      {3, &sevenId, gbk("123456****4567"), gbk("123456********4567")},
      {4, &sevenId, gbk("****"), gbk("****")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(draw::SlotDisplayText(c.mode, *c.person), c.slot);
    EXPECT_EQ(draw::WinnersLineText(c.mode, *c.person), c.winners);
  }
}

TEST(DrawState, DecisionTable) {
  struct Case {
    const char* what;
    draw::DrawStateInput in;
    Prompt prompt;
    int result;
    bool quotaSet;
    int quota;
  } cases[] = {
      {"ready", {5, 0, true, 3, 10, 2, true}, Prompt::Ready, 0, true, 3},
      {"rolling", {5, 0, true, 3, 10, 2, false}, Prompt::Rolling, 0, true, 3},
      {"award full", {5, 0, true, 20, 10, 10, true}, Prompt::AwardFull, 1, true, 20},
      {"over-drawn counts as full", {5, 0, true, 5, 10, 12, true}, Prompt::AwardFull, 1, true, 5},
      {"all awards full", {5, 0, false, 5, 10, 10, true}, Prompt::AllAwardsFull, 1, false, 0},
      {"all won under rule 1", {0, 1, true, 5, 10, 0, true}, Prompt::AllWon, 1, false, 0},
      {"rule 0 with nobody left while places remain",
       {0, 0, true, 5, 10, 0, true},
       Prompt::AllWon,
       1,
       false,
       0},
      {"rule 0, nobody left, the current award full",
       {0, 0, true, 5, 10, 10, true},
       Prompt::AllWon,
       1,
       false,
       0},
      {"rule 0: no more slots than people left",
       {3, 0, true, 5, 10, 0, true},
       Prompt::Ready,
       0,
       true,
       3},
      {"rule 0: people left beyond the places",
       {30, 0, true, 20, 30, 15, true},
       Prompt::Ready,
       0,
       true,
       10},
      {"rule 1: the quota ignores the people left",
       {3, 1, true, 5, 10, 0, true},
       Prompt::Ready,
       0,
       true,
       5},
      {"no award", {5, 0, false, 0, 0, 0, true, true, false}, Prompt::NoAwards, 1, false, 0},
      {"no award, nobody", {0, 1, false, 0, 0, 0, true, true, true}, Prompt::NoAwards, 1, false, 0},
      {"no participant",
       {0, 0, true, 5, 10, 0, true, false, true},
       Prompt::NoParticipants,
       1,
       false,
       0},
      {"no participant, rule 1",
       {0, 1, true, 5, 10, 0, true, false, true},
       Prompt::NoParticipants,
       1,
       false,
       0},
      {"rule 0, nobody left, all full",
       {0, 0, false, 5, 10, 10, true},
       Prompt::AllAwardsFull,
       1,
       false,
       0},
      {"quota of the places left", {5, 1, true, 20, 30, 15, true}, Prompt::Ready, 0, true, 10},
      {"award of 0 places is full", {5, 0, true, 1, 0, 0, true}, Prompt::AwardFull, 1, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    draw::DrawStateOutcome out = draw::DecideDrawState(c.in);
    EXPECT_EQ(out.prompt, c.prompt);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.quotaSet, c.quotaSet);
    if (c.quotaSet) {
      EXPECT_EQ(out.quota, c.quota);
    }
  }
}

TEST(DrawState, PromptsRoundTripByteForByte) {
  for (Prompt p : {Prompt::Ready, Prompt::Rolling, Prompt::AwardFull, Prompt::AllAwardsFull,
                   Prompt::AllWon, Prompt::NoAwards, Prompt::NoParticipants})
    EXPECT_EQ(draw::PromptFromCaption(draw::PromptText(p)), p);
  EXPECT_EQ(draw::PromptText(Prompt::Ready), "按空格键开始抽奖。"_t);
  EXPECT_EQ(draw::PromptFromCaption(Text()), Prompt::None);
  EXPECT_EQ(draw::PromptFromCaption("按空格键开始抽奖。 "_t), Prompt::None);
  EXPECT_EQ(draw::PromptFromCaption("按空格键开始抽奖"_t), Prompt::None);
}

TEST(DrawCommit, CongratulationLineAndOrder) {
  Text two = draw::CongratulationText({"张三"_t, "李四"_t}, "一等奖"_t, "奖品：电脑"_t);
  EXPECT_EQ(two, "恭喜：张三  李四中了一等奖  奖品：电脑"_t);
  EXPECT_EQ(two.length(), 38);
  EXPECT_EQ(draw::CongratulationText({"王五"_t}, "二等奖"_t, "奖品：书"_t),
            "恭喜：王五中了二等奖  奖品：书"_t);
  std::vector<int> picks{3, 0, 7, 1, 0, 12};
  draw::SortDescending(picks);
  EXPECT_EQ(picks, (std::vector<int>{12, 7, 3, 1, 0, 0}));
}

TEST(WinnersText, BlocksByContainment) {
  std::vector<draw::AwardHeading> awards{
      {"一等奖"_t, "电脑"_t}, {"等奖"_t, "书"_t}, {"特别奖"_t, "车"_t}};
  std::vector<Text> prizes{"一等奖"_t, Text(), "等奖"_t, "特别奖一等奖"_t};
  auto line = [](int rec) { return Text::fromGbk("P" + std::to_string(rec)); };
  Text text = draw::BuildWinnersTextFrom(awards, prizes, line);
  Text expected = "一等奖[电脑]"_t + gbk("\r\n\r\nP1\r\nP4\r\n\r\n") + "等奖[书]"_t +
                  gbk("\r\n\r\nP1\r\nP3\r\nP4\r\n\r\n") + "特别奖[车]"_t +
                  gbk("\r\n\r\nP4\r\n\r\n");
  EXPECT_EQ(text, expected);
  EXPECT_EQ(draw::CountLineEnds(text), (2 + 2 + 1) + (2 + 3 + 1) + (2 + 1 + 1));

  // No winner at all: the blank marker; no awards: an empty text.
  Text none = draw::BuildWinnersTextFrom({{"三等奖"_t, "笔"_t}}, prizes, line);
  EXPECT_EQ(none, "三等奖[笔]"_t + gbk("\r\n\r\n") + "(---本项空白---)"_t + gbk("\r\n\r\n"));
  EXPECT_EQ(draw::CountLineEnds(none), 4);
  EXPECT_TRUE(draw::BuildWinnersTextFrom({}, prizes, line).empty());

  // An empty award name lists everyone who won anything.
  Text empty = draw::BuildWinnersTextFrom({{Text(), "x"_t}}, prizes, line);
  EXPECT_EQ(empty, gbk("[x]\r\n\r\nP1\r\nP3\r\nP4\r\n\r\n"));
}

TEST(PrizeFile, UnsafeCharactersMapped) {
  struct Case {
    Text name;
    Text file;
  } cases[] = {
      {"电脑"_t, "电脑.jpg"_t},
      {gbk("TV 55"), gbk("TV 55.jpg")},
      {gbk("a/b"), gbk("a_b.jpg")},
      {gbk("..\\..\\x"), gbk("______x.jpg")},
      {gbk(".."), gbk("__.jpg")},
      {gbk("v1.2"), gbk("v1.2.jpg")},
      {gbk("a:b*c?d\"e<f>g|h"), gbk("a_b_c_d_e_f_g_h.jpg")},
      {gbk("tab\there"), gbk("tab_here.jpg")},
      {Text(), gbk(".jpg")},
  };
  for (const Case& c : cases) EXPECT_EQ(draw::SafePrizeFileName(c.name), c.file) << c.name.toUtf8();
  // A backslash byte inside a double-byte character is part of the character.
  Text withTrail = Text::fromGbk(std::string("\x95\x5c", 2));
  EXPECT_EQ(draw::SafePrizeFileName(withTrail), withTrail + gbk(".jpg"));
}
