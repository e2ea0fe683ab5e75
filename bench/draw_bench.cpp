// The draw with 100,000 participants: opening the panel (candidate list),
// one pass of quota 20, a 20-winner durable commit, the winners text for 10
// awards; and the measured banner step period.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/frame.h"
#include "bench/bench_event.h"
#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "frame/frame.h"
#include "model/random.h"
#include "model/records.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

using model::operator""_t;
using model::Text;

namespace {

constexpr int kPersons = 100000;
constexpr int kAwards = 10;
std::string gDir;

// An event of 100,000 participants (one in five has won an award already)
// and 10 awards, with the program's windows loaded and the start window open.
void prepareEvent() {
  gDir = bench::makeProgramFolder("pd-draw-bench");
  std::vector<std::vector<store::Value>> persons;
  persons.reserve(kPersons);
  for (int i = 1; i <= kPersons; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%06d", i);
    Text won = i % 5 == 0 ? Text::fromUtf8(std::to_string(i % kAwards + 1) + "等奖") : Text();
    persons.push_back({Text::fromGbk(number), "参与者"_t, Text::fromGbk("13800138000"),
                       Text::fromGbk("110101199001011234"), Text(), 1LL, won});
  }
  bench::makeStore(gDir, model::kPersonsFile, model::personFields(), persons);
  std::vector<std::vector<store::Value>> awards;
  for (int a = 1; a <= kAwards; ++a)
    awards.push_back({Text::fromUtf8(std::to_string(a) + "等奖"), "奖品"_t, 20.0, 1e9, 0.0,
                      model::Bytes{}, 1LL, 0LL});
  bench::makeStore(gDir, model::kAwardsFile, model::awardFields(), awards);
  const Text off = model::musicDisabled();
  bench::makeStore(gDir, model::kSettingsFile, model::settingsFields(),
                   {{"标题"_t, "副标题"_t, "祝福"_t, Text(), off, off, off, off}});
  ui::setProgramFolder(gDir);
  ui::testing::enableScripting(true);
  ui::testing::overrideScreenSize(1920, 1080);
  app::registerAllHandlers();
  std::string error;
  if (!ui::loadForms(std::string(PD_SOURCE_DIR) + "/forms", &error)) {
    std::fprintf(stderr, "forms: %s\n", error.c_str());
    std::exit(1);
  }
  draw::InitGlobalArrays();
  ui::Window("StartWindow").open();
}

void closeDraw() {
  draw::gDrawStopped = 1;
  draw::CloseDrawWindows();
  ui::waitPumping(5);
}

void BM_OpenPanel(benchmark::State& state) {
  for (auto _ : state) {
    app::OnStartMenuStartDrawClick();
    state.PauseTiming();
    if (draw::gCandidates.size() != kPersons - kPersons / 5) state.SkipWithError("candidates");
    closeDraw();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenPanel)->Unit(benchmark::kMillisecond);

void BM_CandidateList(benchmark::State& state) {
  for (auto _ : state) draw::BuildCandidateList();
}
BENCHMARK(BM_CandidateList)->Unit(benchmark::kMillisecond);

void BM_RollPassQuota20(benchmark::State& state) {
  app::OnStartMenuStartDrawClick();
  draw::SlotPicks picks{};
  if (!draw::SetUpRoll(picks) || draw::gDrawQuota != 20) state.SkipWithError("set-up");
  model::seedRandom(ui::tickCount());
  for (auto _ : state) draw::RollOnePass(picks);
  closeDraw();
}
BENCHMARK(BM_RollPassQuota20)->Unit(benchmark::kMicrosecond);

void BM_Commit20Winners(benchmark::State& state) {
  app::OnStartMenuStartDrawClick();
  draw::SlotPicks picks{};
  for (int k = 0; k < 20; ++k) picks[k] = 1 + k * 3000;
  for (auto _ : state)
    if (!draw::StoreWinners(picks)) state.SkipWithError("commit failed");
  closeDraw();
}
BENCHMARK(BM_Commit20Winners)->Unit(benchmark::kMillisecond);

void BM_WinnersText10Awards(benchmark::State& state) {
  std::size_t bytes = 0;
  for (auto _ : state) bytes = draw::BuildWinnersText().bytes().size();
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WinnersText10Awards)->Unit(benchmark::kMillisecond);

// The banner scroller's real step period over one second.
void measureBannerStep() {
  ui::Control label("BannerWindow", "标签1");
  label.setWidth(100);
  label.setLeft(1900);
  // The start window has started its scroller already; start one only when
  // none runs.
  frame::gBannerScrolling = 1;
  if (draw::BannerScrollersRunning() == 0) ui::startThread(&draw::BannerThreadMain);
  ui::waitPumping(100);
  std::printf("banner scrollers running: %d\n", draw::BannerScrollersRunning());
  const int from = label.left();
  const auto t0 = std::chrono::steady_clock::now();
  ui::waitPumping(1000);
  const int to = label.left();
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  frame::gBannerScrolling = 0;
  ui::waitPumping(40);
  std::printf("banner step period: %.2f ms per pixel (%d pixels in %.0f ms)\n", ms / (from - to),
              from - to, ms);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ui::initRuntime(argc, argv);
  prepareEvent();
  measureBannerStep();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  frame::gBannerScrolling = 0;
  frame::gListScrolling = 0;
  ui::waitPumping(40);
  music::stopAll();
  store::closeAll();
  std::filesystem::remove_all(gDir);
  std::_Exit(0);
}
