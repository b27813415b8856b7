// What the parts of the key expression evaluator share: the tokens, the syntax tree and the
// helpers both the parser and the key writers need. Private to vfp/keyexpr*.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vfp/keyexpr.h"

namespace vfp::keyexpr {

namespace detail {

// ---- code pages -------------------------------------------------------------------------------

constexpr std::uint8_t kCp1252 = 0x03;

// Double-byte code pages (932, 936, 949, 950): FoxPro's string functions count characters there,
// not bytes, so only whole fields can be used in keys.
inline bool isDoubleByte(std::uint8_t mark) {
  return mark == 0x7B || mark == 0x7A || mark == 0x79 || mark == 0x78;
}

// Case mapping of one byte; nullopt when the code page's mapping of that byte is not known here.
std::optional<std::uint8_t> mapCase(std::uint8_t c, bool upper, std::uint8_t cp);

// ---- lexer ------------------------------------------------------------------------------------

enum class Tok {
  End,
  Ident,
  Number,
  String,
  True,
  False,
  Null,
  DateLit,  // {^yyyy-mm-dd[ hh:mm[:ss]]} or {}: text holds what stands between the braces
  Not,
  And,
  Or,
  LParen,
  RParen,
  Comma,
  Plus,
  Minus,
  Star,
  Slash,
  Cmp
};

enum class CmpOp { Eq, ExactEq, Ne, Lt, Le, Gt, Ge };

struct Token {
  Tok kind = Tok::End;
  std::string text;
  double number = 0;
  CmpOp cmp = CmpOp::Eq;
  std::size_t pos = 0;
};

// The tokens of text, ending with one of kind End; throws UnsupportedExpression.
std::vector<Token> tokenize(std::string_view text);

// ---- values -----------------------------------------------------------------------------------

inline bool isNumeric(Type t) { return t == Type::Numeric || t == Type::Integer; }
std::string typeName(Type t);

// s cut to width characters, keeping its start (or its end).
std::string fit(std::string s, std::size_t width, bool keepLeft = true);

}  // namespace detail

// ---- the syntax tree --------------------------------------------------------------------------

enum class Op {
  Field,
  Const,
  Upper,
  Lower,
  Str,
  Dtos,
  Ttoc,
  Substr,
  Left,
  Padl,
  Padr,
  Trim,
  Empty,
  Deleted,
  IsNull,  // ISNULL(x), and x IS NULL in conditions
  Not,
  And,
  Or,
  Concat,
  Add,
  Sub,
  Neg,
  Cmp
};

struct Node {
  Op op = Op::Const;
  Type type = Type::Logical;
  std::size_t width = 0;
  bool nullable = false;
  bool currency = false;     // a number that comes straight from a Y field
  bool untypedNull = false;  // NULL in a condition, before a comparison gives it a type
  std::vector<std::unique_ptr<Node>> args;
  // Field
  std::size_t field = 0;
  FieldDef def;
  // Const
  Value constant;
  // static parameters: STR length/decimals, SUBSTR start/length, LEFT/PAD length
  int p1 = 0;
  int p2 = 0;
  char padChar = ' ';
  detail::CmpOp cmp = detail::CmpOp::Eq;
  std::uint8_t codePage = detail::kCp1252;

  Value eval(const KeyRecord& r) const;
};

namespace detail {

// The value of a Field node in record r.
Value fieldValue(const Node& n, const KeyRecord& r);

// Parses and type-checks text against schema; throws UnsupportedExpression naming the offending
// part (without the whole text). A condition may also use NULL and x IS [NOT] NULL.
std::unique_ptr<Node> parse(std::string_view text, const KeySchema& schema, bool condition = false);

}  // namespace detail

}  // namespace vfp::keyexpr
