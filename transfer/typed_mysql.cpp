#include "transfer/typed_mysql.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <unordered_set>
#include <utility>

#include "ado/mysql_session.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/table.h"

namespace transfer {

namespace {

std::string Quote(const std::string& name) { return ado::quoteMySqlName(name); }

bool SameName(std::string_view a, std::string_view b) { return vfp::equalsNoCase(a, b); }

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return std::string(s.substr(first, last - first + 1));
}

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

// UPPER(x), UPPE(x) as FoxPro abbreviates it: x, else nothing.
std::optional<std::string> UpperOf(const std::string& part) {
  const auto open = part.find('(');
  if (open == std::string::npos || part.back() != ')') return std::nullopt;
  const std::string fn = Trim(std::string_view(part).substr(0, open));
  if (fn.size() < 4 || fn.size() > 5 ||
      !vfp::equalsNoCase(fn, std::string_view("UPPER").substr(0, fn.size())))
    return std::nullopt;
  return Trim(std::string_view(part).substr(open + 1, part.size() - open - 2));
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
    return MySqlTextLiteral(text);
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
    return MySqlTextLiteral(date);
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
  if (!f.comment.empty()) def += " COMMENT " + MySqlTextLiteral(f.comment);
  return def;
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

// A key value as MySQL compares it once the row is in: text without its trailing spaces (CHAR
// drops them, and the PAD SPACE collations ignore them), letters in one case where the column
// ignores case, numbers without trailing zeros, so that equal keys give equal text. False for
// NULL, which a foreign key does not check. A blank date or number arrives as NULL too, and
// decodeField gives it as null.
bool AppendKeyPart(const vfp::Value& v, bool foldCase, std::string& out) {
  std::string part;
  switch (v.kind) {
    case vfp::Value::Kind::Null:
      return false;
    case vfp::Value::Kind::Bool:
      part = v.b ? "1" : "0";
      break;
    case vfp::Value::Kind::Int:
      part = std::to_string(v.i);
      break;
    case vfp::Value::Kind::Double: {
      char buf[32];
      part.assign(buf, std::to_chars(buf, buf + sizeof buf, v.d).ptr);
      break;
    }
    case vfp::Value::Kind::Decimal:
      part = v.s;
      if (part.find('.') != std::string::npos) {
        part.erase(part.find_last_not_of('0') + 1);
        if (part.back() == '.') part.pop_back();
      }
      if (part == "-0") part = "0";
      break;
    case vfp::Value::Kind::Text:
      part = v.s.substr(0, v.s.find_last_not_of(' ') + 1);
      if (foldCase) part = vfp::toUpperAscii(std::move(part));
      break;
    case vfp::Value::Kind::Bytes:
      part = v.s;
      break;
    case vfp::Value::Kind::Date:
    case vfp::Value::Kind::DateTime: {
      const auto& w = v.when;
      part = std::to_string(w.date.year) + "-" + std::to_string(w.date.month) + "-" +
             std::to_string(w.date.day);
      if (v.kind == vfp::Value::Kind::DateTime)
        part += " " + std::to_string(w.hour) + ":" + std::to_string(w.minute) + ":" +
                std::to_string(w.second);
      break;
    }
  }
  // Length first, so that two columns' parts cannot run into each other.
  out += std::to_string(part.size()) + ":" + part;
  return true;
}

// A key as the report shows it: 7, or 'ab' + 'cd'.
std::string ShownKey(const vfp::Table& t, const std::uint8_t* rec,
                     const std::vector<std::size_t>& fields) {
  std::string shown;
  vfp::Value v;
  for (const std::size_t k : fields) {
    t.decodeField(rec, k, v);
    std::string part = v.kind == vfp::Value::Kind::Text
                           ? MySqlTextLiteral(v.s.substr(0, v.s.find_last_not_of(' ') + 1))
                       : v.kind == vfp::Value::Kind::Decimal || v.kind == vfp::Value::Kind::Int
                           ? (v.kind == vfp::Value::Kind::Int ? std::to_string(v.i) : v.s)
                           : std::string("(a ") + t.header().fields[k].type + " value)";
    shown += (shown.empty() ? "" : " + ") + part;
  }
  return shown;
}

}  // namespace

std::string MySqlTextLiteral(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\\' || c == '\'') out += c;
    out += c;
  }
  return out + "'";
}

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
  const std::vector<std::string> parts = PlusParts(tag.expression);
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
    auto tagOf = [](const vfp::TableSchema& t, const std::string& name) -> const vfp::TagSchema* {
      for (const auto& tag : t.tags)
        if (SameName(tag.name, name)) return &tag;
      return nullptr;
    };
    const auto* ct = tagOf(tables_[child], r.childTag);
    const auto* pt = tagOf(tables_[parent], r.parentTag);
    if (!ct || !pt) continue;
    const TagColumns cc = ColumnsOfTag(*ct, tables_[child]);
    const TagColumns pc = ColumnsOfTag(*pt, tables_[parent]);
    if (!cc.unexpressed.empty() || !pc.unexpressed.empty() ||
        cc.columns.size() != pc.columns.size())
      continue;
    for (std::size_t i = 0; i < cc.columns.size(); ++i) {
      const auto ck = FieldNamed(tables_[child], cc.columns[i]);
      const auto pk = FieldNamed(tables_[parent], pc.columns[i]);
      if (ck && pk && IsCharacter(tables_[child].fields[*ck]))
        binary_[child][*ck] = binary_[parent][*pk];
    }
  }
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
  if (!t.comment.empty()) create += " COMMENT=" + MySqlTextLiteral(t.comment);
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

