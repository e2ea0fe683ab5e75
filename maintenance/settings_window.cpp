// The settings window: the titles and greeting of the start window, its
// background picture and the four music choices, with a preview of each.
#include <filesystem>
#include <string>
#include <system_error>

#include "forms/names.h"
#include "frame/frame.h"
#include "maintenance/maintenance.h"
#include "maintenance/settings_window.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace maintenance {

using model::operator""_t;
using model::Text;
namespace settings = model::settings;

namespace {

// One music choice: its store field, combo box, icon, browse folder.
struct MusicChoice {
  Text (*field)();
  ui::ControlName combo;
  ui::ControlName icon;
  const char* folder;
};

const MusicChoice kMusic[] = {
    {&settings::背景音乐, forms::SettingsWindow::背景音乐组合框, forms::SettingsWindow::图片框2,
     model::kIdleMusicFolder},
    {&settings::开始抽奖音乐, forms::SettingsWindow::开始抽奖音乐组合框,
     forms::SettingsWindow::图片框3, model::kStartMusicFolder},
    {&settings::停止抽奖音乐, forms::SettingsWindow::停止抽奖音乐组合框,
     forms::SettingsWindow::图片框4, model::kStopMusicFolder},
    {&settings::中奖名单音乐, forms::SettingsWindow::中奖名单音乐组合框,
     forms::SettingsWindow::图片框5, model::kIdleMusicFolder},
};
enum { kIdle = 0, kStart = 1, kStop = 2, kWinners = 3 };

// The edit boxes and the picture combo, with the field each one holds.
struct TextField {
  Text (*field)();
  ui::ControlName control;
};
const TextField kTexts[] = {
    {&settings::主标题, forms::SettingsWindow::编辑框1},
    {&settings::副标题, forms::SettingsWindow::编辑框2},
    {&settings::祝福词, forms::SettingsWindow::编辑框3},
};
constexpr ui::ControlName kPictureCombo = forms::SettingsWindow::背景图片组合框;

// The preview of a background-picture reference: a bare name lies in the
// background folder, a full path is read as it stands; no text, no picture.
void ShowPicturePreview(const std::string& path) {
  ui::Control(forms::SettingsWindow::图片框1).setPicture(image::readFile(path));
}

void ShowPictureReference(const Text& value) {
  if (value.empty()) {
    ui::Control(forms::SettingsWindow::图片框1).setPicture(model::Bytes());
    return;
  }
  ShowPicturePreview(
      model::resolveFileReference(ui::programFolder(), model::kBackgroundFolder, value));
}

void PreviewMusic(int choice) {
  const MusicChoice& m = kMusic[choice];
  const Text value = ui::Control(m.combo).text();
  // "禁用" is no music: whatever plays keeps playing, no icon changes.
  if (model::isMusicDisabled(value)) return;
  music::play(model::resolveFileReference(ui::programFolder(), m.folder, value), 1);
  for (int k = 0; k < 4; ++k)
    ui::Control(kMusic[k].icon).setPicture(k == choice ? StopIcon() : PlayIcon());
}

// Shows the common dialog for the pattern; the chosen full path, or "" when
// the operator cancelled.
Text BrowseFor(const char* filter, const char* ext) {
  ui::Control dialog = ui::Control(forms::SettingsWindow::通用对话框1);
  dialog.setFilter(Text::fromUtf8(filter));
  dialog.setDefaultExt(Text::fromUtf8(ext));
  dialog.setKeepCurrentDir(true);
  if (!dialog.showDialog()) return Text();
  return dialog.fileName();
}

void BrowseMusic(int choice) {
  const Text path = BrowseFor("图片文件(*.mp3)|*.mp3", "mp3");
  if (path.empty()) return;
  ui::Control(kMusic[choice].combo).setText(path);
  PreviewMusic(choice);
}

void StopPreviewFromIcon(int choice) {
  ui::Control icon = ui::Control(kMusic[choice].icon);
  // The icon is the preview's only state: the stop icon means one plays.
  if (icon.picture() != StopIcon()) return;
  music::stopAll();
  icon.setPicture(PlayIcon());
}

// The files of a folder of the program, by name, in the order the file
// system lists them; a missing folder has none.
void AppendFolderFiles(const char* folderText, ui::ControlName combo) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(model::programPath(ui::programFolder(), folderText), ec);
  if (ec) return;
  ui::Control box = ui::Control(combo);
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    box.addItem(Text::fromUtf8(it->path().filename().string()));
  }
}

// The settings store current, holding its record.
bool EnsureSettingsRecord() {
  store::select(model::aliasSettings());
  if (store::recordCount() < 1) return store::append({});
  // The record is the current one; a cursor left past it is put back.
  if (store::recordNumber() == 0) store::goFirst();
  return true;
}

}  // namespace

ui::Window SettingsWindow() { return ui::Window(forms::SettingsWindow::window); }

model::Bytes PlayIcon() { return ui::formPicture("pictures/play_icon_20x20.jpg"); }
model::Bytes StopIcon() { return ui::formPicture("pictures/stop_icon_20x20.jpg"); }

void OnSettingsCreated() {
  ui::setFlatLook(1);
  // The record exists from here on, even when the operator then cancels.
  EnsureSettingsRecord();

  for (const TextField& f : kTexts) ui::Control(f.control).setText(store::readText(f.field()));
  for (const MusicChoice& m : kMusic) ui::Control(m.combo).setText(store::readText(m.field()));
  ui::Control(kPictureCombo).setText(store::readText(settings::背景图片()));

  ListMediaFolders();
  ShowPictureReference(ui::Control(kPictureCombo).text());
}

