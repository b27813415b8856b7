#include "vfp/keyexpr.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vfp::keyexpr {

namespace {

std::string upperAscii(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && upperAscii(a) == upperAscii(b);
}

// ---- code pages -------------------------------------------------------------------------------

constexpr std::uint8_t kCp1252 = 0x03;

// Double-byte code pages (932, 936, 949, 950): FoxPro's string functions count characters there,
// not bytes, so only whole fields can be used in keys.
bool isDoubleByte(std::uint8_t mark) {
  return mark == 0x7B || mark == 0x7A || mark == 0x79 || mark == 0x78;
}

// Case mapping of one byte; nullopt when the code page's mapping of that byte is not known here.
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

// ---- lexer ------------------------------------------------------------------------------------

enum class Tok {
  End,
  Ident,
  Number,
  String,
  True,
  False,
  Null,
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
        const std::string u = upperAscii(t.text);
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
        const std::string word = upperAscii(s_.substr(i_ + 1, end - i_ - 1));
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
      } else if (c == '"' || c == '\'' || c == '[') {
        const char close = c == '[' ? ']' : c;
        const auto end = s_.find(close, i_ + 1);
        if (end == std::string_view::npos) throw UnsupportedExpression("unterminated string");
        t.kind = Tok::String;
        t.text = std::string(s_.substr(i_ + 1, end - i_ - 1));
        i_ = end + 1;
      } else {
        auto two = s_.substr(i_, 2);
        auto cmp = [&](CmpOp op, std::size_t len) {
          t.kind = Tok::Cmp;
          t.cmp = op;
          i_ += len;
        };
        if (two == "==")
          cmp(CmpOp::ExactEq, 2);
        else if (two == "<>" || two == "!=")
          cmp(CmpOp::Ne, 2);
        else if (two == "<=" || two == "=<")
          cmp(CmpOp::Le, 2);
        else if (two == ">=" || two == "=>")
          cmp(CmpOp::Ge, 2);
        else if (c == '=')
          cmp(CmpOp::Eq, 1);
        else if (c == '#')
          cmp(CmpOp::Ne, 1);
        else if (c == '<')
          cmp(CmpOp::Lt, 1);
        else if (c == '>')
          cmp(CmpOp::Gt, 1);
        else {
          ++i_;
          switch (c) {
            case '!':
              t.kind = Tok::Not;
              break;
            case '(':
              t.kind = Tok::LParen;
              break;
            case ')':
              t.kind = Tok::RParen;
              break;
            case ',':
              t.kind = Tok::Comma;
              break;
            case '+':
              t.kind = Tok::Plus;
              break;
            case '-':
              t.kind = Tok::Minus;
              break;
            case '*':
              t.kind = Tok::Star;
              break;
            case '/':
              t.kind = Tok::Slash;
              break;
            default:
              throw UnsupportedExpression(std::string("unexpected character '") + c + "'");
          }
        }
      }
      out.push_back(std::move(t));
    }
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

// ---- values -----------------------------------------------------------------------------------

bool isNumeric(Type t) { return t == Type::Numeric || t == Type::Integer; }

std::string typeName(Type t) {
  switch (t) {
    case Type::Character:
      return "character";
    case Type::Numeric:
      return "numeric";
    case Type::Integer:
      return "integer";
    case Type::Date:
      return "date";
    case Type::DateTime:
      return "datetime";
    case Type::Logical:
      return "logical";
  }
  return "?";
}

std::string trimNumber(std::span<const std::uint8_t> raw) {
  std::string s(raw.begin(), raw.end());
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(' ');
  s = s.substr(b, e - b + 1);
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  return s;
}

template <typename T>
T readLe(std::span<const std::uint8_t> raw) {
  T v{};
  std::memcpy(&v, raw.data(), sizeof(T));
  if constexpr (std::endian::native == std::endian::big) {
    auto* p = reinterpret_cast<std::uint8_t*>(&v);
    std::reverse(p, p + sizeof(T));
  }
  return v;
}

}  // namespace

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
  bool currency = false;  // a number that comes straight from a Y field
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
  CmpOp cmp = CmpOp::Eq;
  std::uint8_t codePage = kCp1252;

  Value eval(const KeyRecord& r) const;
};

