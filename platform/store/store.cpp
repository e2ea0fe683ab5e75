// Record stores on SQLite.
//
// Each store file is an SQLite database with three tables:
//   records          one column per field, named as the field (UTF-8), in
//                    field order; rows in record order (rowid order)
//   fields           (position, name, type): the exact field type
//   deleted_records  (rid): rowids marked deleted and not yet purged
// Texts are stored as UTF-8 TEXT; a text that is not valid GBK/GB18030 (a
// double-byte character cut in half, say) is stored as a BLOB of its bytes so
// that nothing is lost, and read back byte for byte.
//
// The records of an open store are held in memory; every change is written
// to the file first and applied to memory only when the write succeeded, so
// a failed write changes nothing.
//
// One SQLite connection serves every open store: the first file opened is
// its main database, the others are attached to it. The files keep rollback
// journals (journal_mode=DELETE, synchronous=EXTRA): a write is on disk when
// its call returns, and a transaction that wrote to several files commits
// through SQLite's super-journal, so after a crash or a power cut every file
// is rolled back or none is, whichever program opens them next. A file left
// in WAL mode by an earlier version is checkpointed and switched when it is
// opened, so that nothing in its -wal file is lost.
//
// Decisions:
// - Reads check the store's structure before the record: a missing field is
//   fatal and a type mismatch raises error 2 or 5 even when there is no
//   current record; only then does a missing record give ""/empty/0.
// - After purge the current record stays current when it survived; when it
//   was removed, the record that moved up into its number becomes current
//   (the last one when none did).
// - A Transaction made while another is active joins it: its commit() leaves
//   the decision to the outer one, its rollback() dooms the whole
//   transaction. Closing or re-opening a store that takes part in a
//   transaction rolls the whole transaction back first.
// - A commit that SQLite reports as failed may still have reached the disk
//   (a sync that failed after the super-journal was gone): the stores of the
//   transaction are then read back from their files, and commit() reports
//   true exactly when the files hold the transaction. Memory always matches
//   the files.
// - A file is checked before SQLite sees it: anything that is not an SQLite
//   database (an empty file among them) fails to open and is left as it is.
//   An SQLite database is checked for the store's tables before anything is
//   written to it (the journal switch, the deleted_records table), so a
//   database that is not a store is never changed either.
// - A failed call keeps SQLite's message and extended code (lastError(), the
//   log, the fatal message of a store that could not be opened).
#include "platform/store/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/base/internal.h"
#include "platform/base/program_end.h"
#include "platform/store/store_vfs.h"

namespace store {

namespace {

constexpr int kStoreErrorCode = 3;

// A prepared statement, finalized when it goes out of scope.
class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* st) : st_(st) {}
  ~Statement() { sqlite3_finalize(st_); }
  Statement(Statement&& o) noexcept : st_(std::exchange(o.st_, nullptr)) {}
  Statement& operator=(Statement&& o) noexcept {
    if (this != &o) {
      sqlite3_finalize(st_);
      st_ = std::exchange(o.st_, nullptr);
    }
    return *this;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return st_; }
  explicit operator bool() const { return st_ != nullptr; }

 private:
  sqlite3_stmt* st_ = nullptr;
};

struct Record {
  sqlite3_int64 rowid = 0;
  bool deleted = false;
  std::vector<Value> values;
};

struct Store {
  std::string path;
  Text alias;
  std::string schema;  // the file's schema name on the shared connection
  std::vector<FieldDef> fields;
  std::vector<std::string> columns;  // quoted UTF-8 column names
  std::unordered_map<std::string, int> index;
  std::vector<Record> records;
  // 1..count: the current record; 0: before the first; count + 1: past the last.
  int pos = 0;

  std::vector<Statement> updateByField;
  std::map<int, Statement> modifyByCount;
  Statement insert;
  Statement mark;

  // Transaction state: the SQLite transaction is open, the memory changes
  // made in it (undone in reverse order) and the cursor when it joined.
  bool inTransaction = false;
  std::vector<std::function<void(Store&)>> undo;
  int posAtJoin = 0;

  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  int count() const { return static_cast<int>(records.size()); }
  bool hasRecord() const { return pos >= 1 && pos <= count(); }
  Record& current() { return records[pos - 1]; }
};

struct TransactionState {
  bool active = false;
  bool doomed = false;
  const Transaction* outer = nullptr;
  std::vector<Store*> stores;
};

// The shared connection. Its main database stays the file it was opened on
// until every store is closed; the main file is reused when a store opens it
// again.
sqlite3* gDb = nullptr;
bool gMainInUse = false;
dev_t gMainDevice = 0;
ino_t gMainInode = 0;
int gNextSchema = 1;
// alias bytes -> the file that failed to open under it and why (for the
// fatal message of its first use).
struct FailedOpen {
  std::string path;
  Text why;
};
std::map<std::string, FailedOpen> gFailedFiles;

// alias bytes -> store; a null entry is an alias whose store is not open.
std::map<std::string, std::unique_ptr<Store>> gStores;
bool gHasCurrent = false;
Text gCurrentAlias;
int gFailWrites = 0;
TransactionState gTransaction;
bool gCleanupRegistered = false;

// --- Failures ------------------------------------------------------------------
// Every failed SQLite call of a store keeps SQLite's own message and extended
// result code: the log gets one line for it, and the operator's text (the
// fatal message of a store that could not be opened, lastError()) says in
// Chinese what went wrong and what to do, then SQLite's words.

struct Failure {
  Text reason;        // for the operator
  std::string what;   // the operation, for the log
  std::string file;   // UTF-8, "" when no one file applies
  int code = 0;       // SQLite's extended result code; 0 when not SQLite's
  std::string words;  // SQLite's message, or the program's own
};
Failure gLastFailure;

// What a result code means to the operator, and what to do about it.
Text reasonOf(int code) {
  switch (code & 0xFF) {
    case SQLITE_FULL:
      return Text::fromUtf8("磁盘已满，请腾出磁盘空间后重试");
    case SQLITE_READONLY:
      return Text::fromUtf8("文件是只读的，请取消它的只读属性，或把数据文件夹放到可以写入的位置");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Text::fromUtf8("文件正被另一个程序锁定，请关闭正在使用它的程序后重试");
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return Text::fromUtf8("没有读写该文件的权限，请检查文件和文件夹的权限");
    case SQLITE_CANTOPEN:
      return Text::fromUtf8("无法打开文件，请检查文件是否存在以及文件夹的权限");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Text::fromUtf8("文件已损坏，请换上备份的文件");
    case SQLITE_IOERR:
      return Text::fromUtf8("读写文件时出错，请检查磁盘后重试");
    case SQLITE_NOMEM:
      return Text::fromUtf8("内存不足，请关闭其他程序后重试");
    default:
      return Text::fromUtf8("存储操作失败");
  }
}

