// The real program killed (SIGKILL) at random moments of a draw that never
// stops committing: after every kill the stores, opened again, agree with
// each other and are sound files. PD_KILL_TEST_KILLS sets the number of kills
// (30 by default), PD_KILL_TEST_SYNC_DELAY_MS how much longer each file sync
// takes in the program (1 by default), to widen the moments of a commit.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "draw/void_redraw.h"
#include "event_fixture.h"
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

// Starts the driver; returns its pid and the read end of its stdout.
pid_t startDriver(const std::string& event, const std::string& forms, int syncDelay, int* out) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const std::string driver = std::string(PD_BINARY_DIR) + "/tests/commit_driver";
  const std::string delay = std::to_string(syncDelay);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execl(driver.c_str(), driver.c_str(), event.c_str(), forms.c_str(), delay.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  *out = fds[0];
  return pid;
}

// Waits for the driver's "ready"; false when it ended or said nothing for
// a long time (a machine busy with other work is slow, not broken).
bool waitReady(int fd) {
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[64];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<size_t>(n));
    if (seen.find("ready\n") != std::string::npos) return true;
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
      while (auto shorter = draw::WithoutAward(rest, names[a], names)) {
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
  const int syncDelay = envInt("PD_KILL_TEST_SYNC_DELAY_MS", 1);
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

  std::mt19937 random(20261210u);  // fixed: the same kill moments every run
  std::uniform_int_distribution<int> pause(0, 150);
  int bad = 0, killed = 0;
  long long drawnSeen = 0;
  for (int k = 0; k < kills; ++k) {
    int out = -1;
    const pid_t pid = startDriver(ev.dir, forms, syncDelay, &out);
    ASSERT_GT(pid, 0);
    const bool ready = waitReady(out);
    if (ready) std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out);
    ASSERT_TRUE(ready) << "kill " << k << ": the program did not start drawing";
    ASSERT_TRUE(WIFSIGNALED(status)) << "kill " << k << ": the program ended by itself";
    ++killed;
    long long drawn = 0;
    bad += disagreements(ev.dir, &drawn);
    drawnSeen += drawn;
  }
  EXPECT_EQ(bad, 0);
  // The program did draw between the kills.
  EXPECT_GT(drawnSeen, 0);
  RecordProperty("kills", killed);
  RecordProperty("inconsistencies", bad);
  std::printf("kills %d, inconsistencies %d, drawn counts seen %lld\n", killed, bad, drawnSeen);
}

}  // namespace
