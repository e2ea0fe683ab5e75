// The arithmetic and the texts of the draw that need no window and no store:
// quotas and slot layouts, display texts, prompts, the draw-state decision,
// the congratulation line, the winners text and the prize picture's file name.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "model/text.h"

namespace draw {

// Layout arithmetic is done in double precision; a result becomes a position
// or a size truncated toward zero (saturating at the int range).
int TruncToInt(double v);

using model::Text;

// --- Quota and slot layouts ---------------------------------------------------

// Names drawn at once for an award: its 每次名额, lowered to the places left
// when fewer remain, then brought down to 10 (for 11..19) or 5 (for 6..9).
int ComputeQuota(long long perRoll, double remaining);
// The slot layout a quota uses: the largest layout (1, 2, 3, 4, 5, 10, 20)
// not above it, and 1 for a quota below 1, so that every award can be drawn.
int LayoutQuotaFor(int quota);

struct SlotLayout {
  int quota = 0;
  int frameHeight = 0;
  int fontPoints = 0;
  int charWidth = 0;  // pixels of slot width per text byte
  bool twoColumns = false;
  int slotsPerColumn = 0;
  std::array<int, 10> offsets{};  // from the centre line, slots of one column
};
// The layout of one of the quotas 1, 2, 3, 4, 5, 10, 20; nullptr otherwise.
const SlotLayout* SlotLayoutFor(int quota);

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
};
// Geometry the frames are laid out from: the two bands and the backdrop, the
// current left and width of frame 1 and the prize picture box.
struct FrameGeometry {
  double band21Height = 0;
  double band22Top = 0;
  double backdropWidth = 0;
  double frame1Left = 0;
  double pictureLeft = 0;
  double pictureWidth = 0;
};
// Frames 1..quota for a layout quota (empty for a quota without layout). A
// one-column layout keeps frame 1's current left for every frame.
std::vector<Rect> LayOutFrames(int layoutQuota, const FrameGeometry& g);
// Left of a label of width labelWidth centred in a frame, toward zero.
int CentredLeft(int frameLeft, int frameWidth, int labelWidth);
// Width of a slot's label: charWidth pixels per text byte, but never more
// than the frame less one character, so that a long text is drawn narrower
// inside its frame and keeps clear of the frame beside it.
int SlotLabelWidth(int textBytes, int charWidth, int frameWidth);

// --- Display texts -------------------------------------------------------------

struct PersonFields {
  Text number, name, phone, id;
};
// The display mode in effect: 1..5 as stored; any other value shows 编号 (1).
int EffectiveDisplayMode(int mode);
// The text a name slot shows: 编号, 姓名, masked 身份证号码 (first 6, "****",
// last 4), masked 电话号码 (first 3, "****", last 4), or 编号 " " 姓名.
Text SlotDisplayText(int mode, const PersonFields& p);
// A winner's line in the winners list: as the slot, except that the identity
// number is masked with eight stars.
Text WinnersLineText(int mode, const PersonFields& p);

// --- Prompts and the draw state --------------------------------------------------

// NoAwards and NoParticipants say why a draw cannot begin; the space key does
// nothing on them.
enum class Prompt {
  None,
  Ready,
  Rolling,
  AwardFull,
  AllAwardsFull,
  AllWon,
  NoAwards,
  NoParticipants
};
Text PromptText(Prompt p);
// The prompt a caption holds, compared byte for byte (None for any other).
Prompt PromptFromCaption(const Text& caption);

// An award is full once as many winners as 中奖人数 have been drawn, or more.
bool AwardIsFull(double total, double drawn);

struct DrawStateInput {
  int candidateCount = 0;
  int winRule = 0;
  bool anyAwardHasPlaces = false;
  long long perRoll = 0;  // 每次名额 of the current award
  double total = 0;       // 中奖人数
  double drawn = 0;       // 已抽取人数
  bool stopped = true;
  bool noAwards = false;        // the award store holds no award
  bool noParticipants = false;  // the participant store holds no record
};
struct DrawStateOutcome {
  Prompt prompt = Prompt::None;
  int result = 0;  // 1: no roll may start
  bool quotaSet = false;
  int quota = 0;
};
// Nothing can be drawn with no award or no participant. Under WinRule 0 the
// candidates left also bound the quota, and with none left while places
// remain everybody has won (the same end as under WinRule 1).
DrawStateOutcome DecideDrawState(const DrawStateInput& in);

// --- Commit and banner -------------------------------------------------------------

void SortDescending(std::vector<int>& list);
// "恭喜：" name1 "  " name2 ... "中了" award "  " prize line.
Text CongratulationText(const std::vector<Text>& names, const Text& awardName,
                        const Text& prizeLine);

// --- Winners list -----------------------------------------------------------------------

struct AwardHeading {
  Text awardName, prizeName;
};
// The winners text: per award a heading line, an empty line, one line per
// winner (participants whose 中奖项目 contains the award name, in record
// order) or "(---本项空白---)", and an empty line. prizes[i] is 中奖项目 of
// participant record i + 1; lineFor(record) gives that winner's line.
Text BuildWinnersTextFrom(const std::vector<AwardHeading>& awards, const std::vector<Text>& prizes,
                          const std::function<Text(int)>& lineFor);
// CR LF pairs in a text.
int CountLineEnds(const Text& t);

// --- Files ----------------------------------------------------------------------------------

// The file name of a prize picture: the prize name with ".jpg", where every
// character a file name cannot hold (path separators, ":*?\"<>|", control
// characters) and every ".." become "_", so the file stays inside Prize/.
Text SafePrizeFileName(const Text& prizeName);

}  // namespace draw