void recordFailure(Text reason, std::string what, std::string file, int code, std::string words) {
  gLastFailure = {std::move(reason), std::move(what), std::move(file), code, std::move(words)};
  const Failure& f = gLastFailure;
  if (f.code)
    std::fprintf(stderr, "store: %s%s%s failed: %s (SQLite extended code %d)\n", f.what.c_str(),
                 f.file.empty() ? "" : " ", f.file.c_str(), f.words.c_str(), f.code);
  else
    std::fprintf(stderr, "store: %s%s%s failed: %s\n", f.what.c_str(), f.file.empty() ? "" : " ",
                 f.file.c_str(), f.words.c_str());
}

// A failed SQLite call on db, with the connection's own message and code.
void noteSqlite(sqlite3* db, const std::string& what, const std::string& file) {
  const int code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
  recordFailure(reasonOf(code), what, file, code, db ? sqlite3_errmsg(db) : "out of memory");
}

// A failure the program finds itself (a file that is not a store).
void noteRefusal(const std::string& reasonUtf8, const std::string& what, const std::string& file) {
  recordFailure(Text::fromUtf8(reasonUtf8), what, file, 0, "not a store file");
}

Text failureText(const Failure& f) {
  Text t = f.reason;
  if (f.code)
    t += Text::fromUtf8("（SQLite：" + f.words + "，代码 " + std::to_string(f.code) + "）");
  return t;
}

// --- Helpers -------------------------------------------------------------------

[[noreturn]] void fatalNotOpen() {
  if (!gHasCurrent) ui::fatalError(kStoreErrorCode, Text::fromUtf8("没有选定存储"));
  Text message = Text::fromUtf8("存储 ") + gCurrentAlias + Text::fromUtf8(" 没有打开");
  auto failed = gFailedFiles.find(gCurrentAlias.bytes());
  if (failed != gFailedFiles.end())
    message += Text::fromUtf8("（文件 " + failed->second.path + " 无法使用：") +
               failed->second.why + Text::fromUtf8("）");
  ui::fatalError(kStoreErrorCode, message);
}

Store& cur() {
  if (!gHasCurrent) fatalNotOpen();
  auto it = gStores.find(gCurrentAlias.bytes());
  if (it == gStores.end() || !it->second) fatalNotOpen();
  return *it->second;
}

int fieldIndexOrFatal(Store& s, const Text& field) {
  auto it = s.index.find(field.bytes());
  if (it == s.index.end())
    ui::fatalError(kStoreErrorCode,
                   Text::fromUtf8("存储 ") + s.alias + Text::fromUtf8(" 没有字段 ") + field);
  return it->second;
}

bool isWhole(FieldType t) {
  return t == FieldType::Byte || t == FieldType::Short || t == FieldType::Integer ||
         t == FieldType::Long;
}
bool isReal(FieldType t) { return t == FieldType::Float || t == FieldType::Double; }
bool isNumeric(FieldType t) { return isWhole(t) || isReal(t); }

// The type names the "fields" table stores.
constexpr std::pair<const char*, FieldType> kTypeNames[] = {
    {"byte", FieldType::Byte}, {"short", FieldType::Short},  {"integer", FieldType::Integer},
    {"long", FieldType::Long}, {"float", FieldType::Float},  {"double", FieldType::Double},
    {"text", FieldType::Text}, {"bytes", FieldType::ByteSet}};

const char* typeName(FieldType t) {
  for (const auto& [n, v] : kTypeNames)
    if (v == t) return n;
  return "text";
}

bool typeFromName(const std::string& name, FieldType* t) {
  for (const auto& [n, v] : kTypeNames)
    if (name == n) {
      *t = v;
      return true;
    }
  return false;
}

const char* sqlType(FieldType t) {
  if (isWhole(t)) return "INTEGER";
  if (isReal(t)) return "REAL";
  if (t == FieldType::Text) return "TEXT";
  return "BLOB";
}

