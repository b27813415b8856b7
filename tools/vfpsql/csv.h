// CSV output of vfpsql (RFC 4180): fields quoted only when they must be, NULL as an empty
// unquoted field and an empty text as "", binary as 0h followed by hex digits.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "vfp/value.h"

namespace vfpsql {

inline void appendCsvText(std::string& out, const std::string& s) {
  bool quote = s.empty() || s.find_first_of(",\"\r\n") != std::string::npos;
  if (!quote) {
    out += s;
    return;
  }
  out += '"';
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// Shortest text that reads back as the same double.
inline std::string shortestDouble(double d) {
  char buf[40];
  for (int prec = 1; prec <= 17; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  return buf;
}

inline void appendCsvValue(std::string& out, const vfp::Value& v) {
  using K = vfp::Value::Kind;
  char buf[40];
  switch (v.kind) {
    case K::Null:
      return;
    case K::Bool:
      out += v.b ? "1" : "0";
      return;
    case K::Int:
      out += std::to_string(v.i);
      return;
    case K::Double:
      out += shortestDouble(v.d);
      return;
    case K::Decimal:
      out += v.s;
      return;
    case K::Text:
      appendCsvText(out, v.s);
      return;
    case K::Bytes: {
      static const char* hex = "0123456789ABCDEF";
      out += "0h";
      for (unsigned char c : v.s) {
        out += hex[c >> 4];
        out += hex[c & 15];
      }
      return;
    }
    case K::Date:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", v.when.date.year, v.when.date.month,
                    v.when.date.day);
      out += buf;
      return;
    case K::DateTime:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", v.when.date.year,
                    v.when.date.month, v.when.date.day, v.when.hour, v.when.minute, v.when.second);
      out += buf;
      return;
  }
}

}  // namespace vfpsql
