// Record stores: cursor, records, conversions, fatal errors, failed writes,
// transactions and durability.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "model/records.h"
#include "platform/store/store.h"

using model::operator""_t;
using store::FieldType;
using store::Text;
using store::Value;

namespace {

// Every field of every record of the current store, the cursor left as found.
std::vector<std::vector<Value>> dump() {
  int keep = store::recordNumber();
  std::vector<std::vector<Value>> all;
  auto defs = store::fields();
  for (int i = 1; i <= store::recordCount(); ++i) {
    store::goTo(i);
    std::vector<Value> row;
    for (const auto& f : defs) row.push_back(store::readValue(f.name));
    all.push_back(row);
  }
  if (keep) store::goTo(keep);
  return all;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pd-store-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    mixed_ = dir_ + "/mixed.edb";
    ASSERT_TRUE(store::createStoreFile(mixed_, {{"名称"_t, FieldType::Text},
                                                {"数量"_t, FieldType::Integer},
                                                {"比例"_t, FieldType::Double},
                                                {"图片"_t, FieldType::ByteSet},
                                                {"小"_t, FieldType::Byte},
                                                {"短"_t, FieldType::Short},
                                                {"浮"_t, FieldType::Float},
                                                {"长"_t, FieldType::Long}}));
    persons_ = dir_ + "/人员名单.edb";
    awards_ = dir_ + "/奖项设置.edb";
    ASSERT_TRUE(store::createStoreFile(persons_, store::fieldDefs(model::personFields())));
    ASSERT_TRUE(store::createStoreFile(awards_, store::fieldDefs(model::awardFields())));
  }
  void TearDown() override {
    store::failNextWrites(0);
    store::closeAll();
    std::filesystem::remove_all(dir_);
  }

  // Opens the mixed store under "t" holding the names given, one per record.
  void openMixed(std::vector<const char*> names) {
    ASSERT_TRUE(store::open(mixed_, "t"_t));
    for (size_t i = 0; i < names.size(); ++i)
      ASSERT_TRUE(store::append({Text::fromUtf8(names[i]), static_cast<long long>(i + 1)}));
    store::goFirst();
  }

  std::string dir_, mixed_, persons_, awards_;
};

// --- Cursor ------------------------------------------------------------------

struct CursorCase {
  const char* what;
  std::function<void()> moves;
  int number;
  bool bof, eof;
};

TEST_F(StoreTest, CursorTable) {
  openMixed({"甲", "乙", "丙"});
  const CursorCase cases[] = {
      {"open", [] {}, 1, false, false},
      {"goTo 0", [] { store::goTo(0); }, 1, false, false},
      {"goTo -10", [] { store::goTo(-10); }, 1, false, false},
      {"goTo beyond", [] { store::goTo(99); }, 3, false, false},
      {"goLast", [] { store::goLast(); }, 3, false, false},
      {"skip back from 1",
       [] {
         store::goFirst();
         store::skip(-1);
       },
       0, true, false},
      {"skip far back",
       [] {
         store::goTo(2);
         store::skip(-100);
       },
       0, true, false},
      {"skip past last",
       [] {
         store::goLast();
         store::skip(1);
       },
       0, false, true},
      {"back in from bof",
       [] {
         store::goFirst();
         store::skip(-1);
         store::skip(1);
       },
       1, false, false},
      {"back in from eof",
       [] {
         store::goLast();
         store::skip(1);
         store::skip(-1);
       },
       3, false, false},
      {"skip 0",
       [] {
         store::goTo(2);
         store::skip(0);
       },
       2, false, false},
      {"skip forward",
       [] {
         store::goFirst();
         store::skip(2);
       },
       3, false, false},
      {"huge skip",
       [] {
         store::goFirst();
         store::skip(INT_MAX);
       },
       0, false, true},
  };
  for (const auto& c : cases) {
    store::goFirst();
    c.moves();
    EXPECT_EQ(store::recordNumber(), c.number) << c.what;
    EXPECT_EQ(store::bof(), c.bof) << c.what;
    EXPECT_EQ(store::eof(), c.eof) << c.what;
  }
  // With no current record, reads give empty values and writes fail.
  store::goLast();
  store::skip(1);
  EXPECT_EQ(store::readText("名称"_t), Text());
  EXPECT_EQ(store::readInt("数量"_t), 0);
  EXPECT_EQ(store::readDouble("比例"_t), 0.0);
  EXPECT_TRUE(store::readBytes("图片"_t).empty());
  EXPECT_EQ(store::readAsText("数量"_t), Text());
  EXPECT_FALSE(store::write("名称"_t, "x"_t));
  EXPECT_FALSE(store::modify({"x"_t}));
  EXPECT_FALSE(store::markDeleted());
}