std::string quoteName(const std::string& utf8) {
  std::string q = "\"";
  for (char c : utf8) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

bool wholeRange(FieldType t, long long* lo, long long* hi) {
  switch (t) {
    case FieldType::Byte:
      *lo = 0, *hi = 255;
      return true;
    case FieldType::Short:
      *lo = -32768, *hi = 32767;
      return true;
    case FieldType::Integer:
      *lo = std::numeric_limits<int>::min(), *hi = std::numeric_limits<int>::max();
      return true;
    case FieldType::Long:
      *lo = std::numeric_limits<long long>::min(), *hi = std::numeric_limits<long long>::max();
      return true;
    default:
      return false;
  }
}

Value zeroOf(FieldType t) {
  if (isWhole(t)) return 0LL;
  if (isReal(t)) return 0.0;
  if (t == FieldType::Text) return Text();
  return Bytes();
}

// Converts a value given by a caller to the type of a field. False when it
// cannot be converted (bytes into a field that is not a byte set, anything
// but bytes into a byte set, a number out of the field's range).
bool convert(const Value& in, FieldType t, Value* out) {
  if (std::holds_alternative<std::monostate>(in)) {
    *out = zeroOf(t);
    return true;
  }
  if (const auto* v = std::get_if<long long>(&in)) {
    long long lo, hi;
    if (wholeRange(t, &lo, &hi)) {
      if (*v < lo || *v > hi) return false;
      *out = *v;
      return true;
    }
    if (t == FieldType::Float)
      *out = static_cast<double>(static_cast<float>(*v));
    else if (t == FieldType::Double)
      *out = static_cast<double>(*v);
    else if (t == FieldType::Text)
      *out = model::numberToText(*v);
    else
      return false;
    return true;
  }
  if (const auto* d = std::get_if<double>(&in)) {
    long long lo, hi;
    if (wholeRange(t, &lo, &hi)) {
      if (!std::isfinite(*d)) return false;
      double w = std::trunc(*d);
      // 2^63 is the first double beyond the long range.
      if (w < static_cast<double>(lo) || w >= 9223372036854775808.0 ||
          (t != FieldType::Long && w > static_cast<double>(hi)))
        return false;
      *out = static_cast<long long>(w);
      return true;
    }
    if (t == FieldType::Float) {
      if (std::isfinite(*d) && std::fabs(*d) > std::numeric_limits<float>::max()) return false;
      *out = static_cast<double>(static_cast<float>(*d));
    } else if (t == FieldType::Double) {
      *out = *d;
    } else if (t == FieldType::Text) {
      *out = model::numberToText(*d);
    } else {
      return false;
    }
    return true;
  }
  if (const auto* text = std::get_if<Text>(&in)) {
    if (t == FieldType::Text) {
      *out = *text;
      return true;
    }
    if (isNumeric(t)) return convert(Value(model::textToDouble(*text)), t, out);
    return false;
  }
  const auto& bytes = std::get<Bytes>(in);
  if (t != FieldType::ByteSet) return false;
  *out = bytes;
  return true;
}

void bindValue(sqlite3_stmt* st, int i, const Value& v) {
  if (const auto* n = std::get_if<long long>(&v)) {
    sqlite3_bind_int64(st, i, *n);
  } else if (const auto* d = std::get_if<double>(&v)) {
    sqlite3_bind_double(st, i, *d);
  } else if (const auto* t = std::get_if<Text>(&v)) {
    std::string utf8 = t->toUtf8();
    if (Text::fromUtf8(utf8) == *t)
      sqlite3_bind_text(st, i, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    else
      sqlite3_bind_blob(st, i, t->bytes().data(), static_cast<int>(t->bytes().size()),
                        SQLITE_TRANSIENT);
  } else if (const auto* b = std::get_if<Bytes>(&v)) {
    if (b->empty())
      sqlite3_bind_zeroblob(st, i, 0);
    else
      sqlite3_bind_blob(st, i, b->data(), static_cast<int>(b->size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(st, i);
  }
}

Value columnValue(sqlite3_stmt* st, int i, FieldType t) {
  int kind = sqlite3_column_type(st, i);
  if (kind == SQLITE_NULL) return zeroOf(t);
  if (isWhole(t)) return static_cast<long long>(sqlite3_column_int64(st, i));
  if (t == FieldType::Float)
    return static_cast<double>(static_cast<float>(sqlite3_column_double(st, i)));
  if (t == FieldType::Double) return sqlite3_column_double(st, i);
  if (t == FieldType::Text) {
    if (kind == SQLITE_BLOB) {
      const char* p = static_cast<const char*>(sqlite3_column_blob(st, i));
      return Text::fromGbk(std::string(p ? p : "", sqlite3_column_bytes(st, i)));
    }
    const char* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    return Text::fromUtf8(std::string_view(p ? p : "", sqlite3_column_bytes(st, i)));
  }
  const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, i));
  int n = sqlite3_column_bytes(st, i);
  return p ? Bytes(p, p + n) : Bytes();
}

// Runs SQL; a failure is recorded when `what` names the operation (clean-up
// statements after a failure pass none, so that the first cause is kept).
bool exec(sqlite3* db, const std::string& sql, const char* what = nullptr,
          const std::string& file = std::string()) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  if (what) noteSqlite(db, what, file);
  return false;
}

// An empty statement when SQL cannot be prepared (the failure recorded).
Statement prepare(sqlite3* db, const std::string& sql, const std::string& file = std::string()) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) == SQLITE_OK)
    return Statement(st);
  noteSqlite(db, "preparing \"" + sql + "\" for", file);
  sqlite3_finalize(st);
  return Statement();
}

// The test seam: true when this write is to fail.
bool takeInjectedFault(const std::string& file) {
  if (gFailWrites <= 0) return false;
  --gFailWrites;
  recordFailure(reasonOf(SQLITE_IOERR), "writing", file, SQLITE_IOERR, "injected write fault");
  return true;
}

bool inSqlTransaction() { return gDb && !sqlite3_get_autocommit(gDb); }

// Undoes the memory changes of one store's part of the transaction.
void undoMemory(Store& s) {
  for (auto it = s.undo.rbegin(); it != s.undo.rend(); ++it) (*it)(s);
  s.undo.clear();
  s.inTransaction = false;
  s.pos = std::min(s.posAtJoin, s.count() + 1);
}

std::vector<std::string> gPendingDetach;

// Schemas of stores closed while the connection was inside a transaction
// are detached once it has ended; the connection closes with the last store.
void tidyConnection() {
  if (!gDb || inSqlTransaction()) return;
  for (const auto& schema : gPendingDetach) exec(gDb, ("DETACH DATABASE " + schema).c_str());
  gPendingDetach.clear();
  bool anyOpen = gMainInUse;
  for (const auto& [alias, s] : gStores) anyOpen = anyOpen || (s != nullptr);
  if (!anyOpen) {
    sqlite3_close_v2(gDb);
    gDb = nullptr;
  }
}

// Ends the SQLite transaction without keeping it and undoes every store's
// part in memory; the transaction itself stays as it is (see rollbackAll).
void undoStores() {
  if (inSqlTransaction()) exec(gDb, "ROLLBACK");
  for (auto it = gTransaction.stores.rbegin(); it != gTransaction.stores.rend(); ++it)
    undoMemory(**it);
  gTransaction.stores.clear();
}

void rollbackAll() {
  undoStores();
  gTransaction = TransactionState();
  tidyConnection();
}

// After a failed write inside a transaction SQLite may have given the whole
// transaction up (I/O error, disk full). Every store's part is then undone
// in memory too, and the transaction can no longer commit.
void noteFailure() {
  if (gTransaction.active && !gTransaction.stores.empty() && !inSqlTransaction()) {
    undoStores();
    gTransaction.doomed = true;
  }
}

bool readRecords(const Store& s, std::vector<Record>* out);

// The files of the running transaction, for the log.
std::string storePaths() {
  std::string paths;
  for (const Store* st : gTransaction.stores) paths += (paths.empty() ? "" : ", ") + st->path;
  return paths;
}
bool sameRecords(const std::vector<Record>& a, const std::vector<Record>& b);

// A write outside a transaction that SQLite reports as failed may still
// have reached the file (a sync that failed after the journal was gone):
// true when the file no longer holds what memory holds, so that the caller
// applies the change to memory as well.
bool landedAnyway(const Store& s) {
  std::vector<Record> disk;
  return readRecords(s, &disk) && !sameRecords(disk, s.records);
}

