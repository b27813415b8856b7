// A database value as the data-access layer hands it out: SQL NULL, a number, exact decimal
// text, UTF-8 text, raw bytes, or a date/time. Both backends produce these; the transfers
// consume them, so the kinds and their text forms are a contract between the two sides.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace ado {

struct Date {
  int year = 0;  // 0000-00-00 is a legal MySQL "zero date" and is kept as such
  int month = 0;
  int day = 0;
  auto operator<=>(const Date&) const = default;
};

struct Time {
  bool negative = false;  // MySQL TIME spans -838:59:59 .. 838:59:59
  int hour = 0;           // may exceed 23 for a MySQL TIME
  int minute = 0;
  int second = 0;
  int microsecond = 0;
  auto operator<=>(const Time&) const = default;
};

struct DateTime {
  Date date;
  Time time;  // never negative, hour 0..23
  auto operator<=>(const DateTime&) const = default;
};

class Value {
 public:
  enum class Kind { Null, Bool, Int, UInt, Double, Decimal, Text, Bytes, Date, Time, DateTime };

  Value() = default;  // null

  static Value null() { return Value(); }
  static Value fromBool(bool b);
  static Value fromInt(std::int64_t i);
  static Value fromUInt(std::uint64_t u);
  static Value fromDouble(double d);
  // Exact decimal text such as "-12.50": never routed through a double.
  static Value fromDecimal(std::string text);
  static Value fromText(std::string utf8);
  static Value fromBytes(std::string bytes);
  static Value fromDate(Date d);
  static Value fromTime(Time t);
  static Value fromDateTime(DateTime dt);

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }

  // Typed access; each throws std::logic_error when the kind does not match.
  bool asBool() const;
  std::int64_t asInt() const;
  std::uint64_t asUInt() const;
  double asDouble() const;
  const std::string& asString() const;  // Decimal, Text and Bytes
  Date asDate() const;
  Time asTime() const;
  DateTime asDateTime() const;

  // The form the MySQL command-line client prints: decimals exactly, dates YYYY-MM-DD,
  // date-times YYYY-MM-DD hh:mm:ss[.ffffff], booleans 1/0, doubles in shortest round-trip
  // form, bytes unchanged. NULL gives the empty text.
  std::string toText() const;

  bool operator==(const Value& other) const;

 private:
  Kind kind_ = Kind::Null;
  union {
    bool b;
    std::int64_t i;
    std::uint64_t u;
    double d;
  } n_{};
  DateTime when_;  // Date uses its date part, Time its time part
  std::string s_;
};

// A double as the MySQL server prints it (plain digits from 1e-15 up to below 1e15, else
// 1.5e20 or 1e-16), with the shortest digits that read back to the same value; single reads
// it as the FLOAT it came from, so 3.4e38 stays 3.4e38.
std::string formatDouble(double d, bool single = false);
// Dates and times in the server's own text forms: 2024-02-29, -838:59:59.000001 (fractions
// only when there are some), the two joined by a blank. The append forms add to `out` without
// a temporary string, for loops that write a value per row.
std::string formatDate(const Date& d);
std::string formatTime(const Time& t);
std::string formatDateTime(const DateTime& dt);
void appendDate(std::string& out, const Date& d);
void appendTime(std::string& out, const Time& t);

}  // namespace ado