namespace {

Value nullOf(Type t) {
  Value v;
  v.type = t;
  v.null = true;
  return v;
}

Value fieldValue(const Node& n, const KeyRecord& r) {
  if (n.def.nullable && r.isNull(n.field)) return nullOf(n.type);
  const auto raw = r.raw(n.field);
  if (raw.size() != static_cast<std::size_t>(n.def.width))
    throw EvaluationError("field " + n.def.name + " has " + std::to_string(raw.size()) +
                          " bytes, expected " + std::to_string(n.def.width));
  Value v;
  v.type = n.type;
  switch (n.def.type) {
    case 'C':
      v.text.assign(raw.begin(), raw.end());
      break;
    case 'V':
      v.text.assign(raw.begin(),
                    raw.begin() + std::ptrdiff_t(std::min(raw.size(), r.length(n.field))));
      break;
    case 'N':
    case 'F': {
      const std::string s = trimNumber(raw);
      if (!s.empty()) {
        auto res = std::from_chars(s.data(), s.data() + s.size(), v.number);
        if (res.ec != std::errc() || res.ptr != s.data() + s.size())
          throw EvaluationError("field " + n.def.name + " holds \"" + s + "\", not a number");
      }
      break;
    }
    case 'I':
      v.number = readLe<std::int32_t>(raw);
      break;
    case 'B':
      v.number = readLe<double>(raw);
      break;
    case 'Y':
      v.number = static_cast<double>(readLe<std::int64_t>(raw)) / 10000.0;
      break;
    case 'D': {
      int y = 0, m = 0, d = 0;
      const std::string s(raw.begin(), raw.end());
      if (s.find_first_not_of(' ') == std::string::npos) break;  // empty date
      if (std::sscanf(s.c_str(), "%4d%2d%2d", &y, &m, &d) != 3 || m < 1 || m > 12 || d < 1 ||
          d > 31)
        throw EvaluationError("field " + n.def.name + " holds \"" + s + "\", not a date");
      v.day = julianDay(y, m, d);
      break;
    }
    case 'T':
      v.day = readLe<std::int32_t>(raw.first(4));
      v.ms = readLe<std::int32_t>(raw.subspan(4, 4));
      break;
    case 'L': {
      const char c = static_cast<char>(raw[0]);
      v.logical = c == 'T' || c == 't' || c == 'Y' || c == 'y';
      break;
    }
  }
  return v;
}

// FoxPro's comparison of strings with SET EXACT OFF: '=' matches when the left side starts with
// the right side; orderings compare with the shorter side padded with blanks.
int comparePadded(const std::string& a, const std::string& b) {
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(i < a.size() ? a[i] : ' ');
    const auto cb = static_cast<unsigned char>(i < b.size() ? b[i] : ' ');
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

bool compare(const Value& a, const Value& b, CmpOp op) {
  int c = 0;
  bool equal = false;
  if (a.type == Type::Character) {
    if (op == CmpOp::ExactEq) return a.text == b.text;
    equal = a.text.compare(0, b.text.size(), b.text) == 0 && a.text.size() >= b.text.size();
    c = equal ? 0 : comparePadded(a.text, b.text);
    if (!equal && c == 0) c = a.text.size() < b.text.size() ? -1 : 1;
  } else if (a.type == Type::Logical) {
    c = int{a.logical} - int{b.logical};
  } else if (a.type == Type::Date || a.type == Type::DateTime) {
    const double x = static_cast<double>(a.day) + static_cast<double>(a.ms) / 86400000.0;
    const double y = static_cast<double>(b.day) + static_cast<double>(b.ms) / 86400000.0;
    c = x < y ? -1 : x > y ? 1 : 0;
  } else {
    c = a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
  }
  equal = c == 0;
  switch (op) {
    case CmpOp::Eq:
    case CmpOp::ExactEq:
      return equal;
    case CmpOp::Ne:
      return !equal;
    case CmpOp::Lt:
      return c < 0;
    case CmpOp::Le:
      return c <= 0;
    case CmpOp::Gt:
      return c > 0;
    case CmpOp::Ge:
      return c >= 0;
  }
  return false;
}

std::string caseMapped(const std::string& s, bool upper, std::uint8_t cp) {
  std::string out(s);
  for (auto& ch : out) {
    auto m = mapCase(static_cast<std::uint8_t>(ch), upper, cp);
    if (!m)
      throw EvaluationError("cannot convert the case of byte " +
                            std::to_string(static_cast<unsigned char>(ch)) +
                            " in this table's code page");
    ch = static_cast<char>(*m);
  }
  return out;
}

std::string fit(std::string s, std::size_t width, bool keepLeft = true) {
  if (s.size() > width) s = keepLeft ? s.substr(0, width) : s.substr(s.size() - width);
  return s;
}

std::string twoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string dtos(std::int64_t day) {
  if (day == 0) return std::string(8, ' ');
  int y = 0, m = 0, d = 0;
  civilFromJulian(day, y, m, d);
  std::string ys = std::to_string(y);
  while (ys.size() < 4) ys = "0" + ys;
  return ys + twoDigits(m) + twoDigits(d);
}

}  // namespace

Value Node::eval(const KeyRecord& r) const {
  switch (op) {
    case Op::Field:
      return fieldValue(*this, r);
    case Op::Const:
      return constant;
    case Op::Deleted: {
      Value v;
      v.logical = r.deleted();
      return v;
    }
    default:
      break;
  }

  std::vector<Value> a;
  a.reserve(args.size());
  for (const auto& arg : args) a.push_back(arg->eval(r));

  Value v;
  v.type = type;
  if (op == Op::And || op == Op::Or) {
    // Three-valued: .F. AND .NULL. is .F., .T. OR .NULL. is .T.
    const bool decided = op == Op::And
                             ? ((!a[0].null && !a[0].logical) || (!a[1].null && !a[1].logical))
                             : ((!a[0].null && a[0].logical) || (!a[1].null && a[1].logical));
    if (decided) {
      v.logical = op == Op::Or;
      return v;
    }
    if (a[0].null || a[1].null) return nullOf(type);
    v.logical = op == Op::And;
    return v;
  }
  if (op == Op::Empty) {
    const Value& x = a[0];
    if (x.null) return v;  // EMPTY(.NULL.) is .F.
    switch (x.type) {
      case Type::Character:
        v.logical = x.text.find_first_not_of(std::string(" \t\r\n", 4)) == std::string::npos;
        break;
      case Type::Numeric:
      case Type::Integer:
        v.logical = x.number == 0;
        break;
      case Type::Date:
      case Type::DateTime:
        v.logical = x.day == 0 && x.ms == 0;
        break;
      case Type::Logical:
        v.logical = !x.logical;
        break;
    }
    return v;
  }
  for (const auto& x : a)
    if (x.null) return nullOf(type);

  switch (op) {
    case Op::Upper:
    case Op::Lower:
      v.text = caseMapped(a[0].text, op == Op::Upper, codePage);
      break;
    case Op::Str:
      v.text = formatStr(a[0].number, p1, p2);
      break;
    case Op::Dtos:
      v.text = dtos(a[0].day);
      break;
    case Op::Ttoc: {
      if (a[0].day == 0 && a[0].ms == 0)
        throw EvaluationError("TTOC() of an empty datetime: its index key is not known here");
      // Stored times can be a millisecond short of the second (FoxPro truncates); round.
      std::int64_t day = a[0].day;
      std::int64_t sec = (a[0].ms + 500) / 1000;
      if (sec >= 86400) {
        sec -= 86400;
        ++day;
      }
      v.text = dtos(day) + twoDigits(static_cast<int>(sec / 3600)) +
               twoDigits(static_cast<int>(sec / 60 % 60)) + twoDigits(static_cast<int>(sec % 60));
      break;
    }
    case Op::Substr: {
      const std::string& s = a[0].text;
      const std::size_t start = static_cast<std::size_t>(p1 - 1);
      v.text = start >= s.size() ? std::string() : s.substr(start, static_cast<std::size_t>(p2));
      break;
    }
    case Op::Left:
      v.text = fit(a[0].text, static_cast<std::size_t>(p1));
      break;
    case Op::Trim: {
      std::string t = a[0].text;
      // Only blanks are certain to be what FoxPro trims here; tabs and NULs at the edges
      // would make the key uncertain.
      auto edge = [&](char c) {
        if (c == '\t' || c == '\0')
          throw EvaluationError("a value to trim starts or ends with a tab or NUL character");
        return c == ' ';
      };
      if (p1 & 2)
        while (!t.empty() && edge(t.back())) t.pop_back();
      if (p1 & 1) {
        std::size_t b = 0;
        while (b < t.size() && edge(t[b])) ++b;
        t.erase(0, b);
      }
      v.text = std::move(t);
      break;
    }
    case Op::Padl:
    case Op::Padr: {
      const std::size_t n = static_cast<std::size_t>(p1);
      std::string s = fit(a[0].text, n);
      const std::string fill(n - s.size(), padChar);
      v.text = op == Op::Padl ? fill + s : s + fill;
      break;
    }
    case Op::Not:
      v.logical = !a[0].logical;
      break;
    case Op::Concat:
      v.text = a[0].text + a[1].text;
      break;
    case Op::Add:
      v.number = a[0].number + a[1].number;
      break;
    case Op::Sub:
      v.number = a[0].number - a[1].number;
      break;
    case Op::Neg:
      v.number = -a[0].number;
      break;
    case Op::Cmp:
      v.logical = compare(a[0], a[1], cmp);
      break;
    default:
      throw EvaluationError("internal: unhandled expression node");
  }
  return v;
}

// ---- parser and type checker ------------------------------------------------------------------

namespace {

using NodePtr = std::unique_ptr<Node>;

class Parser {
 public:
  Parser(std::string_view text, const KeySchema& schema)
      : text_(text), toks_(Lexer(text).run()), schema_(schema) {}