std::vector<std::string> TypedMySqlScript::foreignKeys(
    std::vector<std::pair<std::string, std::string>>& report,
    const std::vector<std::string>& scripted,
    const std::function<void(int percent)>& progress) const {
  std::size_t checked = 0;  // relations whose rows were read, for the progress
  std::function<void(int)> within;
  if (progress)
    within = [&](int percent) {
      progress(int((checked * 100 + std::size_t(percent)) /
                   std::max<std::size_t>(1, relations_.size())));
    };
  auto sent = [&](const std::string& name) {
    return std::any_of(scripted.begin(), scripted.end(),
                       [&](const std::string& s) { return SameName(s, name); });
  };
  std::vector<std::string> lines;
  for (const auto& r : relations_) {
    const std::size_t child = sent(r.childTable) ? find(r.childTable) : tables_.size();
    const std::size_t parent = sent(r.parentTable) ? find(r.parentTable) : tables_.size();
    if (child == tables_.size()) continue;  // its child is not sent: nothing refers to anything
    const std::string what = "relation to " + r.parentTable + " (tag " + r.childTag + " to " +
                             r.parentTag + ") is not made: ";
    auto refuse = [&](const std::string& why) {
      report.emplace_back(tables_[child].name, what + why);
    };
    if (parent == tables_.size()) {
      refuse(r.parentTable + " is not sent with it");
      continue;
    }
    auto tagOf = [](const vfp::TableSchema& t, const std::string& name) -> const vfp::TagSchema* {
      for (const auto& tag : t.tags)
        if (SameName(tag.name, name)) return &tag;
      return nullptr;
    };
    const auto* ct = tagOf(tables_[child], r.childTag);
    const auto* pt = tagOf(tables_[parent], r.parentTag);
    if (!ct || !pt) {
      refuse("a tag it names is not in the table's index");
      continue;
    }
    const TagColumns cc = ColumnsOfTag(*ct, tables_[child]);
    const TagColumns pc = ColumnsOfTag(*pt, tables_[parent]);
    if (!cc.unexpressed.empty() || !pc.unexpressed.empty()) {
      refuse(!cc.unexpressed.empty() ? cc.unexpressed : pc.unexpressed);
      continue;
    }
    if (cc.columns.size() != pc.columns.size()) {
      refuse("its keys have different numbers of fields");
      continue;
    }
    if (pt->kind != vfp::TagKind::Primary && pt->kind != vfp::TagKind::Candidate) {
      refuse("the parent's tag is not a primary or candidate key");
      continue;
    }
    std::string why;
    try {
      why = orphans(child, cc.columns, parent, pc.columns, within);
    } catch (const std::exception& e) {
      why = std::string("the child's keys could not be read against the parent's: ") + e.what();
    }
    ++checked;
    if (!why.empty()) {
      refuse(why);
      continue;
    }
    std::string line = "ALTER TABLE " + Quote(names_[child]) + " ADD CONSTRAINT " +
                       Quote(KeyName(names_[child] + "_" + r.childTag)) + " FOREIGN KEY " +
                       ColumnList(cc.columns) + " REFERENCES " + Quote(names_[parent]) + " " +
                       ColumnList(pc.columns);
    // FoxPro's referential integrity letters: update, delete, insert; C cascades, R restricts,
    // I (or none) leaves it to the application, as MySQL's default NO ACTION comes closest to.
    auto rule = [&](std::size_t at, const char* on) {
      const char c =
          at < r.rules.size() ? char(std::toupper(static_cast<unsigned char>(r.rules[at]))) : ' ';
      if (c == 'C') line += std::string(" ON ") + on + " CASCADE";
      if (c == 'R') line += std::string(" ON ") + on + " RESTRICT";
    };
    rule(1, "DELETE");
    rule(0, "UPDATE");
    lines.push_back(line);
  }
  return lines;
}

