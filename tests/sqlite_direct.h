// Runs SQL on a store file past the program, for tests that make the file
// refuse writes (a trigger) or read it as another program would.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
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

// Runs a query on a store file past the program, row by row.
inline void queryFile(const std::string& path, const std::string& sql,
                      const std::function<void(sqlite3_stmt*)>& row) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
  while (sqlite3_step(st) == SQLITE_ROW) row(st);
  sqlite3_finalize(st);
  ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
}

}  // namespace fixture
