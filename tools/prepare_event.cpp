// Makes a program folder for an event:
//   prepare_event [--sample|--empty] [--force] DIR
// DIR/data/ gets the three store files with exactly the program's fields,
// plus the picture, music and font folders and help.chm. --empty leaves the
// stores without records; --sample (the default) fills in a synthetic event:
// about 300 participants, six awards with prize pictures, the settings
// record, a background picture and short music pieces of our own making.
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "model/records.h"
#include "model/text.h"
#include "platform/media/canvas.h"
#include "platform/media/image.h"
#include "platform/store/store.h"

#ifndef PD_HELP_DIR
#define PD_HELP_DIR "tools/help"
#endif

namespace fs = std::filesystem;
using model::operator""_t;
using model::Text;
using store::Value;

namespace {

constexpr int kUsageError = 2;

int usage(const char* why) {
  if (why) std::fprintf(stderr, "prepare_event: %s\n", why);
  std::fprintf(stderr,
               "usage: prepare_event [--sample|--empty] [--force] DIR\n"
               "  --sample  a ready synthetic event (default)\n"
               "  --empty   store files without records\n"
               "  --force   write into an existing folder that is not empty\n");
  return kUsageError;
}

bool fail(const std::string& what) {
  std::fprintf(stderr, "prepare_event: %s\n", what.c_str());
  return false;
}

// --- Store files -------------------------------------------------------------

// Creates the store file and appends the records, all in one transaction.
bool makeStore(const std::string& path, const std::vector<model::FieldSpec>& specs,
               const std::vector<std::vector<Value>>& records) {
  if (!store::createStoreFile(path, store::fieldDefs(specs))) return fail("cannot create " + path);
  if (records.empty()) return true;
  const Text alias = "prepare"_t;
  if (!store::open(path, alias)) return fail("cannot open " + path);
  bool ok = true;
  {
    store::Transaction tx;
    for (const auto& r : records)
      if (!store::append(r)) {
        ok = false;
        break;
      }
    ok = ok && tx.commit();
  }
  store::close();
  if (!ok) return fail("cannot write the records of " + path);
  return true;
}

// --- Synthetic people ----------------------------------------------------------

std::mt19937 gRng(20270128);  // fixed: the sample event is the same on every run

int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(gRng); }
template <typename T, size_t N>
const T& pickFrom(const T (&table)[N]) {
  return table[pick(int(N))];
}

const char* const kSurnames[] = {
    "王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴",   "周",   "徐",  "孙", "马",
    "朱", "胡", "郭", "何", "林", "罗", "高", "郑", "梁",   "谢",   "宋",  "唐", "许",
    "韩", "冯", "邓", "曹", "彭", "曾", "肖", "田", "董",   "袁",   "潘",  "蒋", "蔡",
    "余", "杜", "叶", "程", "魏", "苏", "吕", "丁", "任",   "沈",   "姚",  "卢", "姜",
    "崔", "钟", "谭", "陆", "汪", "范", "金", "石", "欧阳", "司马", "诸葛"};
const char* const kGiven[] = {
    "伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "军", "洋", "勇", "艳", "杰", "娟", "涛",
    "明", "超", "秀", "霞", "平", "刚", "桂", "英", "华", "玉", "萍", "红", "鹏", "辉", "建",
    "文", "斌", "宇", "浩", "凯", "婷", "雪", "琳", "晨", "欣", "怡", "佳", "子", "涵", "轩",
    "博", "思", "睿", "嘉", "悦", "晓", "志", "海", "俊", "峰", "梅", "兰", "春", "宁", "瑶"};
const char* const kDepartments[] = {"技术部", "市场部", "销售部", "财务部",   "人力资源部",
                                    "行政部", "生产部", "客服部", "研发中心", "总经办"};

std::string syntheticName() {
  std::string name = pickFrom(kSurnames);
  const int givenCount = pick(10) < 3 ? 1 : 2;
  for (int i = 0; i < givenCount; ++i) name += pickFrom(kGiven);
  return name;
}

std::string digits(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += char('0' + pick(10));
  return s;
}

std::string phoneNumber() { return "1" + std::string(1, char('3' + pick(7))) + digits(9); }

// The check character of an 18-character identity number (ISO 7064 MOD 11-2).
char idCheck(const std::string& first17) {
  static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
  static const char map[] = "10X98765432";
  int sum = 0;
  for (int i = 0; i < 17; ++i) sum += (first17[size_t(i)] - '0') * weights[i];
  return map[sum % 11];
}

