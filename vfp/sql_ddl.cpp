// CREATE TABLE's column list and key clauses, INDEX ON, USE and ALTER TABLE.
#include "vfp/sql_ddl.h"

#include <algorithm>
#include <cstring>

#include "vfp/bytes.h"
#include "vfp/cdx_reader.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/names.h"
#include "vfp/session.h"

namespace vfp::sql {

namespace {

struct TypeName {
  const char* name;
  char letter;
};
constexpr TypeName kTypeNames[] = {
    {"CHARACTER", 'C'}, {"CHAR", 'C'},   {"C", 'C'},       {"VARCHAR", 'V'},  {"V", 'V'},
    {"VARBINARY", 'Q'}, {"Q", 'Q'},      {"NUMERIC", 'N'}, {"NUM", 'N'},      {"DECIMAL", 'N'},
    {"N", 'N'},         {"FLOAT", 'F'},  {"F", 'F'},       {"INTEGER", 'I'},  {"INT", 'I'},
    {"I", 'I'},         {"DOUBLE", 'B'}, {"B", 'B'},       {"CURRENCY", 'Y'}, {"Y", 'Y'},
    {"DATETIME", 'T'},  {"T", 'T'},      {"DATE", 'D'},    {"D", 'D'},        {"LOGICAL", 'L'},
    {"L", 'L'},         {"MEMO", 'M'},   {"M", 'M'},       {"GENERAL", 'G'},  {"G", 'G'},
    {"BLOB", 'W'},      {"W", 'W'},
};

std::string digits(Lexer& lx, std::size_t maxLength) {
  std::string v = lx.word();
  if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos || v.size() > maxLength)
    throw syntaxError();
  return v;
}

// AUTOINC's NEXTVALUE and STEP, the keyword already read.
void autoIncClause(Lexer& lx, ColumnSpec& c) {
  c.autoInc = true;
  if (lx.keyword("NEXTVALUE")) {
    const std::string v = digits(lx, 10);
    if (std::stoull(v) > std::uint64_t(INT32_MAX)) throw syntaxError();
    c.autoIncNext = std::uint32_t(std::stoul(v));
  }
  if (lx.keyword("STEP")) {
    const std::string v = digits(lx, 3);
    if (std::stoul(v) > 255 || std::stoul(v) == 0) throw syntaxError();
    c.autoIncStep = std::uint8_t(std::stoul(v));
  }
}

// Whether a DEFAULT literal can be stored in the field.
bool defaultFits(const ColumnSpec& c, const Value& v) {
  using K = Value::Kind;
  if (v.isNull()) return c.nullable;
  switch (c.type) {
    case 'C':
    case 'V':
    case 'M':
    case 'Q':
    case 'W':
    case 'G':
      return v.kind == K::Text || v.kind == K::Bytes;
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
      return v.kind == K::Decimal || v.kind == K::Int || v.kind == K::Double;
    case 'D':
    case 'T':
      return v.kind == K::Date || v.kind == K::DateTime || (v.kind == K::Text && v.s.empty());
    case 'L':
      return v.kind == K::Bool;
    default:
      return false;
  }
}

// MACHINE is the only collating sequence the engine writes keys for.
void collateClause(Lexer& lx) {
  Value v, term;
  std::string scratch;
  parseExpression(lx, v, term, scratch);
  if (v.kind != Value::Kind::Text || !equalsNoCase(v.s, "MACHINE"))
    throw Error("Only the MACHINE collating sequence can be used for an index here.");
}

std::string tagName(Lexer& lx) {
  std::string n = lx.word();
  if (n.empty()) throw syntaxError();
  return n;
}

// REFERENCES parent [TAG tag], the keyword already read.
void referencesClause(Lexer& lx, KeyClause& k) {
  k.parent = lx.name();
  if (lx.keyword("TAG")) k.parentTag = tagName(lx);
}

}  // namespace

std::string expressionText(Lexer& lx, std::initializer_list<std::string_view> stopWords) {
  lx.skip();
  const std::size_t begin = lx.p;
  int depth = 0;
  std::size_t i = begin;
  const auto& s = lx.s;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '\'' || c == '"' || c == '[') {
      const auto e = s.find(c == '[' ? ']' : c, i + 1);
      if (e == std::string_view::npos) throw syntaxError();
      i = e + 1;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') {
      if (depth == 0) break;
      --depth;
    }
    if (c == ',' && depth == 0) break;
    if (c == ';' && depth == 0) break;
    if (depth == 0 && isWordChar(c) && (i == begin || !isWordChar(s[i - 1]))) {
      Lexer probe{s, i};
      bool stop = false;
      for (auto w : stopWords) stop = stop || probe.keyword(w);
      if (stop) break;
    }
    ++i;
  }
  std::size_t end = i;
  while (end > begin && isSpace(s[end - 1])) --end;
  if (end == begin) throw syntaxError();
  lx.p = i;
  return std::string(s.substr(begin, end - begin));
}

