// Reading and appending to .dbf tables.
//
// Table opens any table format the engine knows (Visual FoxPro, FoxPro 2.x, dBase III/IV)
// read-only, with its memo file, and decodes field values to UTF-8 text and typed values.
// RecordScanner walks the records in file order through a large buffer.
// TableWriter creates Visual FoxPro 9 free tables, appends records to them and changes records in
// place (UPDATE, DELETE).
//
// Callers may rely on:
// - recordCount() is the header's count (deleted records included) and the file holds them all;
// - decodeField never throws for a bad value stored in a field (it gives null), only for a memo
//   file that cannot be read (and then only when setUnreadableMemosNull is off);
// - TableWriter keeps the table readable if the program dies at any moment: memo blocks and
//   records are written first (records beyond the header's count are invisible to FoxPro, so a
//   large batch goes to the file in pieces before it counts); then, while the new index file
//   (NAME.cdx.new) is complete and waits to replace the old one, the records changed in place
//   and the header's record count; then the rename; then the end-of-file mark;
// - records changed in place (update, markDeleted, recall) of a table with an index wait in
//   memory for that flush, which a call that leaves more than 16 MB of them waiting makes itself
//   (those of a table without an index are written at once, after the memo blocks they point
//   at). A program that dies anywhere else leaves records and index agreeing, old or new; one
//   that dies within those few writes leaves the index with some records' old keys or without
//   the counted new records, and NAME.cdx.new beside it, until the table is next written (every
//   key is then computed again from the records, and a new NAME.cdx.new replaces both).
// A Table keeps read buffers, so it is used from one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "vfp/codepage.h"
#include "vfp/dbf_header.h"
#include "vfp/file.h"
#include "vfp/memo.h"
#include "vfp/value.h"

namespace vfp {

class IndexMaintainer;

class Table {
 public:
  // Opens the table at path (letter case of the name does not matter). codePage overrides
  // the header's mark; 0 uses the mark, and 1252 when the table has none.
  explicit Table(const std::string& path, int codePage = 0);

  const std::string& path() const { return path_; }
  // File name without folder and extension, as the table is known in SQL.
  std::string name() const;
  const TableHeader& header() const { return header_; }
  int codePage() const { return converter_->codePage(); }
  const TextConverter& converter() const { return *converter_; }
  std::uint32_t recordCount() const { return header_.recordCount; }
  // Indexes into header().fields of the fields a user sees (no _NullFlags).
  const std::vector<int>& userFields() const { return userFields_; }

  // Reads the raw bytes of record recno (0-based, recordLength bytes) into buffer.
  void readRecord(std::uint32_t recno, std::uint8_t* buffer) const;
  static bool isDeleted(const std::uint8_t* record) { return record[0] == '*'; }
  // Decodes field fieldIndex (an index into header().fields) of a raw record.
  void decodeField(const std::uint8_t* record, std::size_t fieldIndex, Value& out) const;
  // Why the memo of field fieldIndex (an index into header().fields) of a raw record cannot be
  // read, from its block header alone; empty when it can, or when the field holds no memo.
  std::string memoProblem(const std::uint8_t* record, std::size_t fieldIndex) const;
  // With this on, decodeField gives null for a memo that cannot be read, where it otherwise
  // throws: for a reader that rescues what a damaged memo file still holds and names the rest
  // (memoProblem). Off by default, so a damaged file is an error wherever nobody asked.
  void setUnreadableMemosNull(bool on) { unreadableMemosNull_ = on; }
  // How many memos (distinct field and block) decodeField gave as null so far.
  std::size_t unreadableMemosGivenNull() const { return givenNull_.size(); }
  // True when the record's _NullFlags mark field fieldIndex as null (not merely blank).
  bool isNullFlagged(const std::uint8_t* record, std::size_t fieldIndex) const {
    return nullFlagBit(record, nullFlags_, header_.fields[fieldIndex].nullBit);
  }
  // The bytes of a character, varchar or memo field as stored, in the table's code page, without
  // padding; false (out untouched) for any other field, for one marked binary and for a memo the
  // memo file cannot give.
  bool storedText(const std::uint8_t* record, std::size_t fieldIndex, std::string& out) const;
  // Field name in UTF-8 (names are stored in the table's code page).
  std::string fieldName(std::size_t fieldIndex) const;
  // Counts the live (not deleted) records, reading the file once.
  std::uint32_t countLiveRecords() const;
  // The stored length in bytes of memo field fieldIndex (M, G, W) of a raw record, in the
  // table's code page, read from the memo's block header alone (see MemoReader::length).
  std::uint64_t memoLength(const std::uint8_t* record, std::size_t fieldIndex) const;
  // The size of the memo file; 0 when the table has none.
  std::uint64_t memoFileSize() const { return memo_ ? memo_->fileSize() : 0; }

  const File& file() const { return file_; }

