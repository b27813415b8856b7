// Session runs the SQL the program generates against a database (a TableCatalog), in FoxPro's
// own syntax:
// - CREATE TABLE name [FREE] [CODEPAGE = n] (field type[(width[, decimals])] [NULL | NOT NULL]
//   [NOCPTRANS] [AUTOINC [NEXTVALUE n [STEP m]]] [DEFAULT literal] [PRIMARY KEY | UNIQUE]
//   [REFERENCES table [TAG tag]], ... [, PRIMARY KEY expr TAG tag] [, UNIQUE expr TAG tag]
//   [, FOREIGN KEY expr TAG tag REFERENCES table [TAG tag]]). Types by letter or long name:
//   C V M N F I B Y D T L W G Q (VARBINARY, BLOB, ...). A field's PRIMARY KEY or UNIQUE makes a
//   candidate tag named after the field. Primary keys, defaults and relations need a database,
//   as in FoxPro: for a free table they are refused (UNIQUE gives a free table its candidate
//   key). The new table becomes the table in use.
// - USE table / USE: the table INDEX ON works on.
// - INDEX ON expr TAG name [FOR expr] [ASCENDING | DESCENDING] [UNIQUE | CANDIDATE]: a tag of
//   the structural .cdx, made with every record's key (an existing tag of that name is
//   replaced), the header's index flag set, and in a database its Index row.
// - ALTER TABLE name ADD PRIMARY KEY expr TAG name | ADD UNIQUE expr [TAG name] |
//   ADD FOREIGN KEY [expr] TAG name REFERENCES parent [TAG tag] (a relation in the database;
//   the parent tag must be primary or candidate) | ALTER [COLUMN] field I AUTOINC [NEXTVALUE n
//   [STEP m]] (an Integer field becomes autoincrementing, keeping the values it holds).
// - INSERT INTO ... VALUES (literals: text, numbers, .T./.F., .NULL., {^yyyy-mm-dd[ hh:mm:ss]},
//   0h bytes, CHR(n), joined by +), DROP TABLE, RENAME TABLE table TO name (its files, and
//   in a database its member, take the new name) and SELECT * FROM.
// - UPDATE table SET field = literal [, ...] [WHERE condition] and DELETE FROM table [WHERE
//   condition] (records are marked deleted, as FoxPro does): the condition is a FoxPro logical
//   expression over the fields (comparisons with literals of every type, {^date}, .NULL. and
//   IS [NOT] NULL, AND, OR, NOT, parentheses; see keyexpr.h); records already deleted are left
//   alone. When the condition requires field = constant and a tag's key is that field, the
//   records are found through the index instead of reading the table. A statement whose changes
//   some record or index cannot take changes nothing.
// Every index of a table stays exact: a row that would give a candidate tag a key it holds is
// refused ("Uniqueness of index NAME is violated"), with nothing written. Index expressions are
// those keyexpr evaluates (fields, UPPER, STR, DTOS, TTOC(t, 1), + ...); keys are MACHINE.
//
// Rows appended by INSERT are written in batches; every batch leaves the table complete on
// disk, and a batch is written before any other statement runs, before a SELECT reads the table,
// at most 50 ms after its first row and when the session ends. A table with an index, whose
// whole index is rewritten with each batch, waits longer: eight times as long as its index took
// to write the last time, so that the batches grow with the table and rewriting the index stays
// about an eighth of the time (never quadratic), plus one last rewrite.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vfp/codepage_guess.h"
#include "vfp/database.h"
#include "vfp/field_lookup.h"
#include "vfp/keyexpr.h"
#include "vfp/table.h"
#include "vfp/value.h"

namespace vfp {

namespace sql {
struct Lexer;
}

class Session {
 public:
  explicit Session(std::shared_ptr<TableCatalog> catalog);
  ~Session();  // writes pending rows; errors are lost, so call flush() where they matter
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs one statement. Returns the rows of a SELECT, nullptr for other statements.
  std::unique_ptr<QueryResult> execute(std::string_view sql);
  void flush();
  // Lines of the exact shape a transfer writes its rows in skip the general parser; with this
  // off every line takes the general parser. Both give the same files and messages; tests
  // compare them.
  void setFastInsert(bool on) { fastInsert_ = on; }
  // How many lines took that shortcut.
  long long fastInserts() const { return fastInserts_; }
  // Characters written as "?" because a table's code page could not hold them.
  long long charactersReplaced() const { return replaced_; }
  const TableCatalog& catalog() const { return *catalog_; }
  // Records the last UPDATE or DELETE changed.
  std::uint32_t affected() const { return affected_; }
  // How the conditions of UPDATE and DELETE found their records so far: through an index, or by
  // reading every record.
  long long indexedSearches() const { return indexedSearches_; }
  long long tableScans() const { return tableScans_; }

