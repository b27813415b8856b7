// The pieces of the engine's SQL parser that every statement shares: a cursor over one
// statement's text with FoxPro's keywords and name forms, and the literal values of VALUES(...),
// SET and DEFAULT clauses. Used inside vfp/ only.
#pragma once

#include <string>
#include <string_view>

#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/value.h"

namespace vfp::sql {

inline Error syntaxError() { return Error("Syntax error."); }

inline bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// A cursor over one statement's text.
struct Lexer {
  std::string_view s;
  std::size_t p;

  void skip() {
    while (p < s.size() && isSpace(s[p])) ++p;
  }
  bool atEnd() {
    skip();
    // A statement may end with ";" as users type it.
    while (p < s.size() && s[p] == ';') {
      ++p;
      skip();
    }
    return p >= s.size();
  }
  bool peek(char c) {
    skip();
    return p < s.size() && s[p] == c;
  }
  bool accept(char c) {
    if (!peek(c)) return false;
    ++p;
    return true;
  }
  void expect(char c) {
    if (!accept(c)) throw syntaxError();
  }
  // Case-insensitive keyword; FoxPro also accepts any abbreviation of four letters or more, but
  // the engine only takes the full words and the common short forms it is given.
  bool keyword(std::string_view k) {
    skip();
    if (s.size() - p < k.size() || !equalsNoCase(s.substr(p, k.size()), k)) return false;
    if (p + k.size() < s.size() && isWordChar(s[p + k.size()])) return false;
    p += k.size();
    return true;
  }
  std::string word() {
    skip();
    std::size_t b = p;
    while (p < s.size() && isWordChar(s[p])) ++p;
    return std::string(s.substr(b, p - b));
  }
  // A name as the program writes them: bare, [..], `..`, "..", '..'.
  std::string name() {
    skip();
    if (p >= s.size()) throw syntaxError();
    char open = s[p];
    char close = open == '[' ? ']' : open;
    if (open == '[' || open == '`' || open == '"' || open == '\'') {
      auto e = s.find(close, p + 1);
      if (e == std::string_view::npos) throw syntaxError();
      std::string n(s.substr(p + 1, e - p - 1));
      p = e + 1;
      return n;
    }
    // A bare name may be a path: take everything up to a space or "(".
    std::size_t b = p;
    while (p < s.size() && !isSpace(s[p]) && s[p] != '(' && s[p] != ';' && s[p] != ',' &&
           s[p] != ')')
      ++p;
    if (b == p) throw syntaxError();
    return std::string(s.substr(b, p - b));
  }
};

// One literal of a value list: text in quotes ('', "", []), CHR(n), a number, .T./.F., .NULL./NULL,
// {^yyyy-mm-dd[ hh:mm:ss]}, 0h... bytes. scratch is reused between calls.
void parseTerm(Lexer& lx, Value& v, std::string& scratch);
// Literals joined by "+" (text with text, or anything with .NULL.).
void parseExpression(Lexer& lx, Value& v, Value& term, std::string& scratch);

}  // namespace vfp::sql
