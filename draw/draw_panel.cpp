// The draw panel: its set-up, the award on show, the draw state and the
// space key.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "forms/names.h"
#include "frame/frame.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace draw {

using model::operator""_t;
using model::Text;
namespace person = model::person;
namespace award = model::award;

ui::Window DrawPanel() { return ui::Window(forms::DrawPanelWindow::window); }
ui::Window DrawBackdrop() { return ui::Window(forms::DrawBackdropWindow::window); }
ui::Control NameSlot(int k) { return ui::Control(forms::DrawPanelWindow::名单At(k)); }
ui::Control SlotFrame(int k) { return ui::Control(forms::DrawBackdropWindow::分组框At(k)); }

void SetDrawWindowsOnTop(bool on) {
  DrawBackdrop().setAlwaysOnTop(on);
  DrawPanel().setAlwaysOnTop(on);
}

int ShowDrawMessage(const Text& text, int buttons, int flags) {
  SetDrawWindowsOnTop(false);
  int result = ui::messageBox(text, Text(), buttons, flags);
  SetDrawWindowsOnTop(true);
  return result;
}

void PlayMusicSetting(const Text& field, const char* folder, int times) {
  store::select(model::aliasSettings());
  store::goFirst();
  Text value = store::readText(field);
  if (model::isMusicDisabled(value)) {
    music::stopAll();
    return;
  }
  music::play(model::resolveFileReference(ui::programFolder(), folder, value), times);
}

void BuildCandidateList() {
  draw::gCandidates.clear();
  store::select(model::aliasPersons());
  store::goFirst();
  draw::gDisplayMode = static_cast<int>(store::readInt(person::抽奖模式()));
  const int count = store::recordCount();
  draw::gCandidates.reserve(count);
  for (int i = 1; i <= count; ++i) {
    if (draw::gWinRule == 0) {
      if (store::readText(person::中奖项目()).empty()) draw::gCandidates.push_back(i);
    } else {
      draw::gCandidates.push_back(i);
    }
    store::skip(1);
  }
}

void OnDrawPanelCreated() {
  draw::gCandidates.clear();
  ui::setFlatLook(1);

  ui::Window panel = DrawPanel();
  PlaceOnDrawScreen(panel);

  // The button row along the bottom edge, right to left, and the close button
  // in the top right corner.
  ui::Control close = ui::Control(forms::DrawPanelWindow::关闭超级按钮);
  close.setLeft(panel.width() - close.width());
  const char* row[] = {"超级按钮5", "超级按钮4", "超级按钮3", "超级按钮2", "超级按钮1"};
  int left = panel.width() - panel.ctl(row[0]).width() - 20;
  for (const char* name : row) {
    ui::Control b = panel.ctl(name);
    b.setLeft(left);
    b.setTop(panel.height() - b.height() - 20);
    left -= 100;
  }
  panel.setLayeredColorKey({255, 0, 255});

  ui::Control awardLine = ui::Control(forms::DrawPanelWindow::透明标签2);
  ui::Control countsLine = ui::Control(forms::DrawPanelWindow::透明标签3);
  countsLine.setTop(awardLine.top() + countsLine.height() + 2);
  ui::Control prompt = ui::Control(forms::DrawPanelWindow::透明标签4);
  ui::Control startButton = ui::Control(forms::DrawPanelWindow::超级按钮1);
  prompt.setTop(startButton.top() - 6);
  prompt.setWidth(startButton.left() - 30);
  NameSlot(1).setLeft(SlotFrame(1).left());
  NameSlot(1).setTop(SlotFrame(1).top() + 4);

  store::select(model::aliasAwards());
  store::goFirst();
  draw::gWinRule = static_cast<int>(store::readInt(award::中奖方式()));
  draw::gDrawOrder = static_cast<int>(store::readInt(award::中奖顺序()));
  if (draw::gDrawOrder == 0)
    store::goLast();
  else
    store::goFirst();
  ShowCurrentAward();

  BuildCandidateList();
  draw::gDrawStopped = 1;
  draw::gSpaceHotkeyId =
      ui::registerHotKey(panel, ui::Control(forms::DrawPanelWindow::热键标签), 0, 32);
  UpdateDrawState();
  draw::gDrawFinished = 0;
}

void OnDrawPanelDestroying() {
  ui::unregisterHotKey(DrawPanel(), draw::gSpaceHotkeyId);
  if (draw::gDrawFinished == 0 && !frame::ProgramEnding()) frame::ApplySystemSettings();
}