std::string identityNumber() {
  char region[40];
  std::snprintf(region, sizeof region, "%02d%02d%02d", 11 + pick(55), 1 + pick(20), 1 + pick(30));
  const int year = 1965 + pick(38), month = 1 + pick(12);
  static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int day = 1 + pick(monthDays[month - 1] + (month == 2 && leap ? 1 : 0));
  char birth[40];
  std::snprintf(birth, sizeof birth, "%04d%02d%02d", year, month, day);
  const std::string first17 = std::string(region) + birth + digits(3);
  return first17 + idCheck(first17);
}

std::vector<std::vector<Value>> samplePeople(int count) {
  std::vector<std::vector<Value>> rows;
  for (int i = 1; i <= count; ++i) {
    char number[24];
    std::snprintf(number, sizeof number, "%04d", i);
    rows.push_back({Text::fromUtf8(number), Text::fromUtf8(syntheticName()),
                    Text::fromUtf8(phoneNumber()), Text::fromUtf8(identityNumber()),
                    Text::fromUtf8(pickFrom(kDepartments)),
                    // The display mode lives in record 1: number and name.
                    static_cast<long long>(i == 1 ? 5 : 0), Text(), Text()});
  }
  return rows;
}

// --- Pictures -------------------------------------------------------------------

using canvas::Canvas;
using canvas::Paint;
using canvas::Pen;
using canvas::rgb;

canvas::Font hei(int px) { return canvas::Font{"WenQuanYi Micro Hei"_t, px, true}; }

image::Bytes prizePicture(const std::string& award, const std::string& prize, int hue) {
  Canvas c(320, 240);
  const canvas::Color top = rgb(255, 230 - hue / 3, 150 - hue / 2),
                      bottom = rgb(230, 120 - hue / 3, 40);
  c.verticalGradient(0, 0, 320, 240, top, bottom);
  c.roundedRect(10, 10, 300, 220, 14, Paint{}, Pen{rgb(160, 20, 10), 3});
  // A gift box.
  c.rect(110, 80, 100, 80, Paint::vertical(rgb(230, 30, 30), rgb(160, 0, 0)),
         Pen{rgb(110, 0, 0), 1.5});
  c.rect(100, 64, 120, 22, Paint::vertical(rgb(245, 50, 40), rgb(180, 10, 10)),
         Pen{rgb(110, 0, 0), 1.5});
  c.rect(152, 64, 16, 96, Paint::solid(rgb(255, 210, 60)));
  c.ellipse(145, 56, 14, 9, Paint{}, Pen{rgb(255, 210, 60), 5});
  c.ellipse(175, 56, 14, 9, Paint{}, Pen{rgb(255, 210, 60), 5});
  c.shadowText(0, 14, 320, 44, Text::fromUtf8(award), hei(28), rgb(150, 0, 0),
               rgb(255, 255, 255, 140), 1);
  c.shadowText(0, 170, 320, 50, Text::fromUtf8(prize), hei(24), rgb(255, 255, 255), rgb(90, 0, 0),
               1.5);
  return image::encodeJpeg(c.toImage(), 90);
}

image::Bytes backgroundPicture() {
  Canvas c(1024, 768);
  c.verticalGradient(0, 0, 1024, 768, rgb(170, 10, 0), rgb(80, 0, 0));
  for (int i = 0; i < 10; ++i) {
    const double r = 520 - i * 45;
    c.ellipse(512, 384, r * 1.2, r * 0.8, Paint::solid(rgb(230, 60, 20, 9)));
  }
  for (int k = 0; k < 40; ++k) {
    const double x = pick(1024), y = pick(768), r = 4 + pick(10);
    c.circle(x, y, r, Paint::solid(rgb(255, 210, 90, 40 + pick(60))));
  }
  c.rect(0, 0, 1024, 14, Paint::vertical(rgb(255, 214, 80), rgb(214, 150, 20)));
  c.rect(0, 754, 1024, 14, Paint::vertical(rgb(214, 150, 20), rgb(255, 214, 80)));
  return image::encodeJpeg(c.toImage(), 88);
}

// --- Music ------------------------------------------------------------------------

struct Note {
  double freq;  // 0: rest
  double beats;
};