TEST_F(StoreTest, EmptyStore) {
  ASSERT_TRUE(store::open(persons_, "rymd"_t));
  EXPECT_EQ(store::recordCount(), 0);
  for (auto move : std::vector<std::function<void()>>{
           [] {}, [] { store::goFirst(); }, [] { store::goLast(); }, [] { store::goTo(1); },
           [] { store::skip(1); }, [] { store::skip(-1); }}) {
    move();
    EXPECT_TRUE(store::bof());
    EXPECT_TRUE(store::eof());
    EXPECT_EQ(store::recordNumber(), 0);
  }
  EXPECT_EQ(store::readText(model::person::姓名()), Text());
  EXPECT_EQ(store::readInt(model::person::抽奖模式()), 0);
}

TEST_F(StoreTest, EachStoreKeepsItsCursor) {
  openMixed({"a", "b", "c"});
  ASSERT_TRUE(store::open(persons_, "rymd"_t));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(store::append({Text::fromUtf8(std::to_string(i))}));
  store::goTo(4);
  ASSERT_TRUE(store::select("t"_t));
  store::goTo(2);
  ASSERT_TRUE(store::select("rymd"_t));
  EXPECT_EQ(store::recordNumber(), 4);
  EXPECT_EQ(store::readText(model::person::编号()), "3"_t);
  ASSERT_TRUE(store::select("t"_t));
  EXPECT_EQ(store::recordNumber(), 2);
  EXPECT_EQ(store::readText("名称"_t), "b"_t);
  EXPECT_EQ(store::currentAlias(), "t"_t);
  EXPECT_TRUE(store::isOpen("rymd"_t));
  EXPECT_FALSE(store::isOpen("xtsz"_t));
}

// --- Records and conversions ---------------------------------------------------

TEST_F(StoreTest, AppendFillsLeadingFieldsAndConverts) {
  openMixed({});
  ASSERT_TRUE(store::append({"张三"_t}));
  EXPECT_EQ(store::recordNumber(), 1);
  EXPECT_EQ(store::readInt("数量"_t), 0);
  EXPECT_EQ(store::readDouble("比例"_t), 0.0);
  EXPECT_TRUE(store::readBytes("图片"_t).empty());

  // Text into numbers (decimal, fraction dropped for whole fields, full-width
  // digits too), numbers into text.
  ASSERT_TRUE(store::append({90.0, " 12.7"_t, "２.５"_t, store::Bytes{1, 2, 3}, 255LL, -7.9}));
  EXPECT_EQ(store::recordNumber(), 2);
  EXPECT_EQ(store::readText("名称"_t), "90"_t);
  EXPECT_EQ(store::readInt("数量"_t), 12);
  EXPECT_EQ(store::readDouble("比例"_t), 2.5);
  EXPECT_EQ(store::readBytes("图片"_t), (store::Bytes{1, 2, 3}));
  EXPECT_EQ(store::readInt("小"_t), 255);
  EXPECT_EQ(store::readInt("短"_t), -7);
  ASSERT_TRUE(store::append({2.5, "abc"_t}));
  EXPECT_EQ(store::readText("名称"_t), "2.5"_t);
  EXPECT_EQ(store::readInt("数量"_t), 0);

  // Values that cannot be converted: nothing appended.
  const std::vector<std::vector<Value>> bad = {
      {store::Bytes{1}},                                // bytes into text
      {"x"_t, 1LL, 1.0, "pic"_t},                       // text into a byte set
      {"x"_t, 1LL, 1.0, store::Bytes{}, 256LL},         // beyond a byte
      {"x"_t, 1LL, 1.0, store::Bytes{}, 1LL, 40000LL},  // beyond a short
      {"x"_t, 1e12},                                    // beyond an integer
      {Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(),
       Value()},  // too many
  };
  for (const auto& values : bad) {
    EXPECT_FALSE(store::append(values));
    EXPECT_EQ(store::recordCount(), 3);
    EXPECT_EQ(store::recordNumber(), 3);
  }

  // Reads by type.
  store::goTo(2);
  EXPECT_EQ(store::readAsText("比例"_t), "2.5"_t);
  EXPECT_EQ(store::readAsText("数量"_t), "12"_t);
  EXPECT_EQ(store::fieldType("短"_t), FieldType::Short);
  EXPECT_TRUE(store::hasField("长"_t));
  EXPECT_FALSE(store::hasField("无"_t));
  EXPECT_EQ(store::readValue("数量"_t), Value(12LL));
}

