// The real program on a real X server with a window manager and a
// compositor, driven as an operator would: the start menu opens the draw,
// one space starts the roll and one stops it, the winners are in the stores,
// the draw windows and the winners list stand above the start window, the
// program minimised with the draw open comes back with it, and SIGTERM ends
// the program with exit code 0. A damaged store's fatal message stands above
// the always-on-top draw windows and says what is wrong.
//
// Needs Xvfb, openbox, xcompmgr, xdotool, xprop, xwininfo and xwd; without
// them, or when no X server can be started, the test is skipped.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1366;
constexpr int kHeight = 768;
// Generous: the machine may be busy, and a sanitizer build is slow.
constexpr auto kDeadline = 60s;

bool onPath(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
  return false;
}

// The environment of this process with the given entries replaced.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& over) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    if (!over.count(key)) env.push_back(entry);
  }
  for (auto& [k, v] : over) env.push_back(k + "=" + v);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Starts a program with stdin from /dev/null and stdout and stderr to log;
// extra maps a descriptor of ours to a descriptor number of the child.
pid_t spawn(std::vector<std::string> args, const std::string& log,
            const std::map<std::string, std::string>& env = {},
            std::optional<std::pair<int, int>> extra = std::nullopt) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  if (extra) posix_spawn_file_actions_adddup2(&fa, extra->first, extra->second);
  std::vector<std::string> envStrings = environmentWith(env);
  std::vector<char*> argv = pointers(args), envp = pointers(envStrings);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Runs a tool to its end and gives what it printed on stdout.
std::string output(std::vector<std::string> args) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return "";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> envStrings = environmentWith({});
  std::vector<char*> argv = pointers(args), envp = pointers(envStrings);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  std::string out;
  if (rc == 0) {
    char buf[65536];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
  }
  close(fds[0]);
  return out;
}

void run(std::vector<std::string> args) { output(std::move(args)); }

// Waits for a child to end; its wait status, or nothing at the deadline.
std::optional<int> waitEnd(pid_t pid, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 || Clock::now() > end) return std::nullopt;
    std::this_thread::sleep_for(20ms);
  }
}

void stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (!waitEnd(pid, 10s)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = kDeadline) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return condition();
}