  NodePtr parseAll() {
    NodePtr n = parseOr();
    if (peek().kind != Tok::End) fail("unexpected text at \"" + rest() + "\"");
    return n;
  }

 private:
  const Token& peek() const { return toks_[i_]; }
  Token next() { return toks_[i_ < toks_.size() - 1 ? i_++ : i_]; }
  std::string rest() const { return std::string(text_.substr(std::min(peek().pos, text_.size()))); }
  [[noreturn]] void fail(const std::string& why) const { throw UnsupportedExpression(why); }
  void expect(Tok k, const char* what) {
    if (peek().kind != k) fail(std::string("expected ") + what + " at \"" + rest() + "\"");
    next();
  }

  NodePtr make(Op op, Type type, std::size_t width, std::vector<NodePtr> args) {
    auto n = std::make_unique<Node>();
    n->op = op;
    n->type = type;
    n->width = width;
    n->codePage = schema_.codePageMark;
    for (const auto& a : args) n->nullable = n->nullable || a->nullable;
    if (type == Type::Numeric)
      for (const auto& a : args) n->currency = n->currency || a->currency;
    n->args = std::move(args);
    return n;
  }

  static std::vector<NodePtr> list(NodePtr a, NodePtr b = nullptr) {
    std::vector<NodePtr> v;
    v.push_back(std::move(a));
    if (b) v.push_back(std::move(b));
    return v;
  }

