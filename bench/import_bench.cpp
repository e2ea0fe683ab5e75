// The participant import through the real windows: a workbook of 10,000 and
// of 100,000 rows (written with the program's own workbook writer) read into
// ImportPreviewWindow, and the preview imported into the participant store.
// Wall time from the press of 导入数据 until the preview is built (取消
// enabled; all_shown_ms: until every row is on screen too), and from 确定导入
// until the window closed.
//
// Runs offscreen by default; with QT_QPA_PLATFORM=xcb and DISPLAY set it runs
// on that X server.
#include <benchmark/benchmark.h>

#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "bench/bench_event.h"
#include "maintenance/participants_internal.h"
#include "maintenance/spreadsheet_internal.h"
#include "model/records.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "tests/number_workbook.h"

using model::operator""_t;
using model::Text;
using Clock = std::chrono::steady_clock;

namespace {

std::string gDir;

// A workbook with the six-column headings in row 1 and `rows` participants
// with real-length phone and identity numbers below, written once per size.
const std::string& workbook(int rows) {
  static std::map<int, std::string> made;
  auto it = made.find(rows);
  if (it != made.end()) return it->second;
  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.add();
  const char* headings[] = {"编号", "姓名", "电话号码", "身份证号码", "图片文件", "备注"};
  for (int c = 0; c < 6; ++c)
    book->setCellText(std::string(1, static_cast<char>('a' + c)) + "1",
                      Text::fromUtf8(headings[c]));
  for (int r = 1; r <= rows; ++r) {
    char number[16], phone[16], id[24];
    std::snprintf(number, sizeof number, "%06d", r);
    std::snprintf(phone, sizeof phone, "138%08d", r);
    std::snprintf(id, sizeof id, "1101011990%08d", r);
    const std::string row = std::to_string(r + 1);
    book->setCellText("a" + row, Text::fromGbk(number));
    book->setCellText("b" + row, Text::fromUtf8("参与者" + std::to_string(r)));
    book->setCellText("c" + row, Text::fromGbk(phone));
    book->setCellText("d" + row, Text::fromGbk(id));
    book->setCellText("f" + row, "技术部"_t);
  }
  const std::string path = gDir + "/名单" + std::to_string(rows) + ".xlsx";
  if (!book->saveAs(path)) {
    std::fprintf(stderr, "workbook: %s\n", book->error().toUtf8().c_str());
    std::exit(1);
  }
  return made[rows] = path;
}

void prepareEvent() {
  gDir = bench::makeProgramFolder("pd-import-bench");
  bench::makeStore(gDir, model::kPersonsFile, model::personFields(), {});
  bench::makeStore(gDir, model::kAwardsFile, model::awardFields(),
                   {{"一等奖"_t, "奖品"_t, 1.0, 1.0, 0.0, model::Bytes{}, 1LL, 0LL}});
  const Text off = model::musicDisabled();
  bench::makeStore(gDir, model::kSettingsFile, model::settingsFields(),
                   {{"标题"_t, "副标题"_t, "祝福"_t, Text(), off, off, off, off}});
  ui::setProgramFolder(gDir);
  ui::testing::enableScripting(true);
  app::registerAllHandlers();
  std::string error;
  if (!ui::loadForms(std::string(PD_SOURCE_DIR) + "/forms", &error)) {
    std::fprintf(stderr, "forms: %s\n", error.c_str());
    std::exit(1);
  }
  store::open(model::programPath(gDir, model::kPersonsFile), model::aliasPersons());
  ui::Window("ParticipantsWindow").open();
}

struct Times {
  double previewMs = 0, shownMs = 0, importMs = 0;
  int previewRows = 0, stored = 0;
};

// Rows the preview list has on screen (appended rows show in batches).
int shownRows() {
  auto* tree = qobject_cast<QTreeWidget*>(
      ui::testing::controlWidget("ImportPreviewWindow", "超级列表框_导入预览"));
  return tree ? tree->topLevelItemCount() : 0;
}

// One import of path: the preview, then 确定导入 (or 取消 when !import).
Times runImport(const std::string& path, bool import) {
  ui::Window preview("ImportPreviewWindow");
  Times t;
  Clock::time_point start = Clock::now(), built;
  ui::testing::queueFileAnswer(true, path);
  QTimer poll;
  poll.setInterval(0);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!preview.isOpen() || !preview.ctl("按钮1").enabled()) return;
    poll.stop();
    t.previewMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    t.previewRows = preview.ctl("超级列表框_导入预览").rowCount();
    // The last rows read reach the screen a little after the reading ends.
    while (shownRows() < t.previewRows) ui::waitPumping(1);
    t.shownMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    built = Clock::now();
    if (import)
      maintenance::OnImportPreviewImportButtonClick();
    else
      maintenance::OnImportPreviewCancelButtonClick();
  });
  poll.start();
  maintenance::OnParticipantsImportButtonClick();
  const Clock::time_point end = Clock::now();
  t.importMs = std::chrono::duration<double, std::milli>(end - built).count();
  t.stored = store::recordCount();
  return t;
}

void BM_ImportPreview(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  const std::string& path = workbook(rows);
  for (auto _ : state) {
    Times t = runImport(path, false);
    state.SetIterationTime(t.previewMs / 1000.0);
    state.counters["all_shown_ms"] = t.shownMs;
    if (t.previewRows != rows) state.SkipWithError("preview rows");
  }
  state.counters["rows"] = rows;
}
BENCHMARK(BM_ImportPreview)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The import step alone: 确定导入 on a built preview, into an emptied store.
void BM_ImportIntoStore(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  const std::string& path = workbook(rows);
  for (auto _ : state) {
    store::clear();
    Times t = runImport(path, true);
    state.SetIterationTime(t.importMs / 1000.0);
    if (t.stored != rows) state.SkipWithError("stored records");
  }
  state.counters["rows"] = rows;
}
BENCHMARK(BM_ImportIntoStore)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Six number cells a row under one long number format ("#" repeated, a
// length a spreadsheet program takes), read through the window and
// imported: the time to the built preview, and of the import.
void BM_ImportNumbersUnderALongFormat(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  const int length = static_cast<int>(state.range(1));
  const std::string path =
      gDir + "/数字" + std::to_string(rows) + "_" + std::to_string(length) + ".xlsx";
  if (!fixture::writeNumberWorkbook(path, rows, std::string(static_cast<size_t>(length), '#'))) {
    state.SkipWithError("workbook");
    return;
  }
  for (auto _ : state) {
    store::clear();
    Times t = runImport(path, true);
    state.SetIterationTime(t.previewMs / 1000.0);
    state.counters["import_ms"] = t.importMs;
    if (t.stored != rows) state.SkipWithError("stored records");
  }
  state.counters["rows"] = rows;
}
BENCHMARK(BM_ImportNumbersUnderALongFormat)
    ->Args({65535, 255})
    ->Args({65535, 1024})
    ->Args({200000, 255})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ui::initRuntime(argc, argv);
  prepareEvent();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  store::closeAll();
  std::filesystem::remove_all(gDir);
  std::_Exit(0);
}
