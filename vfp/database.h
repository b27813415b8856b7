// A FoxPro database as the SQL engine sees it: somewhere tables are found by name. A folder of
// free tables is one kind; a database container plugs in through the same interface.
//
// Session runs the SQL the program generates against such a database, in FoxPro's own syntax:
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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vfp/codepage_guess.h"
#include "vfp/table.h"
#include "vfp/value.h"

namespace vfp {

struct CatalogEntry {
  std::string name;  // as listed: the file name without extension
  std::string type;  // "TABLE" (a container may add "VIEW" and others)
  std::string path;
};

class TableCatalog {
 public:
  virtual ~TableCatalog() = default;
  virtual std::vector<CatalogEntry> tables() const = 0;
  // The file of the table called name, or nullopt.
  virtual std::optional<std::string> findTable(const std::string& name) const = 0;
  // The folder relative paths and new free tables are resolved against.
  virtual std::string folder() const = 0;
  // Whether DROP TABLE may delete this table's files; throws with the reason when not.
  virtual void checkDroppable(const std::string& path) const;
  // Whether INSERT may write to this table; throws with the reason when not.
  virtual void checkWritable(const std::string&) const {}

  // A database container plugs in here (free-table folders keep these defaults):
  // long names of a member table's fields, in field order; empty when the .dbf names are the names.
  virtual std::vector<std::string> fieldNames(const std::string&) const { return {}; }
  // Whether the table at path is a member this catalogue keeps rows for.
  virtual bool isMember(const std::string&) const { return false; }
  // After CREATE TABLE wrote the free table at path (name as written, long field names, and
  // per field its DEFAULT expression as written or "").
  virtual void created(const std::string&, const std::string&, const std::vector<std::string>&,
                       bool /*free*/, const std::vector<std::string>& /*defaults*/) {}
  // Before DROP TABLE deletes a member's files.
  virtual void dropped(const std::string&) {}
  // Before RENAME TABLE moves a member's files (they are still at path): throws with the reason
  // when the container cannot take the new name.
  virtual void checkRenamable(const std::string& /*path*/, const std::string& /*name*/) const {}
  // After RENAME TABLE moved a member's files from one path to the other; the member is called
  // name from now on. Throws when the container cannot be changed (the files are moved back).
  virtual void renamed(const std::string& /*from*/, const std::string& /*to*/,
                       const std::string& /*name*/) {}

  // Whether CREATE TABLE (without FREE) makes members of a database here: only members can have
  // a primary key, field defaults and relations, as in FoxPro.
  virtual bool isDatabase() const { return false; }
  // After a tag of a member's structural index was made or remade; primary marks the table's
  // primary key.
  virtual void tagAdded(const std::string& /*path*/, const std::string& /*tag*/, bool /*candidate*/,
                        bool /*primary*/) {}
  // The tag that is a member's primary key, empty when it has none.
  virtual std::string primaryKey(const std::string&) const { return {}; }
  // After a member's tag was made to refer to another member's primary or candidate tag.
  virtual void relationAdded(const std::string& /*childPath*/, const std::string& /*childTag*/,
                             const std::string& /*parentPath*/, const std::string& /*parentTag*/) {}
};

// Every .dbf of one folder (not its subfolders).
class FolderCatalog : public TableCatalog {
 public:
  explicit FolderCatalog(std::string folder);  // throws when the folder cannot be read
  std::vector<CatalogEntry> tables() const override;
  std::optional<std::string> findTable(const std::string& name) const override;
  std::string folder() const override { return folder_; }

 private:
  std::string folder_;
};

// Rows of a SELECT, read from the file as they are asked for. The count is exact: the deleted
// records are counted out the first time it (or a record number) is asked for, which reads the
// table once, so a reader that needs no count does not wait for that.
class QueryResult {
 public:
  // longNames: the container's names of the fields, when the table is a member. The text is
  // read in the page the header names, else in kDefaultCodePage.
  explicit QueryResult(const std::string& path, std::vector<std::string> longNames = {});
  // The text read in the page `choice` names (see chooseCodePage).
  QueryResult(const std::string& path, std::vector<std::string> longNames,
              const CodePageChoice& choice);
  const Table& table() const { return table_; }
  // How the page the text is read in was chosen (for the first constructor: the header's or
  // the default, as if named).
  const CodePageChoice& codePageChoice() const { return choice_; }
  std::size_t fieldCount() const { return table_.userFields().size(); }
  const FieldDescriptor& field(std::size_t i) const {
    return table_.header().fields[std::size_t(table_.userFields()[i])];
  }
  std::string fieldName(std::size_t i) const {
    if (i < longNames_.size()) return longNames_[i];
    return table_.fieldName(std::size_t(table_.userFields()[i]));
  }
  std::uint32_t rowCount() const;
  // The record number (RECNO(), from 1) of the row'th row (from 0): the rows leave out the
  // deleted records, the record numbers count them.
  std::uint32_t recordNumber(std::uint32_t row) const;
  // A memo that cannot be read gives null instead of an error (see Table::setUnreadableMemosNull).
  void setUnreadableMemosNull(bool on) { table_.setUnreadableMemosNull(on); }
  // Moves to the next row; false after the last. Values are decoded on demand.
  bool next();
  const Value& value(std::size_t i);
  // The current row's record as stored (table().header().recordLength bytes), for readers that
  // decode only what they need; nullptr before the first and after the last row.
  const std::uint8_t* record() const { return row_; }

 private:
  Table table_;
  CodePageChoice choice_;
  std::vector<std::string> longNames_;
  RecordScanner scan_;
  void countRows() const;
  mutable bool counted_ = false;
  mutable std::uint32_t count_ = 0;
  mutable std::vector<std::uint32_t> deleted_;  // record numbers, ascending
  const std::uint8_t* row_ = nullptr;
  std::vector<Value> values_;
  std::vector<bool> decoded_;
};

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
  void create(std::string_view sql, std::size_t pos);
  void drop(std::string_view sql, std::size_t pos);
  void rename(std::string_view sql, std::size_t pos);
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
  std::map<std::string, CodePageChoice> choices_;  // by file path, as judged
  const CodePageChoice& choiceFor(const std::string& path);
};

}  // namespace vfp

namespace vfp {

// Opens what a Data Source names: a folder of free tables, or a .dbc file. A container reader
// may replace how .dbc files are opened.
using ContainerOpener = std::shared_ptr<TableCatalog> (*)(const std::string& dbcPath);
void setContainerOpener(ContainerOpener opener);
std::shared_ptr<TableCatalog> openCatalog(const std::string& source);

}  // namespace vfp