TableDefinition parseTableDefinition(Lexer& lx) {
  lx.expect('(');
  TableDefinition def;
  std::vector<std::string> seen;
  do {
    // Table-level clauses: PRIMARY KEY expr TAG name, UNIQUE expr TAG name,
    // FOREIGN KEY expr TAG name [NODUP] REFERENCES table [TAG name].
    bool tableKey = false;
    KeyClause k;
    if (Lexer probe = lx; probe.keyword("PRIMARY") && probe.keyword("KEY")) {
      lx = probe;
      tableKey = true;
      k.kind = KeyClause::Kind::Primary;
    } else if (lx.keyword("UNIQUE")) {
      tableKey = true;
    }
    if (tableKey) {
      k.expression = expressionText(lx, {"TAG", "COLLATE"});
      if (!lx.keyword("TAG")) throw Error("A table's PRIMARY KEY or UNIQUE clause needs TAG name.");
      k.tag = tagName(lx);
      if (lx.keyword("COLLATE")) collateClause(lx);
      def.keys.push_back(std::move(k));
      continue;
    }
    if (lx.keyword("FOREIGN")) {
      if (!lx.keyword("KEY")) throw syntaxError();
      k.kind = KeyClause::Kind::Foreign;
      k.expression = expressionText(lx, {"TAG"});
      if (!lx.keyword("TAG")) throw Error("FOREIGN KEY needs TAG name.");
      k.tag = tagName(lx);
      lx.keyword("NODUP");
      if (lx.keyword("COLLATE")) collateClause(lx);
      if (!lx.keyword("REFERENCES")) throw Error("FOREIGN KEY needs REFERENCES table.");
      referencesClause(lx, k);
      def.keys.push_back(std::move(k));
      continue;
    }
    if (Lexer{lx.s, lx.p}.keyword("CHECK"))
      throw Error("CHECK rules are not supported by this FoxPro engine.");

    FieldClause fc;
    ColumnSpec& c = fc.column;
    c.name = lx.name();
    checkFieldName(c.name);
    const int field = int(def.fields.size());
    std::string tw = toUpperAscii(lx.word());
    char letter = 0;
    for (const auto& t : kTypeNames)
      if (tw == t.name) letter = t.letter;
    if (!letter)
      throw Error(tw.empty() ? "Syntax error." : "Field type '" + tw + "' is not supported.");
    c.type = letter;
    if (lx.accept('(')) {
      c.width = std::uint32_t(std::stoul(digits(lx, 5)));
      if (lx.accept(',')) c.decimals = std::uint8_t(std::min(255ul, std::stoul(digits(lx, 3))));
      lx.expect(')');
    } else if (c.type == 'C' || c.type == 'V' || c.type == 'Q' || c.type == 'N' || c.type == 'F') {
      throw Error("Field " + c.name + ": a width is required for type " + std::string(1, c.type) +
                  ".");
    }
    for (;;) {
      if (lx.keyword("NULL")) {
        c.nullable = true;
      } else if (lx.keyword("NOT")) {
        if (!lx.keyword("NULL")) throw syntaxError();
        c.nullable = false;
      } else if (lx.keyword("NOCPTRANS") || lx.keyword("BINARY")) {
        c.binary = true;
      } else if (lx.keyword("AUTOINC")) {
        autoIncClause(lx, c);
      } else if (lx.keyword("DEFAULT")) {
        lx.skip();
        const std::size_t from = lx.p;
        Value v, term;
        std::string scratch;
        parseExpression(lx, v, term, scratch);
        fc.defaultText = std::string(lx.s.substr(from, lx.p - from));
        while (!fc.defaultText.empty() && isSpace(fc.defaultText.back())) fc.defaultText.pop_back();
        // Whether the field takes .NULL. is known once all its clauses are read (below).
        ColumnSpec asIfNullable = c;
        asIfNullable.nullable = true;
        if (!defaultFits(asIfNullable, v))
          throw Error("Field " + c.name + ": DEFAULT " + fc.defaultText +
                      " does not fit its type (Data type mismatch).");
      } else if (lx.keyword("PRIMARY")) {
        if (!lx.keyword("KEY")) throw syntaxError();
        def.keys.push_back({KeyClause::Kind::Primary, {}, {}, {}, {}, {}, field});
      } else if (lx.keyword("UNIQUE")) {
        def.keys.push_back({KeyClause::Kind::Candidate, {}, {}, {}, {}, {}, field});
      } else if (lx.keyword("COLLATE")) {
        collateClause(lx);
      } else if (lx.keyword("REFERENCES")) {
        KeyClause ref{KeyClause::Kind::Foreign, {}, {}, {}, {}, {}, field};
        referencesClause(lx, ref);
        def.keys.push_back(std::move(ref));
      } else {
        break;
      }
    }
    lx.skip();
    if (lx.atEnd()) throw syntaxError();
    if (!lx.peek(',') && !lx.peek(')')) {
      Lexer clause = lx;
      std::string word = toUpperAscii(clause.word());
      throw Error("Field " + c.name + ": " + (word.empty() ? std::string("this clause") : word) +
                  " is not supported; only NULL, NOT NULL, NOCPTRANS, AUTOINC, DEFAULT, "
                  "PRIMARY KEY, UNIQUE and REFERENCES may follow the type.");
    }
    for (const auto& n : seen)
      if (equalsNoCase(n, c.name)) throw Error("Field name '" + c.name + "' is duplicated.");
    seen.push_back(c.name);
    def.fields.push_back(std::move(fc));
  } while (lx.accept(','));
  lx.expect(')');
  // A DEFAULT .NULL. needs a field that takes nulls, whatever order the clauses came in.
  for (const auto& f : def.fields)
    if (equalsNoCase(f.defaultText, ".NULL.") || equalsNoCase(f.defaultText, "NULL"))
      if (!f.column.nullable)
        throw Error("Field " + f.column.name + " does not accept null values.");
  return def;
}