// Runs a prepared writing statement (bindings already made); false when the
// write failed or the test seam made it fail.
bool stepWrite(Store& s, sqlite3_stmt* st) {
  if (takeInjectedFault(s.path)) {
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return false;
  }
  int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) noteSqlite(gDb, "writing", s.path);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (rc != SQLITE_DONE) {
    noteFailure();
    return !gTransaction.active && !inSqlTransaction() && landedAnyway(s);
  }
  return true;
}

// Inside a transaction, the store joins it on its first write; the SQLite
// transaction opens with the first store.
bool joinTransaction(Store& s) {
  if (!gTransaction.active || s.inTransaction) return true;
  if (gTransaction.doomed) return false;
  if (!inSqlTransaction() && !exec(gDb, "BEGIN", "beginning a transaction on", s.path))
    return false;
  s.inTransaction = true;
  s.posAtJoin = s.pos;
  s.undo.clear();
  gTransaction.stores.push_back(&s);
  return true;
}

void remember(Store& s, std::function<void(Store&)> undo) {
  if (s.inTransaction) s.undo.push_back(std::move(undo));
}

// Several statements as one change: a savepoint, committed at once outside
// a transaction, kept in it inside one.
bool runGrouped(Store& s, const std::vector<sqlite3_stmt*>& statements) {
  const bool outermost = !inSqlTransaction();
  if (!exec(gDb, "SAVEPOINT pd_change", "beginning a change of", s.path)) return false;
  bool ok = true;
  for (auto* st : statements)
    if (!(ok = stepWrite(s, st))) break;
  if (ok && inSqlTransaction()) ok = exec(gDb, "RELEASE pd_change", "saving a change of", s.path);
  if (!ok && inSqlTransaction()) {
    exec(gDb, "ROLLBACK TO pd_change");
    exec(gDb, "RELEASE pd_change");
  }
  if (!ok && outermost && !gTransaction.active) return landedAnyway(s);
  return ok;
}

bool sameValue(const Value& a, const Value& b) {
  if (a.index() != b.index()) return false;
  if (const auto* t = std::get_if<Text>(&a)) return t->bytes() == std::get<Text>(b).bytes();
  if (const auto* d = std::get_if<double>(&a)) {
    const double e = std::get<double>(b);
    return *d == e || (std::isnan(*d) && std::isnan(e));
  }
  return a == b;
}

bool sameRecords(const std::vector<Record>& a, const std::vector<Record>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].rowid != b[i].rowid || a[i].deleted != b[i].deleted ||
        a[i].values.size() != b[i].values.size())
      return false;
    for (size_t f = 0; f < a[i].values.size(); ++f)
      if (!sameValue(a[i].values[f], b[i].values[f])) return false;
  }
  return true;
}

// Reads every record of the store from its file.
bool readRecords(const Store& s, std::vector<Record>* out) {
  std::string list;
  for (size_t i = 0; i < s.columns.size(); ++i) list += (i ? ", " : "") + s.columns[i];
  const Statement query =
      prepare(gDb,
              "SELECT rowid, " + list + ", rowid IN (SELECT rid FROM " + s.schema +
                  ".deleted_records) FROM " + s.schema + ".records ORDER BY rowid",
              s.path);
  if (!query) return false;
  sqlite3_stmt* st = query.get();
  const int n = static_cast<int>(s.fields.size());
  std::vector<Record> records;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    Record r;
    r.rowid = sqlite3_column_int64(st, 0);
    r.values.reserve(n);
    for (int i = 0; i < n; ++i) r.values.push_back(columnValue(st, i + 1, s.fields[i].type));
    r.deleted = sqlite3_column_int(st, n + 1) != 0;
    records.push_back(std::move(r));
  }
  if (rc != SQLITE_DONE) {
    noteSqlite(gDb, "reading the records of", s.path);
    return false;
  }
  *out = std::move(records);
  return true;
}

// A commit that failed in its first phase can leave its super-journal
// behind with no journal naming it; SQLite ignores such a file. Once no
// store has a journal left, nothing can name it any more, and it is
// removed so that nothing stray stays in the data folder.
void removeOrphanedSuperJournals() {
  namespace fs = std::filesystem;
  const char* main = gDb ? sqlite3_db_filename(gDb, "main") : nullptr;
  if (!main || !*main) return;
  std::error_code ec;
  if (fs::exists(std::string(main) + "-journal", ec)) return;
  for (const auto& [alias, s] : gStores)
    if (s && fs::exists(s->path + "-journal", ec)) return;
  const fs::path mainPath(main);
  const std::string prefix = mainPath.filename().string() + "-mj";
  for (const auto& entry : fs::directory_iterator(mainPath.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    // SQLite names them "<main file>-mj" and nine hex digits.
    if (name.size() != prefix.size() + 9 || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.find_first_not_of("0123456789ABCDEF", prefix.size()) != std::string::npos) continue;
    fs::remove(entry.path(), ec);
  }
}

// A COMMIT that failed: SQLite has rolled back what it could, yet a commit
// whose super-journal was already deleted has reached every file. The
// files decide: each store is read back, memory takes what the files hold,
// and the answer is whether they hold the transaction.
bool settleFailedCommit() {
  struct Intended {
    Store* store;
    std::vector<Record> records;
    int pos;
  };
  std::vector<Intended> intended;
  for (Store* s : gTransaction.stores) intended.push_back({s, s->records, s->pos});
  undoStores();
  bool committed = true;
  for (auto& i : intended) {
    std::vector<Record> disk;
    if (!readRecords(*i.store, &disk)) {
      committed = false;
      continue;
    }
    if (!sameRecords(disk, i.records)) committed = false;
    if (!sameRecords(disk, i.store->records)) i.store->records = std::move(disk);
  }
  if (committed)
    for (auto& i : intended) i.store->pos = i.pos;
  for (auto& i : intended) i.store->pos = std::min(i.store->pos, i.store->count() + 1);
  removeOrphanedSuperJournals();
  gTransaction = TransactionState();
  tidyConnection();
  return committed;
}

// A store file must be an SQLite database before SQLite may touch it: an
// empty or foreign file would otherwise be made into an empty database.
bool looksLikeDatabase(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char header[16] = {};
  if (!in.read(header, sizeof header)) return false;
  return std::memcmp(header, "SQLite format 3", sizeof header) == 0;
}

// The schema a store file takes on the shared connection: "main" when it is
// the connection's own file, else a newly attached one. Empty on failure.
std::string attachSchema(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    recordFailure(Text::fromUtf8("文件不存在或无法访问，请检查数据文件夹"), "finding", path, 0,
                  std::strerror(errno));
    return std::string();
  }
  if (inSqlTransaction()) {  // ATTACH needs no open transaction
    recordFailure(Text::fromUtf8("另一项写入尚未结束，请稍后重试"), "attaching", path, 0,
                  "a transaction is open");
    return std::string();
  }
  if (!gDb) {
    if (sqlite3_open_v2(path.c_str(), &gDb, SQLITE_OPEN_READWRITE, vfs::name()) != SQLITE_OK) {
      noteSqlite(gDb, "opening", path);
      sqlite3_close_v2(gDb);
      gDb = nullptr;
      return std::string();
    }
    sqlite3_busy_timeout(gDb, 2000);
    sqlite3_extended_result_codes(gDb, 1);
    gMainDevice = info.st_dev;
    gMainInode = info.st_ino;
    gMainInUse = false;
  }
  if (!gMainInUse && info.st_dev == gMainDevice && info.st_ino == gMainInode) {
    gMainInUse = true;
    return "main";
  }
  const std::string schema = "s" + std::to_string(gNextSchema++);
  const Statement attach = prepare(gDb, "ATTACH DATABASE ? AS " + schema, path);
  bool ok =
      attach && sqlite3_bind_text(attach.get(), 1, path.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK;
  ok = ok && sqlite3_step(attach.get()) == SQLITE_DONE;
  if (attach && !ok) noteSqlite(gDb, "attaching", path);
  if (!ok) {
    tidyConnection();
    return std::string();
  }
  return schema;
}

void releaseSchema(const std::string& schema) {
  if (schema.empty()) return;
  if (schema == "main")
    gMainInUse = false;
  else
    gPendingDetach.push_back(schema);
  tidyConnection();
}

// The first row's text of a one-value query.
bool queryText(const std::string& sql, const std::string& file, std::string* out) {
  const Statement query = prepare(gDb, sql, file);
  if (!query) return false;
  if (sqlite3_step(query.get()) != SQLITE_ROW) {
    noteSqlite(gDb, "running \"" + sql + "\" on", file);
    return false;
  }
  const char* t = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0));
  *out = t ? t : "";
  return true;
}

