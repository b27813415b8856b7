#include "transfer/typed_foxpro.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "ado/dataaccess.h"
#include "ado/mysql_session.h"
#include "transfer/foxpro_script.h"
#include "vfp/file.h"

namespace transfer {

namespace {

constexpr std::uint32_t kCharacterWidth = 254;  // widest C or V field
constexpr std::uint32_t kNumericWidth = 20;     // widest N field
constexpr std::uint32_t kNumericDecimals = 18;
constexpr std::size_t kKeyLength = 240;  // bytes of one index key
constexpr std::size_t kTagName = 10;

// A text as a MySQL expression that cannot be read as anything but that text, whatever the
// server's SQL mode: its bytes in hexadecimal, converted to the connection's character set.
std::string TextLiteral(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (text.empty()) return "''";
  std::string out = "CONVERT(0x";
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out + " USING utf8mb4)";
}

using Rows = std::vector<std::vector<std::optional<std::string>>>;

long long Number(const std::optional<std::string>& text, long long none = -1) {
  if (!text || text->empty()) return none;
  try {
    return std::stoll(*text);
  } catch (const std::exception&) {
    return none;
  }
}

std::string Lower(std::string s) { return vfp::toLowerAscii(s); }

bool SameName(const std::string& a, const std::string& b) { return vfp::equalsNoCase(a, b); }

// Bytes one character of the code page may take: two in the double-byte Asian pages.
std::uint32_t BytesPerCharacter(int codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 ? 2 : 1;
}

void AppendDate(std::string& out, const ado::Date& d) {
  out += "{^";
  ado::appendDate(out, d);
}

// FoxPro's date-times and times hold whole seconds; the caller counts the fractions dropped.
void AppendClock(std::string& out, const ado::Time& t) {
  ado::appendTime(out, {t.negative, t.hour, t.minute, t.second, 0});
}

}  // namespace

MySqlTableShape ReadMySqlTableShape(ado::Connection& mysql, const std::string& table) {
  ado::MySqlSession* session = ado::mysqlSessionOf(mysql);
  if (!session) throw ado::DataAccessError("the connection is not open to a MySQL server");
  const std::string where =
      " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = " + TextLiteral(table);
  MySqlTableShape shape;

  for (const auto& r :
       session->query("SELECT COLUMN_NAME, DATA_TYPE, COLUMN_TYPE, CHARACTER_MAXIMUM_LENGTH, "
                      "NUMERIC_PRECISION, NUMERIC_SCALE, DATETIME_PRECISION, IS_NULLABLE, EXTRA, "
                      "CHARACTER_SET_NAME FROM information_schema.COLUMNS" +
                      where + " ORDER BY ORDINAL_POSITION")) {
    MySqlColumnShape c;
    c.name = r[0].value_or("");
    c.dataType = Lower(r[1].value_or(""));
    c.columnType = Lower(r[2].value_or(""));
    c.characters = Number(r[3]);
    c.precision = int(Number(r[4]));
    c.scale = int(Number(r[5]));
    c.fraction = int(Number(r[6], 0));
    c.nullable = r[7].value_or("") == "YES";
    c.autoIncrement = Lower(r[8].value_or("")).find("auto_increment") != std::string::npos;
    c.isUnsigned = c.columnType.find("unsigned") != std::string::npos;
    static const std::set<std::string> kBytes = {"binary", "varbinary",  "tinyblob",
                                                 "blob",   "mediumblob", "longblob"};
    c.binary = kBytes.count(c.dataType) > 0 || r[9].value_or("") == "binary";
    shape.columns.push_back(std::move(c));
  }
  if (shape.columns.empty())
    throw ado::DataAccessError("information_schema lists no columns of table " + table);

  for (const auto& r :
       session->query("SELECT INDEX_NAME, NON_UNIQUE, COLUMN_NAME, SUB_PART FROM "
                      "information_schema.STATISTICS" +
                      where + " ORDER BY INDEX_NAME <> 'PRIMARY', INDEX_NAME, SEQ_IN_INDEX")) {
    const std::string name = r[0].value_or("");
    if (shape.indexes.empty() || shape.indexes.back().name != name) {
      MySqlIndexShape i;
      i.name = name;
      i.primary = name == "PRIMARY";
      i.unique = r[1].value_or("1") == "0";
      shape.indexes.push_back(std::move(i));
    }
    auto& i = shape.indexes.back();
    if (!r[2]) i.functional = true;
    i.columns.push_back(r[2].value_or(""));
    if (r[3]) i.prefix = true;
  }

  for (const auto& r : session->query(
           "SELECT CONSTRAINT_NAME, COLUMN_NAME, REFERENCED_TABLE_NAME, REFERENCED_COLUMN_NAME "
           "FROM information_schema.KEY_COLUMN_USAGE" +
           where +
           " AND REFERENCED_TABLE_NAME IS NOT NULL AND REFERENCED_TABLE_SCHEMA = DATABASE() "
           "ORDER BY CONSTRAINT_NAME, ORDINAL_POSITION")) {
    const std::string name = r[0].value_or("");
    if (shape.foreignKeys.empty() || shape.foreignKeys.back().name != name) {
      MySqlForeignKeyShape k;
      k.name = name;
      k.parent = r[2].value_or("");
      shape.foreignKeys.push_back(std::move(k));
    }
    shape.foreignKeys.back().columns.push_back(r[1].value_or(""));
    shape.foreignKeys.back().parentColumns.push_back(r[3].value_or(""));
  }

  const Rows next = session->query("SELECT AUTO_INCREMENT FROM information_schema.TABLES" + where);
  if (!next.empty() && next[0][0]) {
    try {
      shape.autoIncrementNext = std::stoull(*next[0][0]);
    } catch (const std::exception&) {
    }
  }
  return shape;
}

TypedField MapMySqlColumn(const MySqlColumnShape& c, int codePage, std::size_t timeWidth) {
  TypedField f;
  f.nullable = c.nullable;
  const std::string& t = c.dataType;
  auto text = [&](char type, long long characters) {
    const long long bytes = std::max(1LL, characters) * BytesPerCharacter(codePage);
    if (characters >= 0 && bytes <= kCharacterWidth) {
      f.type = type;
      f.width = std::uint32_t(bytes);
    } else {
      f.type = 'M';
    }
    f.literal = TypedLiteral::Text;
  };
  auto number = [&](char type, std::uint32_t width = 0, std::uint8_t decimals = 0) {
    f.type = type;
    f.width = width;
    f.decimals = decimals;
    f.literal = TypedLiteral::Number;
  };

  if (t == "tinyint" && c.columnType.rfind("tinyint(1)", 0) == 0 && !c.isUnsigned &&
      !c.autoIncrement) {
    f.type = 'L';
    f.literal = TypedLiteral::Logical;
  } else if (t == "tinyint" || t == "smallint" || t == "mediumint" || t == "year" ||
             (t == "int" && !c.isUnsigned)) {
    number('I');
  } else if (t == "int") {
    number('N', 10);  // up to 4294967295: beyond FoxPro's 32-bit Integer
  } else if (t == "bigint") {
    number('N', 20);
  } else if (t == "decimal" || t == "numeric") {
    const int scale = std::max(0, c.scale);
    const int whole = std::max(1, c.precision - scale);
    const std::uint32_t width =
        std::uint32_t(whole + (scale > 0 ? scale + 1 : 0) + (c.isUnsigned ? 0 : 1));
    if (width <= kNumericWidth && scale <= int(kNumericDecimals) &&
        (scale == 0 || std::uint32_t(scale) + 2 <= width)) {
      number('N', width, std::uint8_t(scale));
      // Said because the field is wider than the DECIMAL's digits, so a table sent there and
      // back (N(8,2) -> DECIMAL(10,2) -> N(12,2)) returns wider than it left.
      if (width != std::uint32_t(c.precision))
        f.note = "DECIMAL(" + std::to_string(c.precision) + "," + std::to_string(scale) +
                 ") needs " + std::to_string(width) + " characters with its sign and point";
    } else if (scale <= 4 && whole <= 15) {
      // DECIMAL(19,4), what a FoxPro Currency field becomes in MySQL: Currency keeps its four
      // decimals exactly, where a Double would round the nineteenth digit away.
      number('Y');
      if (whole == 15)
        f.note = "DECIMAL(" + std::to_string(c.precision) + "," + std::to_string(scale) +
                 ") as Currency (Y): values beyond 922337203685477.5807 either way do not fit";
    } else {
      number('B', 0, std::uint8_t(std::min<int>(scale, kNumericDecimals)));
      f.note = "DECIMAL(" + std::to_string(c.precision) + "," + std::to_string(scale) + ") needs " +
               std::to_string(width) +
               " characters, more than FoxPro's numeric field holds: a Double (B), which keeps "
               "about 15 significant digits";
    }
  } else if (t == "float" || t == "double" || t == "real") {
    number('B', 0, std::uint8_t(std::clamp(c.scale, 0, int(kNumericDecimals))));
  } else if (t == "bit") {
    if (c.precision == 1) {
      f.type = 'L';
      f.literal = TypedLiteral::Logical;
    } else {
      f.type = 'M';
      f.binary = true;
      f.literal = TypedLiteral::Bytes;
    }
  } else if (t == "date") {
    f.type = 'D';
    f.literal = TypedLiteral::Date;
  } else if (t == "datetime" || t == "timestamp") {
    f.type = 'T';
    f.literal = TypedLiteral::DateTime;
    if (c.fraction > 0) f.note = "FoxPro keeps whole seconds: fractions of a second are lost";
  } else if (t == "time") {
    f.type = 'C';
    f.width = std::uint32_t(std::max<std::size_t>(8, timeWidth));
    f.literal = TypedLiteral::Time;
    f.note = "FoxPro has no time of day: text hh:mm:ss";
    if (c.fraction > 0) f.note += ", fractions of a second lost";
  } else if (c.binary) {
    f.type = 'M';
    f.binary = true;
    f.literal = TypedLiteral::Bytes;
  } else if (t == "char" || t == "enum" || t == "set") {
    text('C', c.characters);
  } else if (t == "varchar") {
    text('V', c.characters);
  } else {
    f.type = 'M';  // TEXT, JSON and whatever FoxPro has no type for, as text
    f.literal = TypedLiteral::Text;
  }
  if (c.autoIncrement) {
    if (f.type == 'I')
      f.autoInc = true;
    else
      f.note =
          "AUTO_INCREMENT: a FoxPro autoincrementing field is a 32-bit Integer; the values "
          "are kept, new rows get none";
  }
  return f;
}

std::string FieldTypeClause(const TypedField& f) {
  std::string out(1, f.type);
  if (f.type == 'C' || f.type == 'V' || f.type == 'N') {
    out += "(" + std::to_string(f.width);
    if (f.type == 'N' && f.decimals) out += "," + std::to_string(f.decimals);
    out += ")";
  }
  if (f.nullable) out += " NULL";
  if (f.binary) out += " NOCPTRANS";
  return out;
}

std::optional<ado::DateTime> DateTimeOf(const ado::Value& v) {
  ado::DateTime when;
  if (v.kind() == ado::Value::Kind::Date)
    when.date = v.asDate();
  else if (v.kind() == ado::Value::Kind::DateTime)
    when = v.asDateTime();
  else
    return std::nullopt;
  return when;
}

bool FoxproHoldsDate(const ado::Date& d) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  if (d.day > kDays[d.month - 1]) return false;
  const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  return !(d.month == 2 && d.day == 29 && !leap);
}

