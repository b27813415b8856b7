// The typed way of sending FoxPro tables to MySQL ("Keep types, keys and indexes"): the MySQL
// columns a FoxPro table's fields become, and the keys, indexes and foreign keys its tags and its
// container's relations become. The classic script (mysql_script.h) sends text columns and no
// keys; this one keeps what MySQL can express of the table's shape and names the rest.
//
// The mapping, field by field:
//   C(n) CHAR(n), V(n) VARCHAR(n), M LONGTEXT; binary (NOCPTRANS) C/V/M BINARY(n)/VARBINARY(n)/
//   LONGBLOB; W, G LONGBLOB; Q(n) VARBINARY(n); N/F(w,d) DECIMAL as the classic script; I INT;
//   B DOUBLE; Y DECIMAL(19,4); D DATE; T DATETIME; L TINYINT(1).
//   A field that allows NULL is a NULL column, the others NOT NULL, with one exception that loses
//   nothing: a NOT NULL field whose values include some that arrive as NULL (blank dates and
//   numbers, overflow marks, doubles MySQL cannot hold, memos the memo file cannot give) is made
//   a NULL column, and the report says so. An autoincrement field continues from the table's
//   next value (AUTO_INCREMENT=next). Defaults that are plain literals, and comments, come along.
//
// Keys and indexes: the primary tag is the PRIMARY KEY, declared with the table (InnoDB keeps
// the rows in its order, so adding it later would rebuild the table); made once the rows are in,
// a candidate tag is a UNIQUE key, and a regular tag (or FoxPro's "unique" tag, which lists each
// key once) an INDEX when its key is a field, UPPER(field) or character fields joined by +, or
// fields joined the way FoxPro joins numbers, dates and date-times into a compound key (STR(n),
// DTOS(d), TTOC(t,1)), which tell apart the same rows as the columns themselves. Character
// columns of a primary or candidate key whose expression does not fold case compare in binary
// (utf8mb4_bin), as FoxPro's keys do; otherwise two values that differ only in letter case would
// collide. A relation between two tables sent together is a FOREIGN KEY, added after every
// table's rows are in. A tag with a FOR filter or another function, a descending tag (made
// ascending), a relation to a table not sent: each is named in the report.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "vfp/schema.h"

namespace transfer {

// The MySQL columns a tag's key is made of, or why it cannot be one.
struct TagColumns {
  std::vector<std::string> columns;  // the fields' names, as the MySQL table names them
  bool foldsCase = false;            // every character part is UPPER(...)
  std::string unexpressed;           // empty when the key can be expressed
  std::string note;  // how the MySQL key differs from FoxPro's, for the report; empty: it does not
};
// The key of `tag` over the table's fields: a field, UPPER(field), or character fields joined by
// + (abbreviated UPPE( and an alias before the name are allowed, as FoxPro allows them); a part
// may also be STR(number[,w[,d]]), DTOS(date) or TTOC(datetime,1). A key of one text field may
// be trimmed as well, RTRIM/TRIM(field) or ALLTRIM/LTRIM(field), alone or around or inside
// UPPER: MySQL compares text ignoring trailing blanks already, and the leading blanks ALLTRIM
// ignores, which the MySQL key does not, are said in `note`.
TagColumns ColumnsOfTag(const vfp::TagSchema& tag, const vfp::TableSchema& table);

// The shape of the FoxPro table at tablePath with its fields named as the FoxPro provider hands
// them out, and so as the rows' fields and the MySQL columns are named: in lower case (a free
// table's .dbf keeps them in capitals).
vfp::TableSchema TypedShape(const std::string& tablePath);

// The column type (without NULL / NOT NULL) of a field.
std::string TypedColumnType(const vfp::FieldSchema& field);

// The tables of one typed script, so that each table's columns can be chosen knowing the keys
// and relations of the others (a foreign key's columns must compare as the ones it refers to).
class TypedMySqlScript {
 public:
  // tables: every table sent, with the name it has in MySQL; relations: the container's (none
  // for free tables).
  TypedMySqlScript(std::vector<vfp::TableSchema> tables, std::vector<std::string> mysqlNames,
                   std::vector<vfp::RelationSchema> relations);

  // One table's commands: its creation under `into` with the temporary key column first, its
  // primary key and, when that leads the primary key, its autoincrement; after its rows, the
  // alteration that drops that column; then one that adds every other key and index (and an
  // autoincrement outside the primary key), if there are any. `holdsNull[k]` says the k-th field
  // holds values that arrive as NULL (its column is then NULL-able). The report gets what cannot
  // be kept and what was made otherwise.
  struct Table {
    std::string create;
    std::vector<std::string> afterRows;
    std::vector<std::string> report;
  };
  Table table(std::size_t index, const std::string& into, const std::string& keyName,
              const std::vector<bool>& holdsNull) const;

  // The foreign keys of the relations between tables sent together (`scripted`: the container
  // names of those that made it into the script), to run after every table's rows are in; into
  // report, per child table, the relations that cannot be made.
  // FoxPro lets a child row name a parent that is not there; MySQL would then refuse the
  // FOREIGN KEY at Execute, after all the rows are in. So the child's keys are read against a
  // set of the parent's, and a relation with such orphans is left out and named with the first
  // of them. progress(percent) follows that reading.
  // The lines, with checkOnServer: first one check per relation, which reads the rows on the
  // server and fails the run, naming a key that has no parent; then the FOREIGN KEYs, one line
  // each, between SET foreign_key_checks = 0 and = 1. With checks on, the server would copy the
  // whole child table to verify its rows; with them off it adds the key in place and verifies
  // nothing, which the checks before have done. Without checkOnServer (a server that cannot run
  // the check's compound statement), the FOREIGN KEYs alone, which the server verifies itself.
  std::vector<std::string> foreignKeys(std::vector<std::pair<std::string, std::string>>& report,
                                       const std::vector<std::string>& scripted,
                                       bool checkOnServer = true,
                                       const std::function<void(int percent)>& progress = {}) const;

  std::size_t size() const { return tables_.size(); }
  const vfp::TableSchema& schema(std::size_t index) const { return tables_[index]; }

 private:
  std::size_t find(const std::string& containerName) const;  // size() when not sent
  // The key columns on both sides of a relation between two tables sent, and why they cannot
  // make a foreign key (empty when they can, as far as the tags alone tell).
  struct RelationKeys {
    const vfp::TagSchema* parentTag = nullptr;
    TagColumns child, parent;
    std::string why;
  };
  RelationKeys relationKeys(const vfp::RelationSchema& r, std::size_t child,
                            std::size_t parent) const;
  // Why the child's rows cannot take the foreign key (the first key no parent row has, and how
  // many rows have such keys); empty when every non-NULL key has its parent.
  std::string orphans(std::size_t child, const std::vector<std::string>& childColumns,
                      std::size_t parent, const std::vector<std::string>& parentColumns,
                      const std::function<void(int percent)>& progress) const;
  // The script line that fails the run when a child row's key has no parent row in MySQL.
  std::string rowCheck(std::size_t child, const std::vector<std::string>& childColumns,
                       std::size_t parent, const std::vector<std::string>& parentColumns,
                       const std::string& constraint) const;
  void chooseBinaryColumns();

  std::vector<vfp::TableSchema> tables_;
  std::vector<std::string> names_;
  std::vector<vfp::RelationSchema> relations_;
  std::vector<std::vector<bool>> binary_;  // per table and field: compares in utf8mb4_bin
};

}  // namespace transfer
