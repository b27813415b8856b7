// The bytes of an expression: its case mapping in the table's code page, and its tokens.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <utility>

#include "vfp/file.h"
#include "vfp/keyexpr_internal.h"

namespace vfp::keyexpr::detail {

std::optional<std::uint8_t> mapCase(std::uint8_t c, bool upper, std::uint8_t cp) {
  if (c < 0x80) {
    if (upper && c >= 'a' && c <= 'z') return static_cast<std::uint8_t>(c - 32);
    if (!upper && c >= 'A' && c <= 'Z') return static_cast<std::uint8_t>(c + 32);
    return c;
  }
  if (cp != kCp1252) return std::nullopt;
  // Windows-1252: Š Œ Ž Ÿ and the Latin-1 letters (not × ÷ ß).
  if (upper) {
    if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<std::uint8_t>(c - 0x10);
    if (c == 0xFF) return std::uint8_t{0x9F};
    if (c >= 0xE0 && c != 0xF7) return static_cast<std::uint8_t>(c - 0x20);
  } else {
    if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<std::uint8_t>(c + 0x10);
    if (c == 0x9F) return std::uint8_t{0xFF};
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<std::uint8_t>(c + 0x20);
  }
  return c;
}

namespace {

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}

  std::vector<Token> run() {
    std::vector<Token> out;
    for (;;) {
      while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
      Token t;
      t.pos = i_;
      if (i_ >= s_.size()) {
        out.push_back(t);
        return out;
      }
      const char c = s_[i_];
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        std::size_t j = i_;
        while (j < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[j])) || s_[j] == '_'))
          ++j;
        t.text = std::string(s_.substr(i_, j - i_));
        i_ = j;
        const std::string u = toUpperAscii(t.text);
        t.kind = u == "NOT" ? Tok::Not : u == "AND" ? Tok::And : u == "OR" ? Tok::Or : Tok::Ident;
      } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                 (c == '.' && i_ + 1 < s_.size() &&
                  std::isdigit(static_cast<unsigned char>(s_[i_ + 1])))) {
        std::size_t j = i_;
        while (j < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[j])) || s_[j] == '.'))
          ++j;
        t.text = std::string(s_.substr(i_, j - i_));
        auto r = std::from_chars(t.text.data(), t.text.data() + t.text.size(), t.number);
        if (r.ec != std::errc() || r.ptr != t.text.data() + t.text.size())
          throw UnsupportedExpression("malformed number \"" + t.text + "\"");
        t.kind = Tok::Number;
        i_ = j;
      } else if (c == '.') {
        const auto end = s_.find('.', i_ + 1);
        if (end == std::string_view::npos) throw UnsupportedExpression("stray \".\"");
        const std::string word = toUpperAscii(std::string(s_.substr(i_ + 1, end - i_ - 1)));
        if (word == "T" || word == "Y")
          t.kind = Tok::True;
        else if (word == "F" || word == "N")
          t.kind = Tok::False;
        else if (word == "NOT")
          t.kind = Tok::Not;
        else if (word == "AND")
          t.kind = Tok::And;
        else if (word == "OR")
          t.kind = Tok::Or;
        else if (word == "NULL")
          t.kind = Tok::Null;
        else
          throw UnsupportedExpression("unknown operator \"." + word + ".\"");
        i_ = end + 1;
      } else if (c == '{') {
        const auto end = s_.find('}', i_ + 1);
        if (end == std::string_view::npos) throw UnsupportedExpression("unterminated date");
        t.kind = Tok::DateLit;
        t.text = std::string(s_.substr(i_ + 1, end - i_ - 1));
        i_ = end + 1;
      } else if (c == '"' || c == '\'' || c == '[') {
        const char close = c == '[' ? ']' : c;
        const auto end = s_.find(close, i_ + 1);
        if (end == std::string_view::npos) throw UnsupportedExpression("unterminated string");
        t.kind = Tok::String;
        t.text = std::string(s_.substr(i_ + 1, end - i_ - 1));
        i_ = end + 1;
      } else {
        // Two-character operators first: "<=" is not "<" then "=".
        static constexpr std::pair<std::string_view, CmpOp> kComparisons[] = {
            {"==", CmpOp::ExactEq}, {"<>", CmpOp::Ne}, {"!=", CmpOp::Ne}, {"<=", CmpOp::Le},
            {"=<", CmpOp::Le},      {">=", CmpOp::Ge}, {"=>", CmpOp::Ge}, {"=", CmpOp::Eq},
            {"#", CmpOp::Ne},       {"<", CmpOp::Lt},  {">", CmpOp::Gt}};
        static constexpr std::pair<char, Tok> kSingles[] = {
            {'!', Tok::Not},  {'(', Tok::LParen}, {')', Tok::RParen}, {',', Tok::Comma},
            {'+', Tok::Plus}, {'-', Tok::Minus},  {'*', Tok::Star},   {'/', Tok::Slash}};
        const std::string_view rest = s_.substr(i_);
        const auto* cmp = std::find_if(std::begin(kComparisons), std::end(kComparisons),
                                       [&](const auto& e) { return rest.starts_with(e.first); });
        const auto* single = std::find_if(std::begin(kSingles), std::end(kSingles),
                                          [&](const auto& e) { return e.first == c; });
        if (cmp != std::end(kComparisons)) {
          t.kind = Tok::Cmp;
          t.cmp = cmp->second;
          i_ += cmp->first.size();
        } else if (single != std::end(kSingles)) {
          t.kind = single->second;
          ++i_;
        } else {
          throw UnsupportedExpression(std::string("unexpected character '") + c + "'");
        }
      }
      out.push_back(std::move(t));
    }
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

std::vector<Token> tokenize(std::string_view text) { return Lexer(text).run(); }

}  // namespace vfp::keyexpr::detail
