// A FoxPro database as the SQL engine sees it: somewhere tables are found by name. A folder of
// free tables is one kind; a database container plugs in through the same interface. QueryResult
// gives the rows of a SELECT; Session (vfp/session.h) runs statements against a catalogue.
#pragma once

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

// Opens what a Data Source names: a folder of free tables, or a .dbc file. A container reader
// may replace how .dbc files are opened.
using ContainerOpener = std::shared_ptr<TableCatalog> (*)(const std::string& dbcPath);
void setContainerOpener(ContainerOpener opener);
std::shared_ptr<TableCatalog> openCatalog(const std::string& source);

}  // namespace vfp