// A structure check that SQLite refused: the file is an SQLite database but
// not a store. SQLite's words stay in the failure; other causes (a lock, a
// damaged file) keep their own reason.
void markNotAStore(const char* detailUtf8) {
  if ((gLastFailure.code & 0xFF) == SQLITE_ERROR)
    gLastFailure.reason = Text::fromUtf8(std::string("不是本程序的存储文件（") + detailUtf8 + "）");
}

// Reads the store's fields and checks that its records table holds them,
// writing nothing: a database that is not a store is left as it is.
bool readStructure(Store* s) {
  const std::string& q = s->schema;
  const Statement fieldList =
      prepare(gDb, "SELECT name, type FROM " + q + ".fields ORDER BY position", s->path);
  if (!fieldList) {
    markNotAStore("没有字段表 fields");
    return false;
  }
  sqlite3_stmt* st = fieldList.get();
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const char* name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    const char* type = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    FieldType t;
    if (!name || !*name || !type || !typeFromName(type, &t)) break;
    Text n = Text::fromUtf8(name);
    if (s->index.count(n.bytes())) break;
    s->index[n.bytes()] = static_cast<int>(s->fields.size());
    s->fields.push_back({n, t});
    s->columns.push_back(quoteName(name));
  }
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
    noteSqlite(gDb, "reading the fields of", s->path);
    return false;
  }
  if (rc == SQLITE_ROW || s->fields.empty()) {
    noteRefusal("不是本程序的存储文件（字段表 fields 为空或有误）", "reading the fields of",
                s->path);
    return false;
  }
  // The records table must hold a column for every field. (Asked of SQLite
  // by name: a select would take a missing quoted column for a string.)
  const Statement columns = prepare(gDb, "PRAGMA " + q + ".table_info(records)", s->path);
  if (!columns) return false;
  std::set<std::string> names;
  while ((rc = sqlite3_step(columns.get())) == SQLITE_ROW) {
    const char* name = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 1));
    if (name) names.insert(name);
  }
  if (rc != SQLITE_DONE) {
    noteSqlite(gDb, "reading the columns of", s->path);
    return false;
  }
  for (const auto& f : s->fields)
    if (!names.count(f.name.toUtf8())) {
      noteRefusal(names.empty()
                      ? "不是本程序的存储文件（没有记录表 records）"
                      : "不是本程序的存储文件（记录表 records 缺少字段 " + f.name.toUtf8() + "）",
                  "reading the columns of", s->path);
      return false;
    }
  return true;
}

bool loadInto(Store* s) {
  const std::string& q = s->schema;
  std::string mode;
  if (!queryText("PRAGMA " + q + ".journal_mode", s->path, &mode)) return false;
  if (!readStructure(s)) return false;

  // Rollback journals on every file, so that commits over several files are
  // atomic; a WAL file is checkpointed into the database by the switch.
  if (mode != "delete") {
    if (!queryText("PRAGMA " + q + ".journal_mode=DELETE", s->path, &mode)) return false;
    if (mode != "delete") {
      recordFailure(reasonOf(SQLITE_BUSY), "switching to a rollback journal", s->path, 0,
                    "the journal mode stayed " + mode);
      return false;
    }
  }
  if (!exec(gDb, "PRAGMA " + q + ".synchronous=EXTRA", "setting up", s->path)) return false;
  if (!exec(gDb, "CREATE TABLE IF NOT EXISTS " + q + ".deleted_records(rid INTEGER PRIMARY KEY)",
            "setting up", s->path))
    return false;
  if (!readRecords(*s, &s->records)) return false;

  const int n = static_cast<int>(s->fields.size());
  std::string list, marks;
  for (int i = 0; i < n; ++i) {
    list += (i ? ", " : "") + s->columns[i];
    marks += i ? ", ?" : "?";
  }
  s->insert =
      prepare(gDb, "INSERT INTO " + q + ".records(" + list + ") VALUES(" + marks + ")", s->path);
  s->mark = prepare(gDb, "INSERT OR IGNORE INTO " + q + ".deleted_records(rid) VALUES(?)", s->path);
  if (!s->insert || !s->mark) return false;
  for (int i = 0; i < n; ++i) {
    Statement u = prepare(
        gDb, "UPDATE " + q + ".records SET " + s->columns[i] + " = ? WHERE rowid = ?", s->path);
    if (!u) return false;
    s->updateByField.push_back(std::move(u));
  }
  s->pos = s->count() ? 1 : 0;
  return true;
}

