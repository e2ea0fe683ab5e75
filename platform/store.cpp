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
// a failed write changes nothing. The files run in WAL mode with
// synchronous=FULL: a write is on disk when its call returns.
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
// - Committing several files cannot be atomic across the files: they are
//   committed in the order they joined; when one fails, it and every file
//   after it are rolled back (files and memory), the ones before stay
//   committed, and commit() reports false. Memory always matches the files.
#include "platform/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>

#include "platform/internal.h"
#include "platform/ui.h"

namespace store {

namespace {

constexpr int kStoreErrorCode = 3;

struct Record {
  sqlite3_int64 rowid = 0;
  bool deleted = false;
  std::vector<Value> values;
};

struct Store {
  std::string path;
  Text alias;
  sqlite3* db = nullptr;
  std::vector<FieldDef> fields;
  std::vector<std::string> columns;  // quoted UTF-8 column names
  std::unordered_map<std::string, int> index;
  std::vector<Record> records;
  // 1..count: the current record; 0: before the first; count + 1: past the last.
  int pos = 0;

  std::vector<sqlite3_stmt*> updateByField;
  std::map<int, sqlite3_stmt*> modifyByCount;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* mark = nullptr;

  // Transaction state: the SQLite transaction is open, the memory changes
  // made in it (undone in reverse order) and the cursor when it joined.
  bool inTransaction = false;
  std::vector<std::function<void(Store&)>> undo;
  int posAtJoin = 0;

  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store() {
    for (auto* st : updateByField) sqlite3_finalize(st);
    for (auto& [n, st] : modifyByCount) sqlite3_finalize(st);
    sqlite3_finalize(insert);
    sqlite3_finalize(mark);
    if (db) sqlite3_close_v2(db);
  }

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

// alias bytes -> store; a null entry is an alias whose store is not open.
std::map<std::string, std::unique_ptr<Store>> gStores;
bool gHasCurrent = false;
Text gCurrentAlias;
int gFailWrites = 0;
TransactionState gTransaction;
bool gCleanupRegistered = false;

// --- Helpers -------------------------------------------------------------------

[[noreturn]] void fatalNotOpen() {
  if (!gHasCurrent) ui::fatalError(kStoreErrorCode, Text::fromUtf8("没有选定存储"));
  ui::fatalError(kStoreErrorCode,
                 Text::fromUtf8("存储 ") + gCurrentAlias + Text::fromUtf8(" 没有打开"));
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

// A decimal number written in a text: leading blanks, an optional sign,
// digits with an optional fraction; full-width digits, signs, point and
// spaces count as their half-width forms. No digits gives 0.
double parseDecimal(const Text& t) {
  const std::string& s = t.bytes();
  std::string ascii;
  for (size_t i = 0; i < s.size();) {
    unsigned char a = static_cast<unsigned char>(s[i]);
    if (a >= 0x80 && i + 1 < s.size()) {
      unsigned char b = static_cast<unsigned char>(s[i + 1]);
      char c = 0;
      if (a == 0xA3 && b >= 0xB0 && b <= 0xB9)
        c = static_cast<char>('0' + (b - 0xB0));
      else if (a == 0xA3 && b == 0xAB)
        c = '+';
      else if (a == 0xA3 && b == 0xAD)
        c = '-';
      else if (a == 0xA3 && b == 0xAE)
        c = '.';
      else if ((a == 0xA1 && b == 0xA1) || (a == 0xA3 && b == 0xA0))
        c = ' ';
      if (!c) break;
      ascii += c;
      i += 2;
    } else {
      ascii += static_cast<char>(a);
      ++i;
    }
  }
  size_t i = 0;
  while (i < ascii.size() && (ascii[i] == ' ' || ascii[i] == '\t' || ascii[i] == '\r' ||
                              ascii[i] == '\n' || ascii[i] == '\v' || ascii[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) negative = ascii[i++] == '-';
  size_t start = i;
  while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i;
  if (i < ascii.size() && ascii[i] == '.') {
    ++i;
    while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i;
  }
  std::string number = ascii.substr(start, i - start);
  if (number.empty() || number == ".") return 0.0;
  if (number.front() == '.') number.insert(number.begin(), '0');
  double v = 0;
  std::from_chars(number.data(), number.data() + number.size(), v);
  return negative ? -v : v;
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
    if (isNumeric(t)) return convert(Value(parseDecimal(*text)), t, out);
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

bool exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3_stmt* prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(st);
    return nullptr;
  }
  return st;
}

// The test seam: true when this write is to fail.
bool takeInjectedFault() {
  if (gFailWrites <= 0) return false;
  --gFailWrites;
  return true;
}

void rollbackStore(Store& s);

// After a failed write inside a transaction SQLite may have given the whole
// transaction up (I/O error, disk full). The store's part is then undone in
// memory too, and the transaction can no longer commit.
void noteFailure(Store& s) {
  if (s.inTransaction && sqlite3_get_autocommit(s.db)) {
    rollbackStore(s);
    gTransaction.doomed = true;
  }
}

// Runs a prepared writing statement (bindings already made); false when the
// write failed or the test seam made it fail.
bool stepWrite(Store& s, sqlite3_stmt* st) {
  if (takeInjectedFault()) {
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return false;
  }
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (rc != SQLITE_DONE) {
    noteFailure(s);
    return false;
  }
  return true;
}

// Inside a transaction, opens the store's SQLite transaction on its first
// write.
bool joinTransaction(Store& s) {
  if (!gTransaction.active || s.inTransaction) return true;
  if (gTransaction.doomed) return false;
  if (!exec(s.db, "BEGIN IMMEDIATE")) return false;
  s.inTransaction = true;
  s.posAtJoin = s.pos;
  s.undo.clear();
  gTransaction.stores.push_back(&s);
  return true;
}

void remember(Store& s, std::function<void(Store&)> undo) {
  if (s.inTransaction) s.undo.push_back(std::move(undo));
}

// Undoes the store's part of the transaction in the file and in memory.
void rollbackStore(Store& s) {
  if (!s.inTransaction) return;
  if (!sqlite3_get_autocommit(s.db)) exec(s.db, "ROLLBACK");
  for (auto it = s.undo.rbegin(); it != s.undo.rend(); ++it) (*it)(s);
  s.undo.clear();
  s.inTransaction = false;
  s.pos = std::min(s.posAtJoin, s.count() + 1);
}

void rollbackAll() {
  for (auto it = gTransaction.stores.rbegin(); it != gTransaction.stores.rend(); ++it)
    rollbackStore(**it);
  gTransaction = TransactionState();
}

// Several statements as one change: a savepoint, committed at once outside
// a transaction, kept in it inside one.
bool runGrouped(Store& s, const std::vector<sqlite3_stmt*>& statements) {
  if (!exec(s.db, "SAVEPOINT pd_change")) return false;
  bool ok = true;
  for (auto* st : statements)
    if (!(ok = stepWrite(s, st))) break;
  if (ok && !sqlite3_get_autocommit(s.db)) ok = exec(s.db, "RELEASE pd_change");
  if (!ok && !sqlite3_get_autocommit(s.db)) {
    exec(s.db, "ROLLBACK TO pd_change");
    exec(s.db, "RELEASE pd_change");
  }
  return ok;
}

std::unique_ptr<Store> load(const std::string& path, const Text& alias) {
  auto s = std::make_unique<Store>();
  s->path = path;
  s->alias = alias;
  if (sqlite3_open_v2(path.c_str(), &s->db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    return nullptr;
  sqlite3_busy_timeout(s->db, 2000);
  sqlite3_extended_result_codes(s->db, 1);

  sqlite3_stmt* st = prepare(s->db, "PRAGMA journal_mode=WAL");
  if (!st) return nullptr;
  bool wal = sqlite3_step(st) == SQLITE_ROW &&
             std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) == "wal";
  sqlite3_finalize(st);
  if (!wal || !exec(s->db, "PRAGMA synchronous=FULL")) return nullptr;

  st = prepare(s->db, "SELECT name, type FROM fields ORDER BY position");
  if (!st) return nullptr;
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
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE || s->fields.empty()) return nullptr;

  if (!exec(s->db, "CREATE TABLE IF NOT EXISTS deleted_records(rid INTEGER PRIMARY KEY)"))
    return nullptr;

  std::string list;
  for (size_t i = 0; i < s->columns.size(); ++i) list += (i ? ", " : "") + s->columns[i];
  st = prepare(s->db,
               "SELECT rowid, " + list +
                   ", rowid IN (SELECT rid FROM deleted_records) FROM records ORDER BY rowid");
  if (!st) return nullptr;
  const int n = static_cast<int>(s->fields.size());
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    Record r;
    r.rowid = sqlite3_column_int64(st, 0);
    r.values.reserve(n);
    for (int i = 0; i < n; ++i) r.values.push_back(columnValue(st, i + 1, s->fields[i].type));
    r.deleted = sqlite3_column_int(st, n + 1) != 0;
    s->records.push_back(std::move(r));
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) return nullptr;

  std::string marks;
  for (int i = 0; i < n; ++i) marks += i ? ", ?" : "?";
  s->insert = prepare(s->db, "INSERT INTO records(" + list + ") VALUES(" + marks + ")");
  s->mark = prepare(s->db, "INSERT OR IGNORE INTO deleted_records(rid) VALUES(?)");
  if (!s->insert || !s->mark) return nullptr;
  for (int i = 0; i < n; ++i) {
    sqlite3_stmt* u =
        prepare(s->db, "UPDATE records SET " + s->columns[i] + " = ? WHERE rowid = ?");
    if (!u) return nullptr;
    s->updateByField.push_back(u);
  }
  s->pos = s->count() ? 1 : 0;
  return s;
}

// Ends the store under alias (if open), leaving the alias not open.
void dropStore(const std::string& alias) {
  auto it = gStores.find(alias);
  if (it == gStores.end() || !it->second) return;
  if (it->second->inTransaction) rollbackAll();
  it->second.reset();
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
  gStores[alias.bytes()] = load(path, alias);
  gHasCurrent = true;
  gCurrentAlias = alias;
  return gStores[alias.bytes()] != nullptr;
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
  gHasCurrent = false;
  gCurrentAlias = Text();
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
  for (int i = 0; i < n; ++i) bindValue(s.insert, i + 1, r.values[i]);
  if (!stepWrite(s, s.insert)) return false;
  r.rowid = sqlite3_last_insert_rowid(s.db);
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
  sqlite3_stmt*& st = s.modifyByCount[n];
  if (!st) {
    std::string sql = "UPDATE records SET ";
    for (int i = 0; i < n; ++i) sql += (i ? ", " : "") + s.columns[i] + " = ?";
    st = prepare(s.db, sql + " WHERE rowid = ?");
    if (!st) return false;
  }
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
  sqlite3_bind_int64(s.mark, 1, s.current().rowid);
  if (!stepWrite(s, s.mark)) return false;
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
  sqlite3_stmt* removeRecords =
      prepare(s.db, "DELETE FROM records WHERE rowid IN (SELECT rid FROM deleted_records)");
  sqlite3_stmt* removeMarks = prepare(s.db, "DELETE FROM deleted_records");
  bool ok = removeRecords && removeMarks && runGrouped(s, {removeRecords, removeMarks});
  sqlite3_finalize(removeRecords);
  sqlite3_finalize(removeMarks);
  if (!ok) return false;

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
  sqlite3_stmt* removeRecords = prepare(s.db, "DELETE FROM records");
  sqlite3_stmt* removeMarks = prepare(s.db, "DELETE FROM deleted_records");
  bool ok = removeRecords && removeMarks && runGrouped(s, {removeRecords, removeMarks});
  sqlite3_finalize(removeRecords);
  sqlite3_finalize(removeMarks);
  if (!ok) return false;
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
  sqlite3_stmt* st = s.updateByField[f];
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
  if (gTransaction.doomed) {
    rollbackAll();
    return false;
  }
  auto& list = gTransaction.stores;
  size_t i = 0;
  bool ok = true;
  for (; i < list.size(); ++i) {
    Store& s = *list[i];
    if (takeInjectedFault() || !exec(s.db, "COMMIT")) {
      ok = false;
      break;
    }
    s.inTransaction = false;
    s.undo.clear();
  }
  for (size_t j = list.size(); j-- > i;) rollbackStore(*list[j]);
  gTransaction = TransactionState();
  return ok;
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
      SQLITE_OK)
    return fail();
  sqlite3_busy_timeout(db, 2000);
  if (!exec(db, "PRAGMA journal_mode=WAL")) {
    // Not an SQLite file: start it afresh.
    sqlite3_close_v2(db);
    db = nullptr;
    if (std::remove(path.c_str()) != 0) return false;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
            SQLITE_OK ||
        !exec(db, "PRAGMA journal_mode=WAL"))
      return fail();
  }
  exec(db, "PRAGMA synchronous=FULL");
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
  if (!exec(db, sql.c_str())) {
    exec(db, "ROLLBACK");
    return fail();
  }
  sqlite3_stmt* st = prepare(db, "INSERT INTO fields(position, name, type) VALUES(?, ?, ?)");
  bool ok = st != nullptr;
  for (size_t i = 0; ok && i < fields.size(); ++i) {
    sqlite3_bind_int(st, 1, static_cast<int>(i + 1));
    sqlite3_bind_text(st, 2, names[i].c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, typeName(fields[i].type), -1, SQLITE_STATIC);
    ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  if (!ok || !exec(db, "COMMIT")) {
    exec(db, "ROLLBACK");
    return fail();
  }
  sqlite3_close_v2(db);
  return true;
}

void failNextWrites(int count) { gFailWrites = count < 0 ? 0 : count; }

}  // namespace store