 private:
  std::string path_;
  File file_;
  TableHeader header_;
  std::vector<int> userFields_;
  const FieldDescriptor* nullFlags_ = nullptr;
  std::shared_ptr<const TextConverter> converter_;
  std::unique_ptr<MemoReader> memo_;
  bool unreadableMemosNull_ = false;
  mutable std::set<std::pair<std::size_t, std::uint32_t>> givenNull_;  // field, block
  mutable std::string scratch_;

  // The stored bytes of a C or V field, without padding (V: as long as its length says).
  std::string_view charBytes(const std::uint8_t* record, const FieldDescriptor& f) const;
};

// Sequential reading of all records through one buffer of many records.
class RecordScanner {
 public:
  explicit RecordScanner(const Table& table, std::size_t bufferBytes = 1 << 20);
  // The next record (deleted ones included), or nullptr after the last.
  const std::uint8_t* next();
  // Next record that is not deleted, or nullptr.
  const std::uint8_t* nextLive();
  std::uint32_t recno() const { return recno_; }  // 0-based number of the record last returned

 private:
  const Table& table_;
  std::vector<std::uint8_t> buffer_;
  std::uint32_t first_ = 0;   // record number of buffer_[0]
  std::uint32_t loaded_ = 0;  // records in buffer_
  std::uint32_t recno_ = UINT32_MAX;
  std::uint32_t perBuffer_;
};

// A column of a table to be created.
struct ColumnSpec {
  std::string name;  // cut to ten characters and made unique by TableWriter::create
  char type = 'C';
  std::uint32_t width = 0;  // 0: the type's fixed or default width
  std::uint8_t decimals = 0;
  bool nullable = false;
  bool binary = false;  // NOCPTRANS
  bool autoInc = false;
  std::uint32_t autoIncNext = 1;
  std::uint8_t autoIncStep = 1;
};

// Field names of a free table: upper case, at most ten characters, unique. Longer names are
// cut; a cut name that clashes gets a number in its last characters (NAME_OF_CO, NAME_OF_C2..).
std::vector<std::string> freeTableFieldNames(const std::vector<std::string>& names);

// Makes Integer field fieldIndex (an index into the header's fields) of a Visual FoxPro table
// autoincrementing, as ALTER TABLE ... ALTER COLUMN ... AUTOINC does, keeping the values its
// records hold: the next value is `next`, or one step past the largest value held when that is
// more. The field's descriptor, then the version byte, are rewritten in place. This is how a
// copy keeps a table's own key values and still continues them: create the field as plain I,
// insert the rows, then make it autoincrementing.
void setAutoIncrement(const std::string& path, std::size_t fieldIndex, std::uint32_t next,
                      std::uint8_t step);

// Makes autoincrementing field fieldIndex a plain Integer again, keeping its values, as ALTER
// TABLE ... ALTER COLUMN name I does; the descriptor is rewritten in place. Nothing happens to a
// field that does not autoincrement.
void clearAutoIncrement(const std::string& path, std::size_t fieldIndex);

class TableWriter {
 public:
  // Creates a Visual FoxPro 9 free table at path (replacing any file of that name) and its
  // .fpt when a column needs one. Column names are UTF-8; characters of a name the code page
  // cannot hold become "?" and are added to *replaced. Throws vfp::Error for an impossible
  // structure.
  static std::unique_ptr<TableWriter> create(const std::string& path,
                                             const std::vector<ColumnSpec>& columns,
                                             int codePage = 1252, std::size_t* replaced = nullptr);
  // Opens an existing table for appending. Only Visual FoxPro tables are written. codePage is
  // the one text is written in when the header names none (0: kDefaultCodePage); a header's
  // own is always obeyed.
  static std::unique_ptr<TableWriter> openForAppend(const std::string& path, int codePage = 0);
  ~TableWriter();  // flushes; errors are lost, so call flush() where they matter

  const TableHeader& header() const { return header_; }
  const std::string& path() const { return path_; }
  std::uint32_t recordCount() const { return header_.recordCount; }
  // Indexes into header().fields of the user fields, in order.
  const std::vector<int>& userFields() const { return userFields_; }
  // The code page text is written in.
  const TextConverter& converter() const { return *converter_; }

  // Appends one record. values[k] belongs to userFields()[k]; fewer values leave the rest
  // blank (autoincrement fields take their next value). A Text value is converted to the
  // field's type ("Data type mismatch" when it does not read as one). Returns the number of
  // characters written as "?" because the code page cannot hold them.
  std::size_t append(std::span<const Value> values);
  // Writes what append(), update() and markDeleted() queued: memo blocks, appended records, the
  // changed records with the index, the record count, the end mark.
  void flush();
  // Forgets what append() queued and flush() did not write, for a table about to be deleted:
  // nothing more is written, and the file stays as the last flush left it.
  void discard();
  // Bytes queued and not yet written.
  std::size_t pendingBytes() const { return pending_.size(); }
  // When the oldest record that flush() has not yet made part of the table was appended;
  // time_point{} when there is none.
  std::chrono::steady_clock::time_point pendingSince() const { return pendingSince_; }
  // How long the last flush took to rewrite the table's index (zero for a table without one):
  // callers that flush by time let a batch grow to several times this.
  std::chrono::steady_clock::duration indexWriteTime() const;