std::unique_ptr<Store> load(const std::string& path, const Text& alias) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    recordFailure(Text::fromUtf8("文件不存在，请把存储文件放回数据文件夹"), "opening", path, 0,
                  "no such file");
    return nullptr;
  }
  if (::access(path.c_str(), R_OK) != 0) {
    recordFailure(reasonOf(SQLITE_PERM), "reading", path, 0, std::strerror(errno));
    return nullptr;
  }
  if (!looksLikeDatabase(path)) {
    noteRefusal("不是本程序的存储文件（不是 SQLite 数据库）", "opening", path);
    return nullptr;
  }
  const std::string schema = attachSchema(path);
  if (schema.empty()) return nullptr;
  auto s = std::make_unique<Store>();
  s->path = path;
  s->alias = alias;
  s->schema = schema;
  if (!loadInto(s.get())) {
    s.reset();  // its statements go before its schema
    releaseSchema(schema);
    return nullptr;
  }
  return s;
}

// Ends the store under alias (if open), leaving the alias not open.
void dropStore(const std::string& alias) {
  auto it = gStores.find(alias);
  if (it == gStores.end() || !it->second) return;
  if (it->second->inTransaction) rollbackAll();
  const std::string schema = it->second->schema;
  it->second.reset();
  releaseSchema(schema);
}

// Reads the field of the current record after the structure checks; null
// with no current record.
const Value* fieldOfCurrent(Store& s, int index) {
  if (!s.hasRecord()) return nullptr;
  return &s.current().values[index];
}

}  // namespace

// --- Opening and selecting ---------------------------------------------------

bool open(const std::string& path, const Text& alias) {
  if (!gCleanupRegistered) {
    gCleanupRegistered = true;
    ui::detail::atRuntimeCleanup([] { closeAll(); });
  }
  dropStore(alias.bytes());
  // ATTACH cannot run inside an open transaction: a transaction that has
  // written is given up.
  if (inSqlTransaction()) {
    undoStores();
    gTransaction.doomed = gTransaction.active;
  }
  gLastFailure = Failure();
  gStores[alias.bytes()] = load(path, alias);
  gHasCurrent = true;
  gCurrentAlias = alias;
  const bool ok = gStores[alias.bytes()] != nullptr;
  if (ok)
    gFailedFiles.erase(alias.bytes());
  else
    gFailedFiles[alias.bytes()] = {path, gLastFailure.reason.empty()
                                             ? Text::fromUtf8("不是可用的存储文件")
                                             : failureText(gLastFailure)};
  return ok;
}

bool select(const Text& alias) {
  gHasCurrent = true;
  gCurrentAlias = alias;
  return isOpen(alias);
}

bool close() {
  if (!gHasCurrent) return false;
  auto it = gStores.find(gCurrentAlias.bytes());
  if (it == gStores.end() || !it->second) return false;
  dropStore(gCurrentAlias.bytes());
  return true;
}

void closeAll() {
  if (gTransaction.active) rollbackAll();
  gStores.clear();
  gPendingDetach.clear();
  if (gDb) sqlite3_close_v2(gDb);
  gDb = nullptr;
  gMainInUse = false;
  gFailedFiles.clear();
  gHasCurrent = false;
  gCurrentAlias = Text();
}

CurrentStoreKeeper::CurrentStoreKeeper() : hadCurrent_(gHasCurrent), alias_(gCurrentAlias) {}
CurrentStoreKeeper::~CurrentStoreKeeper() {
  gHasCurrent = hadCurrent_;
  gCurrentAlias = alias_;
}

Text currentAlias() { return gHasCurrent ? gCurrentAlias : Text(); }

bool isOpen(const Text& alias) {
  auto it = gStores.find(alias.bytes());
  return it != gStores.end() && it->second;
}

// --- Cursor -----------------------------------------------------------------

int recordCount() { return cur().count(); }

int recordNumber() {
  Store& s = cur();
  return s.hasRecord() ? s.pos : 0;
}

void goFirst() {
  Store& s = cur();
  s.pos = s.count() ? 1 : 0;
}

void goLast() {
  Store& s = cur();
  s.pos = s.count();
}

void goTo(int n) {
  Store& s = cur();
  if (!s.count())
    s.pos = 0;
  else
    s.pos = std::clamp(n, 1, s.count());
}

void skip(int n) {
  Store& s = cur();
  if (!s.count()) {
    s.pos = 0;
    return;
  }
  long long p = static_cast<long long>(s.pos) + n;
  s.pos = static_cast<int>(std::clamp<long long>(p, 0, s.count() + 1LL));
}

bool bof() {
  Store& s = cur();
  return s.count() == 0 || s.pos < 1;
}

bool eof() {
  Store& s = cur();
  return s.count() == 0 || s.pos > s.count();
}

// --- Records ----------------------------------------------------------------

bool append(const std::vector<Value>& values) {
  Store& s = cur();
  const int n = static_cast<int>(s.fields.size());
  if (static_cast<int>(values.size()) > n) return false;
  Record r;
  r.values.resize(n);
  for (int i = 0; i < n; ++i) {
    const Value& in = i < static_cast<int>(values.size()) ? values[i] : Value();
    if (!convert(in, s.fields[i].type, &r.values[i])) return false;
  }
  if (!joinTransaction(s)) return false;
  for (int i = 0; i < n; ++i) bindValue(s.insert.get(), i + 1, r.values[i]);
  if (!stepWrite(s, s.insert.get())) return false;
  r.rowid = sqlite3_last_insert_rowid(gDb);
  const int oldPos = s.pos;
  s.records.push_back(std::move(r));
  s.pos = s.count();
  remember(s, [oldPos](Store& x) {
    x.records.pop_back();
    x.pos = oldPos;
  });
  return true;
}