  void needLogical(const Node& n, const char* where) {
    if (n.type != Type::Logical) fail(std::string(where) + " needs a logical operand");
  }

  NodePtr parseOr() {
    NodePtr l = parseAnd();
    while (peek().kind == Tok::Or) {
      next();
      NodePtr r = parseAnd();
      needLogical(*l, ".OR.");
      needLogical(*r, ".OR.");
      l = make(Op::Or, Type::Logical, 1, list(std::move(l), std::move(r)));
    }
    return l;
  }

  NodePtr parseAnd() {
    NodePtr l = parseNot();
    while (peek().kind == Tok::And) {
      next();
      NodePtr r = parseNot();
      needLogical(*l, ".AND.");
      needLogical(*r, ".AND.");
      l = make(Op::And, Type::Logical, 1, list(std::move(l), std::move(r)));
    }
    return l;
  }

  NodePtr parseNot() {
    if (peek().kind == Tok::Not) {
      next();
      NodePtr x = parseNot();
      needLogical(*x, "NOT");
      return make(Op::Not, Type::Logical, 1, list(std::move(x)));
    }
    return parseCmp();
  }

  NodePtr parseCmp() {
    NodePtr l = parseAdd();
    if (peek().kind != Tok::Cmp) return l;
    const CmpOp op = next().cmp;
    NodePtr r = parseAdd();
    const bool same = (isNumeric(l->type) && isNumeric(r->type)) || l->type == r->type;
    if (!same) fail("cannot compare " + typeName(l->type) + " with " + typeName(r->type));
    NodePtr n = make(Op::Cmp, Type::Logical, 1, list(std::move(l), std::move(r)));
    n->cmp = op;
    return n;
  }

  NodePtr parseAdd() {
    NodePtr l = parseUnary();
    for (;;) {
      const Tok k = peek().kind;
      if (k == Tok::Star || k == Tok::Slash) fail("multiplication and division are not supported");
      if (k != Tok::Plus && k != Tok::Minus) return l;
      next();
      NodePtr r = parseUnary();
      if (k == Tok::Plus && l->type == Type::Character && r->type == Type::Character) {
        const std::size_t w = l->width + r->width;
        l = make(Op::Concat, Type::Character, w, list(std::move(l), std::move(r)));
      } else if (isNumeric(l->type) && isNumeric(r->type)) {
        l = make(k == Tok::Plus ? Op::Add : Op::Sub, Type::Numeric, 8,
                 list(std::move(l), std::move(r)));
      } else {
        fail(std::string("operator ") + (k == Tok::Plus ? "+" : "-") + " on " + typeName(l->type) +
             " and " + typeName(r->type) + " is not supported");
      }
    }
  }

  NodePtr parseUnary() {
    if (peek().kind == Tok::Minus) {
      next();
      NodePtr x = parseUnary();
      if (x->op == Op::Const && isNumeric(x->type)) {
        x->constant.number = -x->constant.number;
        return x;
      }
      if (!isNumeric(x->type)) fail("unary minus needs a number");
      return make(Op::Neg, Type::Numeric, 8, list(std::move(x)));
    }
    if (peek().kind == Tok::Plus) {
      next();
      return parseUnary();
    }
    return parsePrimary();
  }

  NodePtr constant(Value v, std::size_t width) {
    auto n = make(Op::Const, v.type, width, {});
    n->constant = std::move(v);
    return n;
  }

