// A throw-away program folder for tests: the data folder with the three
// stores, the picture and music folders, and a forms folder assembled from
// the program's own forms plus stand-ins.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "model/records.h"
#include "platform/media/image.h"
#include "platform/store/store.h"

namespace fixture {

// A silent WAV (8 kHz mono 8-bit) that the music player decodes.
inline void writeSilentWav(const std::string& path, double seconds = 0.1) {
  std::string wav = "RIFF";
  auto u32 = [&](unsigned v) {
    for (int i = 0; i < 4; ++i) wav.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  };
  auto u16 = [&](unsigned v) {
    wav.push_back(static_cast<char>(v & 0xff));
    wav.push_back(static_cast<char>((v >> 8) & 0xff));
  };
  const unsigned n = static_cast<unsigned>(8000 * seconds);
  u32(36 + n);
  wav += "WAVEfmt ";
  u32(16), u16(1), u16(1), u32(8000), u32(8000), u16(1), u16(8);
  wav += "data";
  u32(n);
  wav.append(n, static_cast<char>(128));
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  fwrite(wav.data(), 1, wav.size(), f);
  fclose(f);
}

using Row = std::vector<store::Value>;

// A participant record: the number (ASCII digits) also makes an 11-digit
// phone and an 18-character identity number; display mode 2.
inline Row person(const std::string& number, const model::Text& name,
                  const model::Text& won = model::Text()) {
  return {model::Text::fromGbk(number),
          name,
          model::Text::fromGbk("1380013" + number),
          model::Text::fromGbk("11010119900101" + number),
          model::Text(),
          2LL,
          won};
}

// A JPEG of one colour (0xAARRGGBB).
inline model::Bytes solidJpeg(int width, int height, std::uint32_t argb = 0xffcc3322u) {
  image::Image img;
  img.width = width;
  img.height = height;
  img.pixels.assign(static_cast<std::size_t>(width) * height, argb);
  return image::encodeJpeg(img, 90);
}

// Every program form (the JSON files of forms/), for tests that run the
// whole program.
inline std::vector<std::string> allProgramForms() {
  std::vector<std::string> forms;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(PD_SOURCE_DIR) / "forms"))
    if (entry.path().extension() == ".json") forms.push_back(entry.path().stem().string());
  return forms;
}

class TempEvent {
 public:
  TempEvent() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pd-event-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    dir = mkdtemp(buf.data());
    for (const char* sub : {"data", "Prize/bj", "Music/bj", "Music/Start", "Music/end", "fonts"})
      std::filesystem::create_directories(std::filesystem::path(dir) / sub);
  }
  ~TempEvent() {
    store::closeAll();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  TempEvent(const TempEvent&) = delete;
  TempEvent& operator=(const TempEvent&) = delete;

  std::string path(const std::string& rel) const { return dir + "/" + rel; }

  // Writes a store file with the fields of its record and the given rows.
  void makeStore(const char* fileText, const std::vector<model::FieldSpec>& specs,
                 const std::vector<Row>& rows) const {
    const std::string file = model::programPath(dir, fileText);
    store::createStoreFile(file, store::fieldDefs(specs));
    const model::Text alias = model::Text::fromUtf8("fixture");
    store::open(file, alias);
    for (const auto& r : rows) store::append(r);
    store::close();
  }
  void makePersons(const std::vector<Row>& rows) const {
    makeStore(model::kPersonsFile, model::personFields(), rows);
  }
  void makeAwards(const std::vector<Row>& rows) const {
    makeStore(model::kAwardsFile, model::awardFields(), rows);
  }
  // Settings are written by field name: 主标题 副标题 祝福词 背景图片 背景音乐
  // 开始抽奖音乐 停止抽奖音乐 中奖名单音乐, in that order.
  void makeSettings(const std::vector<model::Text>& values) const {
    Row row;
    for (const auto& v : values) row.push_back(v);
    makeStore(model::kSettingsFile, model::settingsFields(),
              values.empty() ? std::vector<Row>{} : std::vector<Row>{row});
  }

  // A forms folder holding the named program forms (from the source tree),
  // every program picture, and extra forms given as JSON texts.
  std::string makeForms(const std::vector<std::string>& programForms,
                        const std::vector<std::pair<std::string, std::string>>& extra = {}) const {
    namespace fs = std::filesystem;
    const fs::path src = fs::path(PD_SOURCE_DIR) / "forms";
    const fs::path dst = fs::path(dir) / "forms";
    fs::create_directories(dst);
    if (fs::exists(src / "pictures"))
      fs::copy(src / "pictures", dst / "pictures", fs::copy_options::recursive);
    for (const auto& f : programForms) fs::copy_file(src / (f + ".json"), dst / (f + ".json"));
    for (const auto& [name, json] : extra) {
      FILE* out = fopen((dst / (name + ".json")).c_str(), "wb");
      fwrite(json.data(), 1, json.size(), out);
      fclose(out);
    }
    return dst.string();
  }

  std::string dir;
};

}  // namespace fixture
