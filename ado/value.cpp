#include "ado/value.h"

#include <charconv>
#include <climits>
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

namespace {

// n decimal digits of v, zero-padded; more digits when v needs them. A damaged file can give
// a negative year or day, which keeps its sign rather than turning into other characters.
void AppendDigits(std::string& out, long v, int n) {
  if (v < 0) {
    out += '-';
    v = v == LONG_MIN ? 0 : -v;
  }
  char buffer[24];
  int k = sizeof buffer;
  do {
    buffer[--k] = char('0' + v % 10);
    v /= 10;
  } while ((v > 0 || sizeof buffer - std::size_t(k) < std::size_t(n)) && k > 0);
  out.append(buffer + k, sizeof buffer - std::size_t(k));
}

// Two digits of v (0 <= v < 100) at p.
void PutTwoDigits(char* p, int v) {
  p[0] = char('0' + v / 10);
  p[1] = char('0' + v % 10);
}

}  // namespace

void appendTime(std::string& out, const Time& t) {
  if (t.hour >= 0 && t.hour < 100 && t.minute >= 0 && t.minute < 100 && t.second >= 0 &&
      t.second < 100 && t.microsecond == 0) {
    // Nearly every time: one append.
    char text[8] = {0, 0, ':', 0, 0, ':', 0, 0};
    PutTwoDigits(text, t.hour);
    PutTwoDigits(text + 3, t.minute);
    PutTwoDigits(text + 6, t.second);
    if (t.negative) out += '-';
    out.append(text, 8);
    return;
  }
  if (t.negative) out += '-';
  AppendDigits(out, t.hour, 2);
  out += ':';
  AppendDigits(out, t.minute, 2);
  out += ':';
  AppendDigits(out, t.second, 2);
  if (t.microsecond) {
    out += '.';
    AppendDigits(out, t.microsecond, 6);
  }
}

void appendDate(std::string& out, const Date& d) {
  if (d.year >= 0 && d.year < 10000 && d.month >= 0 && d.month < 100 && d.day >= 0 && d.day < 100) {
    char text[10] = {0, 0, 0, 0, '-', 0, 0, '-', 0, 0};
    PutTwoDigits(text, d.year / 100);
    PutTwoDigits(text + 2, d.year % 100);
    PutTwoDigits(text + 5, d.month);
    PutTwoDigits(text + 8, d.day);
    out.append(text, 10);
    return;
  }
  AppendDigits(out, d.year, 4);
  out += '-';
  AppendDigits(out, d.month, 2);
  out += '-';
  AppendDigits(out, d.day, 2);
}

std::string formatDate(const Date& d) {
  std::string out;
  appendDate(out, d);
  return out;
}

std::string formatTime(const Time& t) {
  std::string out;
  appendTime(out, t);
  return out;
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
  const auto r = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d),
                                        std::chars_format::scientific)
                        : std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  const char* const end = r.ptr;
  const char* e = buf;
  while (e < end && *e != 'e') ++e;
  if (e == end) return std::string(buf, std::size_t(end - buf));  // inf, nan
  const char* p = buf;
  const bool negative = *p == '-';
  if (negative) ++p;
  // Numbers are printed in millions of rows: the digits are gathered without allocating.
  char digits[40];
  std::size_t n = 0;
  for (; p < e; ++p)
    if (*p != '.') digits[n++] = *p;
  const char* x = e + 1;
  const bool negativeExponent = *x == '-';
  if (*x == '-' || *x == '+') ++x;
  int exponent = 0;
  std::from_chars(x, end, exponent);
  if (negativeExponent) exponent = -exponent;
  if (n == 1 && digits[0] == '0') return "0";
  std::string out;
  if (negative) out += '-';
  // As the server prints: plain digits from 1e-15 up to below 1e15, else 1.5e20 / 1e-16.
  if (exponent >= -15 && exponent < 15) {
    if (exponent < 0) {
      out += "0.";
      out.append(std::size_t(-exponent - 1), '0');
      out.append(digits, n);
    } else if (std::size_t(exponent) + 1 >= n) {
      out.append(digits, n);
      out.append(std::size_t(exponent) + 1 - n, '0');
    } else {
      out.append(digits, std::size_t(exponent) + 1);
      out += '.';
      out.append(digits + exponent + 1, n - std::size_t(exponent) - 1);
    }
    return out;
  }
  out += digits[0];
  if (n > 1) {
    out += '.';
    out.append(digits + 1, n - 1);
  }
  out += 'e';
  out += std::to_string(exponent);
  return out;
}

}  // namespace ado