bool TypedLogical(const ado::Value& v) {
  using K = ado::Value::Kind;
  switch (v.kind()) {
    case K::Bool:
      return v.asBool();
    case K::Int:
      return v.asInt() != 0;
    case K::UInt:
      return v.asUInt() != 0;
    default: {
      const std::string s = v.kind() == K::Bytes || v.kind() == K::Text || v.kind() == K::Decimal
                                ? v.asString()
                                : v.toText();
      return s.find_first_not_of(std::string("0.\0", 3)) != std::string::npos;
    }
  }
}

std::vector<std::size_t> TypedTimeWidths(ado::Connection& mysql, const std::string& table,
                                         const MySqlTableShape& shape) {
  std::vector<std::size_t> widths(shape.columns.size(), 8);
  std::string select;
  std::vector<std::size_t> asked;
  for (std::size_t f = 0; f < shape.columns.size(); ++f) {
    if (shape.columns[f].dataType != "time") continue;
    const std::string c = ado::quoteMySqlName(shape.columns[f].name);
    select += std::string(select.empty() ? "" : ", ") + "MAX(HOUR(" + c + ")), MAX(" + c + " < 0)";
    asked.push_back(f);
  }
  if (asked.empty()) return widths;
  ado::RecordSet r(mysql.execute("SELECT " + select + " FROM " + ado::quoteMySqlName(table)));
  for (std::size_t k = 0; k < asked.size(); ++k) {
    const ado::Value hours = r.value(int(2 * k));
    const ado::Value negative = r.value(int(2 * k + 1));
    std::size_t width = 8;
    if (!hours.isNull() && std::stoll(hours.toText()) >= 100)
      width += std::to_string(std::stoll(hours.toText())).size() - 2;
    if (!negative.isNull() && negative.toText() != "0") ++width;
    widths[asked[k]] = width;
  }
  return widths;
}

