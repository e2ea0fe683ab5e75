// Music, pictures, volume, system facts and the drawing canvas, headless: the dummy audio driver
// runs the real decoder; no sound card is needed.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/canvas.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/media/system.h"
#include "platform/media/volume.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

fs::path scratchDir() {
  static fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("media_test_" + std::to_string(getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

std::string scratch(const std::string& name) { return (scratchDir() / name).string(); }

void put16(std::vector<std::uint8_t>& b, unsigned v) {
  b.push_back(std::uint8_t(v));
  b.push_back(std::uint8_t(v >> 8));
}
void put32(std::vector<std::uint8_t>& b, unsigned v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

std::vector<short> tone(double seconds, double freq, int rate) {
  std::vector<short> s(size_t(seconds * rate));
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = short(8000 * std::sin(2 * M_PI * freq * double(i) / rate));
  return s;
}

// A mono 16-bit PCM WAV file of a sine tone.
std::string makeWav(const std::string& name, double seconds, double freq = 440) {
  const int rate = 22050;
  const std::vector<short> s = tone(seconds, freq, rate);
  std::vector<std::uint8_t> b;
  const unsigned dataSize = unsigned(s.size() * 2);
  for (char c : std::string("RIFF")) b.push_back(std::uint8_t(c));
  put32(b, 36 + dataSize);
  for (char c : std::string("WAVEfmt ")) b.push_back(std::uint8_t(c));
  put32(b, 16);
  put16(b, 1);
  put16(b, 1);
  put32(b, rate);
  put32(b, rate * 2);
  put16(b, 2);
  put16(b, 16);
  for (char c : std::string("data")) b.push_back(std::uint8_t(c));
  put32(b, dataSize);
  for (short v : s) put16(b, std::uint16_t(v));
  const std::string path = scratch(name);
  EXPECT_TRUE(image::writeFile(path, b));
  return path;
}

// An MP3 made with the LAME shared library when the machine has it (it is
// loaded at run time: there is no build dependency on it).
std::string makeMp3(const std::string& name, double seconds) {
  void* lib = dlopen("libmp3lame.so.0", RTLD_NOW);
  if (!lib) return "";
  using Init = void* (*)();
  using SetInt = int (*)(void*, int);
  using Params = int (*)(void*);
  using Encode = int (*)(void*, const short*, const short*, int, unsigned char*, int);
  using Flush = int (*)(void*, unsigned char*, int);
  auto init = reinterpret_cast<Init>(dlsym(lib, "lame_init"));
  auto channels = reinterpret_cast<SetInt>(dlsym(lib, "lame_set_num_channels"));
  auto rate = reinterpret_cast<SetInt>(dlsym(lib, "lame_set_in_samplerate"));
  auto mode = reinterpret_cast<SetInt>(dlsym(lib, "lame_set_mode"));
  auto params = reinterpret_cast<Params>(dlsym(lib, "lame_init_params"));
  auto encode = reinterpret_cast<Encode>(dlsym(lib, "lame_encode_buffer"));
  auto flush = reinterpret_cast<Flush>(dlsym(lib, "lame_encode_flush"));
  auto close = reinterpret_cast<Params>(dlsym(lib, "lame_close"));
  if (!init || !channels || !rate || !mode || !params || !encode || !flush || !close) return "";
  void* gf = init();
  channels(gf, 1);
  rate(gf, 22050);
  mode(gf, 3);  // mono
  if (params(gf) < 0) return "";
  const std::vector<short> s = tone(seconds, 660, 22050);
  std::vector<unsigned char> out(s.size() * 2 + 8192);
  int n = encode(gf, s.data(), s.data(), int(s.size()), out.data(), int(out.size()));
  if (n < 0) return "";
  n += flush(gf, out.data() + n, int(out.size()) - n);
  close(gf);
  out.resize(size_t(n));
  const std::string path = scratch(name);
  image::writeFile(path, image::Bytes(out.begin(), out.end()));
  return path;
}

// Polls until pred holds or the time is up.
bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return pred();
}

// What fn printed on stderr (file descriptor 2, so C libraries count too).
std::string captureStderr(const std::function<void()>& fn) {
  const std::string path = scratch("stderr.txt");
  std::fflush(stderr);
  const int saved = dup(2);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 2);
  ::close(fd);
  fn();
  std::fflush(stderr);
  dup2(saved, 2);
  ::close(saved);
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class MusicTest : public ::testing::Test {
 protected:
  void TearDown() override { music::stopAll(); }
};

TEST_F(MusicTest, OneRoundOfAWavPlaysDecodedAndEndsByItself) {
  const std::string wav = makeWav("short.wav", 1.0);
  music::play(wav, 1);
  music::Status s = music::status();
  EXPECT_TRUE(s.playing);
  EXPECT_TRUE(s.decoded);
  EXPECT_EQ(s.files, std::vector<std::string>{wav});
  EXPECT_EQ(s.times, 1);
  EXPECT_TRUE(waitFor([] { return !music::status().playing; }, 10s));
  s = music::status();
  EXPECT_TRUE(s.files.empty());
  EXPECT_FALSE(s.decoded);
  EXPECT_EQ(s.started, 1);
}

TEST_F(MusicTest, OpeningTheDeviceTakesNoSignalAway) {
  // The program ends on SIGTERM and SIGINT by its own route; the audio
  // library must not catch them for itself when its device opens.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  struct sigaction old[2];
  const int sigs[2] = {SIGTERM, SIGINT};
  for (int i = 0; i < 2; ++i) sigaction(sigs[i], &dfl, &old[i]);
  music::shutdown();  // the device opens anew
  music::play(makeWav("signals.wav", 0.2), 1);
  ASSERT_TRUE(music::status().decoded);
  for (int i = 0; i < 2; ++i) {
    struct sigaction now {};
    sigaction(sigs[i], nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "signal " << sigs[i];
    sigaction(sigs[i], &old[i], nullptr);
  }
}

TEST_F(MusicTest, EndlessPlayKeepsGoingPastTheEndUntilStopped) {
  const std::string wav = makeWav("loop.wav", 0.15);
  music::play(wav, -1);
  // Past the end twice, however long that takes.
  EXPECT_TRUE(waitFor([] { return music::status().started >= 3; }, 10s));
  music::Status s = music::status();
  EXPECT_TRUE(s.playing);
  EXPECT_TRUE(s.decoded);
  EXPECT_EQ(s.times, -1);
  music::stopAll();
  s = music::status();
  EXPECT_FALSE(s.playing);
  EXPECT_TRUE(s.files.empty());
}

TEST_F(MusicTest, PlayReplacesWhatPlays) {
  const std::string a = makeWav("a.wav", 2.0, 300);
  const std::string b = makeWav("b.wav", 1.0, 900);
  music::play(a, -1);
  music::play(b, 1);
  EXPECT_EQ(music::status().files, std::vector<std::string>{b});
  EXPECT_EQ(music::status().times, 1);
  // b played once and ended; the replaced endless piece did not come back.
  EXPECT_TRUE(waitFor([] { return !music::status().playing; }, 10s));
  EXPECT_EQ(music::status().started, 1);
}

TEST_F(MusicTest, AListPlaysEachFileInTurnForEveryRound) {
  const std::string a = makeWav("list_a.wav", 0.4, 500);
  const std::string b = makeWav("list_b.wav", 0.4, 700);
  music::play(std::vector<std::string>{a, b}, 2);
  EXPECT_TRUE(waitFor([] { return !music::status().playing; }, 20s));
  // Two rounds of two pieces, each begun once.
  EXPECT_EQ(music::status().started, 4);
}

TEST_F(MusicTest, UndecodableFilesPlayNothingAndDoNotCrash) {
  const std::string garbage = scratch("garbage.mp3");
  image::writeFile(garbage, image::Bytes(4000, 0x5A));
  const std::string empty = scratch("empty.wav");
  image::writeFile(empty, {});
  const std::vector<std::string> cases = {garbage, empty, scratch("missing.wav"),
                                          scratchDir().string(), ""};
  for (const std::string& file : cases) {
    SCOPED_TRACE(file);
    for (int times : {1, -1}) {
      music::play(file, times);
      const music::Status s = music::status();
      EXPECT_FALSE(s.playing);
      EXPECT_FALSE(s.decoded);
      EXPECT_TRUE(s.files.empty());
    }
  }
}

TEST_F(MusicTest, ABadFileInAListIsSkipped) {
  const std::string good = makeWav("good.wav", 1.0);
  music::play(std::vector<std::string>{scratch("missing.wav"), good}, -1);
  const music::Status s = music::status();
  EXPECT_TRUE(s.playing);
  EXPECT_TRUE(s.decoded);
  EXPECT_EQ(s.files.size(), 2u);
}

TEST_F(MusicTest, Mp3IsDecoded) {
  const std::string mp3 = makeMp3("tone.mp3", 1.0);
  if (mp3.empty()) GTEST_SKIP() << "no MP3 encoder library on this machine";
  music::play(mp3, 1);
  EXPECT_TRUE(music::status().decoded);
  EXPECT_TRUE(waitFor([] { return !music::status().playing; }, 10s));
}

TEST_F(MusicTest, WithoutAnAudioDeviceTheRequestIsStillTracked) {
  const std::string wav = makeWav("silent.wav", 0.2);
  EXPECT_EXIT(
      {
        music::shutdown();
        setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
        music::play(wav, 1);
        const music::Status s = music::status();
        bool ok = s.playing && !s.decoded && s.files == std::vector<std::string>{wav};
        music::stopAll();
        ok = ok && !music::status().playing && music::status().files.empty();
        std::fflush(nullptr);
        _exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// --- Pictures ----------------------------------------------------------------

image::Image quadrants(int w, int h, bool alpha) {
  image::Image img;
  img.width = w;
  img.height = h;
  img.pixels.resize(size_t(w) * size_t(h));
  const std::uint32_t colours[4] = {0xFFD01010, 0xFF10C020, 0xFF2030E0, 0xFFF0F0F0};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint32_t c = colours[(y >= h / 2) * 2 + (x >= w / 2)];
      if (alpha && x < 4) c = (c & 0x00FFFFFF) | 0x40000000;
      img.pixels[size_t(y) * size_t(w) + size_t(x)] = c;
    }
  return img;
}

int channelDistance(std::uint32_t a, std::uint32_t b) {
  int d = 0;
  for (int shift : {0, 8, 16})
    d = std::max(d, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
  return d;
}

TEST(ImageTest, JpegRoundTripKeepsSizeAndColours) {
  const image::Image src = quadrants(64, 40, false);
  const image::Bytes jpg = image::encodeJpeg(src, 92);
  ASSERT_FALSE(jpg.empty());
  const image::Image back = image::decode(jpg);
  ASSERT_TRUE(back.valid());
  EXPECT_EQ(back.width, 64);
  EXPECT_EQ(back.height, 40);
  // Away from the edges between quadrants the colours survive closely.
  for (auto [x, y] : {std::pair{8, 8}, {50, 8}, {8, 30}, {50, 30}}) {
    const std::uint32_t got = back.pixels[size_t(y) * 64 + size_t(x)];
    EXPECT_LE(channelDistance(got, src.pixels[size_t(y) * 64 + size_t(x)]), 16) << x << "," << y;
    EXPECT_EQ(got >> 24, 0xFFu);
  }
}

TEST(ImageTest, PngRoundTripIsExactWithAlpha) {
  const image::Image src = quadrants(33, 17, true);
  const image::Bytes png = image::encodePng(src);
  ASSERT_FALSE(png.empty());
  const image::Image back = image::decode(png);
  ASSERT_TRUE(back.valid());
  EXPECT_EQ(back.width, 33);
  EXPECT_EQ(back.height, 17);
  EXPECT_EQ(back.pixels, src.pixels);
}

TEST(ImageTest, DimensionsOfFilesWithUtf8Names) {
  const std::string jpgPath = scratch("背景 图片.jpg");
  const std::string pngPath = scratch("按钮.png");
  ASSERT_TRUE(image::writeFile(jpgPath, image::encodeJpeg(quadrants(120, 45, false), 80)));
  ASSERT_TRUE(image::writeFile(pngPath, image::encodePng(quadrants(7, 9, true))));
  int h = -1, w = -1;
  image::pictureDimensions(jpgPath, &h, &w);
  EXPECT_EQ(h, 45);
  EXPECT_EQ(w, 120);
  image::pictureDimensions(pngPath, &h, &w);
  EXPECT_EQ(h, 9);
  EXPECT_EQ(w, 7);
  h = w = -1;
  image::pictureDimensions(scratch("no such file.jpg"), &h, &w);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(w, 0);
}

TEST(ImageTest, DamagedBytesGiveAnInvalidPictureQuietly) {
  const image::Bytes jpg = image::encodeJpeg(quadrants(64, 64, false), 85);
  const image::Bytes png = image::encodePng(quadrants(64, 64, false));
  image::Bytes corruptPng = png;
  for (size_t i = 60; i < corruptPng.size() - 20; ++i) corruptPng[i] ^= 0xA5;
  image::Bytes corruptJpg = jpg;
  for (size_t i = 0; i < corruptJpg.size(); ++i)
    if (i > 2 && corruptJpg[i] == 0xFF) corruptJpg[i] = 0x00;  // every marker gone
  const struct {
    const char* name;
    image::Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"garbage", image::Bytes(500, 0x37)},
      {"jpeg signature only", {0xFF, 0xD8, 0xFF}},
      {"png signature only", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}},
      {"truncated jpeg", image::Bytes(jpg.begin(), jpg.begin() + long(jpg.size() / 2))},
      {"truncated png", image::Bytes(png.begin(), png.begin() + long(png.size() / 2))},
      {"corrupt jpeg", corruptJpg},
      {"corrupt png", corruptPng},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    image::Image img;
    const std::string printed = captureStderr([&] { img = image::decode(c.bytes); });
    EXPECT_FALSE(img.valid());
    EXPECT_TRUE(img.pixels.empty());
    EXPECT_EQ(printed, "");
    const std::string path = scratch("damaged.bin");
    ASSERT_TRUE(image::writeFile(path, c.bytes));
    int h = -1, w = -1;
    image::pictureDimensions(path, &h, &w);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(w, 0);
  }
}

TEST(ImageTest, EncodingAnInvalidPictureGivesNothing) {
  image::Image bad;
  EXPECT_TRUE(image::encodeJpeg(bad, 80).empty());
  EXPECT_TRUE(image::encodePng(bad).empty());
  bad.width = 10;
  bad.height = 10;
  bad.pixels.resize(5);  // fewer pixels than the size claims
  EXPECT_TRUE(image::encodeJpeg(bad, 80).empty());
  EXPECT_TRUE(image::encodePng(bad).empty());
}

TEST(ImageTest, FilesReadAndWriteWholeAndFailCleanly) {
  image::Bytes bytes(100000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7);
  const std::string path = scratch("whole.bin");
  ASSERT_TRUE(image::writeFile(path, bytes));
  EXPECT_EQ(image::readFile(path), bytes);
  ASSERT_TRUE(image::writeFile(path, {1, 2, 3}));  // truncates
  EXPECT_EQ(image::readFile(path), (image::Bytes{1, 2, 3}));
  EXPECT_FALSE(image::writeFile(scratch("no/such/dir/x.bin"), bytes));
  EXPECT_TRUE(image::readFile(scratch("missing.bin")).empty());
  EXPECT_TRUE(image::readFile(scratchDir().string()).empty());
}

// --- Volume ------------------------------------------------------------------

bool machineHasSoundCard() {
  std::ifstream cards("/proc/asound/cards");
  if (!cards) return false;
  const std::string text(std::istreambuf_iterator<char>(cards), {});
  return text.find("no soundcards") == std::string::npos && !text.empty();
}

void expectNoVolumeControl() {
  volume::Backend& b = volume::backend();
  EXPECT_EQ(b.defaultEndpoint(), nullptr);
  volume::Mixer& m = b.mixer();
  EXPECT_FALSE(m.open(4));
  EXPECT_EQ(m.maximum(), 0);
  int left = 7, right = 7;
  m.read(&left, &right);
  EXPECT_EQ(left, -1);
  EXPECT_EQ(right, -1);
  EXPECT_FALSE(m.set(10, 10));
  EXPECT_EQ(m.muteState(), -1);
  b.toggleMute();  // nothing to toggle, nothing happens
}

TEST(VolumeTest, WithoutACardNothingOpensAndNothingIsPrinted) {
  if (machineHasSoundCard()) GTEST_SKIP() << "this machine has a sound card";
  const std::string printed = captureStderr(expectNoVolumeControl);
  EXPECT_EQ(printed, "");
}

TEST(VolumeTest, AnAlsaConfigurationWithoutDevicesOpensNothingQuietly) {
  // An ALSA configuration that defines no device at all, whatever hardware
  // the machine has.
  const std::string conf = scratch("empty-asound.conf");
  image::writeFile(conf, {'#', '\n'});
  EXPECT_EXIT(
      {
        setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
        const std::string printed = captureStderr(expectNoVolumeControl);
        std::fflush(nullptr);
        _exit(printed.empty() && !::testing::Test::HasFailure() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(VolumeTest, AReplacementBackendIsUsedUntilRestored) {
  struct FakeMixer : volume::Mixer {
    bool open(int) override { return true; }
    int maximum() override { return 65535; }
    void read(int* l, int* r) override { *l = *r = 1; }
    bool set(int, int) override { return true; }
    int muteState() override { return 0; }
  };
  struct Fake : volume::Backend {
    FakeMixer m;
    int toggles = 0;
    std::unique_ptr<volume::Endpoint> defaultEndpoint() override { return nullptr; }
    volume::Mixer& mixer() override { return m; }
    void toggleMute() override { ++toggles; }
  } fake;
  volume::Backend& real = volume::backend();
  volume::setBackend(&fake);
  EXPECT_EQ(&volume::backend(), &fake);
  volume::backend().toggleMute();
  EXPECT_EQ(fake.toggles, 1);
  EXPECT_EQ(volume::backend().mixer().maximum(), 65535);
  volume::setBackend(nullptr);
  EXPECT_EQ(&volume::backend(), &real);
}

// --- System ------------------------------------------------------------------

TEST(SystemTest, OsVersionIsTheFixedLinuxAnswer) {
  const sys::OsVersion v = sys::osVersion();
  EXPECT_EQ(v.platformId, 2);
  EXPECT_EQ(v.major, 6);
  EXPECT_EQ(v.minor, 1);
}

}  // namespace

// --- Canvas ------------------------------------------------------------------

namespace {

TEST(CanvasTest, ShapesLandWhereDrawn) {
  canvas::Canvas c(40, 20, canvas::rgb(255, 255, 255));
  c.rect(0, 0, 20, 20, canvas::Paint::solid(canvas::rgb(200, 0, 0)));
  c.verticalGradient(20, 0, 20, 20, canvas::rgb(0, 0, 0), canvas::rgb(0, 0, 255));
  const image::Image img = c.toImage();
  ASSERT_EQ(img.width, 40);
  ASSERT_EQ(img.height, 20);
  EXPECT_EQ(img.pixels[10 * 40 + 5], 0xFFC80000u);
  const std::uint32_t top = img.pixels[1 * 40 + 30], bottom = img.pixels[18 * 40 + 30];
  EXPECT_LT(top & 0xFF, 40u);
  EXPECT_GT(bottom & 0xFF, 200u);
  // Untouched pixels keep the background; a transparent canvas stays clear.
  canvas::Canvas clear(4, 4);
  EXPECT_EQ(clear.toImage().pixels[0] >> 24, 0u);
}

// Two different Chinese characters render differently: a missing CJK font
// would draw the same empty box for both.
TEST(CanvasTest, ChineseGlyphsAreRealGlyphs) {
  auto render = [](const model::Text& t) {
    canvas::Canvas c(40, 40, canvas::rgb(255, 255, 255));
    c.text(0, 0, 40, 40, t, canvas::Font{model::Text::fromUtf8("WenQuanYi Micro Hei"), 30, false},
           canvas::rgb(0, 0, 0));
    return c.toImage().pixels;
  };
  const auto kai = render(model::Text::fromUtf8("开"));
  const auto shi = render(model::Text::fromUtf8("始"));
  const auto blank = render(model::Text());
  EXPECT_NE(kai, blank);
  EXPECT_NE(kai, shi);
}

}  // namespace
