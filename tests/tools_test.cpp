// The preparation tool, run as the operator runs it: the folder it makes,
// the stores as the program opens them, and its refusals.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "model/records.h"
#include "model/text.h"
#include "platform/store/store.h"

namespace fs = std::filesystem;
using model::operator""_t;
using model::Text;

namespace {

const std::string kTool = std::string(PD_BINARY_DIR) + "/tools/prepare_event";

fs::path freshDir(const std::string& name) {
  const fs::path d = fs::temp_directory_path() / ("tools_test_" + std::to_string(getpid())) / name;
  fs::remove_all(d);
  fs::create_directories(d.parent_path());
  return d;
}

int run(const std::string& args) {
  const std::string cmd = "'" + kTool + "' " + args + " >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string q(const fs::path& p) { return "'" + p.string() + "'"; }

void expectFields(const std::vector<model::FieldSpec>& specs) {
  const std::vector<store::FieldDef> got = store::fields();
  ASSERT_EQ(got.size(), specs.size());
  for (size_t i = 0; i < specs.size(); ++i) {
    EXPECT_EQ(got[i].name.toUtf8(), specs[i].name);
    const std::string kind = specs[i].kind;
    const store::FieldType want = kind == "integer"  ? store::FieldType::Integer
                                  : kind == "double" ? store::FieldType::Double
                                  : kind == "bytes"  ? store::FieldType::ByteSet
                                                     : store::FieldType::Text;
    EXPECT_EQ(got[i].type, want) << specs[i].name;
  }
}

bool validIdentityNumber(const std::string& id) {
  static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
  if (id.size() != 18) return false;
  int sum = 0;
  for (int i = 0; i < 17; ++i) {
    if (id[size_t(i)] < '0' || id[size_t(i)] > '9') return false;
    sum += (id[size_t(i)] - '0') * weights[i];
  }
  return "10X98765432"[sum % 11] == id[17];
}

class PrepareEventTest : public ::testing::Test {
 protected:
  void TearDown() override { store::closeAll(); }
};

TEST_F(PrepareEventTest, SampleEventOpensWithTheProgramsFieldsAndRecords) {
  const fs::path dir = freshDir("sample");
  ASSERT_EQ(run("--sample " + q(dir)), 0);
  const std::string d = dir.string();

  ASSERT_TRUE(store::open(model::programPath(d, model::kPersonsFile), model::aliasPersons()));
  expectFields(model::personFields());
  EXPECT_GE(store::recordCount(), 250);
  std::set<std::string> numbers;
  store::goFirst();
  EXPECT_EQ(store::readInt(model::person::抽奖模式()), 5);
  for (int i = 1; i <= store::recordCount(); ++i) {
    store::goTo(i);
    const std::string number = store::readText(model::person::编号()).toUtf8();
    numbers.insert(number);
    EXPECT_EQ(number.size(), 4u);
    const std::string phone = store::readText(model::person::电话号码()).toUtf8();
    EXPECT_TRUE(phone.size() == 11 && phone[0] == '1' && phone[1] >= '3') << phone;
    EXPECT_TRUE(validIdentityNumber(store::readText(model::person::身份证号码()).toUtf8()));
    EXPECT_FALSE(store::readText(model::person::姓名()).empty());
    EXPECT_TRUE(store::readText(model::person::中奖项目()).empty());
    if (i > 1) {
      EXPECT_EQ(store::readInt(model::person::抽奖模式()), 0);
    }
  }
  EXPECT_EQ(int(numbers.size()), store::recordCount());

  ASSERT_TRUE(store::open(model::programPath(d, model::kAwardsFile), model::aliasAwards()));
  expectFields(model::awardFields());
  EXPECT_EQ(store::recordCount(), 6);
  for (int i = 1; i <= 6; ++i) {
    store::goTo(i);
    const long long quota = store::readInt(model::award::每次名额());
    EXPECT_TRUE(std::set<long long>({1, 2, 3, 5, 10, 20}).count(quota)) << quota;
    EXPECT_GE(store::readInt(model::award::中奖人数()), quota);
    EXPECT_EQ(store::readInt(model::award::已抽取人数()), 0);
    const model::Bytes picture = store::readBytes(model::award::奖品图片());
    ASSERT_GT(picture.size(), 3u);
    EXPECT_EQ(picture[0], 0xFF);  // a JPEG
    EXPECT_EQ(picture[1], 0xD8);
  }

  ASSERT_TRUE(store::open(model::programPath(d, model::kSettingsFile), model::aliasSettings()));
  expectFields(model::settingsFields());
  ASSERT_EQ(store::recordCount(), 1);
  store::goFirst();
  EXPECT_FALSE(store::readText(model::settings::主标题()).empty());
  // Every file the settings name is where the program looks for it.
  const struct {
    Text field;
    const char* folder;
  } refs[] = {{model::settings::背景图片(), model::kBackgroundFolder},
              {model::settings::背景音乐(), model::kIdleMusicFolder},
              {model::settings::开始抽奖音乐(), model::kStartMusicFolder},
              {model::settings::停止抽奖音乐(), model::kStopMusicFolder},
              {model::settings::中奖名单音乐(), model::kIdleMusicFolder}};
  for (const auto& r : refs) {
    const Text value = store::readText(r.field);
    EXPECT_TRUE(fs::is_regular_file(model::resolveFileReference(d, r.folder, value)))
        << value.toUtf8();
  }
  EXPECT_TRUE(fs::is_directory(model::programPath(d, model::kPrizeFolder)));
  EXPECT_TRUE(fs::is_directory(dir / "fonts"));
  EXPECT_TRUE(fs::exists(model::programPath(d, model::kHelpFile)) ||
              fs::is_directory(dir / "help"));
}

TEST_F(PrepareEventTest, EmptyEventHasTheStoresWithoutRecords) {
  const fs::path dir = freshDir("empty");
  ASSERT_EQ(run("--empty " + q(dir)), 0);
  const std::string d = dir.string();
  const struct {
    const char* file;
    Text alias;
    const std::vector<model::FieldSpec>& specs;
  } stores[] = {{model::kPersonsFile, model::aliasPersons(), model::personFields()},
                {model::kAwardsFile, model::aliasAwards(), model::awardFields()},
                {model::kSettingsFile, model::aliasSettings(), model::settingsFields()}};
  for (const auto& s : stores) {
    ASSERT_TRUE(store::open(model::programPath(d, s.file), s.alias)) << s.file;
    expectFields(s.specs);
    EXPECT_EQ(store::recordCount(), 0);
  }
}

TEST_F(PrepareEventTest, RefusesBadArgumentsAndKeepsAnExistingFolder) {
  const fs::path dir = freshDir("existing");
  fs::create_directories(dir);
  const fs::path keep = dir / "keep.txt";
  std::FILE* f = std::fopen(keep.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("mine", f);
  std::fclose(f);
  EXPECT_EQ(run(q(dir)), 2);
  EXPECT_FALSE(fs::exists(dir / "data"));
  EXPECT_EQ(run(""), 2);
  EXPECT_EQ(run("--bogus " + q(freshDir("x"))), 2);
  EXPECT_EQ(run("--sample --empty " + q(freshDir("y"))), 2);
  EXPECT_EQ(run(q(freshDir("a")) + " " + q(freshDir("b"))), 2);
  EXPECT_EQ(run(q(keep)), 2);  // a file, not a folder
  // With --force it writes into the folder and leaves other files alone.
  EXPECT_EQ(run("--empty --force " + q(dir)), 0);
  EXPECT_TRUE(fs::exists(dir / "data"));
  EXPECT_TRUE(fs::exists(keep));
}

}  // namespace