TEST_F(StoreTest, NumbersConvertToTheFieldType) {
  openMixed({"a"});
  EXPECT_TRUE(store::write("数量"_t, 7.99));
  EXPECT_EQ(store::readInt("数量"_t), 7);
  EXPECT_TRUE(store::write("比例"_t, 3LL));
  EXPECT_EQ(store::readDouble("比例"_t), 3.0);
  EXPECT_TRUE(store::write("比例"_t, 2.75));
  EXPECT_EQ(store::readInt("比例"_t), 2);  // toward zero
  EXPECT_TRUE(store::write("比例"_t, -2.75));
  EXPECT_EQ(store::readInt("比例"_t), -2);
  EXPECT_TRUE(store::write("浮"_t, 0.1));
  EXPECT_EQ(store::readDouble("浮"_t), static_cast<double>(0.1f));
  EXPECT_TRUE(store::write("长"_t, 9000000000LL));
  EXPECT_EQ(store::readInt("长"_t), 9000000000LL);
  EXPECT_TRUE(store::write("名称"_t, 15LL));
  EXPECT_EQ(store::readText("名称"_t), "15"_t);
  EXPECT_FALSE(store::write("无此字段"_t, 1LL));
  EXPECT_FALSE(store::write("图片"_t, "x"_t));
  EXPECT_FALSE(store::write("数量"_t, store::Bytes{1}));
  EXPECT_FALSE(store::write("小"_t, -1LL));
  EXPECT_EQ(store::readInt("小"_t), 0);
}

TEST_F(StoreTest, ModifyReplacesLeadingFields) {
  openMixed({"a", "b"});
  store::goTo(2);
  ASSERT_TRUE(store::write("比例"_t, 4.5));
  ASSERT_TRUE(store::modify({"乙"_t, 20LL}));
  EXPECT_EQ(store::readText("名称"_t), "乙"_t);
  EXPECT_EQ(store::readInt("数量"_t), 20);
  EXPECT_EQ(store::readDouble("比例"_t), 4.5);  // not among the values given
  EXPECT_FALSE(store::modify({"x"_t, store::Bytes{1}}));
  EXPECT_EQ(store::readText("名称"_t), "乙"_t);
  store::goFirst();
  EXPECT_EQ(store::readText("名称"_t), "a"_t);
}

TEST_F(StoreTest, DeletePurgeAndClear) {
  openMixed({"1", "2", "3", "4", "5"});
  store::goTo(2);
  ASSERT_TRUE(store::markDeleted());
  store::goTo(3);
  ASSERT_TRUE(store::markDeleted());
  EXPECT_EQ(store::recordCount(), 5);  // marked records stay until purged
  // The marks survive a reopen.
  ASSERT_TRUE(store::open(mixed_, "t"_t));
  store::goTo(3);
  ASSERT_TRUE(store::purge());
  EXPECT_EQ(store::recordCount(), 3);
  // The current record went; the one that moved up into its place is current.
  EXPECT_EQ(store::recordNumber(), 2);
  EXPECT_EQ(store::readText("名称"_t), "4"_t);
  ASSERT_TRUE(store::open(mixed_, "t"_t));
  std::vector<Text> names;
  for (store::goFirst(); !store::eof(); store::skip(1)) names.push_back(store::readText("名称"_t));
  EXPECT_EQ(names, (std::vector<Text>{"1"_t, "4"_t, "5"_t}));

  // A surviving current record stays current.
  store::goTo(3);
  store::goFirst();
  ASSERT_TRUE(store::markDeleted());
  store::goTo(3);
  ASSERT_TRUE(store::purge());
  EXPECT_EQ(store::recordNumber(), 2);
  EXPECT_EQ(store::readText("名称"_t), "5"_t);

  ASSERT_TRUE(store::clear());
  EXPECT_EQ(store::recordCount(), 0);
  EXPECT_TRUE(store::bof() && store::eof());
  ASSERT_TRUE(store::open(mixed_, "t"_t));
  EXPECT_EQ(store::recordCount(), 0);
}

TEST_F(StoreTest, FileShowsRecordsAsTheProgramSeesThem) {
  openMixed({});
  Text broken = Text::fromGbk("ab\xD6");  // a character cut in half
  ASSERT_TRUE(store::append({"𠮷野家"_t, 3LL, 1.5}));
  ASSERT_TRUE(store::append({broken, 4LL}));
  store::closeAll();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(mixed_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT * FROM records", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_column_count(st), 8);
  EXPECT_STREQ(sqlite3_column_name(st, 0), "名称");
  EXPECT_STREQ(sqlite3_column_name(st, 7), "长");
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "𠮷野家");
  EXPECT_EQ(sqlite3_column_int(st, 1), 3);
  EXPECT_EQ(sqlite3_column_double(st, 2), 1.5);
  sqlite3_finalize(st);
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT type FROM fields ORDER BY position", -1, &st, nullptr),
            SQLITE_OK);
  std::vector<std::string> types;
  while (sqlite3_step(st) == SQLITE_ROW)
    types.push_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  EXPECT_EQ(types, (std::vector<std::string>{"text", "integer", "double", "bytes", "byte", "short",
                                             "float", "long"}));
  sqlite3_finalize(st);
  sqlite3_close(db);

  ASSERT_TRUE(store::open(mixed_, "t"_t));
  EXPECT_EQ(store::readText("名称"_t), "𠮷野家"_t);
  store::goTo(2);
  EXPECT_EQ(store::readText("名称"_t), broken);  // byte for byte
}

