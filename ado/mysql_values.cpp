// The MySQL backend's values: the type table of result columns, values read from the text
// protocol, values bound to statement parameters, and quoted names.
#include <algorithm>

#include "ado/mysql_internal.h"
#include "ado/mysql_session.h"

namespace ado {

namespace {

constexpr unsigned kBinaryCharset = 63;  // charsetnr of binary strings

int digits(std::string_view text, std::size_t pos, std::size_t count) {
  int v = 0;
  for (std::size_t i = pos; i < pos + count && i < text.size(); ++i)
    v = v * 10 + (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : 0);
  return v;
}

Date parseDate(std::string_view t) {  // YYYY-MM-DD
  return Date{digits(t, 0, 4), digits(t, 5, 2), digits(t, 8, 2)};
}

Time parseTime(std::string_view t) {  // [-]H..H:MM:SS[.ffffff]
  Time out;
  if (!t.empty() && t.front() == '-') {
    out.negative = true;
    t.remove_prefix(1);
  }
  auto c1 = t.find(':');
  if (c1 == std::string_view::npos) return out;
  out.hour = digits(t, 0, c1);
  out.minute = digits(t, c1 + 1, 2);
  out.second = digits(t, c1 + 4, 2);
  auto dot = t.find('.', c1);
  if (dot != std::string_view::npos) {
    std::string frac(t.substr(dot + 1, 6));
    frac.resize(6, '0');
    out.microsecond = digits(frac, 0, 6);
  }
  return out;
}

}  // namespace

std::string quoteMySqlName(std::string_view name) {
  std::string out = "`";
  for (char c : name) {
    out += c;
    if (c == '`') out += '`';
  }
  return out + "`";
}

std::string quoteMySqlText(std::string_view text) {
  std::string out = "'";
  out.reserve(text.size() + 2);
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      case '\x1a':
        out += "\\Z";
        break;
      default:
        out += c;
    }
  }
  return out + "'";
}

// ---- type table -------------------------------------------------------------------------------

FieldInfo mysqlFieldInfo(const MYSQL_FIELD& f) {
  FieldInfo info;
  info.name = f.name ? std::string(f.name, f.name_length) : std::string();
  info.nullable = (f.flags & NOT_NULL_FLAG) == 0;
  const bool isUnsigned = (f.flags & UNSIGNED_FLAG) != 0;
  const bool binary = f.charsetnr == kBinaryCharset;
  // Text lengths come in bytes of the result's character set; the declared width is in characters.
  unsigned maxBytesPerChar = 1;
  if (!binary)
    if (const auto* cs = mariadb_get_charset_by_nr(f.charsetnr); cs && cs->char_maxlen > 0)
      maxBytesPerChar = cs->char_maxlen;
  info.definedSize = static_cast<long long>(f.length / maxBytesPerChar);

  switch (f.type) {
    case MYSQL_TYPE_TINY:
      info.type = isUnsigned ? adUnsignedTinyInt : adTinyInt;
      break;
    case MYSQL_TYPE_SHORT:
      info.type = isUnsigned ? adUnsignedSmallInt : adSmallInt;
      break;
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
      info.type = isUnsigned ? adUnsignedInt : adInteger;
      break;
    case MYSQL_TYPE_LONGLONG:
      info.type = isUnsigned ? adUnsignedBigInt : adBigInt;
      break;
    case MYSQL_TYPE_YEAR:
      info.type = adSmallInt;
      break;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL: {
      info.type = adNumeric;
      info.scale = static_cast<int>(f.decimals);
      // The display length counts a sign (unless unsigned) and a decimal point (when scaled).
      long long precision =
          static_cast<long long>(f.length) - (f.decimals > 0 ? 1 : 0) - (isUnsigned ? 0 : 1);
      info.precision = static_cast<int>(std::max<long long>(precision, info.scale));
      info.definedSize = info.precision;
      break;
    }
    case MYSQL_TYPE_FLOAT:
      info.type = adSingle;
      break;
    case MYSQL_TYPE_DOUBLE:
      info.type = adDouble;
      break;
    case MYSQL_TYPE_BIT:
      info.type = f.length == 1 ? adBoolean : adBinary;
      info.definedSize = static_cast<long long>((f.length + 7) / 8);
      break;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
      info.type = adDBDate;
      break;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_TIME2:
      info.type = adDBTime;
      break;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIMESTAMP2:
      info.type = adDBTimeStamp;
      break;
    case MYSQL_TYPE_STRING:  // CHAR, BINARY, ENUM, SET
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
      info.type = binary ? adBinary : adWChar;
      break;
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
      info.type = binary ? adVarBinary : adVarWChar;
      break;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_JSON:
      info.type = binary ? adLongVarBinary : adLongVarWChar;
      break;
    case MYSQL_TYPE_GEOMETRY:
      info.type = adLongVarBinary;
      break;
    default:  // NULL literal columns and anything newer: text is the safest carrier
      info.type = adVarWChar;
      break;
  }
  return info;
}