  NodePtr parsePrimary() {
    Token t = next();
    switch (t.kind) {
      case Tok::Number: {
        Value v;
        v.type = Type::Numeric;
        v.number = t.number;
        return constant(v, 8);
      }
      case Tok::String: {
        Value v;
        v.type = Type::Character;
        v.text = t.text;
        return constant(v, t.text.size());
      }
      case Tok::True:
      case Tok::False: {
        Value v;
        v.logical = t.kind == Tok::True;
        return constant(v, 1);
      }
      case Tok::Null:
        fail(".NULL. is not supported in index expressions");
      case Tok::LParen: {
        NodePtr n = parseOr();
        expect(Tok::RParen, "\")\"");
        return n;
      }
      case Tok::Ident:
        if (peek().kind == Tok::LParen) return parseCall(t.text);
        return fieldRef(t.text);
      default:
        fail("unexpected \"" + std::string(text_.substr(std::min(t.pos, text_.size()))) + "\"");
    }
  }

  NodePtr fieldRef(const std::string& name) {
    auto idx = schema_.find(name);
    if (!idx) fail("unknown field \"" + name + "\"");
    const FieldDef& f = schema_.fields[*idx];
    Type type;
    std::size_t width = 8;
    switch (f.type) {
      case 'C':
      case 'V':
        type = Type::Character;
        width = static_cast<std::size_t>(f.width);
        break;
      case 'N':
      case 'F':
      case 'B':
      case 'Y':
        type = Type::Numeric;
        break;
      case 'I':
        type = Type::Integer;
        width = 4;
        break;
      case 'D':
        type = Type::Date;
        break;
      case 'T':
        type = Type::DateTime;
        break;
      case 'L':
        type = Type::Logical;
        width = 1;
        break;
      default:
        fail("field \"" + name + "\" of type " + std::string(1, f.type) +
             " cannot be part of a maintained index");
    }
    auto n = make(Op::Field, type, width, {});
    n->field = *idx;
    n->def = f;
    n->nullable = f.nullable;
    n->currency = f.type == 'Y';
    return n;
  }

  int staticInt(const Node& n, const std::string& fn) {
    if (n.op != Op::Const || !isNumeric(n.type) ||
        n.constant.number != std::floor(n.constant.number))
      fail(fn + "() needs whole-number constants for its lengths");
    return static_cast<int>(n.constant.number);
  }