  // The code page tables whose header names none are read and written in: 0 (the default)
  // judges it per table from the table's text; a FoxPro code page is used as named. Throws
  // vfp::Error for a page FoxPro does not know.
  void setUnmarkedCodePage(int codePage);
  int unmarkedCodePage() const { return unmarkedCodePage_; }
  // The page a table (as SELECT names it) is read in and why; judged once per session.
  const CodePageChoice& codePageOf(const std::string& ref);

  // Resolves a table reference as written in SQL (name, or path with or without .dbf):
  // the existing file, or, when mustExist is false, where a new one goes.
  std::string resolve(const std::string& ref, bool mustExist) const;

 private:
  void insert(std::string_view sql, std::size_t pos);
  // UPDATE and DELETE (sql_dml.cpp).
  void update(std::string_view sql, std::size_t pos);
  void remove(std::string_view sql, std::size_t pos);
  // RECALL FOR condition IN table: the deleted records the condition holds for become live.
  void recall(std::string_view sql, std::size_t pos);
  // Marks the records deleted or live again: the end of DELETE and RECALL.
  void mark(TableWriter& w, const std::vector<std::uint32_t>& records, bool deleted);
  // The live records of w the WHERE clause starting at lx holds for (all when there is none),
  // 0-based, ascending.
  std::vector<std::uint32_t> matching(TableWriter& w, sql::Lexer& lx);
  // The records of w, live or (deleted true) deleted ones, the condition text holds for.
  std::vector<std::uint32_t> matching(TableWriter& w, std::string_view condition, bool deleted);
  const keyexpr::KeySchema& schemaOf(TableWriter& w);
  // The records a compound tag names for the fields the condition pins; nullopt when no tag can.
  // The records an equality on a field no tag indexes names, through an in-memory lookup built
  // by the second statement that would read the whole table for that field; nullopt when none
  // can answer.
  std::optional<std::vector<std::uint32_t>> lookupCandidates(TableWriter& w,
                                                             const keyexpr::Expression& cond);
  // Keeps the lookups of w exact: the writer's onRecord.
  void recordChanged(TableWriter& w, std::uint32_t recno, const std::uint8_t* record);
  std::optional<std::vector<std::uint32_t>> compoundCandidates(TableWriter& w,
                                                               const keyexpr::Expression& cond);
  void create(std::string_view sql, std::size_t pos);
  void drop(std::string_view sql, std::size_t pos);
  void rename(std::string_view sql, std::size_t pos);
  // Drops what the session knows of a table and hands over its writer (nullptr if none).
  std::unique_ptr<TableWriter> release(const std::string& path);
  void abandon(const std::string& path);  // closes the writer of a table, its queued rows lost
  // INDEX ON, ALTER TABLE and USE live beside CREATE TABLE's key clauses (sql_ddl.cpp).
  void index(std::string_view sql, std::size_t pos);
  void alter(std::string_view sql, std::size_t pos);
  void use(std::string_view sql, std::size_t pos);
  std::unique_ptr<QueryResult> select(std::string_view sql, std::size_t pos);
  void forget(const std::string& path);  // flushes and closes the writer of a table
  void flushDue();                       // flushes the batches whose time has come
  TableWriter& writerFor(std::string_view ref);
  // Appends values_[0..n) to w: the end of every INSERT.
  void appendRow(TableWriter& w, std::size_t n);
  // A writer's error, with the table named.
  static Error inTable(const TableWriter& w, const Error& e);
  // A writer holds changes that flushDue() writes in time.
  void notePending();

  std::shared_ptr<TableCatalog> catalog_;
  std::map<std::string, std::unique_ptr<TableWriter>> writers_;  // by file path
  std::map<std::string, TableWriter*, std::less<>> byRef_;       // by reference as written
  bool fastInsert_ = true;
  long long fastInserts_ = 0;
  std::vector<Value> values_;
  std::string scratch_;  // the fast INSERT reader's, reused between rows
  long long replaced_ = 0;
  std::chrono::steady_clock::time_point firstPending_{};
  bool pending_ = false;
  std::string inUse_;  // the table USE or CREATE TABLE opened last: the one INDEX ON indexes
  int unmarkedCodePage_ = 0;
  std::map<std::string, CodePageChoice> choices_;      // by file path, as judged
  std::map<std::string, keyexpr::KeySchema> schemas_;  // by file path, for conditions
  struct Lookups {
    std::vector<int> headerFields;  // of each schema field, for the record view
    std::vector<FieldLookup> fields;
    std::map<std::size_t, int> scans;  // statements that read the table for a field
    std::vector<std::size_t> refused;  // fields whose values cannot all be evaluated
  };
  std::map<std::string, Lookups> lookups_;  // by file path
  std::uint32_t affected_ = 0;
  long long indexedSearches_ = 0;
  long long tableScans_ = 0;
  const CodePageChoice& choiceFor(const std::string& path);
};

}  // namespace vfp
