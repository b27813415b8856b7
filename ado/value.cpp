#include "ado/value.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace ado {

namespace {
[[noreturn]] void wrongKind(const char* wanted) {
  throw std::logic_error(std::string("value is not of kind ") + wanted);
}
}  // namespace

Value Value::fromBool(bool b) {
  Value v;
  v.kind_ = Kind::Bool;
  v.n_.b = b;
  return v;
}
Value Value::fromInt(std::int64_t i) {
  Value v;
  v.kind_ = Kind::Int;
  v.n_.i = i;
  return v;
}
Value Value::fromUInt(std::uint64_t u) {
  Value v;
  v.kind_ = Kind::UInt;
  v.n_.u = u;
  return v;
}
Value Value::fromDouble(double d) {
  Value v;
  v.kind_ = Kind::Double;
  v.n_.d = d;
  return v;
}
Value Value::fromDecimal(std::string text) {
  Value v;
  v.kind_ = Kind::Decimal;
  v.s_ = std::move(text);
  return v;
}
Value Value::fromText(std::string utf8) {
  Value v;
  v.kind_ = Kind::Text;
  v.s_ = std::move(utf8);
  return v;
}
Value Value::fromBytes(std::string bytes) {
  Value v;
  v.kind_ = Kind::Bytes;
  v.s_ = std::move(bytes);
  return v;
}
Value Value::fromDate(Date d) {
  Value v;
  v.kind_ = Kind::Date;
  v.when_.date = d;
  return v;
}
Value Value::fromTime(Time t) {
  Value v;
  v.kind_ = Kind::Time;
  v.when_.time = t;
  return v;
}
Value Value::fromDateTime(DateTime dt) {
  Value v;
  v.kind_ = Kind::DateTime;
  v.when_ = dt;
  return v;
}

bool Value::asBool() const {
  if (kind_ != Kind::Bool) wrongKind("Bool");
  return n_.b;
}
std::int64_t Value::asInt() const {
  if (kind_ != Kind::Int) wrongKind("Int");
  return n_.i;
}
std::uint64_t Value::asUInt() const {
  if (kind_ != Kind::UInt) wrongKind("UInt");
  return n_.u;
}
double Value::asDouble() const {
  if (kind_ != Kind::Double) wrongKind("Double");
  return n_.d;
}
const std::string& Value::asString() const {
  if (kind_ != Kind::Decimal && kind_ != Kind::Text && kind_ != Kind::Bytes)
    wrongKind("Decimal, Text or Bytes");
  return s_;
}
Date Value::asDate() const {
  if (kind_ != Kind::Date) wrongKind("Date");
  return when_.date;
}
Time Value::asTime() const {
  if (kind_ != Kind::Time) wrongKind("Time");
  return when_.time;
}
DateTime Value::asDateTime() const {
  if (kind_ != Kind::DateTime) wrongKind("DateTime");
  return when_;
}

std::string formatDate(const Date& d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::string formatTime(const Time& t) {
  char buf[40];
  int n = std::snprintf(buf, sizeof buf, "%s%02d:%02d:%02d", t.negative ? "-" : "", t.hour,
                        t.minute, t.second);
  if (t.microsecond != 0)
    std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ".%06d", t.microsecond);
  return buf;
}

std::string formatDateTime(const DateTime& dt) {
  return formatDate(dt.date) + " " + formatTime(dt.time);
}

std::string Value::toText() const {
  switch (kind_) {
    case Kind::Null:
      return {};
    case Kind::Bool:
      return n_.b ? "1" : "0";
    case Kind::Int:
      return std::to_string(n_.i);
    case Kind::UInt:
      return std::to_string(n_.u);
    case Kind::Double:
      return formatDouble(n_.d);
    case Kind::Decimal:
    case Kind::Text:
    case Kind::Bytes:
      return s_;
    case Kind::Date:
      return formatDate(when_.date);
    case Kind::Time:
      return formatTime(when_.time);
    case Kind::DateTime:
      return formatDateTime(when_);
  }
  return {};
}

bool Value::operator==(const Value& o) const {
  if (kind_ != o.kind_) return false;
  switch (kind_) {
    case Kind::Null:
      return true;
    case Kind::Bool:
      return n_.b == o.n_.b;
    case Kind::Int:
      return n_.i == o.n_.i;
    case Kind::UInt:
      return n_.u == o.n_.u;
    case Kind::Double:
      return n_.d == o.n_.d;
    case Kind::Decimal:
    case Kind::Text:
    case Kind::Bytes:
      return s_ == o.s_;
    case Kind::Date:
      return when_.date == o.when_.date;
    case Kind::Time:
      return when_.time == o.when_.time;
    case Kind::DateTime:
      return when_ == o.when_;
  }
  return false;
}

}  // namespace ado

namespace ado {

std::string formatDouble(double d, bool single) {
  char buf[64];
  // The shortest digits that read back to the same value, in scientific form d.ddde±x.
  auto r = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d),
                                  std::chars_format::scientific)
                  : std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string sci(buf, r.ptr);
  const auto e = sci.find('e');
  if (e == std::string::npos) return sci;  // inf, nan
  std::string out;
  std::size_t i = 0;
  if (sci[0] == '-') {
    out += '-';
    i = 1;
  }
  std::string digits;
  for (std::size_t k = i; k < e; ++k)
    if (sci[k] != '.') digits += sci[k];
  const int exponent = std::stoi(sci.substr(e + 1));
  if (digits == "0") return "0";
  // As the server prints: plain digits from 1e-15 up to below 1e15, else 1.5e20 / 1e-16.
  if (exponent >= -15 && exponent < 15) {
    if (exponent < 0) {
      out += "0." + std::string(std::size_t(-exponent - 1), '0') + digits;
    } else if (std::size_t(exponent) + 1 >= digits.size()) {
      out += digits + std::string(std::size_t(exponent) + 1 - digits.size(), '0');
    } else {
      out += digits.substr(0, std::size_t(exponent) + 1) + "." +
             digits.substr(std::size_t(exponent) + 1);
    }
    return out;
  }
  out += digits.substr(0, 1);
  if (digits.size() > 1) out += "." + digits.substr(1);
  return out + "e" + std::to_string(exponent);
}

}  // namespace ado