// Mono 16-bit PCM at 22050 Hz: each note a soft bell-like tone.
image::Bytes wavOf(const std::vector<Note>& notes, double beatSeconds, double volume) {
  const int rate = 22050;
  std::vector<std::int16_t> samples;
  for (const Note& n : notes) {
    const size_t len = size_t(n.beats * beatSeconds * rate);
    for (size_t i = 0; i < len; ++i) {
      const double t = double(i) / rate;
      double v = 0;
      if (n.freq > 0) {
        const double env = std::min(1.0, t * 80) * std::exp(-3.0 * t / (n.beats * beatSeconds));
        v = env * (std::sin(2 * M_PI * n.freq * t) + 0.35 * std::sin(4 * M_PI * n.freq * t) +
                   0.12 * std::sin(6 * M_PI * n.freq * t));
      }
      samples.push_back(
          std::int16_t(std::lround(std::max(-1.0, std::min(1.0, v * volume)) * 32000)));
    }
  }
  image::Bytes b;
  auto put = [&b](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
  };
  auto tag = [&b](const char* t) { b.insert(b.end(), t, t + 4); };
  const std::uint32_t dataSize = std::uint32_t(samples.size() * 2);
  tag("RIFF");
  put(36 + dataSize, 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);  // PCM
  put(1, 2);  // mono
  put(rate, 4);
  put(rate * 2, 4);
  put(2, 2);
  put(16, 2);
  tag("data");
  put(dataSize, 4);
  for (std::int16_t s : samples) put(std::uint16_t(s), 2);
  return b;
}

// Pentatonic notes around middle C.
constexpr double C4 = 261.63, D4 = 293.66, E4 = 329.63, G4 = 392.00, A4 = 440.00, C5 = 523.25,
                 D5 = 587.33, E5 = 659.25, G5 = 783.99, A5 = 880.00;

std::vector<Note> idleTune() {
  return {{E4, 1}, {G4, 1}, {A4, 2}, {G4, 1}, {E4, 1}, {D4, 2}, {C4, 1}, {D4, 1}, {E4, 1},
          {G4, 1}, {E4, 2}, {D4, 2}, {E4, 1}, {G4, 1}, {A4, 1}, {C5, 1}, {A4, 2}, {G4, 2}};
}
std::vector<Note> rollingTune() {
  std::vector<Note> n;
  for (int bar = 0; bar < 4; ++bar)
    for (double f : {C5, E5, G5, E5, D5, G5, A5, G5}) n.push_back({f, 0.5});
  return n;
}
std::vector<Note> stopTune() {
  return {{G4, 0.5}, {C5, 0.5}, {E5, 0.5}, {G5, 0.5}, {E5, 0.5}, {G5, 3}};
}
std::vector<Note> winnersTune() {
  return {{C5, 1}, {A4, 1}, {G4, 1}, {A4, 1}, {C5, 2}, {D5, 1}, {E5, 1}, {D5, 1}, {C5, 1},
          {A4, 2}, {G4, 1}, {A4, 1}, {C5, 1}, {D5, 1}, {E5, 2}, {D5, 1}, {C5, 3}};
}

// --- Help ---------------------------------------------------------------------------