bool modify(const std::vector<Value>& values) {
  Store& s = cur();
  const int n = static_cast<int>(values.size());
  if (!s.hasRecord() || n > static_cast<int>(s.fields.size())) return false;
  if (n == 0) return true;
  std::vector<Value> converted(n);
  for (int i = 0; i < n; ++i)
    if (!convert(values[i], s.fields[i].type, &converted[i])) return false;
  Statement& statement = s.modifyByCount[n];
  if (!statement) {
    std::string sql = "UPDATE " + s.schema + ".records SET ";
    for (int i = 0; i < n; ++i) sql += (i ? ", " : "") + s.columns[i] + " = ?";
    statement = prepare(gDb, sql + " WHERE rowid = ?", s.path);
    if (!statement) return false;
  }
  sqlite3_stmt* st = statement.get();
  if (!joinTransaction(s)) return false;
  for (int i = 0; i < n; ++i) bindValue(st, i + 1, converted[i]);
  sqlite3_bind_int64(st, n + 1, s.current().rowid);
  if (!stepWrite(s, st)) return false;
  const int index = s.pos - 1;
  std::vector<Value> old(s.current().values.begin(), s.current().values.begin() + n);
  std::move(converted.begin(), converted.end(), s.current().values.begin());
  remember(s, [index, old = std::move(old)](Store& x) {
    std::copy(old.begin(), old.end(), x.records[index].values.begin());
  });
  return true;
}

bool markDeleted() {
  Store& s = cur();
  if (!s.hasRecord()) return false;
  if (s.current().deleted) return true;
  if (!joinTransaction(s)) return false;
  sqlite3_bind_int64(s.mark.get(), 1, s.current().rowid);
  if (!stepWrite(s, s.mark.get())) return false;
  const int index = s.pos - 1;
  s.current().deleted = true;
  remember(s, [index](Store& x) { x.records[index].deleted = false; });
  return true;
}

bool purge() {
  Store& s = cur();
  bool any = false;
  for (auto& r : s.records) any = any || r.deleted;
  if (!any) return true;
  if (!joinTransaction(s)) return false;
  const Statement removeRecords =
      prepare(gDb,
              "DELETE FROM " + s.schema + ".records WHERE rowid IN (SELECT rid FROM " + s.schema +
                  ".deleted_records)",
              s.path);
  const Statement removeMarks =
      prepare(gDb, "DELETE FROM " + s.schema + ".deleted_records", s.path);
  if (!removeRecords || !removeMarks || !runGrouped(s, {removeRecords.get(), removeMarks.get()}))
    return false;

  auto old = std::make_shared<std::vector<Record>>(std::move(s.records));
  const int oldPos = s.pos;
  s.records.clear();
  int newPos = 0;
  bool currentKept = false;
  for (int i = 0; i < static_cast<int>(old->size()); ++i) {
    const Record& r = (*old)[i];
    if (r.deleted) continue;
    s.records.push_back(r);
    if (i + 1 == oldPos) {
      newPos = s.count();
      currentKept = true;
    }
  }
  if (!currentKept) {
    // The current record went: the first survivor behind it takes its number.
    int removedBefore = 0;
    for (int i = 0; i < oldPos - 1 && i < static_cast<int>(old->size()); ++i)
      removedBefore += (*old)[i].deleted ? 1 : 0;
    if (oldPos >= 1 && oldPos <= static_cast<int>(old->size()))
      newPos = std::min(oldPos - removedBefore, s.count());
    else
      newPos = oldPos < 1 ? 0 : s.count() + 1;
  }
  s.pos = newPos;
  remember(s, [old, oldPos](Store& x) {
    x.records = std::move(*old);
    x.pos = oldPos;
  });
  return true;
}

bool clear() {
  Store& s = cur();
  if (!joinTransaction(s)) return false;
  const Statement removeRecords = prepare(gDb, "DELETE FROM " + s.schema + ".records", s.path);
  const Statement removeMarks =
      prepare(gDb, "DELETE FROM " + s.schema + ".deleted_records", s.path);
  if (!removeRecords || !removeMarks || !runGrouped(s, {removeRecords.get(), removeMarks.get()}))
    return false;
  auto old = std::make_shared<std::vector<Record>>(std::move(s.records));
  const int oldPos = s.pos;
  s.records.clear();
  s.pos = 0;
  remember(s, [old, oldPos](Store& x) {
    x.records = std::move(*old);
    x.pos = oldPos;
  });
  return true;
}

// --- Fields of the current record ------------------------------------------

Text readText(const Text& field) {
  Store& s = cur();
  int i = fieldIndexOrFatal(s, field);
  if (s.fields[i].type != FieldType::Text)
    ui::fatalError(5, Text::fromUtf8("数据或数组类型不匹配"));
  const Value* v = fieldOfCurrent(s, i);
  return v ? std::get<Text>(*v) : Text();
}

Bytes readBytes(const Text& field) {
  Store& s = cur();
  int i = fieldIndexOrFatal(s, field);
  if (s.fields[i].type != FieldType::ByteSet)
    ui::fatalError(5, Text::fromUtf8("数据或数组类型不匹配"));
  const Value* v = fieldOfCurrent(s, i);
  return v ? std::get<Bytes>(*v) : Bytes();
}

long long readInt(const Text& field) {
  Store& s = cur();
  int i = fieldIndexOrFatal(s, field);
  if (!isNumeric(s.fields[i].type)) ui::fatalError(2, Text::fromUtf8("未得到所需要的数值型数据"));
  const Value* v = fieldOfCurrent(s, i);
  if (!v) return 0;
  if (const auto* n = std::get_if<long long>(v)) return *n;
  double d = std::get<double>(*v);
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return std::numeric_limits<long long>::max();
  if (d <= -9223372036854775808.0) return std::numeric_limits<long long>::min();
  return static_cast<long long>(std::trunc(d));
}

double readDouble(const Text& field) {
  Store& s = cur();
  int i = fieldIndexOrFatal(s, field);
  if (!isNumeric(s.fields[i].type)) ui::fatalError(2, Text::fromUtf8("未得到所需要的数值型数据"));
  const Value* v = fieldOfCurrent(s, i);
  if (!v) return 0;
  if (const auto* n = std::get_if<long long>(v)) return static_cast<double>(*n);
  return std::get<double>(*v);
}

Value readValue(const Text& field) {
  Store& s = cur();
  int i = fieldIndexOrFatal(s, field);
  const Value* v = fieldOfCurrent(s, i);
  return v ? *v : Value();
}

