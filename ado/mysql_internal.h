// What the parts of the MySQL backend share: values read from the text protocol, and values
// bound to a prepared statement's parameters. Private to ado/mysql_*.cpp.
#pragma once

#include <mysql.h>

#include <charconv>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "ado/dataaccess.h"

namespace ado::mysql_detail {

template <typename T>
bool parseNumber(std::string_view text, T& out) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// A column's value as the text protocol sends it (data is nullptr for NULL).
Value decodeText(const FieldInfo& info, const char* data, unsigned long length);

// The buffers the parameters of one statement execution point into.
struct ParamBuffers {
  std::vector<MYSQL_BIND> binds;
  std::deque<std::string> strings;  // deque: stable addresses
  std::deque<MYSQL_TIME> times;
  std::deque<std::int64_t> ints;
  std::deque<double> doubles;
  std::deque<unsigned long> lengths;
  std::deque<my_bool> flags;

  void bind(const std::vector<Value>& values);

 private:
  void bindString(MYSQL_BIND& b, enum_field_types type, const std::string& s);
  void bindInteger(MYSQL_BIND& b, std::int64_t v, bool isUnsigned);
  MYSQL_TIME& time(enum_mysql_timestamp_type kind);
  void bindOne(MYSQL_BIND& b, const Value& v);
};

}  // namespace ado::mysql_detail