void ListMediaFolders() {
  AppendFolderFiles(model::kBackgroundFolder, kPictureCombo);
  AppendFolderFiles(model::kIdleMusicFolder, kMusic[kIdle].combo);
  AppendFolderFiles(model::kStartMusicFolder, kMusic[kStart].combo);
  AppendFolderFiles(model::kStopMusicFolder, kMusic[kStop].combo);
  AppendFolderFiles(model::kIdleMusicFolder, kMusic[kWinners].combo);
}

void OnSettingsBackgroundPictureComboItemChosen() {
  ShowPicturePreview(model::programPath(ui::programFolder(), model::kBackgroundFolder,
                                        ui::Control(kPictureCombo).text()));
}

void OnSettingsBrowseBackgroundPictureButtonClick() {
  const Text path = BrowseFor("图片文件(*.jpg)|*.jpg", "jpg");
  if (path.empty()) return;
  // A file that is no picture would leave the start window without one:
  // it is refused and the choice stays as it was.
  const model::Bytes bytes = image::readFile(path.toUtf8());
  if (!image::decode(bytes).valid()) {
    ui::messageBox("所选文件不是有效的图片文件，背景图片没有改变！"_t);
    return;
  }
  ui::Control(kPictureCombo).setText(path);
  ui::Control(forms::SettingsWindow::图片框1).setPicture(bytes);
}

void PreviewBackgroundMusic() { PreviewMusic(kIdle); }
void PreviewStartMusic() { PreviewMusic(kStart); }
void PreviewStopMusic() { PreviewMusic(kStop); }
void PreviewWinnersMusic() { PreviewMusic(kWinners); }

void OnSettingsBrowseBackgroundMusicButtonClick() { BrowseMusic(kIdle); }
void OnSettingsBrowseStartMusicButtonClick() { BrowseMusic(kStart); }
void OnSettingsBrowseStopMusicButtonClick() { BrowseMusic(kStop); }
void OnSettingsBrowseWinnersMusicButtonClick() { BrowseMusic(kWinners); }

void OnSettingsBackgroundMusicIconMouseDown(int, int, int) { StopPreviewFromIcon(kIdle); }
void OnSettingsStartMusicIconMouseDown(int, int, int) { StopPreviewFromIcon(kStart); }
void OnSettingsStopMusicIconMouseDown(int, int, int) { StopPreviewFromIcon(kStop); }
void OnSettingsWinnersMusicIconMouseDown(int, int, int) { StopPreviewFromIcon(kWinners); }

bool SaveSettings() {
  // Eight writes make one change: a refused write leaves the record as it was.
  store::Transaction tx;
  bool ok = EnsureSettingsRecord();
  for (const TextField& f : kTexts)
    ok = ok && store::write(f.field(), ui::Control(f.control).text());
  for (const MusicChoice& m : kMusic)
    ok = ok && store::write(m.field(), ui::Control(m.combo).text());
  ok = ok && store::write(settings::背景图片(), ui::Control(kPictureCombo).text());
  ok = ok && tx.commit();
  if (!ok) {
    tx.rollback();
    ui::messageBox("系统设置保存失败，设置没有改变！"_t);
  }
  return ok;
}

void OnSettingsApplyButtonClick() {
  if (!SaveSettings()) return;
  frame::ApplySystemSettings();
}

void OnSettingsOkButtonClick() {
  // A refused save keeps the window open with what the operator entered.
  if (!SaveSettings()) return;
  frame::ApplySystemSettings();
  SettingsWindow().destroy();
}

void OnSettingsCancelButtonClick() { SettingsWindow().destroy(); }

void registerSettingsHandlers() {
  ui::registerHandler("OnSettingsCreated", &OnSettingsCreated);
  ui::registerHandler("OnSettingsApplyButtonClick", &OnSettingsApplyButtonClick);
  ui::registerHandler("OnSettingsOkButtonClick", &OnSettingsOkButtonClick);
  ui::registerHandler("OnSettingsCancelButtonClick", &OnSettingsCancelButtonClick);
  ui::registerHandler("OnSettingsBrowseBackgroundPictureButtonClick",
                      &OnSettingsBrowseBackgroundPictureButtonClick);
  ui::registerHandler("OnSettingsBackgroundPictureComboItemChosen",
                      &OnSettingsBackgroundPictureComboItemChosen);
  ui::registerHandler("PreviewBackgroundMusic", &PreviewBackgroundMusic);
  ui::registerHandler("PreviewStartMusic", &PreviewStartMusic);
  ui::registerHandler("PreviewStopMusic", &PreviewStopMusic);
  ui::registerHandler("PreviewWinnersMusic", &PreviewWinnersMusic);
  ui::registerHandler("OnSettingsBrowseBackgroundMusicButtonClick",
                      &OnSettingsBrowseBackgroundMusicButtonClick);
  ui::registerHandler("OnSettingsBrowseStartMusicButtonClick",
                      &OnSettingsBrowseStartMusicButtonClick);
  ui::registerHandler("OnSettingsBrowseStopMusicButtonClick",
                      &OnSettingsBrowseStopMusicButtonClick);
  ui::registerHandler("OnSettingsBrowseWinnersMusicButtonClick",
                      &OnSettingsBrowseWinnersMusicButtonClick);
  ui::registerHandler("OnSettingsBackgroundMusicIconMouseDown",
                      &OnSettingsBackgroundMusicIconMouseDown);
  ui::registerHandler("OnSettingsStartMusicIconMouseDown", &OnSettingsStartMusicIconMouseDown);
  ui::registerHandler("OnSettingsStopMusicIconMouseDown", &OnSettingsStopMusicIconMouseDown);
  ui::registerHandler("OnSettingsWinnersMusicIconMouseDown", &OnSettingsWinnersMusicIconMouseDown);
}

}  // namespace maintenance