TEST_F(StoreTest, OpenFailsOnMissingOrForeignFiles) {
  EXPECT_FALSE(store::open(dir_ + "/none.edb", "xtsz"_t));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/none.edb"));
  EXPECT_FALSE(store::isOpen("xtsz"_t));
  EXPECT_EQ(store::currentAlias(), "xtsz"_t);
  std::string junk = dir_ + "/junk.edb";
  FILE* f = fopen(junk.c_str(), "w");
  fputs("not a store at all, just some text that is long enough", f);
  fclose(f);
  EXPECT_FALSE(store::open(junk, "junk"_t));
  EXPECT_FALSE(store::select("nobody"_t));
  EXPECT_FALSE(store::close());
}

// --- Fatal errors ---------------------------------------------------------------

using StoreDeathTest = StoreTest;

TEST_F(StoreDeathTest, FatalErrors) {
  // The child dies on memory alone: it needs no fresh fixture of its own.
  GTEST_FLAG_SET(death_test_style, "fast");
  ASSERT_TRUE(store::open(awards_, "jxsz"_t));
  ASSERT_TRUE(store::append({"一等奖"_t, "电视"_t, 1.0, 5.0}));
  ASSERT_TRUE(store::open(persons_, "rymd"_t));
  ASSERT_TRUE(store::append({"001"_t}));
  auto code = ::testing::ExitedWithCode(255);

  EXPECT_EXIT(store::readText("奖项名称"_t), code,
              "错误代码：3.错误信息：存储 rymd 没有字段 奖项名称");
  // A missing field is fatal even with no current record.
  EXPECT_EXIT(
      {
        store::skip(5);
        store::readInt("无"_t);
      },
      code, "存储 rymd 没有字段 无");
  EXPECT_EXIT(store::readInt(model::person::姓名()), code,
              "错误代码：2.错误信息：未得到所需要的数值型数据");
  EXPECT_EXIT(store::readDouble(model::person::姓名()), code, "错误代码：2");
  EXPECT_EXIT(store::readText(model::person::抽奖模式()), code,
              "错误代码：5.错误信息：数据或数组类型不匹配");
  EXPECT_EXIT(
      {
        store::select("jxsz"_t);
        store::readBytes(model::award::奖项名称());
      },
      code, "错误代码：5");
  EXPECT_EXIT(
      {
        store::select("xtsz"_t);
        store::recordCount();
      },
      code, "错误代码：3.错误信息：存储 xtsz 没有打开");
  EXPECT_EXIT(
      {
        store::open(dir_ + "/missing.edb", "xtsz"_t);
        store::readText(model::settings::主标题());
      },
      code, "存储 xtsz 没有打开");
  EXPECT_EXIT(
      {
        store::select("jxsz"_t);
        store::close();
        store::goFirst();
      },
      code, "存储 jxsz 没有打开");
  EXPECT_EXIT(
      {
        store::closeAll();
        store::write("x"_t, 1LL);
      },
      code, "错误代码：3");
}

// --- Failed writes change nothing ---------------------------------------------------

TEST_F(StoreTest, FailedWritesChangeNothing) {
  openMixed({"a", "b", "c"});
  store::goTo(2);
  ASSERT_TRUE(store::markDeleted());
  const std::pair<const char*, std::function<bool()>> ops[] = {
      {"write", [] { return store::write("名称"_t, "z"_t); }},
      {"append", [] { return store::append({"z"_t}); }},
      {"modify",
       [] {
         return store::modify({"z"_t, 9LL});
       }},
      {"markDeleted", [] { return store::markDeleted(); }},
      {"purge", [] { return store::purge(); }},
      {"clear", [] { return store::clear(); }},
  };
  for (const auto& [name, op] : ops) {
    store::goTo(3);
    auto before = dump();
    store::failNextWrites(1);
    EXPECT_FALSE(op()) << name;
    EXPECT_EQ(dump(), before) << name;
    EXPECT_EQ(store::recordNumber(), 3) << name;
    EXPECT_EQ(store::recordCount(), 3) << name;
    // The file holds the same.
    ASSERT_TRUE(store::open(mixed_, "t"_t));
    EXPECT_EQ(dump(), before) << name;
  }
  // The seam is spent: writes work again, and the mark of record 2 survived.
  store::goTo(3);
  EXPECT_TRUE(store::write("名称"_t, "z"_t));
  EXPECT_TRUE(store::purge());
  EXPECT_EQ(store::recordCount(), 2);
}

// --- Transactions ------------------------------------------------------------------

