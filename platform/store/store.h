// Record stores: the .edb files of the data folder.
//
// A store is a file of fixed-field records in record order. Any number of
// stores are open at once, each under an alias; one of them is current, and
// every store keeps its own cursor (current record) when another is made
// current. All operations below act on the current store.
//
// Physically each .edb file is an SQLite database holding one table,
// "records", whose columns are the store's fields (named as the fields, in
// field order, typed through the "fields" table) and whose rows stand in
// record order (rowid order), so the sqlite3 shell shows the records as the
// program sees them. Records are
// kept in memory with write-through: cursor moves cost nothing, and every
// write is durable when its call returns. All open stores share one SQLite
// connection (the files attached to it, rollback journals), so a transaction
// over several stores commits in all their files or in none, also across a
// crash or a power cut.
//
// Fatal errors (ending the program through ui::fatalError): reading a field
// that the store lacks, using a store that is not open, error 2 when a number
// is read from a field that is not numeric, error 5 when a text or byte set is
// read from a field of another type.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "model/records.h"
#include "model/text.h"

namespace store {

using model::Bytes;
using model::Text;

enum class FieldType { Byte, Short, Integer, Long, Float, Double, Text, ByteSet };

struct FieldDef {
  Text name;
  FieldType type;
};

// A field value as the store gives it (or as a caller passes it): empty,
// whole number, double, text or byte set.
using Value = std::variant<std::monostate, long long, double, Text, Bytes>;

// --- Opening and selecting ---------------------------------------------------

// Opens the store file at path (UTF-8 file-system path) under alias and makes
// it current. A missing or malformed file is neither created nor changed; the
// call returns false and the alias then names a store that is not open (its
// first use is fatal, naming the file). Opening an alias again replaces the
// earlier store.
bool open(const std::string& path, const Text& alias);
// Makes the store named alias current. Returns false for an unknown alias
// (the current store is then "not open").
bool select(const Text& alias);
// Closes the current store. Its alias then names a store that is not open.
bool close();
// Remembers which store is current and makes it current again when it goes
// out of scope (whether or not that store is still open).
class CurrentStoreKeeper {
 public:
  CurrentStoreKeeper();
  ~CurrentStoreKeeper();
  CurrentStoreKeeper(const CurrentStoreKeeper&) = delete;
  CurrentStoreKeeper& operator=(const CurrentStoreKeeper&) = delete;

 private:
  bool hadCurrent_;
  Text alias_;
};
// Closes every store (tests; program end).
void closeAll();
// Alias of the current store ("" when none).
Text currentAlias();
// True when alias names an open store.
bool isOpen(const Text& alias);

// --- Cursor -----------------------------------------------------------------

int recordCount();
// 1-based number of the current record; 0 when there is none.
int recordNumber();
void goFirst();
void goLast();
// n is clamped to 1..recordCount(); on an empty store there is no current record.
void goTo(int n);
// Moves by n (negative backwards). Before the first record bof() is true,
// past the last eof() is true; then there is no current record.
void skip(int n);
bool bof();
bool eof();

// --- Records ----------------------------------------------------------------

// Appends a record at the end; its leading fields take values in field order,
// converted to the field types, the rest are 0 or empty. The new record
// becomes current. False (and nothing changed) when the write fails.
bool append(const std::vector<Value>& values);
// Replaces the leading fields of the current record; false with no current
// record or when the write fails.
bool modify(const std::vector<Value>& values);
// Marks the current record deleted; purge() removes every marked record so
// that the records behind move up.
bool markDeleted();
bool purge();
// Removes every record.
bool clear();

// --- Fields of the current record ------------------------------------------
// With no current record: "" / empty bytes / 0, and no error.

Text readText(const Text& field);      // error 5 unless a text field
Bytes readBytes(const Text& field);    // error 5 unless a byte-set field
long long readInt(const Text& field);  // any numeric type, toward zero; else error 2
double readDouble(const Text& field);  // any numeric type, fraction kept; else error 2
Value readValue(const Text& field);    // as stored
Text readAsText(const Text& field);    // by its stored type (numbers as numberToText)
FieldType fieldType(const Text& field);
bool hasField(const Text& field);
std::vector<FieldDef> fields();

// Stores value into field, converting numbers to the field's type. False, and
// nothing changed, with no current record, a missing field, a type that cannot
// be converted, or a failed write.
bool write(const Text& field, const Value& value);

// --- Failures ------------------------------------------------------------------
// Why the last store call that failed on SQLite's side (or on a file that is
// not a store) failed, for the operator: what went wrong and what to do, in
// Chinese, then SQLite's own message and extended result code, for example
// "磁盘已满，请腾出磁盘空间后重试（SQLite：database or disk is full，代码 13）".
// Every such failure also writes one line to the log (stderr). The fatal
// error of a store that could not be opened names its file and this reason.
Text lastError();

// --- Transactions ------------------------------------------------------------
// Several writes, on one or more open stores, all-or-nothing. While a
// transaction runs, writes are kept in memory and in the files' open SQLite
// transactions; commit() makes them durable together, rollback() (or the
// destructor without commit) undoes them in the files and in memory.
class Transaction {
 public:
  Transaction();
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // False when the commit failed; everything is then rolled back.
  bool commit();
  void rollback();

 private:
  bool active_ = true;
};

// --- Making store files (the preparation tool and tests) ---------------------
// The fields of one of the program's stores (model::personFields() ...).
std::vector<FieldDef> fieldDefs(const std::vector<model::FieldSpec>& specs);
// Creates (or truncates) a store file holding the given fields and no record.
bool createStoreFile(const std::string& path, const std::vector<FieldDef>& fields);

// --- Test seams ----------------------------------------------------------------
// Makes the next `count` store writes fail as an I/O error would (0 switches
// the fault off). Used to prove that a failed write changes nothing.
void failNextWrites(int count);

// File-level faults, below SQLite: every write, truncate, sync and delete of
// a store file or journal is counted, and the nth one from now can be made
// to fail. Before: the operation is not done. After: it is done, and an
// error is reported all the same (a sync that reached the disk but failed to
// say so).
enum class FaultMode { Before, After };
void failFileOperation(long long n, FaultMode mode = FaultMode::Before);
// File operations done so far (to size a sweep over every one of them).
long long fileOperationCount();
// True while a fault set by failFileOperation has not happened yet.
bool fileFaultPending();
// Watching the file changes (a test driver stopping the program at a chosen
// moment of a commit). A commit, as the files see it, runs from the opening
// of its first rollback journal to the deletion of its last one (over
// several stores, the super-journal among them). The watcher is called
// before every counted operation with the number of its commit (1, 2, ...
// counted from the call of watchFileChanges; 0 for an operation outside any
// commit) and its number inside the commit (1, 2, ...), and once after the
// deletion that ended a commit with the number of operations it had. A null
// watcher switches watching off.
enum class FileEvent { Operation, CommitEnded };
using FileWatcher = void (*)(FileEvent event, long long commit, long long operation);
void watchFileChanges(FileWatcher watcher);
// While on, every write to a store file or journal fails as on a full disk.
void simulateFullDisk(bool on);

}  // namespace store
