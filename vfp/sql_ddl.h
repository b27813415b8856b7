// The structure statements of the engine's SQL, parsed: the column list of CREATE TABLE with its
// key clauses, and the keys they ask for (also those of ALTER TABLE). Used inside vfp/ only; the
// statements themselves are Session's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vfp/cdx_maintainer.h"
#include "vfp/sql_lexer.h"
#include "vfp/table.h"

namespace vfp {
class TableCatalog;
}

namespace vfp::sql {

// A key of a table: PRIMARY KEY and UNIQUE make candidate tags (the container marks the primary
// one), FOREIGN KEY and REFERENCES a regular tag and a relation.
struct KeyClause {
  enum class Kind { Primary, Candidate, Foreign };
  Kind kind = Kind::Candidate;
  std::string expression;  // empty: a field's own clause (until bound), or a FOREIGN KEY that
                           // names an existing tag
  std::string tag;         // empty: named after the field
  std::string filter;
  std::string parent;     // REFERENCES table, as written
  std::string parentTag;  // empty: the parent's primary key
  int field = -1;         // the field whose clause this is, -1 for a table-level clause
};

struct FieldClause {
  ColumnSpec column;
  std::string defaultText;  // the DEFAULT literal as written, empty for none
};

struct TableDefinition {
  std::vector<FieldClause> fields;
  std::vector<KeyClause> keys;
};

// The parenthesised column list of CREATE TABLE, from "(" to ")". Throws FoxPro-style errors.
TableDefinition parseTableDefinition(Lexer& lx);

// A FoxPro expression as written, up to one of stopWords, or "," / ")" outside parentheses;
// quoted text may hold anything. Throws "Syntax error." when nothing is there.
std::string expressionText(Lexer& lx, std::initializer_list<std::string_view> stopWords);

// The tag a key clause makes; fields' clauses must have been bound to their field's name.
TagDefinition tagOf(const KeyClause& key);

// The parent tag a FOREIGN KEY refers to (its primary key when none is named), checked: the
// parent is a member of the database with a primary or candidate tag of that name.
std::string parentTagOf(const TableCatalog& catalog, const KeyClause& key,
                        const std::string& parentPath);

// After a key's tag exists: tells the catalogue (Index row, primary key, relation).
void recordKey(TableCatalog& catalog, const std::string& path, const KeyClause& key,
               const std::string& parentPath, const std::string& parentTag);

}  // namespace vfp::sql
