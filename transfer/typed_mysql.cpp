#include "transfer/typed_mysql.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <unordered_set>
#include <utility>

#include "ado/mysql_session.h"
#include "transfer/typed_mysql_parts.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/table.h"

namespace transfer {

using namespace typed;

namespace {

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return std::string(s.substr(first, last - first + 1));
}

// The parts of a key expression joined by + outside parentheses and quotes.
std::vector<std::string> PlusParts(const std::string& expression) {
  std::vector<std::string> parts;
  std::string part;
  int depth = 0;
  char quote = 0;
  for (char c : expression) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'' || c == '[') {
      quote = c == '[' ? ']' : c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == '+' && depth == 0) {
      parts.push_back(Trim(part));
      part.clear();
      continue;
    }
    part += c;
  }
  parts.push_back(Trim(part));
  return parts;
}

bool IsName(std::string_view s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
  });
}

// fn(x) where fn is `name` or FoxPro's abbreviation of it (four letters at least): x, else
// nothing.
std::optional<std::string> ArgumentOf(const std::string& part, std::string_view name) {
  const auto open = part.find('(');
  if (open == std::string::npos || part.back() != ')') return std::nullopt;
  const std::string fn = Trim(std::string_view(part).substr(0, open));
  if (fn.size() < std::min<std::size_t>(4, name.size()) || fn.size() > name.size() ||
      !vfp::equalsNoCase(fn, name.substr(0, fn.size())))
    return std::nullopt;
  return Trim(std::string_view(part).substr(open + 1, part.size() - open - 2));
}

// UPPER(x), UPPE(x) as FoxPro abbreviates it: x, else nothing.
std::optional<std::string> UpperOf(const std::string& part) { return ArgumentOf(part, "UPPER"); }

// A one-field text key with its trims taken off: RTRIM and TRIM change nothing MySQL compares
// (it ignores trailing blanks); ALLTRIM and LTRIM also ignore leading ones, which sets
// `leading`. UPPER may stand inside or outside; it stays.
std::string WithoutTrims(std::string part, bool& leading) {
  for (bool peeled = true; peeled;) {
    peeled = false;
    const auto upper = UpperOf(part);
    std::string inner = upper ? *upper : part;
    for (const char* fn : {"RTRIM", "TRIM", "ALLTRIM", "LTRIM"})
      if (auto arg = ArgumentOf(inner, fn)) {
        leading = leading || fn[0] == 'A' || fn[0] == 'L';
        inner = *arg;
        peeled = true;
        break;
      }
    if (peeled) part = upper ? "UPPER(" + inner + ")" : inner;
  }
  return part;
}

// STR(x[,w[,d]]), DTOS(x) or TTOC(x,1), as FoxPro writes the number, date and date-time parts
// of a compound key: x and the type letters of the fields it applies to, else nothing. Such a
// part tells the same values apart as x itself, so an index on x is the same key.
std::optional<std::pair<std::string, std::string>> ConvertedOf(const std::string& part) {
  const auto open = part.find('(');
  if (open == std::string::npos || part.back() != ')') return std::nullopt;
  const std::string fn = Trim(std::string_view(part).substr(0, open));
  std::string inner = Trim(std::string_view(part).substr(open + 1, part.size() - open - 2));
  std::string rest;
  if (const auto comma = inner.find(','); comma != std::string::npos) {
    rest = Trim(std::string_view(inner).substr(comma + 1));
    inner = Trim(std::string_view(inner).substr(0, comma));
  }
  const bool digits = std::all_of(rest.begin(), rest.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || c == ',' || c == ' ';
  });
  if (vfp::equalsNoCase(fn, "STR") && digits) return std::pair{inner, std::string("NFIYB")};
  if (vfp::equalsNoCase(fn, "DTOS") && rest.empty()) return std::pair{inner, std::string("D")};
  if (vfp::equalsNoCase(fn, "TTOC") && rest == "1") return std::pair{inner, std::string("T")};
  return std::nullopt;
}