std::string TypedMySqlScript::orphans(std::size_t child,
                                      const std::vector<std::string>& childColumns,
                                      std::size_t parent,
                                      const std::vector<std::string>& parentColumns,
                                      const std::function<void(int percent)>& progress) const {
  // The header's field of each key column, and whether MySQL compares it ignoring case: the
  // child's columns compare as the parent's (chooseBinaryColumns).
  auto headerFields = [&](std::size_t table, const std::vector<std::string>& columns,
                          const vfp::Table& t) {
    std::vector<std::size_t> out;
    for (const auto& c : columns) {
      const auto k = FieldNamed(tables_[table], c);
      if (!k || *k >= t.userFields().size())
        throw vfp::Error("the key field " + c + " of " + tables_[table].name +
                         " is not in its table");
      out.push_back(std::size_t(t.userFields()[*k]));
    }
    return out;
  };
  std::vector<bool> foldCase;
  for (const auto& c : parentColumns) {
    const auto k = FieldNamed(tables_[parent], c);
    foldCase.push_back(k && IsCharacter(tables_[parent].fields[*k]) && !binary_[parent][*k]);
  }
  const vfp::Table p(tables_[parent].path), ch(tables_[child].path);
  const auto pf = headerFields(parent, parentColumns, p),
             cf = headerFields(child, childColumns, ch);
  const std::uint64_t total = std::uint64_t(p.recordCount()) + ch.recordCount();
  std::uint64_t done = 0;
  constexpr std::uint32_t kRecordsPerProgress = 8192;
  auto tick = [&] {
    if (++done % kRecordsPerProgress == 0 && progress) progress(int(done * 100 / total));
  };
  auto keyOf = [&](const vfp::Table& t, const std::uint8_t* rec,
                   const std::vector<std::size_t>& fields, vfp::Value& v, std::string& key) {
    key.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      t.decodeField(rec, fields[i], v);
      if (!AppendKeyPart(v, foldCase[i], key)) return false;
    }
    return true;
  };

  std::unordered_set<std::string> parents;
  parents.reserve(p.recordCount());
  vfp::Value v;
  std::string key;
  {
    vfp::RecordScanner scan(p);
    while (const std::uint8_t* rec = scan.nextLive()) {
      tick();
      if (keyOf(p, rec, pf, v, key)) parents.insert(key);
    }
  }
  std::string first;
  long long count = 0;
  vfp::RecordScanner scan(ch);
  while (const std::uint8_t* rec = scan.nextLive()) {
    tick();
    if (!keyOf(ch, rec, cf, v, key) || parents.count(key)) continue;
    if (!count++)
      first =
          "record " + std::to_string(scan.recno() + 1) + " has the key " + ShownKey(ch, rec, cf);
  }
  if (!count) return {};
  return first + ", which no row of " + tables_[parent].name + " has" +
         (count == 2  ? " (and 1 more row with such a key)"
          : count > 2 ? " (and " + std::to_string(count - 1) + " more rows with such keys)"
                      : "") +
         "; MySQL would refuse the FOREIGN KEY";
}

}  // namespace transfer