TagDefinition tagOf(const KeyClause& key) {
  TagDefinition t;
  t.name = key.tag;
  t.expression = key.expression;
  t.filter = key.filter;
  t.candidate = key.kind != KeyClause::Kind::Foreign;
  return t;
}

std::string parentTagOf(const TableCatalog& catalog, const KeyClause& key,
                        const std::string& parentPath) {
  if (!catalog.isMember(parentPath))
    throw Error("Table '" + key.parent +
                "' is not part of this database; relations join "
                "tables of one database.");
  std::string tag = key.parentTag.empty() ? catalog.primaryKey(parentPath) : key.parentTag;
  if (tag.empty())
    throw Error("Table '" + key.parent + "' has no primary key to refer to; name its TAG.");
  const Table parent(parentPath);
  const auto cdxPath = parent.header().tableFlags & tableflag::kHasCdx
                           ? findCompanion(parent.path(), ".cdx")
                           : std::nullopt;
  const cdx::TagInfo* t = nullptr;
  std::optional<cdx::IndexFile> file;
  if (cdxPath) {
    file = cdx::IndexFile::open(nativePath(*cdxPath));
    t = file->findTag(tag);
  }
  if (!t) throw Error("Tag " + toUpperAscii(tag) + " is not found in table '" + key.parent + "'.");
  if (!(t->header.options & cdx::option::kCandidate))
    throw Error("Tag " + t->name + " of table '" + key.parent +
                "' is neither a primary nor a candidate index; a relation must refer to one.");
  return toLowerAscii(tag);
}

void recordKey(TableCatalog& catalog, const std::string& path, const KeyClause& key,
               const std::string& parentPath, const std::string& parentTag) {
  const bool candidate = key.kind != KeyClause::Kind::Foreign;
  // A FOREIGN KEY naming an existing tag leaves that tag (and its Index row) as it is.
  if (!key.expression.empty() || key.kind != KeyClause::Kind::Foreign)
    catalog.tagAdded(path, key.tag, candidate, key.kind == KeyClause::Kind::Primary);
  if (key.kind == KeyClause::Kind::Foreign)
    catalog.relationAdded(path, key.tag, parentPath, parentTag);
}

}  // namespace vfp::sql