// A default expression that is a plain literal, as MySQL writes it for this field; nothing for
// an expression (DATE(), a function of the application) or a literal of another type.
std::optional<std::string> DefaultLiteral(const vfp::FieldSchema& f) {
  const std::string e = Trim(f.defaultValue);
  if (e.empty()) return std::nullopt;
  if (vfp::equalsNoCase(e, ".NULL."))
    return f.nullable ? std::optional<std::string>("NULL") : std::nullopt;
  const char first = e.front(), last = e.back();
  const bool quoted =
      e.size() >= 2 && ((first == '"' && last == '"') || (first == '\'' && last == '\'') ||
                        (first == '[' && last == ']'));
  if (quoted) {
    const std::string text = e.substr(1, e.size() - 2);
    const char close = last;
    if (text.find(close) != std::string::npos) return std::nullopt;  // two literals joined
    if (!IsCharacter(f) || text.size() > f.width) return std::nullopt;
    return ado::quoteMySqlText(text);
  }
  if (f.type == 'L') {
    if (vfp::equalsNoCase(e, ".T.") || vfp::equalsNoCase(e, ".Y.")) return std::string("1");
    if (vfp::equalsNoCase(e, ".F.") || vfp::equalsNoCase(e, ".N.")) return std::string("0");
    return std::nullopt;
  }
  if (f.type == 'N' || f.type == 'F' || f.type == 'I' || f.type == 'B' || f.type == 'Y') {
    std::size_t i = (first == '-' || first == '+') ? 1 : 0;
    bool digit = false, point = false;
    for (; i < e.size(); ++i) {
      if (std::isdigit(static_cast<unsigned char>(e[i])))
        digit = true;
      else if (e[i] == '.' && !point && f.type != 'I')
        point = true;
      else
        return std::nullopt;
    }
    if (!digit) return std::nullopt;
    return e.front() == '+' ? e.substr(1) : e;
  }
  if ((f.type == 'D' || f.type == 'T') && e.size() > 3 && e.compare(0, 2, "{^") == 0 &&
      last == '}') {
    // {^2024-01-31} and {^2024-01-31 08:30:00}, FoxPro's strict date forms.
    const std::string inner = Trim(std::string_view(e).substr(2, e.size() - 3));
    const bool shaped = std::all_of(inner.begin(), inner.end(), [](char c) {
      return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == ':' || c == ' ' ||
             c == '/';
    });
    if (!shaped || inner.size() < 8) return std::nullopt;
    std::string date = inner;
    std::replace(date.begin(), date.end(), '/', '-');
    if (f.type == 'D' && date.size() != 10) return std::nullopt;
    return ado::quoteMySqlText(date);
  }
  return std::nullopt;
}

bool TakesDefault(const vfp::FieldSchema& f) {
  // MySQL gives BLOB and TEXT columns no literal default on many servers.
  return !(f.type == 'M' || f.type == 'W' || f.type == 'G');
}

// "`name` TYPE [COLLATE utf8mb4_bin] NULL|NOT NULL [AUTO_INCREMENT] [DEFAULT x] [COMMENT '...']".
std::string ColumnDefinition(const vfp::FieldSchema& f, bool nullable, bool binaryCompare,
                             bool autoIncrement = false) {
  std::string def = Quote(f.name) + " " + TypedColumnType(f);
  if (binaryCompare) def += " COLLATE utf8mb4_bin";
  def += nullable ? " NULL" : " NOT NULL";
  if (autoIncrement) def += " AUTO_INCREMENT";
  if (TakesDefault(f) && !f.autoInc)
    if (auto literal = DefaultLiteral(f); literal && (nullable || *literal != "NULL"))
      def += " DEFAULT " + *literal;
  if (!f.comment.empty()) def += " COMMENT " + ado::quoteMySqlText(f.comment);
  return def;
}

}  // namespace