Text readAsText(const Text& field) {
  Store& s = cur();
  int i = fieldIndexOrFatal(s, field);
  if (s.fields[i].type == FieldType::ByteSet)
    ui::fatalError(5, Text::fromUtf8("数据或数组类型不匹配"));
  const Value* v = fieldOfCurrent(s, i);
  if (!v) return Text();
  if (const auto* t = std::get_if<Text>(v)) return *t;
  if (const auto* n = std::get_if<long long>(v)) return model::numberToText(*n);
  return model::numberToText(std::get<double>(*v));
}

FieldType fieldType(const Text& field) {
  Store& s = cur();
  return s.fields[fieldIndexOrFatal(s, field)].type;
}

bool hasField(const Text& field) { return cur().index.count(field.bytes()) != 0; }

std::vector<FieldDef> fields() { return cur().fields; }

bool write(const Text& field, const Value& value) {
  Store& s = cur();
  auto it = s.index.find(field.bytes());
  if (!s.hasRecord() || it == s.index.end()) return false;
  const int f = it->second;
  Value converted;
  if (!convert(value, s.fields[f].type, &converted)) return false;
  if (!joinTransaction(s)) return false;
  sqlite3_stmt* st = s.updateByField[f].get();
  bindValue(st, 1, converted);
  sqlite3_bind_int64(st, 2, s.current().rowid);
  if (!stepWrite(s, st)) return false;
  const int index = s.pos - 1;
  Value old = std::exchange(s.current().values[f], std::move(converted));
  remember(s, [index, f, old = std::move(old)](Store& x) { x.records[index].values[f] = old; });
  return true;
}

// --- Transactions ------------------------------------------------------------

Transaction::Transaction() {
  if (!gTransaction.active) {
    gTransaction = TransactionState();
    gTransaction.active = true;
    gTransaction.outer = this;
  }
}

Transaction::~Transaction() {
  if (active_) rollback();
}

bool Transaction::commit() {
  if (!active_) return false;
  active_ = false;
  if (gTransaction.outer != this) return gTransaction.active && !gTransaction.doomed;
  if (gTransaction.doomed || takeInjectedFault(storePaths())) {
    rollbackAll();
    return false;
  }
  // SQLite gave the transaction up under a write whose failure went unseen:
  // nothing of it is in the files.
  if (!gTransaction.stores.empty() && !inSqlTransaction()) {
    rollbackAll();
    return false;
  }
  if (!inSqlTransaction() || exec(gDb, "COMMIT", "committing a transaction on", storePaths())) {
    for (Store* s : gTransaction.stores) {
      s->inTransaction = false;
      s->undo.clear();
    }
    gTransaction = TransactionState();
    tidyConnection();
    return true;
  }
  return settleFailedCommit();
}

void Transaction::rollback() {
  if (!active_) return;
  active_ = false;
  if (gTransaction.outer == this)
    rollbackAll();
  else if (gTransaction.active)
    gTransaction.doomed = true;
}

// --- Making store files ------------------------------------------------------

std::vector<FieldDef> fieldDefs(const std::vector<model::FieldSpec>& specs) {
  std::vector<FieldDef> defs;
  for (const auto& s : specs) {
    const std::string kind = s.kind;
    FieldType type = FieldType::Text;
    if (kind == "integer") type = FieldType::Integer;
    if (kind == "double") type = FieldType::Double;
    if (kind == "bytes") type = FieldType::ByteSet;
    defs.push_back({Text::fromUtf8(s.name), type});
  }
  return defs;
}

bool createStoreFile(const std::string& path, const std::vector<FieldDef>& fields) {
  if (fields.empty()) return false;
  std::vector<std::string> names;
  for (const auto& f : fields) {
    std::string n = f.name.toUtf8();
    if (n.empty()) return false;
    for (const auto& m : names)
      if (m == n) return false;
    names.push_back(n);
  }
  sqlite3* db = nullptr;
  auto fail = [&db] {
    if (db) sqlite3_close_v2(db);
    return false;
  };
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    noteSqlite(db, "creating", path);
    return fail();
  }
  sqlite3_busy_timeout(db, 2000);
  if (!exec(db, "PRAGMA journal_mode=DELETE")) {
    // Not an SQLite file: start it afresh.
    sqlite3_close_v2(db);
    db = nullptr;
    if (std::remove(path.c_str()) != 0) return false;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
            SQLITE_OK ||
        !exec(db, "PRAGMA journal_mode=DELETE", "creating", path))
      return fail();
  }
  exec(db, "PRAGMA synchronous=EXTRA");
  std::string columns;
  for (size_t i = 0; i < fields.size(); ++i)
    columns += (i ? ", " : "") + quoteName(names[i]) + " " + sqlType(fields[i].type);
  std::string sql =
      "BEGIN IMMEDIATE;"
      "DROP TABLE IF EXISTS records; DROP TABLE IF EXISTS fields;"
      "DROP TABLE IF EXISTS deleted_records;"
      "CREATE TABLE fields(position INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, type TEXT NOT "
      "NULL);"
      "CREATE TABLE deleted_records(rid INTEGER PRIMARY KEY);"
      "CREATE TABLE records(" +
      columns + ");";
  if (!exec(db, sql, "creating", path)) {
    exec(db, "ROLLBACK");
    return fail();
  }
  bool ok;
  {
    const Statement insert =
        prepare(db, "INSERT INTO fields(position, name, type) VALUES(?, ?, ?)", path);
    sqlite3_stmt* st = insert.get();
    ok = st != nullptr;
    for (size_t i = 0; ok && i < fields.size(); ++i) {
      sqlite3_bind_int(st, 1, static_cast<int>(i + 1));
      sqlite3_bind_text(st, 2, names[i].c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 3, typeName(fields[i].type), -1, SQLITE_STATIC);
      ok = sqlite3_step(st) == SQLITE_DONE;
      if (!ok) noteSqlite(db, "filling the fields of", path);
      sqlite3_reset(st);
    }
  }
  if (!ok || !exec(db, "COMMIT", "creating", path)) {
    exec(db, "ROLLBACK");
    return fail();
  }
  sqlite3_close_v2(db);
  return true;
}

Text lastError() { return failureText(gLastFailure); }

void failNextWrites(int count) { gFailWrites = count < 0 ? 0 : count; }

void failFileOperation(long long n, FaultMode mode) { vfs::failOperation(n, mode); }
long long fileOperationCount() { return vfs::operations(); }
bool fileFaultPending() { return vfs::faultPending(); }
void watchFileChanges(FileWatcher watcher) { vfs::watch(watcher); }
void simulateFullDisk(bool on) { vfs::setDiskFull(on); }

}  // namespace store
