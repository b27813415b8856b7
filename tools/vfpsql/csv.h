// CSV output of vfpsql (RFC 4180): fields quoted only when they must be, NULL as an empty
// unquoted field and an empty text as "", binary as 0h followed by hex digits.
#pragma once

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "vfp/value.h"

namespace vfpsql {

inline void appendCsvText(std::string& out, const std::string& s) {
  // One look at each byte: most values need no quotes.
  const char* p = s.data();
  const char* end = p + s.size();
  const char* q = p;
  while (q != end && *q != ',' && *q != '"' && *q != '\r' && *q != '\n') ++q;
  if (q == end && !s.empty()) {
    out.append(p, s.size());
    return;
  }
  out += '"';
  // Runs without a quote are copied whole; each quote is doubled.
  for (const char* from = p;;) {
    const void* hit = std::memchr(from, '"', std::size_t(end - from));
    if (!hit) {
      out.append(from, std::size_t(end - from));
      break;
    }
    const char* at = static_cast<const char*>(hit);
    out.append(from, std::size_t(at - from) + 1);
    out += '"';
    from = at + 1;
  }
  out += '"';
}

// Shortest text that reads back as the same double.
inline std::string shortestDouble(double d) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

namespace detail {

// Appends n decimal digits of v, zero-padded.
inline void appendDigits(std::string& out, int v, int n) {
  char buf[8];
  for (int k = n - 1; k >= 0; --k) {
    buf[k] = char('0' + v % 10);
    v /= 10;
  }
  out.append(buf, std::size_t(n));
}

inline void appendDate(std::string& out, const vfp::Value& v) {
  if (v.when.date.year < 0 || v.when.date.year > 9999) {
    char buf[40];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", v.when.date.year,
                          v.when.date.month, v.when.date.day);
    out.append(buf, std::size_t(n));
    return;
  }
  appendDigits(out, v.when.date.year, 4);
  out += '-';
  appendDigits(out, v.when.date.month, 2);
  out += '-';
  appendDigits(out, v.when.date.day, 2);
}

}  // namespace detail

inline void appendCsvValue(std::string& out, const vfp::Value& v) {
  using K = vfp::Value::Kind;
  char buf[40];
  switch (v.kind) {
    case K::Null:
      return;
    case K::Bool:
      out += v.b ? '1' : '0';
      return;
    case K::Int: {
      auto r = std::to_chars(buf, buf + sizeof buf, v.i);
      out.append(buf, r.ptr);
      return;
    }
    case K::Double: {
      auto r = std::to_chars(buf, buf + sizeof buf, v.d);
      out.append(buf, r.ptr);
      return;
    }
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
      detail::appendDate(out, v);
      return;
    case K::DateTime:
      detail::appendDate(out, v);
      out += ' ';
      detail::appendDigits(out, v.when.hour, 2);
      out += ':';
      detail::appendDigits(out, v.when.minute, 2);
      out += ':';
      detail::appendDigits(out, v.when.second, 2);
      return;
  }
}

}  // namespace vfpsql