void AppendTypedLiteral(std::string& out, const ado::Value& v, const TypedField& field,
                        TypedValueFacts& facts) {
  using K = ado::Value::Kind;
  if (v.isNull()) {
    out += "NULL";
    return;
  }
  switch (field.literal) {
    case TypedLiteral::Text:
    case TypedLiteral::Bytes:
      break;
    case TypedLiteral::Number:
      switch (v.kind()) {
        case K::Int:
          out += std::to_string(v.asInt());
          return;
        case K::UInt:
          out += std::to_string(v.asUInt());
          return;
        case K::Decimal:
          out += v.asString();
          return;
        case K::Double:
          out += ado::formatDouble(v.asDouble());
          return;
        case K::Bool:
          out += v.asBool() ? '1' : '0';
          return;
        default:
          break;  // a number in a form not read: its text, which the engine reads as a number
      }
      break;
    case TypedLiteral::Logical: {
      out += TypedLogical(v) ? ".T." : ".F.";
      return;
    }
    case TypedLiteral::Date:
    case TypedLiteral::DateTime: {
      const auto whenOf = DateTimeOf(v);
      if (!whenOf) break;
      const ado::DateTime& when = *whenOf;
      if (!FoxproHoldsDate(when.date)) {
        ++facts.zeroDates;
        out += "{}";
        return;
      }
      AppendDate(out, when.date);
      if (field.literal == TypedLiteral::DateTime) {
        out += ' ';
        AppendClock(out, when.time);
        if (when.time.microsecond) ++facts.fractionsLost;
      }
      out += '}';
      return;
    }
    case TypedLiteral::Time:
      if (v.kind() != K::Time) break;
      out += '\'';
      AppendClock(out, v.asTime());
      out += '\'';
      if (v.asTime().microsecond) ++facts.fractionsLost;
      return;
  }
  FoxproScript::AppendLiteral(out, v, field.literal == TypedLiteral::Bytes ? 205 : 0);
}

