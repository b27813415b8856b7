// One field value as the engine reads or writes it. Text is UTF-8 (already converted from the
// table's code page); Bytes are raw, for binary fields. Numbers of N/F/Y fields travel as exact
// decimal text so that no digit is lost through a double.
#pragma once

#include <cstdint>
#include <string>

namespace vfp {

struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
  bool operator==(const Date&) const = default;
};

struct DateTime {
  Date date;
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool operator==(const DateTime&) const = default;
};

struct Value {
  enum class Kind { Null, Bool, Int, Double, Decimal, Text, Bytes, Date, DateTime };

  Kind kind = Kind::Null;
  bool b = false;
  std::int64_t i = 0;
  double d = 0;
  std::string s;       // Decimal, Text and Bytes
  vfp::DateTime when;  // Date uses when.date

  bool isNull() const { return kind == Kind::Null; }
  void setNull() { kind = Kind::Null; }
  void setBool(bool v) { kind = Kind::Bool, b = v; }
  void setInt(std::int64_t v) { kind = Kind::Int, i = v; }
  void setDouble(double v) { kind = Kind::Double, d = v; }
  void setDate(const vfp::Date& v) { kind = Kind::Date, when = {v, 0, 0, 0}; }
  void setDateTime(const vfp::DateTime& v) { kind = Kind::DateTime, when = v; }
  // Text, Decimal and Bytes reuse the string's storage so a row loop does not allocate.
  std::string& setString(Kind k) {
    kind = k;
    s.clear();
    return s;
  }
};

// Julian day numbers as FoxPro stores them in T fields and date index keys.
long dateToJulian(const Date& d);
Date julianToDate(long jdn);
bool validDate(const Date& d);

}  // namespace vfp
