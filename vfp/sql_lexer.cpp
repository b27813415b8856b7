#include "vfp/sql_lexer.h"

#include <cstdio>
#include <cstring>

#include "vfp/codepage.h"
#include "vfp/convert.h"
#include "vfp/file.h"

namespace vfp::sql {

// One value expression of VALUES(...): literals joined by "+".
void parseTerm(Lexer& lx, Value& v, std::string& scratch) {
  lx.skip();
  if (lx.p >= lx.s.size()) throw syntaxError();
  char c = lx.s[lx.p];
  if (c == '\'' || c == '"' || c == '[') {
    char close = c == '[' ? ']' : c;
    std::string& out = v.setString(Value::Kind::Text);
    std::size_t i = lx.p + 1;
    for (;;) {
      auto e = lx.s.find(close, i);
      if (e == std::string_view::npos) throw Error("Command contains unrecognized phrase/keyword.");
      out.append(lx.s.data() + i, e - i);
      // A doubled quote stands for one quote inside the literal.
      if (close != ']' && e + 1 < lx.s.size() && lx.s[e + 1] == close) {
        out += close;
        i = e + 2;
        continue;
      }
      lx.p = e + 1;
      return;
    }
  }
  if (c == '{') {
    auto e = lx.s.find('}', lx.p);
    if (e == std::string_view::npos) throw syntaxError();
    std::string_view inner = lx.s.substr(lx.p + 1, e - lx.p - 1);
    lx.p = e + 1;
    while (!inner.empty() && isSpace(inner.front())) inner.remove_prefix(1);
    while (!inner.empty() && isSpace(inner.back())) inner.remove_suffix(1);
    if (inner.empty() || inner == "//" || inner == "/ /" || inner == "/ / : :" || inner == "--") {
      v.setString(Value::Kind::Text);  // empty date: a blank value
      return;
    }
    if (inner.front() != '^') throw Error("Date/Datetime evaluated to an invalid value.");
    inner.remove_prefix(1);
    scratch.assign(inner);
    for (auto& ch : scratch)
      if (ch == '/' || ch == '.') ch = '-';
    // {^2021-08-31 12:34} and {^2021-8-31} are both legal FoxPro.
    int y = 0, m = 0, d = 0, hh = 0, mi = 0, ss = 0;
    std::size_t n = 0;
    // y-m-d, each part digits (sscanf's %d without its quirks, and without its cost).
    for (int* part : {&y, &m, &d}) {
      if (part != &y) {
        if (n >= scratch.size() || scratch[n] != '-')
          throw Error("Date/Datetime evaluated to an invalid value.");
        ++n;
      }
      const std::size_t from = n;
      while (n < scratch.size() && n - from < 6 && scratch[n] >= '0' && scratch[n] <= '9')
        *part = *part * 10 + (scratch[n++] - '0');
      if (n == from) throw Error("Date/Datetime evaluated to an invalid value.");
    }
    std::string_view rest = std::string_view(scratch).substr(n);
    while (!rest.empty() && (isSpace(rest.front()) || rest.front() == ',' || rest.front() == 'T'))
      rest.remove_prefix(1);
    DateTime dt{{y, m, d}, 0, 0, 0};
    if (!validDate(dt.date)) throw Error("Date/Datetime evaluated to an invalid value.");
    if (rest.empty()) {
      v.setDate(dt.date);
      return;
    }
    // hh[:mm[:ss]] [AM|PM]: anything else after the time is not a time.
    auto invalid = [] { return Error("Date/Datetime evaluated to an invalid value."); };
    auto number = [&](int& out) {
      std::size_t k = 0;
      out = 0;
      while (k < rest.size() && k < 2 && rest[k] >= '0' && rest[k] <= '9')
        out = out * 10 + (rest[k++] - '0');
      if (k == 0) throw invalid();
      rest.remove_prefix(k);
    };
    number(hh);
    for (int* part : {&mi, &ss}) {
      if (rest.empty() || rest.front() != ':') break;
      rest.remove_prefix(1);
      number(*part);
    }
    while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
    std::string ap = toUpperAscii(std::string(rest));
    if (ap == "A" || ap == "P") ap += "M";
    if (!ap.empty() && ap != "AM" && ap != "PM") throw invalid();
    if (!ap.empty() && hh > 12) throw invalid();
    if (ap == "PM" && hh < 12) hh += 12;
    if (ap == "AM" && hh == 12) hh = 0;
    if (hh > 23 || mi > 59 || ss > 59) throw invalid();
    dt.hour = hh, dt.minute = mi, dt.second = ss;
    v.setDateTime(dt);
    return;
  }
  if (c == '.') {
    for (auto [kw, val] : {std::pair{".T.", 1}, {".F.", 0}, {".Y.", 1}, {".N.", 0}}) {
      if (lx.s.size() - lx.p >= 3 && equalsNoCase(std::string(lx.s.substr(lx.p, 3)), kw)) {
        lx.p += 3;
        v.setBool(val);
        return;
      }
    }
    if (lx.s.size() - lx.p >= 6 && equalsNoCase(std::string(lx.s.substr(lx.p, 6)), ".NULL.")) {
      lx.p += 6;
      v.setNull();
      return;
    }
  }
  if (c == '0' && lx.p + 1 < lx.s.size() && (lx.s[lx.p + 1] == 'h' || lx.s[lx.p + 1] == 'H')) {
    std::size_t i = lx.p + 2;
    std::string& out = v.setString(Value::Kind::Bytes);
    auto hex = [](char h) -> int {
      if (h >= '0' && h <= '9') return h - '0';
      if (h >= 'a' && h <= 'f') return h - 'a' + 10;
      if (h >= 'A' && h <= 'F') return h - 'A' + 10;
      return -1;
    };
    std::size_t b = i;
    while (i < lx.s.size() && hex(lx.s[i]) >= 0) ++i;
    std::string_view digits = lx.s.substr(b, i - b);
    std::size_t k = 0;
    if (digits.size() % 2) out += char(hex(digits[k++]));  // odd count: leading nibble
    for (; k + 1 < digits.size() + 1 && k < digits.size(); k += 2)
      out += char(hex(digits[k]) * 16 + hex(digits[k + 1]));
    lx.p = i;
    return;
  }
  if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
    std::size_t b = lx.p;
    std::size_t i = lx.p + 1;
    while (i < lx.s.size() &&
           ((lx.s[i] >= '0' && lx.s[i] <= '9') || lx.s[i] == '.' || lx.s[i] == 'e' ||
            lx.s[i] == 'E' ||
            ((lx.s[i] == '-' || lx.s[i] == '+') && (lx.s[i - 1] == 'e' || lx.s[i - 1] == 'E'))))
      ++i;
    std::string_view num = lx.s.substr(b, i - b);
    if (!isDecimalText(num)) throw syntaxError();
    lx.p = i;
    v.setString(Value::Kind::Decimal) = std::string(num);
    return;
  }
  if (lx.keyword("NULL")) {
    v.setNull();
    return;
  }
  if (lx.keyword("CHR")) {
    lx.expect('(');
    lx.skip();
    std::size_t b = lx.p;
    while (lx.p < lx.s.size() && lx.s[lx.p] >= '0' && lx.s[lx.p] <= '9') ++lx.p;
    if (b == lx.p || lx.p - b > 3) throw syntaxError();
    int code = std::stoi(std::string(lx.s.substr(b, lx.p - b)));
    lx.expect(')');
    if (code > 255) throw Error("Invalid argument used with CHR().");
    // CHR() gives a byte of the code page; below 128 that is the same character in UTF-8.
    if (code < 128) {
      v.setString(Value::Kind::Text) = std::string(1, char(code));
    } else {
      std::string b1(1, char(code));
      std::string& out = v.setString(Value::Kind::Text);
      converterFor(kDefaultCodePage)->toUtf8(b1, out);
    }
    return;
  }
  throw Error("Command contains unrecognized phrase/keyword.");
}

void parseExpression(Lexer& lx, Value& v, Value& term, std::string& scratch) {
  parseTerm(lx, v, scratch);
  while (lx.accept('+')) {
    parseTerm(lx, term, scratch);
    bool vs = v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes;
    bool ts = term.kind == Value::Kind::Text || term.kind == Value::Kind::Bytes;
    if (vs && ts) {
      v.s += term.s;
      if (term.kind == Value::Kind::Bytes) v.kind = Value::Kind::Bytes;
      continue;
    }
    if (v.isNull() || term.isNull()) {
      v.setNull();
      continue;
    }
    throw Error("Operator/operand type mismatch.");
  }
}

}  // namespace vfp::sql