TEST_F(StoreTest, TransactionCommitsAcrossStores) {
  openMixed({"a"});
  ASSERT_TRUE(store::open(persons_, "rymd"_t));
  ASSERT_TRUE(store::append({"001"_t}));
  {
    store::Transaction tx;
    ASSERT_TRUE(store::write(model::person::中奖项目(), "一等奖"_t));
    ASSERT_TRUE(store::select("t"_t));
    ASSERT_TRUE(store::write("数量"_t, 5LL));
    ASSERT_TRUE(store::append({"b"_t}));
    EXPECT_TRUE(tx.commit());
  }
  store::closeAll();
  ASSERT_TRUE(store::open(persons_, "rymd"_t));
  EXPECT_EQ(store::readText(model::person::中奖项目()), "一等奖"_t);
  ASSERT_TRUE(store::open(mixed_, "t"_t));
  EXPECT_EQ(store::readInt("数量"_t), 5);
  EXPECT_EQ(store::recordCount(), 2);
}

// Runs a transaction of writes on two stores that ends as `finish` says, and
// checks that both stores are as before, in memory and in the files.
void expectUndone(const std::string& mixed, const std::string& persons,
                  const std::function<void(store::Transaction&)>& finish) {
  ASSERT_TRUE(store::select("t"_t));
  auto mixedBefore = dump();
  int mixedPos = store::recordNumber();
  ASSERT_TRUE(store::select("rymd"_t));
  auto personsBefore = dump();
  {
    store::Transaction tx;
    ASSERT_TRUE(store::write(model::person::中奖项目(), "特等奖"_t));
    ASSERT_TRUE(store::append({"002"_t}));
    ASSERT_TRUE(store::select("t"_t));
    ASSERT_TRUE(store::write("数量"_t, 99LL));
    ASSERT_TRUE(store::markDeleted());
    ASSERT_TRUE(store::purge());
    ASSERT_TRUE(store::append({"new"_t}));
    finish(tx);
  }
  ASSERT_TRUE(store::select("t"_t));
  EXPECT_EQ(dump(), mixedBefore);
  EXPECT_EQ(store::recordNumber(), mixedPos);
  ASSERT_TRUE(store::select("rymd"_t));
  EXPECT_EQ(dump(), personsBefore);
  store::closeAll();
  ASSERT_TRUE(store::open(mixed, "t"_t));
  EXPECT_EQ(dump(), mixedBefore);
  ASSERT_TRUE(store::open(persons, "rymd"_t));
  EXPECT_EQ(dump(), personsBefore);
}

TEST_F(StoreTest, TransactionRollbackAndFailedCommitRestoreEverything) {
  auto prepare = [this] {
    store::closeAll();
    openMixed({"a", "b", "c"});
    store::goTo(2);
    ASSERT_TRUE(store::open(persons_, "rymd"_t));
    if (store::recordCount() == 0) {
      ASSERT_TRUE(store::append({"001"_t}));
    }
    store::goFirst();
  };
  prepare();
  expectUndone(mixed_, persons_, [](store::Transaction& tx) { tx.rollback(); });
  prepare();
  expectUndone(mixed_, persons_, [](store::Transaction&) {});  // destructor
  prepare();
  expectUndone(mixed_, persons_, [](store::Transaction& tx) {
    store::failNextWrites(1);
    EXPECT_FALSE(tx.commit());
  });
}

TEST_F(StoreTest, FailedWriteInsideTransactionKeepsTheRest) {
  openMixed({"a"});
  store::Transaction tx;
  ASSERT_TRUE(store::write("数量"_t, 1LL));
  store::failNextWrites(1);
  EXPECT_FALSE(store::write("数量"_t, 2LL));
  EXPECT_EQ(store::readInt("数量"_t), 1);
  ASSERT_TRUE(store::write("比例"_t, 0.5));
  {
    store::Transaction nested;  // joins the outer one
    ASSERT_TRUE(store::write("名称"_t, "n"_t));
    EXPECT_TRUE(nested.commit());
  }
  EXPECT_TRUE(tx.commit());
  ASSERT_TRUE(store::open(mixed_, "t"_t));
  EXPECT_EQ(store::readInt("数量"_t), 1);
  EXPECT_EQ(store::readDouble("比例"_t), 0.5);
  EXPECT_EQ(store::readText("名称"_t), "n"_t);
}

TEST_F(StoreTest, NestedRollbackDoomsTheOuterTransaction) {
  openMixed({"a"});
  store::Transaction tx;
  ASSERT_TRUE(store::write("数量"_t, 50LL));
  {
    store::Transaction nested;
    nested.rollback();
  }
  EXPECT_FALSE(tx.commit());
  EXPECT_EQ(store::readInt("数量"_t), 1);
  ASSERT_TRUE(store::open(mixed_, "t"_t));
  EXPECT_EQ(store::readInt("数量"_t), 1);
}

// --- Durability ------------------------------------------------------------------------