namespace typed {

bool IsCharacter(const vfp::FieldSchema& f) {
  return (f.type == 'C' || f.type == 'V') && !f.binary;
}

std::optional<std::size_t> FieldNamed(const vfp::TableSchema& t, std::string_view name) {
  // An alias before the name (orders.custid) names the table itself.
  if (const auto dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(dot + 1);
  for (std::size_t k = 0; k < t.fields.size(); ++k)
    if (SameName(t.fields[k].name, name) || SameName(t.fields[k].dbfName, name)) return k;
  return std::nullopt;
}

// Constraint and index names: at most 64 characters, MySQL's limit.
std::string KeyName(const std::string& name) {
  return name.size() <= 64 ? name : name.substr(0, 64);
}

std::string ColumnList(const std::vector<std::string>& columns) {
  std::string list = "(";
  for (const auto& c : columns) list += (list.size() > 1 ? "," : "") + Quote(c);
  return list + ")";
}

}  // namespace typed

vfp::TableSchema TypedShape(const std::string& tablePath) {
  vfp::TableSchema t = vfp::describeTable(tablePath);
  for (auto& f : t.fields) f.name = vfp::toLowerAscii(f.name);
  return t;
}

std::string TypedColumnType(const vfp::FieldSchema& f) {
  const std::string w = std::to_string(f.width);
  switch (f.type) {
    case 'C':
      return (f.binary ? "BINARY(" : "CHAR(") + w + ")";
    case 'V':
      return (f.binary ? "VARBINARY(" : "VARCHAR(") + w + ")";
    case 'Q':
      return "VARBINARY(" + w + ")";
    case 'M':
      return f.binary ? "LONGBLOB" : "LONGTEXT";
    case 'W':
    case 'G':
      return "LONGBLOB";
    case 'N':
    case 'F': {
      // As the classic script: w + d digits hold every value the field holds (N(7,2) stores
      // 1234567 when a value is too wide for its decimals).
      const int scale = std::clamp(int(f.decimals), 0, 30);
      const int precision = std::clamp(int(f.width) + scale, 1, 65);
      return "DECIMAL(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    }
    case 'I':
      return "INT";
    case 'B':
      return "DOUBLE";
    case 'Y':
      return "DECIMAL(19,4)";
    case 'D':
      return "DATE";
    case 'T':
      return "DATETIME";
    case 'L':
      return "TINYINT(1)";
    default:
      return "LONGBLOB";
  }
}

TagColumns ColumnsOfTag(const vfp::TagSchema& tag, const vfp::TableSchema& table) {
  TagColumns out;
  auto refuse = [&](std::string why) {
    out.columns.clear();
    out.unexpressed = std::move(why);
    return out;
  };
  if (tag.bitmap) return refuse("a binary (bitmap) index, which MySQL has no form for");
  if (!tag.filter.empty()) return refuse("its FOR filter (" + tag.filter + ") has no MySQL form");
  std::vector<std::string> parts = PlusParts(tag.expression);
  bool leading = false;
  if (parts.size() == 1) parts[0] = WithoutTrims(parts[0], leading);
  bool allUpper = true, anyCharacter = false;
  for (const auto& part : parts) {
    std::string name = part;
    const auto upper = UpperOf(part);
    const auto converted = upper ? std::nullopt : ConvertedOf(part);
    if (upper) name = *upper;
    if (converted) name = converted->first;
    const auto k = IsName(name) ? FieldNamed(table, name) : std::nullopt;
    if (!k || (converted && converted->second.find(table.fields[*k].type) == std::string::npos))
      return refuse("its key " + tag.expression +
                    " is not a field, UPPER(field) or fields joined by +");
    const vfp::FieldSchema& f = table.fields[*k];
    if (f.type == 'M' || f.type == 'W' || f.type == 'G')
      return refuse("its key " + tag.expression +
                    " holds a memo, which MySQL indexes only in part");
    if (upper && !IsCharacter(f))
      return refuse("its key " + tag.expression + " applies UPPER to a field that is not text");
    if (parts.size() > 1 && f.type != 'C' && f.type != 'V' && !converted)
      return refuse("its key " + tag.expression + " adds fields that are not text");
    anyCharacter = anyCharacter || IsCharacter(f);
    allUpper = allUpper && (upper.has_value() || !IsCharacter(f));
    if (std::find(out.columns.begin(), out.columns.end(), f.name) == out.columns.end())
      out.columns.push_back(f.name);
  }
  // A collation other than MACHINE orders and compares letters regardless of case.
  const bool general = !tag.collation.empty() && !vfp::equalsNoCase(tag.collation, "MACHINE");
  out.foldsCase = anyCharacter && (allUpper || general);
  if (leading && !anyCharacter)
    return refuse("its key " + tag.expression + " trims a field that is not text");
  if (leading)
    out.note = "its key " + tag.expression + " ignores leading blanks, which the MySQL key on " +
               out.columns.front() + " does not";
  return out;
}

TypedMySqlScript::TypedMySqlScript(std::vector<vfp::TableSchema> tables,
                                   std::vector<std::string> mysqlNames,
                                   std::vector<vfp::RelationSchema> relations)
    : tables_(std::move(tables)), names_(std::move(mysqlNames)), relations_(std::move(relations)) {
  chooseBinaryColumns();
}

std::size_t TypedMySqlScript::find(const std::string& containerName) const {
  for (std::size_t t = 0; t < tables_.size(); ++t)
    if (SameName(tables_[t].name, containerName)) return t;
  return tables_.size();
}

void TypedMySqlScript::chooseBinaryColumns() {
  binary_.clear();
  for (const auto& t : tables_) {
    std::vector<bool> bin(t.fields.size(), false);
    for (const auto& tag : t.tags) {
      if (tag.kind != vfp::TagKind::Primary && tag.kind != vfp::TagKind::Candidate) continue;
      const TagColumns key = ColumnsOfTag(tag, t);
      if (!key.unexpressed.empty() || key.foldsCase) continue;
      for (const auto& c : key.columns)
        if (auto k = FieldNamed(t, c); k && IsCharacter(t.fields[*k])) bin[*k] = true;
    }
    binary_.push_back(std::move(bin));
  }
  // A foreign key's character columns must compare as the ones they refer to.
  for (const auto& r : relations_) {
    const std::size_t child = find(r.childTable), parent = find(r.parentTable);
    if (child == tables_.size() || parent == tables_.size()) continue;
    const RelationKeys keys = relationKeys(r, child, parent);
    if (!keys.why.empty()) continue;
    const TagColumns& cc = keys.child;
    const TagColumns& pc = keys.parent;
    for (std::size_t i = 0; i < cc.columns.size(); ++i) {
      const auto ck = FieldNamed(tables_[child], cc.columns[i]);
      const auto pk = FieldNamed(tables_[parent], pc.columns[i]);
      if (ck && pk && IsCharacter(tables_[child].fields[*ck]))
        binary_[child][*ck] = binary_[parent][*pk];
    }
  }
}

TypedMySqlScript::RelationKeys TypedMySqlScript::relationKeys(const vfp::RelationSchema& r,
                                                              std::size_t child,
                                                              std::size_t parent) const {
  auto tagOf = [](const vfp::TableSchema& t, const std::string& name) -> const vfp::TagSchema* {
    for (const auto& tag : t.tags)
      if (SameName(tag.name, name)) return &tag;
    return nullptr;
  };
  RelationKeys keys;
  const auto* ct = tagOf(tables_[child], r.childTag);
  keys.parentTag = tagOf(tables_[parent], r.parentTag);
  if (!ct || !keys.parentTag) {
    keys.why = "a tag it names is not in the table's index";
    return keys;
  }
  keys.child = ColumnsOfTag(*ct, tables_[child]);
  keys.parent = ColumnsOfTag(*keys.parentTag, tables_[parent]);
  if (!keys.child.unexpressed.empty())
    keys.why = keys.child.unexpressed;
  else if (!keys.parent.unexpressed.empty())
    keys.why = keys.parent.unexpressed;
  else if (keys.child.columns.size() < keys.parent.columns.size())
    keys.why = "its keys have different numbers of fields";
  // A child tag longer than the parent's (order_id+STR(line_no) to order_id) relates its
  // leading fields, as FoxPro finds the parent by the start of the child's key.
  else
    keys.child.columns.resize(keys.parent.columns.size());
  return keys;
}

TypedMySqlScript::Table TypedMySqlScript::table(std::size_t index, const std::string& into,
                                                const std::string& keyName,
                                                const std::vector<bool>& holdsNull) const {
  const vfp::TableSchema& t = tables_[index];
  Table out;
  std::vector<bool> nullable(t.fields.size());
  for (std::size_t k = 0; k < t.fields.size(); ++k) {
    const auto& f = t.fields[k];
    nullable[k] = f.nullable;
    if (!f.nullable && k < holdsNull.size() && holdsNull[k]) {
      nullable[k] = true;
      out.report.push_back("column " + f.name +
                           ": NOT NULL in FoxPro, made a NULL column, since values above arrive "
                           "as NULL");
    }
    if (!f.defaultValue.empty() && !(TakesDefault(f) && !f.autoInc && DefaultLiteral(f)))
      out.report.push_back("column " + f.name + ": the default " + f.defaultValue +
                           " is not a plain literal MySQL can hold for the column; not carried");
  }

  // Keys first: a primary key needs NOT NULL columns.
  std::string primary;
  std::vector<std::string> primaryColumns;
  // What one ALTER TABLE adds after the rows: every key and index of the table in a single
  // statement, which reads the rows once for all of them instead of once per index.
  std::vector<std::string> keys;
  std::vector<std::vector<std::string>> indexed;
  for (const auto& tag : t.tags) {
    TagColumns key = ColumnsOfTag(tag, t);
    const char* kind = tag.kind == vfp::TagKind::Primary     ? "primary"
                       : tag.kind == vfp::TagKind::Candidate ? "candidate"
                                                             : "regular";
    if (!key.unexpressed.empty()) {
      out.report.push_back("tag " + tag.name + " (" + kind + ") is not made: " + key.unexpressed);
      continue;
    }
    if (!key.note.empty()) out.report.push_back("tag " + tag.name + ": " + key.note);
    if (tag.descending)
      out.report.push_back("tag " + tag.name +
                           " is descending; its MySQL index is ascending, which serves the same "
                           "searches");
    bool isPrimary = tag.kind == vfp::TagKind::Primary;
    if (isPrimary) {
      for (const auto& c : key.columns)
        if (auto k = FieldNamed(t, c); k && nullable[*k]) isPrimary = false;
      if (!isPrimary)
        out.report.push_back("tag " + tag.name +
                             " is the primary key over a column that may be NULL; it is made a "
                             "UNIQUE key");
    }
    const std::string name = Quote(KeyName(tag.name));
    if (isPrimary) {
      primary = "PRIMARY KEY " + ColumnList(key.columns);
      primaryColumns = key.columns;
    } else if (tag.kind == vfp::TagKind::Primary || tag.kind == vfp::TagKind::Candidate) {
      keys.push_back("ADD UNIQUE KEY " + name + " " + ColumnList(key.columns));
    } else {
      if (tag.kind == vfp::TagKind::Unique)
        out.report.push_back("tag " + tag.name +
                             " lists each key once (INDEX ... UNIQUE); its MySQL index lists "
                             "every row");
      keys.push_back("ADD INDEX " + name + " " + ColumnList(key.columns));
    }
    indexed.push_back(key.columns);
  }

  // The autoincrement field. MySQL makes a column AUTO_INCREMENT afterwards only by copying the
  // whole table, so one that leads the primary key is declared so with the table; its rows
  // arrive with their own values all the same (the copy keeps a 0 as 0), and the counter
  // continues from FoxPro's next value, or past the largest value if that is higher.
  std::optional<std::size_t> autoInc;
  for (std::size_t k = 0; k < t.fields.size(); ++k) {
    const auto& f = t.fields[k];
    if (!f.autoInc) continue;
    if (f.type != 'I' || nullable[k]) {
      out.report.push_back("column " + f.name +
                           ": autoincrement not carried, the column may be NULL");
      continue;
    }
    if (autoInc) {
      out.report.push_back("column " + f.name +
                           ": autoincrement not carried, MySQL counts in one column per table (" +
                           t.fields[*autoInc].name + ")");
      continue;
    }
    autoInc = k;
    if (f.autoIncStep > 1)
      out.report.push_back("column " + f.name + ": autoincrement steps by " +
                           std::to_string(f.autoIncStep) +
                           " in FoxPro; MySQL's step is the server's auto_increment_increment");
  }
  const bool autoIncWithTable = autoInc && !primaryColumns.empty() &&
                                SameName(primaryColumns.front(), t.fields[*autoInc].name);
  const std::string nextValue =
      autoInc ? std::to_string(std::max<std::uint32_t>(t.fields[*autoInc].autoIncNext, 1)) : "";

  std::string create =
      "CREATE TABLE " + Quote(into) + "( " + Quote(keyName) + " INTEGER UNSIGNED NOT NULL,";
  for (std::size_t k = 0; k < t.fields.size(); ++k)
    create += ColumnDefinition(t.fields[k], nullable[k], binary_[index][k],
                               autoIncWithTable && k == *autoInc) +
              ",";
  // The primary key comes with the table: InnoDB keeps the rows in its order, so adding it after
  // the rows would rebuild the whole table, where dropping the numbering column alone is
  // instant. A row whose key is taken is refused at the copy, by record, as any refused row.
  if (!primary.empty()) create += " " + primary + ",";
  create.pop_back();
  create += " ) DEFAULT CHARSET=utf8mb4";
  if (autoIncWithTable) create += " AUTO_INCREMENT=" + nextValue;
  if (!t.comment.empty()) create += " COMMENT=" + ado::quoteMySqlText(t.comment);
  out.create = create + ";";

  // The column the copy numbered the rows in goes on its own, which is instant; joined with
  // anything else it would rebuild the table.
  out.afterRows.push_back("ALTER TABLE " + Quote(into) + " DROP COLUMN " + Quote(keyName));
  if (autoInc && !autoIncWithTable) {
    // An autoincrement outside the primary key copies the table; the keys are made in the same
    // copy. MySQL counts only a column that leads an index.
    const auto& f = t.fields[*autoInc];
    const bool leads = std::any_of(indexed.begin(), indexed.end(), [&](const auto& cols) {
      return !cols.empty() && SameName(cols.front(), f.name);
    });
    if (!leads) keys.push_back("ADD INDEX " + Quote(KeyName(f.name)) + " (" + Quote(f.name) + ")");
    keys.push_back("MODIFY " + ColumnDefinition(f, false, false, true));
    keys.push_back("AUTO_INCREMENT = " + nextValue);
  }
  if (!keys.empty()) {
    std::string alter = "ALTER TABLE " + Quote(into);
    for (std::size_t i = 0; i < keys.size(); ++i) alter += (i ? ", " : " ") + keys[i];
    out.afterRows.push_back(alter);
  }
  return out;
}

}  // namespace transfer