// One answer of a query on a store file, read as another program would.
std::string queryStore(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(st, 0);
      out = t ? reinterpret_cast<const char*>(t) : "";
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

struct Client {
  std::string id;
  std::string role;
};

// The window manager's stacking order, bottom first, with each window's role.
std::vector<Client> stacking() {
  std::vector<Client> out;
  std::string list = output({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
  size_t hash = list.find('#');
  if (hash == std::string::npos) return out;
  std::stringstream ids(list.substr(hash + 1));
  std::string id;
  while (ids >> id) {
    if (!id.empty() && id.back() == ',') id.pop_back();
    std::string role = output({"xprop", "-id", id, "WM_WINDOW_ROLE"});
    size_t q = role.find('"');
    role = q == std::string::npos ? "" : role.substr(q + 1, role.rfind('"') - q - 1);
    out.push_back({id, role});
  }
  return out;
}

int indexOf(const std::vector<Client>& stack, const std::string& role) {
  for (size_t i = 0; i < stack.size(); ++i)
    if (stack[i].role == role) return static_cast<int>(i);
  return -1;
}

std::string describe(const std::vector<Client>& stack) {
  std::string s;
  for (auto& c : stack) s += (s.empty() ? "" : " < ") + (c.role.empty() ? c.id : c.role);
  return s.empty() ? "(no window)" : s;
}

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

Geometry geometryOf(const std::string& id) {
  Geometry g;
  std::stringstream in(output({"xwininfo", "-id", id}));
  std::string line;
  auto value = [&](const std::string& key, int* v) {
    size_t p = line.find(key);
    if (p != std::string::npos) *v = std::atoi(line.c_str() + p + key.size());
  };
  while (std::getline(in, line)) {
    value("Absolute upper-left X:", &g.x);
    value("Absolute upper-left Y:", &g.y);
    value("Width:", &g.width);
    value("Height:", &g.height);
  }
  return g;
}

// The window's ICCCM state as xprop names it (Normal, Iconic), or "" when it
// has none (withdrawn).
std::string windowState(const std::string& id) {
  const std::string out = output({"xprop", "-id", id, "WM_STATE"});
  const std::string key = "window state: ";
  const size_t p = out.find(key);
  if (p == std::string::npos) return "";
  const size_t end = out.find_first_of("\r\n", p);
  return out.substr(p + key.size(), end == std::string::npos ? end : end - p - key.size());
}

// The shown pop-up menu: a window of the program that bypasses the window
// manager.
std::string popupMenu() {
  std::stringstream ids(
      output({"xdotool", "search", "--maxdepth", "1", "--onlyvisible", "--class", "prizedraw"}));
  std::string id;
  while (ids >> id)
    if (output({"xwininfo", "-id", id}).find("Override Redirect State: yes") != std::string::npos)
      return id;
  return "";
}

void click(int x, int y) {
  run({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
  run({"xdotool", "click", "1"});
}

// Chooses the start menu's command item `index` (0-based; separators not
// counted) with the mouse. The menu holds nine items and three separators.
bool chooseStartMenuItem(int index, const std::vector<int>& separatorsBefore) {
  click(30, kHeight - 15);  // the start button
  std::string menu;
  if (!waitUntil([&] { return !(menu = popupMenu()).empty(); })) return false;
  const Geometry g = geometryOf(menu);
  // Items share the height left after the frame (3 px each side) and the
  // three 7-pixel separators.
  const double item = (g.height - 6 - 3 * 7) / 9.0;
  const int y = g.y + 3 + static_cast<int>(item * (index + 0.5)) + 7 * separatorsBefore[index];
  // A click that comes before the menu takes the pointer is lost: the item
  // is clicked again while the menu still shows.
  for (int attempt = 0; attempt < 3; ++attempt) {
    click(g.x + 60, y);
    if (waitUntil([&] { return popupMenu().empty(); }, 5s)) return true;
  }
  return false;
}

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "openbox", "xcompmgr", "xdotool", "xprop", "xwininfo", "xwd"})
      if (!onPath(tool))
        GTEST_SKIP() << tool << " is not installed: no end-to-end check on a desktop";
    dir_ = fs::temp_directory_path() / ("pd-desktop-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);

    // The X server names its display on a pipe once it accepts clients.
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const int childFd = 9;
    xvfb_ =
        spawn({"Xvfb", "-displayfd", std::to_string(childFd), "-screen", "0",
               std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24", "-nolisten", "tcp"},
              log("xvfb.log"), {}, std::make_pair(fds[1], childFd));
    close(fds[1]);
    std::string display;
    const auto end = Clock::now() + kDeadline;
    while (xvfb_ > 0 && display.find('\n') == std::string::npos && Clock::now() < end) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 200) > 0) {
        char buf[32];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        display.append(buf, static_cast<size_t>(n));
      }
    }
    close(fds[0]);
    if (display.find('\n') == std::string::npos) {
      stop(xvfb_);
      GTEST_SKIP() << "no X server could be started (see " << log("xvfb.log") << ")";
    }
    display = ":" + display.substr(0, display.find('\n'));
    setenv("DISPLAY", display.c_str(), 1);

    compositor_ = spawn({"xcompmgr"}, log("xcompmgr.log"));
    wm_ = spawn({"openbox"}, log("openbox.log"));
    ASSERT_TRUE(waitUntil([] {
      return output({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") !=
             std::string::npos;
    })) << "the window manager did not start";
  }

  void TearDown() override {
    stop(program_);
    stop(wm_);
    stop(compositor_);
    stop(xvfb_);
    if (!HasFailure() && !dir_.empty()) fs::remove_all(dir_);
  }

  std::string log(const std::string& name) const { return (dir_ / name).string(); }

  std::string programLog() const {
    std::ifstream in(log("prizedraw.log"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // The sample event in a folder of its own, with the program beside it.
  fs::path prepareSampleEvent() {
    const fs::path event = dir_ / "event";
    const fs::path bin = PD_BINARY_DIR;
    EXPECT_EQ(std::system(((bin / "tools/prepare_event").string() + " --sample " + event.string() +
                           " > " + log("prepare.log") + " 2>&1")
                              .c_str()),
              0);
    fs::copy_file(bin / "app/prizedraw", event / "prizedraw");
    return event;
  }

  // Starts the program in the event folder; returns once its start window shows.
  void startProgram(const fs::path& event) {
    program_ = spawn({(event / "prizedraw").string()}, log("prizedraw.log"),
                     {{"QT_QPA_PLATFORM", "xcb"}, {"SDL_AUDIODRIVER", "dummy"}});
    ASSERT_GT(program_, 0);
    ASSERT_TRUE(waitUntil([] { return indexOf(stacking(), "StartWindow") >= 0; }))
        << "the start window did not show\n"
        << programLog();
  }

  // A hash of the panel's own picture: changes while names roll.
  size_t panelPicture(const std::string& id) const {
    return std::hash<std::string>()(output({"xwd", "-silent", "-id", id}));
  }

  fs::path dir_;
  pid_t xvfb_ = -1, wm_ = -1, compositor_ = -1, program_ = -1;
};

TEST_F(Desktop, OneDrawFromTheStartMenuUnderAWindowManager) {
  const fs::path event = prepareSampleEvent();
  const std::string persons = (event / "data/人员名单.edb").string();
  const std::string awards = (event / "data/奖项设置.edb").string();
  ASSERT_NO_FATAL_FAILURE(startProgram(event));

  // 开始抽奖, the first item.
  ASSERT_TRUE(chooseStartMenuItem(0, {0, 0, 0, 1, 1, 1, 2, 2, 3}));
  std::vector<Client> stack;
  ASSERT_TRUE(waitUntil([&] {
    stack = stacking();
    return indexOf(stack, "DrawPanelWindow") >= 0 && indexOf(stack, "DrawBackdropWindow") >= 0;
  })) << "the draw windows did not show: "
      << describe(stack);
  EXPECT_LT(indexOf(stack, "StartWindow"), indexOf(stack, "DrawBackdropWindow")) << describe(stack);
  EXPECT_LT(indexOf(stack, "DrawBackdropWindow"), indexOf(stack, "DrawPanelWindow"))
      << describe(stack);
  const std::string panel = stack[static_cast<size_t>(indexOf(stack, "DrawPanelWindow"))].id;

  // One press starts the roll: the names change, again and again.
  run({"xdotool", "key", "space"});
  std::set<size_t> pictures;
  EXPECT_TRUE(waitUntil([&] {
    pictures.insert(panelPicture(panel));
    return pictures.size() >= 4;
  })) << "the first space press did not start the roll";

  // One press stops it: the last award (the sample draws the smallest award
  // first) gets its 20 winners, all at once.
  run({"xdotool", "key", "space"});
  // The two stores are separate files: a reader may see one written a
  // moment before the other.
  const std::string winners = "select count(*) from records where 中奖项目 = '纪念奖'";
  const std::string drawn =
      "select cast(已抽取人数 as integer) from records where 奖项名称 = '纪念奖'";
  EXPECT_TRUE(waitUntil([&] {
    return queryStore(persons, winners) == "20" && queryStore(awards, drawn) == "20";
  })) << "winners stored: "
      << queryStore(persons, winners) << ", drawn count: " << queryStore(awards, drawn);
  EXPECT_EQ(queryStore(persons, "select count(*) from records where 中奖项目 <> ''"), "20");
  ASSERT_TRUE(waitUntil([&] {
    stack = stacking();
    return indexOf(stack, "BannerWindow") >= 0;
  })) << "the congratulation line did not show: "
      << describe(stack);
  EXPECT_LT(indexOf(stack, "StartWindow"), indexOf(stack, "DrawBackdropWindow")) << describe(stack);
  EXPECT_LT(indexOf(stack, "DrawBackdropWindow"), indexOf(stack, "DrawPanelWindow"))
      << describe(stack);
  EXPECT_LT(indexOf(stack, "StartWindow"), indexOf(stack, "BannerWindow")) << describe(stack);

  // The strip's minimise button, then a restore as a task bar does it:
  // twice, the start window comes back and the draw panel with it.
  const std::string start = stack[static_cast<size_t>(indexOf(stack, "StartWindow"))].id;
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("minimise and restore " + std::to_string(round));
    click(kWidth - 7, kHeight - 15);
    EXPECT_TRUE(waitUntil([&] { return windowState(start) == "Iconic"; }))
        << "the start window was not minimised: " << windowState(start);
    EXPECT_TRUE(waitUntil([&] { return windowState(panel) != "Normal"; }))
        << "the draw panel stayed on screen";
    run({"xdotool", "windowactivate", start});
    auto restored = [&] {
      return windowState(start) == "Normal" && windowState(panel) == "Normal" &&
             output({"xwininfo", "-id", panel}).find("IsViewable") != std::string::npos;
    };
    EXPECT_TRUE(waitUntil(restored))
        << "start window " << windowState(start) << ", draw panel " << windowState(panel);
    // And it stays so once the window manager has dealt with the draw
    // windows shown again.
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(restored()) << "start window " << windowState(start) << ", draw panel "
                            << windowState(panel);
  }

  // 查看中奖名单, the second item: the draw closes for the list, which
  // stands above the start window, even after the start window was clicked.
  ASSERT_TRUE(chooseStartMenuItem(1, {0, 0, 0, 1, 1, 1, 2, 2, 3}));
  ASSERT_TRUE(waitUntil([&] {
    stack = stacking();
    return indexOf(stack, "WinnersListWindow") >= 0 && indexOf(stack, "DrawPanelWindow") < 0;
  })) << "the winners list did not show: "
      << describe(stack);
  EXPECT_LT(indexOf(stack, "StartWindow"), indexOf(stack, "WinnersListWindow")) << describe(stack);

  // The system asks the program to end: it ends by the exit item's route.
  ASSERT_EQ(kill(program_, SIGTERM), 0);
  std::optional<int> status = waitEnd(program_, kDeadline);
  ASSERT_TRUE(status.has_value()) << "SIGTERM did not end the program";
  program_ = -1;
  EXPECT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
  EXPECT_EQ(WEXITSTATUS(*status), 0) << programLog();
  for (const std::string& store : {persons, awards})
    EXPECT_EQ(queryStore(store, "pragma integrity_check"), "ok") << store;
  EXPECT_EQ(queryStore(persons, winners), "20");
}

// The award store is damaged (an SQLite header, then garbage): the program
// starts, and the draw, the first to use the store, ends it with the fatal
// message. The message stands above every window, the draw windows that
// stay on top included, says why, and closing it ends the program.
TEST_F(Desktop, TheFatalMessageOfADamagedStoreStandsAboveTheDrawWindows) {
  const fs::path event = prepareSampleEvent();
  {
    std::ofstream damaged(event / "data/奖项设置.edb", std::ios::binary | std::ios::trunc);
    damaged << std::string("SQLite format 3\0", 16) << std::string(4080, '\x5A');
  }
  ASSERT_NO_FATAL_FAILURE(startProgram(event));
  ASSERT_TRUE(chooseStartMenuItem(0, {0, 0, 0, 1, 1, 1, 2, 2, 3}));
  std::vector<Client> stack;
  ASSERT_TRUE(waitUntil([&] {
    stack = stacking();
    return indexOf(stack, "FatalErrorBox") >= 0;
  })) << "no fatal message: "
      << describe(stack) << "\n"
      << programLog();
  EXPECT_GE(indexOf(stack, "DrawBackdropWindow"), 0) << describe(stack);
  // The window manager may take a moment to restack; the message must end
  // up above everything.
  EXPECT_TRUE(waitUntil([&] {
    stack = stacking();
    return indexOf(stack, "FatalErrorBox") == static_cast<int>(stack.size()) - 1;
  })) << "the message is not the top window: "
      << describe(stack);
  const std::string said = programLog();
  EXPECT_NE(said.find("存储 jxsz 没有打开"), std::string::npos) << said;
  EXPECT_NE(said.find("文件已损坏"), std::string::npos) << said;
  EXPECT_NE(said.find("file is not a database"), std::string::npos) << said;

  // Closing the message ends the program.
  const std::string box = stack[static_cast<size_t>(indexOf(stack, "FatalErrorBox"))].id;
  run({"xdotool", "windowactivate", "--sync", box});
  run({"xdotool", "key", "--window", box, "Return"});
  std::optional<int> status = waitEnd(program_, kDeadline);
  ASSERT_TRUE(status.has_value()) << "closing the message did not end the program";
  program_ = -1;
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 255);
}

}  // namespace