bool runQuietly(const std::string& dir, const char* program, const char* arg) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    execlp(program, program, arg, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool onPath(const char* program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string p = path;
  size_t start = 0;
  while (start <= p.size()) {
    const size_t end = std::min(p.find(':', start), p.size());
    const std::string dir = p.substr(start, end - start);
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool makeHelp(const fs::path& dir) {
  const fs::path source = PD_HELP_DIR;
  std::error_code ec;
  if (!fs::is_directory(source, ec)) return fail("help sources not found in " + source.string());
  const bool haveCompiler = onPath("chmcmd");
  const fs::path work = haveCompiler ? dir / ".help-build" : dir / "help";
  fs::create_directories(work, ec);
  for (const auto& entry : fs::directory_iterator(source, ec))
    fs::copy_file(entry.path(), work / entry.path().filename(),
                  fs::copy_options::overwrite_existing, ec);
  if (ec) return fail("cannot copy the help sources: " + ec.message());
  if (!haveCompiler) {
    std::printf("prepare_event: chmcmd not found; the help pages are in %s as HTML, no help.chm\n",
                work.string().c_str());
    return true;
  }
  const bool built =
      runQuietly(work.string(), "chmcmd", "help.hhp") && fs::exists(work / "help.chm");
  if (built) fs::rename(work / "help.chm", dir / "help.chm", ec);
  fs::remove_all(work);
  if (!built || ec) return fail("chmcmd could not build help.chm");
  return true;
}

// --- The folder ---------------------------------------------------------------------

std::string path(const std::string& dir, const char* folderText, const char* nameUtf8 = "") {
  return model::programPath(dir, folderText, Text::fromUtf8(nameUtf8));
}

bool writeOut(const std::string& file, const image::Bytes& bytes) {
  if (bytes.empty() || !image::writeFile(file, bytes)) return fail("cannot write " + file);
  return true;
}

bool prepare(const std::string& dir, bool sample) {
  std::error_code ec;
  for (const char* folder :
       {"\\data\\", model::kPrizeFolder, model::kBackgroundFolder, model::kIdleMusicFolder,
        model::kStartMusicFolder, model::kStopMusicFolder, "\\fonts\\"}) {
    fs::create_directories(path(dir, folder), ec);
    if (ec) return fail("cannot create " + path(dir, folder) + ": " + ec.message());
  }
  std::vector<std::vector<Value>> people, awards, settings;
  if (sample) {
    canvas::init();
    people = samplePeople(300);
    const struct {
      const char* award;
      const char* prize;
      double quota;
      long long winners;
    } list[] = {
        {"特等奖", "笔记本电脑", 1, 1}, {"一等奖", "智能手机", 1, 3},
        {"二等奖", "平板电脑", 2, 6},   {"三等奖", "蓝牙耳机", 5, 10},
        {"四等奖", "电饭煲", 10, 20},   {"纪念奖", "定制保温杯", 20, 40},
    };
    int hue = 0;
    for (const auto& a : list) {
      const image::Bytes picture = prizePicture(a.award, a.prize, hue);
      hue += 40;
      if (picture.empty()) return fail("cannot draw the prize picture of " + std::string(a.award));
      // Draw order 0 (from the last award back) and one win per person: record 1.
      awards.push_back({Text::fromUtf8(a.award), Text::fromUtf8(a.prize), a.quota, a.winners, 0LL,
                        picture, 0LL, 0LL});
    }
    const char* background = "晚会背景.jpg";
    const char* idle = "等待音乐.wav";
    const char* rolling = "滚动音乐.wav";
    const char* stop = "停止音乐.wav";
    const char* winners = "中奖名单音乐.wav";
    if (!writeOut(path(dir, model::kBackgroundFolder, background), backgroundPicture()) ||
        !writeOut(path(dir, model::kIdleMusicFolder, idle), wavOf(idleTune(), 0.32, 0.5)) ||
        !writeOut(path(dir, model::kStartMusicFolder, rolling), wavOf(rollingTune(), 0.25, 0.45)) ||
        !writeOut(path(dir, model::kStopMusicFolder, stop), wavOf(stopTune(), 0.45, 0.6)) ||
        !writeOut(path(dir, model::kIdleMusicFolder, winners), wavOf(winnersTune(), 0.3, 0.5)))
      return false;
    settings.push_back({"星河科技有限公司"_t, "2027年度晚会抽奖仪式"_t, "祝大家新春快乐"_t,
                        Text::fromUtf8(background), Text::fromUtf8(idle), Text::fromUtf8(rolling),
                        Text::fromUtf8(stop), Text::fromUtf8(winners)});
  }
  if (!makeStore(path(dir, model::kPersonsFile), model::personFields(), people) ||
      !makeStore(path(dir, model::kAwardsFile), model::awardFields(), awards) ||
      !makeStore(path(dir, model::kSettingsFile), model::settingsFields(), settings))
    return false;
  return makeHelp(dir);
}

}  // namespace

int main(int argc, char** argv) {
  bool sample = true, modeGiven = false, force = false;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--sample" || a == "--empty") {
      if (modeGiven && sample != (a == "--sample"))
        return usage("--sample and --empty exclude each other");
      sample = a == "--sample";
      modeGiven = true;
    } else if (a == "--force") {
      force = true;
    } else if (a == "--help" || a == "-h") {
      usage(nullptr);
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      return usage(("unknown option " + a).c_str());
    } else if (dir.empty()) {
      dir = a;
    } else {
      return usage("only one folder may be given");
    }
  }
  if (dir.empty()) return usage("no folder given");
  std::error_code ec;
  if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
    return usage((dir + " exists and is not a folder").c_str());
  if (fs::is_directory(dir, ec) && !fs::is_empty(dir, ec) && !force)
    return usage((dir + " is not empty (use --force to write into it)").c_str());
  if (!prepare(dir, sample)) return 1;
  std::printf("prepare_event: %s event folder ready in %s\n", sample ? "sample" : "empty",
              dir.c_str());
  return 0;
}