namespace {

// A tag name FoxPro takes: letters, digits and "_" (others become "_"), not starting with a
// digit, at most ten characters, apart from the names taken in any letter case.
std::string TagName(const std::string& wanted, std::set<std::string>& taken) {
  std::string base;
  for (char c : wanted)
    base += (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) ||
                    c == '_'
                ? c
                : '_';
  if (base.empty() || std::isdigit(static_cast<unsigned char>(base[0]))) base = "t" + base;
  for (int n = 1;; ++n) {
    const std::string suffix = n == 1 ? "" : "_" + std::to_string(n);
    const std::string name = base.substr(0, kTagName - suffix.size()) + suffix;
    if (taken.insert(vfp::toUpperAscii(name)).second) return name;
  }
}

}  // namespace

std::vector<TypedTag> PlanTypedTags(const MySqlTableShape& shape,
                                    const std::vector<TypedField>& fields,
                                    const std::vector<std::string>& fieldNames, bool container,
                                    std::vector<std::string>& report) {
  std::vector<TypedTag> tags;
  std::set<std::string> taken;
  for (const auto& index : shape.indexes) {
    const std::string what =
        index.primary ? "primary key" : (index.unique ? "unique key " : "index ") + index.name;
    auto leaveOut = [&](const std::string& why) {
      report.push_back(what + " is not sent: " + why);
    };
    if (index.functional) {
      leaveOut("it indexes an expression");
      continue;
    }
    std::vector<std::size_t> parts;
    for (const auto& column : index.columns) {
      for (std::size_t f = 0; f < shape.columns.size() && f < fields.size(); ++f)
        if (SameName(shape.columns[f].name, column)) parts.push_back(f);
    }
    if (parts.size() != index.columns.size()) {
      leaveOut("a column of it is not among the table's columns");
      continue;
    }
    std::string expression, refused;
    std::size_t length = 0;
    bool nullable = false;
    for (std::size_t f : parts) {
      const TypedField& field = fields[f];
      const std::string& name = fieldNames[f];
      nullable = nullable || field.nullable;
      if (field.type == 'M' || field.type == 'W' || field.type == 'G') {
        refused = "FoxPro cannot index the memo field " + name;
        break;
      }
      const bool alone = parts.size() == 1;
      std::string piece = name;
      std::size_t bytes = 0;
      switch (field.type) {
        case 'C':
        case 'V':
          bytes = field.width;
          break;
        case 'N':
        case 'F':
          bytes = alone ? 8 : field.width;
          if (!alone)
            piece = "STR(" + name + "," + std::to_string(field.width) + "," +
                    std::to_string(field.decimals) + ")";
          break;
        case 'I':
          bytes = alone ? 4 : 11;
          if (!alone) piece = "STR(" + name + ",11)";
          break;
        case 'B':
        case 'Y':
          bytes = alone ? 8 : 20;
          if (!alone)
            piece = "STR(" + name + ",20," +
                    std::to_string(field.type == 'Y' ? 4 : field.decimals) + ")";
          break;
        case 'D':
          bytes = 8;
          if (!alone) piece = "DTOS(" + name + ")";
          break;
        case 'T':
          bytes = alone ? 8 : 14;
          if (!alone) piece = "TTOC(" + name + ",1)";
          break;
        case 'L':
          bytes = 1;
          if (!alone) refused = "FoxPro joins no logical field " + name + " into a compound key";
          break;
      }
      if (!refused.empty()) break;
      if (!expression.empty()) expression += "+";
      expression += piece;
      length += bytes;
    }
    if (!refused.empty()) {
      leaveOut(refused);
      continue;
    }
    if (length + (nullable ? 1 : 0) > kKeyLength) {
      leaveOut("its key would be " + std::to_string(length) + " bytes, more than FoxPro's " +
               std::to_string(kKeyLength));
      continue;
    }
    TypedTag tag;
    tag.mysqlIndex = index.name;
    tag.columns = index.columns;
    tag.expression = expression;
    std::vector<std::string> changes;
    if (index.primary) {
      tag.kind = container ? TypedTag::Kind::Primary : TypedTag::Kind::Candidate;
      if (!container) changes.push_back("a free table has no primary key: a candidate tag");
    } else if (index.unique && nullable) {
      // MySQL lets any number of rows hold NULL in a unique key; a FoxPro candidate tag would
      // refuse the second one.
      tag.kind = TypedTag::Kind::Regular;
      changes.push_back(
          "a column of it takes NULL, which FoxPro's candidate tags hold once only: "
          "a regular tag");
    } else {
      tag.kind = index.unique ? TypedTag::Kind::Candidate : TypedTag::Kind::Regular;
    }
    if (index.prefix) changes.push_back("it indexed the first characters only: the whole field");
    tag.name = TagName(index.primary ? fieldNames[parts[0]] : index.name, taken);
    if (!index.primary && !SameName(tag.name, index.name))
      changes.push_back("its name does not fit FoxPro's ten characters or letters");
    const std::string kind = tag.kind == TypedTag::Kind::Primary     ? "primary tag "
                             : tag.kind == TypedTag::Kind::Candidate ? "candidate tag "
                                                                     : "tag ";
    if (index.primary || !changes.empty()) {
      std::string line =
          what + " -> " + kind + vfp::toUpperAscii(tag.name) + " (" + expression + ")";
      for (const auto& c : changes) line += "; " + c;
      report.push_back(line);
    }
    tags.push_back(std::move(tag));
  }
  return tags;
}

}  // namespace transfer