  NodePtr parseCall(const std::string& rawName) {
    next();  // (
    std::vector<NodePtr> args;
    if (peek().kind != Tok::RParen) {
      args.push_back(parseOr());
      while (peek().kind == Tok::Comma) {
        next();
        args.push_back(parseOr());
      }
    }
    expect(Tok::RParen, "\")\"");

    static const std::array<const char*, 15> kNames = {
        "UPPER", "LOWER", "STR",     "DTOS",    "TTOC",  "SUBSTR", "LEFT", "PADL",
        "PADR",  "EMPTY", "DELETED", "ALLTRIM", "LTRIM", "RTRIM",  "TRIM"};
    const std::string up = upperAscii(rawName);
    std::string name;
    for (const char* k : kNames) {
      const std::string_view full(k);
      // FoxPro accepts any abbreviation of four letters or more.
      if (up == full || (up.size() >= 4 && full.substr(0, up.size()) == up)) {
        name = k;
        break;
      }
    }
    auto arity = [&](std::size_t lo, std::size_t hi) {
      if (args.size() < lo || args.size() > hi)
        fail(name + "() takes " + std::to_string(lo) +
             (lo == hi ? "" : " to " + std::to_string(hi)) + " arguments");
    };
    auto needChar = [&](const Node& n) {
      if (n.type != Type::Character) fail(name + "() needs a character argument");
    };
    auto needStringFunctions = [&] {
      if (isDoubleByte(schema_.codePageMark))
        fail(name + "() counts characters in this table's double-byte code page");
    };

    if (name == "UPPER" || name == "LOWER") {
      arity(1, 1);
      needChar(*args[0]);
      needStringFunctions();
      const std::size_t w = args[0]->width;
      return make(name == "UPPER" ? Op::Upper : Op::Lower, Type::Character, w, std::move(args));
    }
    if (name == "STR") {
      arity(1, 3);
      if (!isNumeric(args[0]->type)) fail("STR() needs a numeric argument");
      const int len = args.size() > 1 ? staticInt(*args[1], name) : 10;
      const int dec = args.size() > 2 ? staticInt(*args[2], name) : 0;
      if (len < 1 || len > 255 || dec < 0 || dec > 18) fail("STR() length out of range");
      args.resize(1);
      auto n = make(Op::Str, Type::Character, static_cast<std::size_t>(len), std::move(args));
      n->p1 = len;
      n->p2 = dec;
      return n;
    }
    if (name == "DTOS") {
      arity(1, 1);
      if (args[0]->type != Type::Date && args[0]->type != Type::DateTime)
        fail("DTOS() needs a date or datetime argument");
      return make(Op::Dtos, Type::Character, 8, std::move(args));
    }
    if (name == "TTOC") {
      arity(1, 2);
      if (args[0]->type != Type::DateTime) fail("TTOC() needs a datetime argument");
      // Without the 1 the text follows SET DATE and SET HOURS, which an index cannot know.
      if (args.size() < 2 || staticInt(*args[1], name) != 1)
        fail("TTOC() is only supported in its sortable form TTOC(t, 1)");
      args.resize(1);
      return make(Op::Ttoc, Type::Character, 14, std::move(args));
    }
    if (name == "SUBSTR") {
      arity(2, 3);
      needChar(*args[0]);
      needStringFunctions();
      const int start = staticInt(*args[1], name);
      const std::size_t w = args[0]->width;
      if (start < 1) fail("SUBSTR() start must be 1 or more");
      const std::size_t avail = static_cast<std::size_t>(start) > w ? 0 : w - start + 1;
      int len = static_cast<int>(avail);
      if (args.size() > 2) {
        len = staticInt(*args[2], name);
        if (len < 0) fail("SUBSTR() length must not be negative");
      }
      const std::size_t width = std::min<std::size_t>(avail, static_cast<std::size_t>(len));
      args.resize(1);
      auto n = make(Op::Substr, Type::Character, width, std::move(args));
      n->p1 = start;
      n->p2 = static_cast<int>(width);
      return n;
    }
    if (name == "LEFT") {
      arity(2, 2);
      needChar(*args[0]);
      needStringFunctions();
      const int len = staticInt(*args[1], name);
      if (len < 0) fail("LEFT() length must not be negative");
      const std::size_t width =
          std::min<std::size_t>(args[0]->width, static_cast<std::size_t>(len));
      args.resize(1);
      auto n = make(Op::Left, Type::Character, width, std::move(args));
      n->p1 = static_cast<int>(width);
      return n;
    }
    if (name == "PADL" || name == "PADR") {
      arity(2, 3);
      needChar(*args[0]);
      needStringFunctions();
      const int len = staticInt(*args[1], name);
      if (len < 0 || len > 255) fail(name + "() length out of range");
      char pad = ' ';
      if (args.size() > 2) {
        if (args[2]->op != Op::Const || args[2]->type != Type::Character ||
            args[2]->constant.text.empty())
          fail(name + "() needs a constant padding character");
        pad = args[2]->constant.text[0];
      }
      args.resize(1);
      auto n = make(name == "PADL" ? Op::Padl : Op::Padr, Type::Character,
                    static_cast<std::size_t>(len), std::move(args));
      n->p1 = len;
      n->padChar = pad;
      return n;
    }
    if (name == "EMPTY") {
      arity(1, 1);
      auto n = make(Op::Empty, Type::Logical, 1, std::move(args));
      n->nullable = false;
      return n;
    }
    if (name == "DELETED") {
      arity(0, 0);
      return make(Op::Deleted, Type::Logical, 1, {});
    }
    if (name == "ALLTRIM" || name == "LTRIM" || name == "RTRIM" || name == "TRIM") {
      // The result is as long as what is left; FoxPro pads such keys with blanks to the tag's
      // key length, which the caller checks against the widest possible result.
      arity(1, 1);
      needChar(*args[0]);
      const std::size_t w = args[0]->width;
      auto n = make(Op::Trim, Type::Character, w, std::move(args));
      n->p1 = name == "ALLTRIM" ? 3 : name == "LTRIM" ? 1 : 2;  // bit 1 leading, bit 2 trailing
      return n;
    }
    fail("function " + upperAscii(rawName) + "() is not supported");
  }

  std::string_view text_;
  std::vector<Token> toks_;
  std::size_t i_ = 0;
  const KeySchema& schema_;
};

}  // namespace

// ---- public API -------------------------------------------------------------------------------

std::optional<std::size_t> KeySchema::find(std::string_view name) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (iequals(fields[i].name, name) ||
        (!fields[i].longName.empty() && iequals(fields[i].longName, name)))
      return i;
  return std::nullopt;
}

// Keys written straight from the record: character fields (C, V) in their case or mapped and
// DTOS() of date fields, one after another; or one numeric, integer or date field alone.
struct Expression::Plan {
  struct Piece {
    std::size_t field = 0;
    std::size_t width = 0;
    int caseMap = 0;  // 0 as stored, 1 upper, -1 lower
    bool nullable = false;
    bool dateText = false;  // DTOS(d): the stored YYYYMMDD, when it is a real date
  };
  std::vector<Piece> pieces;
  const Node* single = nullptr;  // a lone non-character field
  std::uint8_t codePage = kCp1252;

  // Appends the pieces of n; false when n is not made only of such pieces.
  bool collect(const Node& n) {
    if (n.type != Type::Character) return false;
    if (n.op == Op::Concat) return collect(*n.args[0]) && collect(*n.args[1]);
    if (n.op == Op::Dtos && n.args[0]->op == Op::Field && n.args[0]->def.type == 'D') {
      const Node& f = *n.args[0];
      pieces.push_back({f.field, 8, 0, f.def.nullable, true});
      return true;
    }
    int caseMap = 0;
    const Node* f = &n;
    if (n.op == Op::Upper || n.op == Op::Lower) {
      caseMap = n.op == Op::Upper ? 1 : -1;
      f = n.args[0].get();
    }
    if (f->op != Op::Field || (f->def.type != 'C' && f->def.type != 'V')) return false;
    pieces.push_back(
        {f->field, static_cast<std::size_t>(f->def.width), caseMap, f->def.nullable, false});
    codePage = n.codePage;
    return true;
  }

