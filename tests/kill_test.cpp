// The real program killed (SIGKILL) at moments of a draw that never stops
// committing, chosen by its progress: before, inside or after one of its
// commits, at a chosen file operation (the program stops there and waits to
// be killed). After every kill the stores, opened again, agree with each
// other and are sound files. PD_KILL_TEST_KILLS sets the number of kills (30
// by default).
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "draw/void_redraw.h"
#include "event_fixture.h"
#include "frame/wins.h"
#include "model/records.h"
#include "platform/store/store.h"

using model::operator""_t;
using model::Text;
using Row = fixture::Row;

namespace {

int envInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// Starts the driver, to stop at operation `operation` of commit `commit`;
// returns its pid and the read end of its stdout.
pid_t startDriver(const std::string& event, const std::string& forms, long long commit,
                  long long operation, int* out) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const std::string driver = std::string(PD_BINARY_DIR) + "/tests/commit_driver";
  const std::string c = std::to_string(commit), o = std::to_string(operation);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execl(driver.c_str(), driver.c_str(), event.c_str(), forms.c_str(), c.c_str(), o.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  *out = fds[0];
  return pid;
}

// Where the driver stopped: in commit `commit` with `done` of its file
// operations done, `ended` once it had done them all.
struct Stop {
  long long commit = 0, done = 0;
  bool ended = false;
};

// The sizes of the commits the driver reported, in file operations.
struct Sizes {
  long long smallest = std::numeric_limits<long long>::max(), largest = 0;
};

// Reads the driver's lines up to its stop, noting the size of every commit
// it reports on the way. False when it ended or has said nothing
// for two minutes (a busy machine is slow, not that slow).
bool waitStop(int fd, Stop* stop, Sizes* sizes) {
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<size_t>(n));
    for (size_t eol; (eol = seen.find('\n')) != std::string::npos; seen.erase(0, eol + 1)) {
      const std::string line = seen.substr(0, eol);
      long long c = 0, ops = 0;
      int ended = 0;
      if (std::sscanf(line.c_str(), "commit %lld %lld", &c, &ops) == 2) {
        sizes->smallest = std::min(sizes->smallest, ops);
        sizes->largest = std::max(sizes->largest, ops);
      }
      if (std::sscanf(line.c_str(), "stop %lld %lld %d", &c, &ops, &ended) == 3) {
        *stop = {c, ops, ended != 0};
        return true;
      }
    }
  }
  return false;
}

std::string integrity(const std::string& path) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

// Opens the stores as the program does and compares, for every award, the
// wins its participants hold (split into whole award names) with its drawn
// count. Returns the number of awards that disagree; *drawnTotal sums the
// drawn counts.
int disagreements(const std::string& dir, long long* drawnTotal) {
  const std::string persons = model::programPath(dir, model::kPersonsFile);
  const std::string awards = model::programPath(dir, model::kAwardsFile);
  int bad = 0;
  if (!store::open(persons, model::aliasPersons()) || !store::open(awards, model::aliasAwards())) {
    store::closeAll();
    ADD_FAILURE() << "the stores did not open";
    return 1;
  }
  std::vector<Text> won, names;
  std::vector<long long> drawn;
  store::select(model::aliasPersons());
  for (int i = 1; i <= store::recordCount(); ++i) {
    store::goTo(i);
    won.push_back(store::readText(model::person::中奖项目()));
  }
  store::select(model::aliasAwards());
  for (int i = 1; i <= store::recordCount(); ++i) {
    store::goTo(i);
    names.push_back(store::readText(model::award::奖项名称()));
    drawn.push_back(store::readInt(model::award::已抽取人数()));
  }
  store::closeAll();
  *drawnTotal = 0;
  for (size_t a = 0; a < names.size(); ++a) {
    long long wins = 0;
    for (const Text& w : won) {
      Text rest = w;
      while (auto shorter = frame::WithoutAward(rest, names[a], names)) {
        ++wins;
        rest = *shorter;
      }
    }
    *drawnTotal += drawn[a];
    if (wins != drawn[a]) {
      ++bad;
      ADD_FAILURE() << names[a].toUtf8() << ": " << wins << " wins, drawn count " << drawn[a];
    }
  }
  for (const std::string& f : {persons, awards})
    if (integrity(f) != "ok") {
      ++bad;
      ADD_FAILURE() << f << ": " << integrity(f);
    }
  return bad;
}

