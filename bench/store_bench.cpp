// Record store timings on a participant store of 100,000 records.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "model/records.h"
#include "platform/store/store.h"

using model::operator""_t;
using store::FieldType;
using store::Text;

namespace {

constexpr int kRecords = 100000;

std::string benchFolder() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path().string() + "/pd-store-bench";
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

// Makes the participant store once per run: names, numbers, phone numbers and
// every tenth participant a winner of two awards.
const std::string& personsFile() {
  static const std::string path = [] {
    std::string p = benchFolder() + "/人员名单.edb";
    store::createStoreFile(p, store::fieldDefs(model::personFields()));
    store::open(p, "rymd"_t);
    store::Transaction tx;
    for (int i = 1; i <= kRecords; ++i) {
      std::string n = std::to_string(i);
      store::append({Text::fromUtf8(n), Text::fromUtf8("参加者" + n), Text::fromUtf8("138" + n),
                     Text::fromUtf8("11010519800101" + n), "备注"_t, 0LL,
                     i % 10 == 0 ? "一等奖三等奖"_t : Text()});
    }
    tx.commit();
    store::closeAll();
    return p;
  }();
  return path;
}

void BM_Open100k(benchmark::State& state) {
  const std::string& p = personsFile();
  for (auto _ : state) {
    store::open(p, "rymd"_t);
    benchmark::DoNotOptimize(store::recordCount());
    state.PauseTiming();
    store::closeAll();
    state.ResumeTiming();
  }
  state.SetLabel("records: " + std::to_string(kRecords));
}
BENCHMARK(BM_Open100k)->Unit(benchmark::kMillisecond);

void BM_CursorMove(benchmark::State& state) {
  store::open(personsFile(), "rymd"_t);
  int n = 1;
  for (auto _ : state) {
    n = (n * 7919) % kRecords + 1;
    store::goTo(n);
    benchmark::DoNotOptimize(store::recordNumber());
  }
  store::closeAll();
}
BENCHMARK(BM_CursorMove);

void BM_DurableWrite(benchmark::State& state) {
  store::open(personsFile(), "rymd"_t);
  int n = 0;
  for (auto _ : state) {
    store::goTo(++n % kRecords + 1);
    if (!store::write(model::person::备注(), Text::fromUtf8("改" + std::to_string(n))))
      state.SkipWithError("write failed");
  }
  store::closeAll();
}
BENCHMARK(BM_DurableWrite)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_Transaction20Writes(benchmark::State& state) {
  store::open(personsFile(), "rymd"_t);
  int n = 0;
  for (auto _ : state) {
    store::Transaction tx;
    for (int i = 0; i < 20; ++i) {
      store::goTo(++n % kRecords + 1);
      store::write(model::person::备注(), Text::fromUtf8("事务" + std::to_string(n)));
    }
    if (!tx.commit()) state.SkipWithError("commit failed");
  }
  store::closeAll();
}
BENCHMARK(BM_Transaction20Writes)->Unit(benchmark::kMillisecond);

// Appending 10,000 participants in one transaction (an import's writes: an
// empty record, then its six fields by name) to an emptied store.
void BM_Append10kInTransaction(benchmark::State& state) {
  const std::string p = benchFolder() + "/追加.edb";
  std::filesystem::remove(p);
  store::createStoreFile(p, store::fieldDefs(model::personFields()));
  store::open(p, "rymd"_t);
  for (auto _ : state) {
    state.PauseTiming();
    store::clear();
    state.ResumeTiming();
    store::Transaction tx;
    for (int i = 1; i <= 10000; ++i) {
      const std::string n = std::to_string(i);
      store::append({});
      store::write(model::person::编号(), Text::fromUtf8(n));
      store::write(model::person::姓名(), Text::fromUtf8("参加者" + n));
      store::write(model::person::电话号码(), Text::fromUtf8("138" + n));
      store::write(model::person::身份证号码(), Text::fromUtf8("11010519800101" + n));
      store::write(model::person::图片文件(), Text());
      store::write(model::person::备注(), "备注"_t);
    }
    if (!tx.commit()) state.SkipWithError("commit failed");
  }
  store::closeAll();
  std::filesystem::remove(p);
}
BENCHMARK(BM_Append10kInTransaction)->Unit(benchmark::kMillisecond);

// The candidate list of a draw: every participant who has not won the award.
void BM_CandidateList100k(benchmark::State& state) {
  store::open(personsFile(), "rymd"_t);
  const Text award = "三等奖"_t;
  const Text won = model::person::中奖项目();
  std::vector<int> candidates;
  for (auto _ : state) {
    candidates.clear();
    const int count = store::recordCount();
    for (int i = 1; i <= count; ++i) {
      store::goTo(i);
      if (model::findText(store::readText(won), award) < 0) candidates.push_back(i);
    }
    benchmark::DoNotOptimize(candidates.data());
  }
  state.SetLabel("candidates: " + std::to_string(candidates.size()));
  store::closeAll();
}
BENCHMARK(BM_CandidateList100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