TEST_F(StoreTest, WriteSurvivesAKillRightAfterTheCall) {
  openMixed({"a"});
  store::closeAll();
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipefd[0]);
    bool ok =
        store::open(mixed_, "t"_t) && store::write("数量"_t, 4242LL) && store::append({"after"_t});
    char c = ok ? '1' : '0';
    if (write(pipefd[1], &c, 1) != 1) _exit(3);
    pause();
    _exit(0);
  }
  close(pipefd[1]);
  char c = 0;
  ASSERT_EQ(read(pipefd[0], &c, 1), 1);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(pipefd[0]);
  ASSERT_EQ(c, '1');
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(store::open(mixed_, "t"_t));
  EXPECT_EQ(store::readInt("数量"_t), 4242);
  EXPECT_EQ(store::recordCount(), 2);
  store::goLast();
  EXPECT_EQ(store::readText("名称"_t), "after"_t);
}

}  // namespace

namespace {

// --- Files the program must not change -------------------------------------------

std::string fileBytes(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

void writeFile(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

void rawSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

TEST_F(StoreTest, FilesThatAreNotStoresAreLeftAsTheyAre) {
  const std::string otherDb = dir_ + "/other.edb";
  rawSql(otherDb, "CREATE TABLE x(a); INSERT INTO x VALUES(1);");
  writeFile(dir_ + "/empty.edb", "");
  writeFile(dir_ + "/short.edb", "SQLite");
  writeFile(dir_ + "/text.edb", "not a store at all, just some text that is long enough");
  for (const char* name : {"/empty.edb", "/short.edb", "/text.edb", "/other.edb"}) {
    const std::string path = dir_ + name;
    const std::string before = fileBytes(path);
    EXPECT_FALSE(store::open(path, "xtsz"_t)) << name;
    // Another store opened beside it, written and closed, changes nothing either.
    ASSERT_TRUE(store::open(persons_, "rymd"_t));
    ASSERT_TRUE(store::append({"001"_t}));
    store::closeAll();
    EXPECT_EQ(fileBytes(path), before) << name;
    EXPECT_FALSE(std::filesystem::exists(path + "-journal")) << name;
    EXPECT_FALSE(std::filesystem::exists(path + "-wal")) << name;
  }
}

// SQLite databases that are not stores: the structure is checked before
// anything is written, so the refused file keeps every byte (no journal
// switch, no deleted_records table), and the reason says it is not a store.
TEST_F(StoreTest, DatabasesThatAreNotStoresAreNeverWritten) {
  struct Case {
    const char* name;
    const char* sql;
  };
  const Case cases[] = {
      {"fields only",
       "CREATE TABLE fields(position INTEGER PRIMARY KEY, name TEXT, type TEXT);"
       "INSERT INTO fields VALUES(1, '名称', 'text');"},
      {"records lack a field",
       "CREATE TABLE fields(position INTEGER PRIMARY KEY, name TEXT, type TEXT);"
       "INSERT INTO fields VALUES(1, '名称', 'text'); INSERT INTO fields VALUES(2, '数量', "
       "'integer'); CREATE TABLE records(\"名称\" TEXT);"},
      {"fields only, WAL mode",
       "PRAGMA journal_mode=WAL; CREATE TABLE fields(position INTEGER PRIMARY KEY, name TEXT, "
       "type TEXT); INSERT INTO fields VALUES(1, '名称', 'text');"},
      {"an empty fields table",
       "CREATE TABLE fields(position INTEGER PRIMARY KEY, name TEXT, type TEXT);"
       "CREATE TABLE records(a TEXT);"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = dir_ + "/foreign" + std::to_string(n++) + ".edb";
    rawSql(path, c.sql);
    const std::string before = fileBytes(path);
    for (const bool asMain : {true, false}) {
      // As the connection's first file and as a file attached beside a store.
      if (!asMain) {
        ASSERT_TRUE(store::open(persons_, "rymd"_t));
      }
      EXPECT_FALSE(store::open(path, "xtsz"_t)) << c.name;
      EXPECT_NE(store::lastError().toUtf8().find("不是本程序的存储文件"), std::string::npos)
          << c.name << ": " << store::lastError().toUtf8();
      store::closeAll();
      EXPECT_TRUE(fileBytes(path) == before) << c.name << (asMain ? "" : " (attached)");
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT count(*) FROM sqlite_master WHERE name = "
                                 "'deleted_records'",
                                 -1, &st, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0) << c.name;
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
}

// A failed call keeps SQLite's own words and code: lastError() and the log
// say what went wrong and what to do.
TEST_F(StoreTest, AFailedCallSaysWhy) {
  ASSERT_TRUE(store::open(persons_, "rymd"_t));
  ASSERT_TRUE(store::append({"001"_t}));

  // A full disk.
  store::simulateFullDisk(true);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(store::append({"002"_t}));
  std::string log = ::testing::internal::GetCapturedStderr();
  store::simulateFullDisk(false);
  std::string why = store::lastError().toUtf8();
  EXPECT_NE(why.find("磁盘已满"), std::string::npos) << why;
  EXPECT_NE(why.find("database or disk is full"), std::string::npos) << why;
  EXPECT_NE(why.find("代码 13"), std::string::npos) << why;
  EXPECT_NE(log.find("database or disk is full (SQLite extended code 13)"), std::string::npos)
      << log;
  EXPECT_NE(log.find(persons_), std::string::npos) << log;
  EXPECT_EQ(store::recordCount(), 1);
  // The disk has room again: the write goes through.
  EXPECT_TRUE(store::append({"002"_t}));

  // Another program holds the file locked: a write and an open wait for it,
  // then fail and say so.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(persons_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(store::append({"003"_t}));
  why = store::lastError().toUtf8();
  EXPECT_NE(why.find("另一个程序锁定"), std::string::npos) << why;
  EXPECT_NE(why.find("database is locked"), std::string::npos) << why;
  store::closeAll();
  EXPECT_FALSE(store::open(persons_, "rymd"_t));
  why = store::lastError().toUtf8();
  EXPECT_NE(why.find("另一个程序锁定"), std::string::npos) << why;
  EXPECT_NE(why.find("代码 5"), std::string::npos) << why;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  ASSERT_TRUE(store::open(persons_, "rymd"_t));
  EXPECT_EQ(store::recordCount(), 2);

  // A file that is gone.
  EXPECT_FALSE(store::open(dir_ + "/gone.edb", "xtsz"_t));
  EXPECT_NE(store::lastError().toUtf8().find("文件不存在"), std::string::npos);
}

// A store that could not be opened because another program locks it: its
// first use ends the program with a message that says so.
TEST_F(StoreDeathTest, TheFatalErrorSaysWhyAStoreCouldNotBeOpened) {
  GTEST_FLAG_SET(death_test_style, "fast");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(awards_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_FALSE(store::open(awards_, "jxsz"_t));
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EXIT(store::readText(model::award::奖项名称()), ::testing::ExitedWithCode(255),
              "存储 jxsz 没有打开（文件 .*奖项设置.edb 无法使用：文件正被另一个程序锁定.*database "
              "is locked，代码 5");
}

TEST_F(StoreDeathTest, AFileThatIsNotAStoreIsNamedInTheFatalError) {
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string path = dir_ + "/系统设置.edb";
  writeFile(path, "");
  EXPECT_EXIT(
      {
        store::open(path, "xtsz"_t);
        store::readText(model::settings::主标题());
      },
      ::testing::ExitedWithCode(255), "存储 xtsz 没有打开.*系统设置.edb");
}

// A store written by the earlier build (WAL mode), its last writes still in
// the -wal file as a crash left them, opens with all of them and is switched
// to a rollback journal.
TEST_F(StoreTest, AStoreLeftInWalModeOpensWithItsData) {
  const std::string copy = dir_ + "/copy.edb";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(persons_.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                         "INSERT INTO records(编号, 中奖项目) VALUES('001', '一等奖');"
                         "INSERT INTO records(编号, 中奖项目) VALUES('002', '');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  ASSERT_TRUE(std::filesystem::exists(persons_ + "-wal"));
  std::filesystem::copy_file(persons_, copy);
  std::filesystem::copy_file(persons_ + "-wal", copy + "-wal");
  sqlite3_close(db);

  ASSERT_TRUE(store::open(copy, "rymd"_t));
  ASSERT_EQ(store::recordCount(), 2);
  EXPECT_EQ(store::readText(model::person::中奖项目()), "一等奖"_t);
  EXPECT_FALSE(std::filesystem::exists(copy + "-wal"));
  ASSERT_TRUE(store::write(model::person::中奖项目(), "二等奖"_t));
  store::closeAll();
  EXPECT_EQ(fileBytes(copy).substr(18, 2), std::string("\x01\x01", 2));  // rollback journal
  ASSERT_TRUE(store::open(copy, "rymd"_t));
  EXPECT_EQ(store::readText(model::person::中奖项目()), "二等奖"_t);
}

// --- Commits over two files under file faults ---------------------------------------------

struct TwoStores {
  Text won;
  long long drawn;
  bool operator==(const TwoStores&) const = default;
};

TwoStores readTwo() {
  store::select("rymd"_t);
  store::goFirst();
  Text won = store::readText(model::person::中奖项目());
  store::select("jxsz"_t);
  store::goFirst();
  return {won, store::readInt(model::award::已抽取人数())};
}

// Every write, truncate, sync and delete of a commit over two files is made
// to fail in turn, before and after it is done: afterwards memory and files
// hold the whole transaction or none of it, and commit() says which.
TEST_F(StoreTest, ACommitOverTwoFilesIsWholeOrAbsentWhicheverFileOperationFails) {
  auto reopen = [this] {
    store::closeAll();
    ASSERT_TRUE(store::open(persons_, "rymd"_t));
    ASSERT_TRUE(store::open(awards_, "jxsz"_t));
  };
  reopen();
  store::select("rymd"_t);
  ASSERT_TRUE(store::append({"001"_t}));
  store::select("jxsz"_t);
  ASSERT_TRUE(store::append({"一等奖"_t, "电视"_t, 1.0, 100.0, 0.0}));
  long long round = 0;
  auto commitRound = [&round]() {
    ++round;
    TwoStores was = readTwo();
    store::Transaction tx;
    store::select("rymd"_t);
    bool ok = store::write(model::person::中奖项目(), was.won + "奖"_t);
    store::select("jxsz"_t);
    ok = ok && store::write(model::award::已抽取人数(), was.drawn + 1);
    if (ok) ok = tx.commit();
    if (!ok) tx.rollback();
    return ok;
  };
  const long long start = store::fileOperationCount();
  ASSERT_TRUE(commitRound());
  const long long operations = store::fileOperationCount() - start;
  ASSERT_GE(operations, 6);  // journals, super-journal, both files, their syncs

  int failed = 0, committedAnyway = 0;
  for (store::FaultMode mode : {store::FaultMode::Before, store::FaultMode::After}) {
    for (long long n = 1; n <= operations; ++n) {
      const TwoStores before = readTwo();
      const TwoStores whole{before.won + "奖"_t, before.drawn + 1};
      store::failFileOperation(n, mode);
      const bool ok = commitRound();
      EXPECT_FALSE(store::fileFaultPending()) << n;
      store::failFileOperation(0);
      const TwoStores inMemory = readTwo();
      EXPECT_EQ(inMemory, ok ? whole : before) << "operation " << n << " ok " << ok;
      reopen();
      EXPECT_EQ(readTwo(), inMemory) << "operation " << n;
      if (!ok) ++failed;
      if (ok && mode == store::FaultMode::After) ++committedAnyway;
    }
  }
  EXPECT_GT(failed, 0);
  RecordProperty("file_operations_per_commit", static_cast<int>(operations));
  RecordProperty("failed_commits", failed);
  RecordProperty("committed_despite_an_error", committedAnyway);
}

}  // namespace

namespace {

// An import's shape: many records appended to one store in one transaction.
// Whichever file operation fails, the store holds all of them or none.
TEST_F(StoreTest, ManyAppendsInOneTransactionAreWholeOrAbsentWhicheverFileOperationFails) {
  ASSERT_TRUE(store::open(persons_, "rymd"_t));
  ASSERT_TRUE(store::append({"000"_t}));
  auto importRows = [](int rows) {
    store::Transaction tx;
    bool ok = true;
    for (int i = 1; i <= rows && ok; ++i)
      ok = store::append({Text::fromUtf8(std::to_string(i)), "某某"_t, "13800138000"_t});
    if (ok) ok = tx.commit();
    if (!ok) tx.rollback();
    return ok;
  };
  const int rows = 200;  // several pages of the file
  const long long start = store::fileOperationCount();
  ASSERT_TRUE(importRows(rows));
  const long long operations = store::fileOperationCount() - start;
  ASSERT_GE(operations, 4);
  int expected = 1 + rows;
  for (store::FaultMode mode : {store::FaultMode::Before, store::FaultMode::After}) {
    for (long long n = 1; n <= operations; ++n) {
      store::failFileOperation(n, mode);
      const bool ok = importRows(rows);
      store::failFileOperation(0);
      if (ok) expected += rows;
      EXPECT_EQ(store::recordCount(), expected) << "operation " << n << " ok " << ok;
      store::closeAll();
      ASSERT_TRUE(store::open(persons_, "rymd"_t));
      EXPECT_EQ(store::recordCount(), expected) << "operation " << n << " after reopening";
    }
  }
  RecordProperty("file_operations_per_import", static_cast<int>(operations));
}

}  // namespace

namespace {

// Single writes outside a transaction, each file operation failing in turn:
// the call's answer says whether the file took the change, and memory holds
// exactly what the file holds.
TEST_F(StoreTest, SingleWritesAnswerTrulyWhicheverFileOperationFails) {
  openMixed({"a", "b", "c", "d"});
  long long value = 0;
  const std::pair<const char*, std::function<bool()>> ops[] = {
      {"write", [&value] { return store::write("数量"_t, ++value); }},
      {"append", [] { return store::append({"new"_t}); }},
      {"purge",
       [] {
         store::goTo(2);
         return store::markDeleted() && store::purge();
       }},
  };
  for (const auto& [name, op] : ops) {
    const long long start = store::fileOperationCount();
    ASSERT_TRUE(op()) << name;
    const long long count = store::fileOperationCount() - start;
    for (store::FaultMode mode : {store::FaultMode::Before, store::FaultMode::After}) {
      for (long long n = 1; n <= count; ++n) {
        store::goTo(1);
        const auto before = dump();
        store::failFileOperation(n, mode);
        const bool ok = op();
        store::failFileOperation(0);
        const auto now = dump();
        EXPECT_EQ(ok, now != before) << name << " operation " << n;
        ASSERT_TRUE(store::open(mixed_, "t"_t));
        EXPECT_EQ(dump(), now) << name << " operation " << n;
      }
    }
  }
}

}  // namespace