  bool bind(const Node& root) {
    if (root.op == Op::Field && root.type != Type::Character && !root.currency) {
      single = &root;
      return true;
    }
    return collect(root);
  }
};

Expression::Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;
Expression::~Expression() = default;

Expression Expression::compile(std::string_view text, const KeySchema& schema) {
  Expression e;
  try {
    e.root_ = Parser(text, schema).parseAll();
  } catch (const UnsupportedExpression& err) {
    throw UnsupportedExpression("\"" + std::string(text) + "\": " + err.what());
  }
  if (e.root_->type == Type::Character && e.root_->width == 0)
    throw UnsupportedExpression("\"" + std::string(text) + "\": the key is empty");
  auto plan = std::make_unique<Plan>();
  if (plan->bind(*e.root_)) e.plan_ = std::move(plan);
  return e;
}

Type Expression::type() const { return root_->type; }
std::size_t Expression::width() const { return root_->width; }
bool Expression::nullable() const { return root_->nullable; }

std::string Expression::unverifiedKeyEncoding() const {
  if (root_->type == Type::DateTime) return "datetime";
  if (root_->type == Type::Numeric && root_->currency) return "currency";
  return {};
}

Value Expression::evaluate(const KeyRecord& record) const { return root_->eval(record); }

std::string Expression::key(const KeyRecord& record, bool nullMarker) const {
  return encodeKey(evaluate(record), width(), nullMarker);
}

namespace {

// Whether 8 stored bytes are a real date, YYYYMMDD: what DTOS() gives back for it unchanged.
bool storedDateIsExact(const std::uint8_t* d) {
  int v[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  for (int k = 0, at = 0; k < 3; ++k)
    for (int i = 0; i < widths[k]; ++i, ++at) {
      if (d[at] < '0' || d[at] > '9') return false;
      v[k] = v[k] * 10 + (d[at] - '0');
    }
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (v[0] < 1 || v[1] < 1 || v[1] > 12 || v[2] < 1) return false;
  const bool leap = (v[0] % 4 == 0 && v[0] % 100 != 0) || v[0] % 400 == 0;
  return v[2] <= days[v[1] - 1] + (v[1] == 2 && leap ? 1 : 0);
}

}  // namespace

void Expression::writeKey(const KeyRecord& record, bool nullMarker, char* out) const {
  auto general = [&] {
    const std::string k = key(record, nullMarker);
    std::memcpy(out, k.data(), k.size());
  };
  if (!plan_) return general();
  if (plan_->single) {
    const Value v = fieldValue(*plan_->single, record);
    if (v.null || v.type == Type::Logical) return general();
    char* o = out;
    if (nullMarker) *o++ = static_cast<char>(0x80);
    if (v.type == Type::Integer) {
      const auto u = static_cast<std::uint32_t>(static_cast<std::int32_t>(v.number)) ^ 0x80000000u;
      for (int i = 0; i < 4; ++i) o[i] = static_cast<char>(u >> (24 - 8 * i));
      return;
    }
    const double d = v.type == Type::Numeric
                         ? v.number
                         : static_cast<double>(v.day) + static_cast<double>(v.ms) / 86400000.0;
    std::uint64_t bits = std::bit_cast<std::uint64_t>(d == 0 ? 0.0 : d);
    bits = d < 0 ? ~bits : bits ^ (std::uint64_t{1} << 63);
    for (int i = 0; i < 8; ++i) o[i] = static_cast<char>(bits >> (8 * (7 - i)));
    return;
  }
  for (const auto& p : plan_->pieces) {
    if (p.nullable && record.isNull(p.field)) {
      // Joined with .NULL., the whole key is .NULL.
      if (!nullMarker) throw EvaluationError("a key that cannot be .NULL. evaluated to .NULL.");
      std::memset(out, 0, width() + 1);
      return;
    }
  }
  char* o = out;
  if (nullMarker) *o++ = static_cast<char>(0x80);
  // Each field's value, one after the other (a short Varchar moves the rest left, as joining
  // its value does), then blanks to the key's width.
  char* const end = o + width();
  for (const auto& p : plan_->pieces) {
    const auto raw = record.raw(p.field);
    if (raw.size() != p.width)
      throw EvaluationError("field has " + std::to_string(raw.size()) + " bytes, expected " +
                            std::to_string(p.width));
    if (p.dateText) {
      const bool blank = std::all_of(raw.begin(), raw.end(), [](auto c) { return c == ' '; });
      // A stored date that is no real date takes the general way (and its error or its
      // normalised text).
      if (!blank && !storedDateIsExact(raw.data())) return general();
      std::memcpy(o, raw.data(), 8);
      o += 8;
      continue;
    }
    const std::size_t n = std::min(raw.size(), record.length(p.field));
    if (p.caseMap == 0) {
      std::memcpy(o, raw.data(), n);
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        const auto m = mapCase(raw[i], p.caseMap > 0, plan_->codePage);
        if (!m)
          throw EvaluationError("cannot convert the case of byte " + std::to_string(raw[i]) +
                                " in this table's code page");
        o[i] = static_cast<char>(*m);
      }
    }
    o += n;
  }
  std::memset(o, ' ', std::size_t(end - o));
}

