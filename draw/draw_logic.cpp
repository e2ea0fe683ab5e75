// The window-free part of the draw: quotas, layouts, texts and decisions.
#include "draw/draw_logic.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

namespace draw {

using model::operator""_t;

int TruncToInt(double v) {
  v = std::trunc(v);
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

namespace {

const Text& crlf() {
  static const Text t = Text::fromGbk("\r\n");
  return t;
}
}  // namespace

// --- Quota and slot layouts ---------------------------------------------------

int ComputeQuota(long long perRoll, double remaining) {
  int quota = static_cast<int>(std::clamp<long long>(perRoll, INT_MIN, INT_MAX));
  if (remaining < quota && remaining > 0) quota = TruncToInt(remaining);
  if (quota > 10 && quota < 20) quota = 10;
  if (quota > 5 && quota < 10) quota = 5;
  return quota;
}

int LayoutQuotaFor(int quota) {
  if (quota < 1) return 1;
  if (quota >= 20) return 20;
  if (quota >= 10) return 10;
  if (quota >= 5) return 5;
  return quota;
}

const SlotLayout* SlotLayoutFor(int quota) {
  static const SlotLayout layouts[] = {
      {1, 80, 48, 36, false, 1, {0}},
      {2, 80, 48, 36, false, 2, {-45, 45}},
      {3, 80, 48, 36, false, 3, {-90, 0, 90}},
      {4, 80, 48, 36, false, 4, {-135, -45, 45, 135}},
      {5, 60, 36, 28, false, 5, {-140, -70, 0, 70, 140}},
      {10, 60, 36, 28, true, 5, {-140, -70, 0, 70, 140}},
      {20, 30, 18, 14, true, 10, {-180, -140, -100, -60, -20, 20, 60, 100, 140, 180}},
  };
  for (const SlotLayout& l : layouts)
    if (l.quota == quota) return &l;
  return nullptr;
}

std::vector<Rect> LayOutFrames(int layoutQuota, const FrameGeometry& g) {
  const SlotLayout* layout = SlotLayoutFor(layoutQuota);
  std::vector<Rect> frames;
  if (!layout) return frames;
  const double centre = (g.band22Top - g.band21Height) / 2 + g.band21Height;
  const double span = g.backdropWidth - g.frame1Left - 20;
  const int width = layout->twoColumns ? TruncToInt(span / 2) : TruncToInt(span);
  frames.resize(layout->quota);
  for (int k = 0; k < layout->quota; ++k) {
    Rect& r = frames[k];
    r.height = layout->frameHeight;
    r.width = width;
    if (k < layout->slotsPerColumn)
      r.top = TruncToInt(centre - layout->frameHeight / 2.0 + layout->offsets[k]);
    else
      r.top = frames[k - layout->slotsPerColumn].top;
    // Frames 1 to 5 always share one left edge, so a one-column layout keeps
    // frame 1's for all of them.
    r.left = TruncToInt(g.frame1Left);
  }
  if (layout->twoColumns) {
    const int leftColumn = TruncToInt(g.pictureLeft + g.pictureWidth + 20);
    const int rightColumn = TruncToInt(static_cast<double>(leftColumn) + width + 10);
    for (int k = 0; k < layout->quota; ++k)
      frames[k].left = k < layout->slotsPerColumn ? leftColumn : rightColumn;
  }
  return frames;
}

int CentredLeft(int frameLeft, int frameWidth, int labelWidth) {
  return TruncToInt(frameLeft + (static_cast<double>(frameWidth) - labelWidth) / 2);
}

int SlotLabelWidth(int textBytes, int charWidth, int frameWidth) {
  const long long wanted = static_cast<long long>(textBytes) * charWidth;
  const long long room = std::max(0LL, static_cast<long long>(frameWidth) - charWidth);
  return static_cast<int>(std::clamp(std::min(wanted, room), 0LL, static_cast<long long>(INT_MAX)));
}

// --- Display texts -------------------------------------------------------------

int EffectiveDisplayMode(int mode) { return mode >= 1 && mode <= 5 ? mode : 1; }

namespace {
Text displayText(int mode, const PersonFields& p, const Text& idMask) {
  static const Text phoneMask = Text::fromGbk("****");
  switch (EffectiveDisplayMode(mode)) {
    case 2:
      return p.name;
    case 3:
      return model::leftText(p.id, 6) + idMask + model::rightText(p.id, 4);
    case 4:
      return model::leftText(p.phone, 3) + phoneMask + model::rightText(p.phone, 4);
    case 5:
      return p.number + Text::fromGbk(" ") + p.name;
    default:
      return p.number;
  }
}
}  // namespace

Text SlotDisplayText(int mode, const PersonFields& p) {
  static const Text mask = Text::fromGbk("****");
  return displayText(mode, p, mask);
}

Text WinnersLineText(int mode, const PersonFields& p) {
  static const Text mask = Text::fromGbk("********");
  return displayText(mode, p, mask);
}

// --- Prompts and the draw state --------------------------------------------------

Text PromptText(Prompt p) {
  switch (p) {
    case Prompt::Ready:
      return "按空格键开始抽奖。"_t;
    case Prompt::Rolling:
      return "按空格键停止抽奖。"_t;
    case Prompt::AwardFull:
      return "本奖项抽取完毕，按空格键进行下一奖项。"_t;
    case Prompt::AllAwardsFull:
      return "所有奖项抽取完毕，按空格键显示中奖名单。"_t;
    case Prompt::AllWon:
      return "所有人员都已中奖，按空格键显示中奖名单。"_t;
    case Prompt::NoAwards:
      return "还没有设置奖项，请先在“奖项管理”中增加奖项。"_t;
    case Prompt::NoParticipants:
      return "还没有参加抽奖的人员，请先在“参加抽奖人员管理”中增加人员。"_t;
    case Prompt::None:
      break;
  }
  return Text();
}

Prompt PromptFromCaption(const Text& caption) {
  for (Prompt p : {Prompt::Ready, Prompt::Rolling, Prompt::AllWon, Prompt::AllAwardsFull,
                   Prompt::AwardFull, Prompt::NoAwards, Prompt::NoParticipants})
    if (caption == PromptText(p)) return p;
  return Prompt::None;
}

bool AwardIsFull(double total, double drawn) { return drawn >= total; }

DrawStateOutcome DecideDrawState(const DrawStateInput& in) {
  DrawStateOutcome out;
  auto refuse = [&out](Prompt p) {
    out.prompt = p;
    out.result = 1;
    return out;
  };
  if (in.noAwards) return refuse(Prompt::NoAwards);
  if (in.noParticipants) return refuse(Prompt::NoParticipants);
  if (in.candidateCount == 0 && in.winRule == 1) return refuse(Prompt::AllWon);
  if (!in.anyAwardHasPlaces) return refuse(Prompt::AllAwardsFull);
  if (in.candidateCount == 0 && in.winRule == 0) return refuse(Prompt::AllWon);
  // Under WinRule 0 a roll never lays out more slots than people are left.
  double remaining = in.total - in.drawn;
  if (in.winRule == 0 && in.candidateCount < remaining) remaining = in.candidateCount;
  out.quotaSet = true;
  out.quota = ComputeQuota(in.perRoll, remaining);
  if (AwardIsFull(in.total, in.drawn)) {
    out.prompt = Prompt::AwardFull;
    out.result = 1;
    return out;
  }
  out.prompt = in.stopped ? Prompt::Ready : Prompt::Rolling;
  out.result = 0;
  return out;
}

// --- Commit and banner -------------------------------------------------------------

void SortDescending(std::vector<int>& list) {
  std::sort(list.begin(), list.end(), std::greater<>());
}

Text CongratulationText(const std::vector<Text>& names, const Text& awardName,
                        const Text& prizeLine) {
  static const Text separator = Text::fromGbk("  ");
  Text line = "恭喜："_t;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) line += separator;
    line += names[i];
  }
  line += "中了"_t;
  line += awardName;
  line += separator;
  line += prizeLine;
  return line;
}