namespace vfp {

using sql::expressionText;
using sql::KeyClause;
using sql::Lexer;
using sql::syntaxError;

namespace {

// Whether the table's structural index has this tag.
bool hasTag(const std::string& tablePath, const std::string& tag) {
  const Table t(tablePath);
  if (!(t.header().tableFlags & tableflag::kHasCdx)) return false;
  const auto cdxPath = findCompanion(t.path(), ".cdx");
  return cdxPath && cdx::IndexFile::open(nativePath(*cdxPath)).findTag(tag) != nullptr;
}

}  // namespace

void Session::use(std::string_view sql, std::size_t pos) {
  Lexer lx{sql, pos};
  if (lx.atEnd()) {
    inUse_.clear();
    return;
  }
  const std::string ref = lx.name();
  while (!lx.atEnd()) {
    if (lx.keyword("EXCLUSIVE") || lx.keyword("SHARED") || lx.keyword("AGAIN") ||
        lx.keyword("NOUPDATE"))
      continue;
    if (lx.keyword("IN") || lx.keyword("ALIAS")) {
      if (lx.word().empty()) throw syntaxError();
      continue;
    }
    throw Error("Command contains unrecognized phrase/keyword.");
  }
  const std::string path = resolve(ref, true);
  const Table t(path);  // refuses what is not a table
  inUse_ = t.path();
}

void Session::index(std::string_view sql, std::size_t pos) {
  Lexer lx{sql, pos};
  if (!lx.keyword("ON")) throw syntaxError();
  TagDefinition t;
  t.expression = expressionText(lx, {"TAG", "TO"});
  if (lx.keyword("TO"))
    throw Error(
        "Index files of their own (.idx) are not supported: index into the table's "
        "structural index with TAG name.");
  if (!lx.keyword("TAG")) throw syntaxError();
  t.name = lx.word();
  if (t.name.empty()) throw syntaxError();
  if (lx.keyword("OF"))
    throw Error(
        "Only the table's structural index (the .cdx named after it) is supported; "
        "leave out OF.");
  while (!lx.atEnd()) {
    if (lx.keyword("FOR")) {
      t.filter = expressionText(
          lx, {"COMPACT", "ASCENDING", "DESCENDING", "UNIQUE", "CANDIDATE", "ADDITIVE", "COLLATE"});
    } else if (lx.keyword("COMPACT") || lx.keyword("ADDITIVE") || lx.keyword("ASCENDING")) {
    } else if (lx.keyword("DESCENDING")) {
      t.descending = true;
    } else if (lx.keyword("UNIQUE")) {
      t.unique = true;
    } else if (lx.keyword("CANDIDATE")) {
      t.candidate = true;
    } else if (lx.keyword("COLLATE")) {
      sql::collateClause(lx);
    } else {
      throw Error("Command contains unrecognized phrase/keyword.");
    }
  }
  if (t.unique && t.candidate) throw Error("An index is either UNIQUE or CANDIDATE, not both.");
  if (inUse_.empty()) throw Error("No table is open in the current work area.");
  const std::string path = inUse_;
  catalog_->checkWritable(path);
  if (!t.candidate && equalsNoCase(catalog_->primaryKey(path), t.name))
    throw Error("Tag " + toUpperAscii(t.name) +
                " is the table's primary key; it can only be remade as a CANDIDATE index.");
  forget(path);
  IndexMaintainer::addTag(path, t);
  catalog_->tagAdded(path, t.name, t.candidate, equalsNoCase(catalog_->primaryKey(path), t.name));
}

void Session::alter(std::string_view sql, std::size_t pos) {
  Lexer lx{sql, pos};
  if (!lx.keyword("TABLE"))
    throw Error("This ALTER is not supported: the FoxPro engine runs ALTER TABLE.");
  const std::string ref = lx.name();
  const std::string path = resolve(ref, true);
  catalog_->checkWritable(path);
  const bool member = catalog_->isMember(path);

  if (lx.keyword("ADD")) {
    // FoxPro's order: ADD PRIMARY KEY expr [FOR cond] TAG name, ADD UNIQUE expr [[FOR cond] TAG
    // name], ADD FOREIGN KEY [expr] [FOR cond] TAG name REFERENCES parent [TAG tag]; a FOR after
    // the TAG is taken too.
    KeyClause k;
    auto filter = [&](std::initializer_list<std::string_view> stops) {
      if (lx.keyword("FOR")) k.filter = expressionText(lx, stops);
    };
    if (Lexer probe = lx; probe.keyword("PRIMARY") && probe.keyword("KEY")) {
      lx = probe;
      k.kind = KeyClause::Kind::Primary;
      k.expression = expressionText(lx, {"TAG", "FOR"});
      filter({"TAG"});
      if (!lx.keyword("TAG")) throw Error("ADD PRIMARY KEY needs TAG name.");
      k.tag = sql::tagName(lx);
    } else if (lx.keyword("UNIQUE")) {
      k.expression = expressionText(lx, {"TAG", "FOR", "COLLATE"});
      filter({"TAG", "COLLATE"});
      if (lx.keyword("TAG"))
        k.tag = sql::tagName(lx);
      else if (k.filter.empty() &&
               std::all_of(k.expression.begin(), k.expression.end(), sql::isWordChar))
        k.tag = k.expression.substr(0, cdx::kTagNameLength);  // a field names its tag
      else
        throw Error("ADD UNIQUE of an expression needs TAG name.");
    } else if (lx.keyword("FOREIGN")) {
      if (!lx.keyword("KEY")) throw syntaxError();
      k.kind = KeyClause::Kind::Foreign;
      if (!Lexer{lx.s, lx.p}.keyword("TAG") && !Lexer{lx.s, lx.p}.keyword("FOR"))
        k.expression = expressionText(lx, {"TAG", "FOR"});
      filter({"TAG"});
      if (!lx.keyword("TAG")) throw Error("ADD FOREIGN KEY needs TAG name.");
      k.tag = sql::tagName(lx);
    } else {
      throw Error(
          "This ALTER TABLE is not supported: the FoxPro engine runs ADD PRIMARY KEY, "
          "ADD UNIQUE, ADD FOREIGN KEY and ALTER COLUMN ... AUTOINC.");
    }
    if (k.filter.empty()) filter({"REFERENCES", "COLLATE"});
    if (lx.keyword("COLLATE")) sql::collateClause(lx);
    if (k.kind == KeyClause::Kind::Foreign) {
      if (!lx.keyword("REFERENCES")) throw Error("ADD FOREIGN KEY needs REFERENCES table.");
      sql::referencesClause(lx, k);
    }
    if (!lx.atEnd()) throw Error("Command contains unrecognized phrase/keyword.");

    const std::string table = fileNameOf(path);
    if (k.kind == KeyClause::Kind::Primary) {
      if (!member)
        throw Error("Table '" + table +
                    "' is a free table: only a table of a database can have a primary key; make "
                    "a candidate index with ADD UNIQUE instead.");
      if (const std::string pk = catalog_->primaryKey(path); !pk.empty())
        throw Error("Table '" + table + "' already has a primary key (tag " + toUpperAscii(pk) +
                    ").");
    }
    std::string parentPath, parentTag;
    if (k.kind == KeyClause::Kind::Foreign) {
      if (!member)
        throw Error("Table '" + table +
                    "' is a free table: only tables of a database can have "
                    "relations.");
      parentPath = resolve(k.parent, true);
      parentTag = sql::parentTagOf(*catalog_, k, parentPath);
    }
    forget(path);
    if (!k.expression.empty())
      IndexMaintainer::addTag(path, sql::tagOf(k));
    else if (!k.filter.empty())
      throw Error("ADD FOREIGN KEY with FOR needs the key's expression.");
    else if (!hasTag(path, k.tag))
      throw Error("Tag " + toUpperAscii(k.tag) + " is not found in table '" + table +
                  "'; give the key's expression to make it.");
    sql::recordKey(*catalog_, path, k, parentPath, parentTag);
    return;
  }

  if (lx.keyword("ALTER")) {
    lx.keyword("COLUMN");
    const std::string field = lx.name();
    const std::string type = toUpperAscii(lx.word());
    if (type != "I" && type != "INT" && type != "INTEGER")
      throw Error(
          "ALTER COLUMN is supported only for an Integer field: ALTER COLUMN name I AUTOINC "
          "[NEXTVALUE n [STEP m]] makes it autoincrementing, ALTER COLUMN name I a plain one.");
    ColumnSpec c;
    for (;;) {
      if (lx.keyword("NOT")) {
        if (!lx.keyword("NULL")) throw syntaxError();
      } else if (lx.keyword("AUTOINC")) {
        sql::autoIncClause(lx, c);
      } else {
        break;
      }
    }
    if (!lx.atEnd()) throw Error("Command contains unrecognized phrase/keyword.");
    forget(path);
    const Table t(path);
    const auto longNames = catalog_->fieldNames(path);
    std::optional<std::size_t> at;
    for (std::size_t i = 0; i < t.userFields().size(); ++i) {
      const auto index = std::size_t(t.userFields()[i]);
      if (equalsNoCase(t.fieldName(index), field) ||
          (i < longNames.size() && equalsNoCase(longNames[i], field)))
        at = index;
    }
    if (!at) throw Error("Variable '" + toUpperAscii(field) + "' is not found.");
    // Without AUTOINC the field becomes a plain Integer, as in FoxPro: values can then be
    // written into it (a sync that brings another table's keys does, then makes it
    // autoincrementing again).
    if (c.autoInc)
      setAutoIncrement(path, *at, c.autoIncNext, c.autoIncStep);
    else
      clearAutoIncrement(path, *at);
    return;
  }
  throw Error(
      "This ALTER TABLE is not supported: the FoxPro engine runs ADD PRIMARY KEY, "
      "ADD UNIQUE, ADD FOREIGN KEY and ALTER COLUMN ... AUTOINC.");
}

}  // namespace vfp