bool Expression::holds(const KeyRecord& record) const {
  const Value v = evaluate(record);
  return !v.null && v.logical;
}

std::string encodeDouble(double v) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(v == 0 ? 0.0 : v);  // no negative zero
  if (v < 0)
    bits = ~bits;
  else
    bits ^= std::uint64_t{1} << 63;
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(bits >> (8 * (7 - i)));
  return out;
}

std::string encodeKey(const Value& value, std::size_t width, bool nullable) {
  if (value.null) {
    if (!nullable) throw EvaluationError("a key that cannot be .NULL. evaluated to .NULL.");
    return std::string(width + 1, '\0');
  }
  std::string k;
  switch (value.type) {
    case Type::Character:
      k = fit(value.text, width);
      k.resize(width, ' ');
      break;
    case Type::Integer: {
      const auto u =
          static_cast<std::uint32_t>(static_cast<std::int32_t>(value.number)) ^ 0x80000000u;
      k = {static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
           static_cast<char>(u)};
      break;
    }
    case Type::Numeric:
      k = encodeDouble(value.number);
      break;
    case Type::Date:
      k = encodeDouble(static_cast<double>(value.day));
      break;
    case Type::DateTime:
      k = encodeDouble(static_cast<double>(value.day) + static_cast<double>(value.ms) / 86400000.0);
      break;
    case Type::Logical:
      k = value.logical ? "T" : "F";
      break;
  }
  if (nullable) k.insert(k.begin(), static_cast<char>(0x80));
  return k;
}

std::string formatStr(double value, int length, int decimals) {
  if (!std::isfinite(value)) return std::string(static_cast<std::size_t>(length), '*');
  // Shortest text that reads back as the same double: the digits FoxPro shows for it.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
  const std::string exact(buf, res.ptr);
  const bool negative = value < 0;
  const auto point = exact.find('.');
  const std::string intPart = point == std::string::npos ? exact : exact.substr(0, point);
  const std::string fracPart = point == std::string::npos ? "" : exact.substr(point + 1);

  for (int dec = decimals; dec >= 0; --dec) {
    // Round half away from zero at `dec` decimals, on the decimal digits.
    std::string digits = intPart + fracPart.substr(0, std::min<std::size_t>(dec, fracPart.size()));
    digits.append(static_cast<std::size_t>(dec) - std::min<std::size_t>(dec, fracPart.size()), '0');
    const bool roundUp = static_cast<std::size_t>(dec) < fracPart.size() && fracPart[dec] >= '5';
    if (roundUp) {
      int i = static_cast<int>(digits.size()) - 1;
      while (i >= 0 && digits[i] == '9') digits[i--] = '0';
      if (i >= 0)
        ++digits[i];
      else
        digits.insert(digits.begin(), '1');
    }
    std::string ip = digits.substr(0, digits.size() - dec);
    const std::string fp = digits.substr(digits.size() - dec);
    ip.erase(0, std::min(ip.find_first_not_of('0'), ip.size() - 1));
    std::string s = ip + (dec > 0 ? "." + fp : "");
    if (negative && digits.find_first_not_of('0') != std::string::npos) s = "-" + s;
    if (s.size() <= static_cast<std::size_t>(length))
      return std::string(static_cast<std::size_t>(length) - s.size(), ' ') + s;
  }
  return std::string(static_cast<std::size_t>(length), '*');
}

std::int64_t julianDay(int year, int month, int day) {
  const std::int64_t a = (14 - month) / 12;
  const std::int64_t y = year + 4800 - a;
  const std::int64_t m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void civilFromJulian(std::int64_t jdn, int& year, int& month, int& day) {
  const std::int64_t a = jdn + 32044;
  const std::int64_t b = (4 * a + 3) / 146097;
  const std::int64_t c = a - 146097 * b / 4;
  const std::int64_t d = (4 * c + 3) / 1461;
  const std::int64_t e = c - 1461 * d / 4;
  const std::int64_t m = (5 * e + 2) / 153;
  day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  month = static_cast<int>(m + 3 - 12 * (m / 10));
  year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

}  // namespace vfp::keyexpr