namespace mysql_detail {

// ---- decoding the text protocol ---------------------------------------------------------------

Value decodeText(const FieldInfo& info, const char* data, unsigned long length) {
  if (!data) return Value::null();
  std::string_view text(data, length);
  switch (info.type) {
    case adTinyInt:
    case adSmallInt:
    case adInteger:
    case adBigInt: {
      std::int64_t v = 0;
      if (parseNumber(text, v)) return Value::fromInt(v);
      break;
    }
    case adUnsignedTinyInt:
    case adUnsignedSmallInt:
    case adUnsignedInt:
    case adUnsignedBigInt: {
      std::uint64_t v = 0;
      if (parseNumber(text, v)) return Value::fromUInt(v);
      break;
    }
    case adSingle:
    case adDouble: {
      double v = 0;
      if (parseNumber(text, v)) return Value::fromDouble(v);
      break;
    }
    case adNumeric:
      return Value::fromDecimal(std::string(text));
    case adBoolean:  // BIT(1) arrives as one raw byte
      return Value::fromBool(std::any_of(text.begin(), text.end(), [](char c) { return c != 0; }));
    case adDBDate:
      return Value::fromDate(parseDate(text));
    case adDBTime:
      return Value::fromTime(parseTime(text));
    case adDBTimeStamp:
      return Value::fromDateTime(DateTime{
          parseDate(text), parseTime(text.substr(std::min<std::size_t>(11, text.size())))});
    case adBinary:
    case adVarBinary:
    case adLongVarBinary:
      return Value::fromBytes(std::string(text));
    default:
      return Value::fromText(std::string(text));
  }
  // A number the server sent in a form we do not read: keep its text rather than lose it.
  return Value::fromText(std::string(text));
}

// ---- binding values to statement parameters ---------------------------------------------------

void ParamBuffers::bind(const std::vector<Value>& values) {
  binds.assign(values.size(), MYSQL_BIND{});
  for (std::size_t i = 0; i < values.size(); ++i) bindOne(binds[i], values[i]);
}

void ParamBuffers::bindString(MYSQL_BIND& b, enum_field_types type, const std::string& s) {
  strings.push_back(s);
  lengths.push_back(static_cast<unsigned long>(s.size()));
  b.buffer_type = type;
  b.buffer = strings.back().data();
  b.buffer_length = lengths.back();
  b.length = &lengths.back();
}

void ParamBuffers::bindInteger(MYSQL_BIND& b, std::int64_t v, bool isUnsigned) {
  ints.push_back(v);
  b.buffer_type = MYSQL_TYPE_LONGLONG;
  b.buffer = &ints.back();
  b.is_unsigned = isUnsigned ? 1 : 0;
}

MYSQL_TIME& ParamBuffers::time(enum_mysql_timestamp_type kind) {
  times.push_back(MYSQL_TIME{});
  times.back().time_type = kind;
  return times.back();
}

void ParamBuffers::bindOne(MYSQL_BIND& b, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null:
      b.buffer_type = MYSQL_TYPE_NULL;
      return;
    case Value::Kind::Bool:
      return bindInteger(b, v.asBool() ? 1 : 0, false);
    case Value::Kind::Int:
      return bindInteger(b, v.asInt(), false);
    case Value::Kind::UInt:
      return bindInteger(b, static_cast<std::int64_t>(v.asUInt()), true);
    case Value::Kind::Double:
      doubles.push_back(v.asDouble());
      b.buffer_type = MYSQL_TYPE_DOUBLE;
      b.buffer = &doubles.back();
      return;
    case Value::Kind::Decimal:
      bindString(b, MYSQL_TYPE_NEWDECIMAL, v.asString());
      return;
    case Value::Kind::Text:
      bindString(b, MYSQL_TYPE_STRING, v.asString());
      return;
    case Value::Kind::Bytes:  // the server takes blob parameters as binary, unconverted
      bindString(b, MYSQL_TYPE_BLOB, v.asString());
      return;
    case Value::Kind::Date: {
      auto d = v.asDate();
      auto& t = time(MYSQL_TIMESTAMP_DATE);
      t.year = static_cast<unsigned>(d.year);
      t.month = static_cast<unsigned>(d.month);
      t.day = static_cast<unsigned>(d.day);
      b.buffer_type = MYSQL_TYPE_DATE;
      b.buffer = &t;
      return;
    }
    case Value::Kind::Time: {
      auto tm = v.asTime();
      auto& t = time(MYSQL_TIMESTAMP_TIME);
      t.neg = tm.negative;
      t.hour = static_cast<unsigned>(tm.hour);
      t.minute = static_cast<unsigned>(tm.minute);
      t.second = static_cast<unsigned>(tm.second);
      t.second_part = static_cast<unsigned long>(tm.microsecond);
      b.buffer_type = MYSQL_TYPE_TIME;
      b.buffer = &t;
      return;
    }
    case Value::Kind::DateTime: {
      auto dt = v.asDateTime();
      auto& t = time(MYSQL_TIMESTAMP_DATETIME);
      t.year = static_cast<unsigned>(dt.date.year);
      t.month = static_cast<unsigned>(dt.date.month);
      t.day = static_cast<unsigned>(dt.date.day);
      t.hour = static_cast<unsigned>(dt.time.hour);
      t.minute = static_cast<unsigned>(dt.time.minute);
      t.second = static_cast<unsigned>(dt.time.second);
      t.second_part = static_cast<unsigned long>(dt.time.microsecond);
      b.buffer_type = MYSQL_TYPE_DATETIME;
      b.buffer = &t;
      return;
    }
  }
}

}  // namespace mysql_detail

}  // namespace ado