  // Every record as it stands now, queued appends and changes included, in record order (0-based
  // numbers); visit returns false to stop.
  void scan(const std::function<bool(std::uint32_t recno, const std::uint8_t* record)>& visit);
  // Record recno (0-based) as it stands now, into out (recordLength bytes).
  void readRecord(std::uint32_t recno, std::uint8_t* out);
  // Gives the records recnos (0-based, each once) the values set (userFields() index, value), as
  // UPDATE does, converting them as append() does. Checks every record against every index
  // before anything changes, so a value that cannot be stored, a read-only autoincrement field or
  // a key that a candidate tag holds already ("Uniqueness of index NAME is violated.") throws
  // with nothing changed. Memo values go to new blocks. The records are written with the index,
  // by the next flush() or by this call's own when many wait (at once when the table has no
  // index). Returns the characters written as "?".
  std::size_t update(std::span<const std::uint32_t> recnos,
                     std::span<const std::pair<std::size_t, Value>> set);
  // Marks the records recnos (0-based) deleted, as DELETE does; the same checks and order as
  // update().
  void markDeleted(std::span<const std::uint32_t> recnos);
  // Takes the deleted mark off the records recnos (0-based), as RECALL does; the same checks and
  // order as update().
  void recall(std::span<const std::uint32_t> recnos);
  // A new record's bytes (blank, not appended) holding values (userFields() index, value) of
  // fields other than memos: what an index computes a record's keys from. Throws vfp::Error for
  // a value the field cannot hold.
  std::string probeRecord(std::span<const std::pair<std::size_t, Value>> values);
  // The table's structural index, when it has one.
  const IndexMaintainer* index() const { return index_.get(); }

  // Called with each record this writer appends or changes in place, once it holds its new
  // bytes (recno 0-based), and with (kRecordsDropped, nullptr) when discard() forgets queued
  // records: what keeps an in-memory lookup over the records exact.
  static constexpr std::uint32_t kRecordsDropped = 0xFFFFFFFFu;
  std::function<void(std::uint32_t recno, const std::uint8_t* record)> onRecord;

  // Test hook: called before each step of flush() (1 memo blocks and header, 2 records,
  // 3 record count, after the records changed in place, 4 end mark) so a test can stop the
  // process there.
  std::function<void(int step)> beforeFlushStep;

 private:
  TableWriter() = default;
  void encodeField(const FieldDescriptor& f, const Value& v, std::uint8_t* rec,
                   std::size_t& replaced);
  // Checks the changed records (old and new bytes, by 0-based number) against the index, then
  // writes them: the shared end of update() and markDeleted().
  void rewrite(const std::vector<std::uint32_t>& recnos, const std::string& before,
               const std::string& after);
  // Sets the deletion flag of the records: markDeleted() and recall().
  void mark(std::span<const std::uint32_t> recnos, char flag);
  // Ends a change of records recnos to after: a flush that writes them from after when they are
  // many (rewrite() left them out of changed_), or one once changed_ holds more than a batch
  // should.
  void finish(const std::vector<std::uint32_t>& recnos, const std::string& after);
  bool writtenByFinish(std::size_t records) const;
  void keepChanged(std::uint32_t recno, const std::uint8_t* record);
  // flush(), writing also records recnos (those before writtenCount_) from after.
  void flushWith(const std::vector<std::uint32_t>* recnos, const std::string* after);

  std::string path_;
  std::string fileName_;
  File file_;
  TableHeader header_;
  std::vector<int> userFields_;
  const FieldDescriptor* nullFlags_ = nullptr;
  std::shared_ptr<const TextConverter> converter_;
  std::unique_ptr<MemoWriter> memo_;
  std::uint32_t flushedCount_ = 0;  // records the header counts
  std::uint32_t writtenCount_ = 0;  // records in the file, counted or not
  std::string pending_;             // records after writtenCount_
  // Records before writtenCount_ changed in place since the index was written: their bytes one
  // after another, and where each one's are, by record number.
  std::string changed_;
  std::map<std::uint32_t, std::size_t> changedAt_;
  std::chrono::steady_clock::time_point pendingSince_{};
  std::string blank_;  // a new record before its values are written
  std::string text_;   // scratch for conversions
  bool autoIncDirty_ = false;
  bool indexDirty_ = false;                 // records changed in place since the index was written
  std::unique_ptr<IndexMaintainer> index_;  // structural .cdx, when the table has one
};

}  // namespace vfp