TEST(KillTest, StoresAgreeAfterEveryKillDuringCommits) {
  const int kills = envInt("PD_KILL_TEST_KILLS", 30);
  fixture::TempEvent ev;
  const Text off = model::musicDisabled();
  ev.makeSettings({"标题"_t, "副标题"_t, "祝福"_t, Text(), off, off, off, off});
  std::vector<Row> persons;
  for (int i = 1; i <= 60; ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "%04d", i);
    persons.push_back({Text::fromUtf8(number), Text::fromUtf8(std::string("人") + number), Text(),
                       Text(), Text(), 2LL, Text()});
  }
  ev.makePersons(persons);
  // 纪念奖 lies inside 特别纪念奖; order 1, one win each.
  ev.makeAwards({{"特别纪念奖"_t, "a"_t, 2.0, 4.0, 0.0, model::Bytes(), 1LL, 0LL},
                 {"一等奖"_t, "b"_t, 5.0, 10.0, 0.0, model::Bytes(), 0LL, 0LL},
                 {"纪念奖"_t, "c"_t, 20.0, 40.0, 0.0, model::Bytes(), 0LL, 0LL}});
  store::closeAll();
  const std::string forms = ev.makeForms(fixture::allProgramForms());

  // The kill moments, from a fixed seed: a third of the kills before the
  // first file operation of a commit, a third inside it and a third after
  // its last one; which commit of the run is random, and so is the operation
  // for a kill inside, among as many as the largest commit seen so far had
  // (one past the end of a smaller commit lands after it).
  enum Kind { Before, Inside, After };
  std::mt19937 random(20261210u);
  std::vector<Kind> planned;
  for (int k = 0; k < kills; ++k) planned.push_back(static_cast<Kind>(k % 3));
  std::shuffle(planned.begin(), planned.end(), random);
  std::uniform_int_distribution<long long> commitOfRun(1, 8);
  Sizes sizes;
  int landed[3] = {0, 0, 0};
  int bad = 0;
  long long drawnSeen = 0;
  for (int k = 0; k < kills; ++k) {
    const long long commit = commitOfRun(random);
    long long operation = 1;
    if (planned[k] == After) operation = std::numeric_limits<long long>::max();
    if (planned[k] == Inside)
      operation = std::uniform_int_distribution<long long>(2, std::max(2LL, sizes.largest))(random);
    int out = -1;
    const pid_t pid = startDriver(ev.dir, forms, commit, operation, &out);
    ASSERT_GT(pid, 0);
    Stop stop;
    const bool stopped = waitStop(out, &stop, &sizes);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out);
    ASSERT_TRUE(stopped) << "kill " << k << ": the program did not reach commit " << commit;
    ASSERT_TRUE(WIFSIGNALED(status)) << "kill " << k << ": the program ended by itself";
    ASSERT_EQ(stop.commit, commit) << "kill " << k;
    ++landed[stop.done == 0 ? Before : stop.ended ? After : Inside];
    long long drawn = 0;
    bad += disagreements(ev.dir, &drawn);
    drawnSeen += drawn;
  }
  EXPECT_EQ(bad, 0);
  std::printf(
      "kills %d: %d before, %d inside, %d after a commit; inconsistencies %d; drawn "
      "counts seen %lld; commits of %lld to %lld file operations\n",
      kills, landed[Before], landed[Inside], landed[After], bad, drawnSeen, sizes.smallest,
      sizes.largest);
  RecordProperty("kills", kills);
  RecordProperty("inconsistencies", bad);
  if (kills >= 3) {
    EXPECT_GT(landed[Before], 0);
    EXPECT_GT(landed[Inside], 0);
    EXPECT_GT(landed[After], 0);
    // The commits that were let through drew.
    EXPECT_GT(drawnSeen, 0);
  }
}

}  // namespace
