// Runs SQL on a store file past the program, for tests that make the file
// refuse writes (a trigger) or read it as another program would.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace fixture {

inline void execSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

}  // namespace fixture