// --- Winners list -----------------------------------------------------------------------

Text BuildWinnersTextFrom(const std::vector<AwardHeading>& awards, const std::vector<Text>& prizes,
                          const std::function<Text(int)>& lineFor) {
  static const Text open = Text::fromGbk("[");
  static const Text close = Text::fromGbk("]");
  static const Text blank = "(---本项空白---)"_t;
  std::string out;
  for (const AwardHeading& award : awards) {
    out += (award.awardName + open + award.prizeName + close + crlf() + crlf()).bytes();
    bool found = false;
    for (std::size_t i = 0; i < prizes.size(); ++i) {
      if (model::findText(prizes[i], award.awardName) <= 0) continue;
      out += lineFor(static_cast<int>(i) + 1).bytes();
      out += crlf().bytes();
      found = true;
    }
    if (!found) out += (blank + crlf()).bytes();
    out += crlf().bytes();
  }
  return Text::fromGbk(std::move(out));
}

int CountLineEnds(const Text& t) {
  const std::string& b = t.bytes();
  int count = 0;
  for (std::size_t i = 0; i + 1 < b.size(); ++i)
    if (b[i] == '\r' && b[i + 1] == '\n') ++count;
  return count;
}

// --- Files ----------------------------------------------------------------------------------

Text SafePrizeFileName(const Text& prizeName) {
  const std::string& in = prizeName.bytes();
  std::string out;
  out.reserve(in.size() + 4);
  for (std::size_t i = 0; i < in.size();) {
    const unsigned char b = static_cast<unsigned char>(in[i]);
    if (b >= 0x80) {
      // A double-byte character, or a four-byte one (second byte a digit).
      std::size_t len = 2;
      if (i + 1 < in.size() && in[i + 1] >= '0' && in[i + 1] <= '9') len = 4;
      len = std::min(len, in.size() - i);
      out.append(in, i, len);
      i += len;
      continue;
    }
    const bool forbidden =
        b < 0x20 || b == 0x7F ||
        std::string_view("/\\:*?\"<>|").find(static_cast<char>(b)) != std::string::npos;
    const bool doubleDot =
        b == '.' && ((i + 1 < in.size() && in[i + 1] == '.') || (i > 0 && in[i - 1] == '.'));
    out += forbidden || doubleDot ? '_' : static_cast<char>(b);
    ++i;
  }
  return Text::fromGbk(out + ".jpg");
}

}  // namespace draw