void ShowCurrentAward() {
  ui::Window panel = DrawPanel();
  store::select(model::aliasAwards());
  // With an empty award store there is no award to show and nothing to write.
  const bool hasAward = store::recordNumber() > 0;
  const Text name = store::readText(award::奖项名称());
  const Text prize = store::readText(award::奖品名称());
  const model::Bytes picture = store::readBytes(award::奖品图片());

  int height = 0, width = 0;
  if (hasAward) {
    const std::string path =
        model::programPath(ui::programFolder(), model::kPrizeFolder, SafePrizeFileName(prize));
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    // A file that already holds this picture is left as it is (a roll's
    // commit shows the award again and would rewrite it every time).
    const bool current = !std::filesystem::is_symlink(path, ec) &&
                         image::readFile(path) == picture &&
                         std::filesystem::is_regular_file(path, ec);
    if (current || image::writeFile(path, picture)) {
      image::pictureDimensions(path, &height, &width);
    } else {
      // The earlier file stays whole; the box is sized from the stored
      // picture itself, which it shows in any case.
      std::fprintf(stderr, "draw: the prize picture %s could not be written\n", path.c_str());
      const image::Image shown = image::decode(picture);
      height = shown.valid() ? shown.height : 0;
      width = shown.valid() ? shown.width : 0;
    }
  }
  const float ratio = width > 0 ? static_cast<float>(height) / static_cast<float>(width) : 0.0f;
  ui::Control box = ui::Control(forms::DrawPanelWindow::图片框1);
  ui::Control prizeLine = ui::Control(forms::DrawPanelWindow::透明标签1);
  box.setHeight(TruncToInt(box.width() * static_cast<double>(ratio)));
  box.setTop(TruncToInt((static_cast<double>(panel.height()) - box.height()) / 2));
  prizeLine.setTop(box.top() - prizeLine.height());
  box.setVisible(!picture.empty());
  box.setPicture(picture);

  // With no award the award and counts lines stay empty: the prompt says why.
  prizeLine.setCaption(hasAward ? "奖品："_t + prize : Text());
  ui::Control(forms::DrawPanelWindow::透明标签2)
      .setCaption(hasAward ? "正在抽取"_t + name + Text::fromGbk("...") : Text());
  const double remaining =
      store::readDouble(award::中奖人数()) - store::readDouble(award::已抽取人数());
  ui::Control(forms::DrawPanelWindow::透明标签3)
      .setCaption(hasAward ? "共"_t + store::readAsText(award::中奖人数()) + "名 已抽取"_t +
                                 store::readAsText(award::已抽取人数()) + "名 还剩"_t +
                                 model::numberToText(remaining) + "名"_t
                           : Text());
  draw::gCurrentAwardName = name;
  UpdateDrawState();
}

int UpdateDrawState() {
  DrawStateInput in;
  in.candidateCount = static_cast<int>(draw::gCandidates.size());
  in.winRule = draw::gWinRule;
  in.stopped = draw::gDrawStopped != 0;
  {
    store::CurrentStoreKeeper keep;
    store::select(model::aliasAwards());
    in.noAwards = store::recordCount() == 0;
    store::select(model::aliasPersons());
    in.noParticipants = store::recordCount() == 0;
  }
  if (!in.noAwards && !in.noParticipants && !(in.candidateCount == 0 && in.winRule == 1)) {
    store::select(model::aliasAwards());
    const int remembered = store::recordNumber();
    const int count = store::recordCount();
    store::goFirst();
    for (int i = 1; i <= count; ++i) {
      if (!AwardIsFull(static_cast<double>(store::readInt(award::中奖人数())),
                       static_cast<double>(store::readInt(award::已抽取人数()))))
        in.anyAwardHasPlaces = true;
      store::skip(1);
    }
    if (remembered > 0) store::goTo(remembered);
    in.perRoll = store::readInt(award::每次名额());
    in.total = static_cast<double>(store::readInt(award::中奖人数()));
    in.drawn = static_cast<double>(store::readInt(award::已抽取人数()));
  }
  const DrawStateOutcome out = DecideDrawState(in);
  if (out.quotaSet) draw::gDrawQuota = out.quota;
  ui::Control(forms::DrawPanelWindow::透明标签4).setCaption(PromptText(out.prompt));
  return out.result;
}

void OnDrawPanelHotkeyLabelHotkey(int id, int /*extra*/) {
  if (id == draw::gSpaceHotkeyId) HandleSpaceKey(draw::gSpaceHotkeyId);
}

void HandleSpaceKey(int id) {
  if (id != draw::gSpaceHotkeyId) return;
  // Every draw message box switches the panel's always-on-top off while it
  // shows, so the key does nothing meanwhile.
  if (!DrawPanel().alwaysOnTop()) return;
  switch (PromptFromCaption(ui::Control(forms::DrawPanelWindow::透明标签4).caption())) {
    case Prompt::Ready:
      StartDraw();
      break;
    case Prompt::Rolling:
      StopDraw();
      break;
    case Prompt::AllWon:
    case Prompt::AllAwardsFull:
      DrawBackdrop().setVisible(false);
      DrawPanel().setVisible(false);
      draw::gDrawFinished = 1;
      ShowWinnersList();
      CloseDrawWindows();
      break;
    case Prompt::AwardFull:
      NextAward();
      break;
    case Prompt::NoAwards:
    case Prompt::NoParticipants:
    case Prompt::None:
      break;
  }
}

}  // namespace draw
