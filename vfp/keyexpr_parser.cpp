// The parser and type checker of key expressions: text to a tree whose every node knows its type,
// width and whether it can be .NULL.
#include <algorithm>
#include <array>
#include <cmath>

#include "vfp/convert.h"
#include "vfp/file.h"
#include "vfp/keyexpr_internal.h"

namespace vfp::keyexpr::detail {

namespace {

using NodePtr = std::unique_ptr<Node>;

class Parser {
 public:
  Parser(std::string_view text, const KeySchema& schema, bool condition)
      : text_(text), toks_(tokenize(text)), schema_(schema), condition_(condition) {}

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

  // .OR. and .AND.: left-associative, between logical operands of the next tighter level.
  NodePtr parseLogical(Tok tok, Op op, const char* name, NodePtr (Parser::*operand)()) {
    NodePtr l = (this->*operand)();
    while (peek().kind == tok) {
      next();
      NodePtr r = (this->*operand)();
      needLogical(*l, name);
      needLogical(*r, name);
      l = make(op, Type::Logical, 1, list(std::move(l), std::move(r)));
    }
    return l;
  }
  NodePtr parseOr() { return parseLogical(Tok::Or, Op::Or, ".OR.", &Parser::parseAnd); }
  NodePtr parseAnd() { return parseLogical(Tok::And, Op::And, ".AND.", &Parser::parseNot); }

  NodePtr parseNot() {
    if (peek().kind == Tok::Not) {
      next();
      NodePtr x = parseNot();
      needLogical(*x, "NOT");
      return make(Op::Not, Type::Logical, 1, list(std::move(x)));
    }
    return parseCmp();
  }

  bool peekWord(const char* w) const {
    return peek().kind == Tok::Ident && toUpperAscii(peek().text) == w;
  }

  NodePtr parseCmp() {
    NodePtr l = parseAdd();
    if (condition_ && peekWord("IS")) {
      next();
      const bool negated = peek().kind == Tok::Not;
      if (negated) next();
      if (peek().kind != Tok::Null && !peekWord("NULL")) fail("expected NULL after IS");
      next();
      NodePtr n = make(Op::IsNull, Type::Logical, 1, list(std::move(l)));
      n->nullable = false;
      if (!negated) return n;
      return make(Op::Not, Type::Logical, 1, list(std::move(n)));
    }
    if (peek().kind != Tok::Cmp) return l;
    const CmpOp op = next().cmp;
    NodePtr r = parseAdd();
    // NULL takes the type of what it is compared with; the comparison is then .NULL.
    if (l->untypedNull) l->type = r->type;
    if (r->untypedNull) r->type = l->type;
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
        if (!condition_) fail(".NULL. is not supported in index expressions");
        return nullConstant();
      case Tok::DateLit:
        return dateConstant(t.text);
      case Tok::LParen: {
        NodePtr n = parseOr();
        expect(Tok::RParen, "\")\"");
        return n;
      }
      case Tok::Ident:
        if (peek().kind == Tok::LParen) return parseCall(t.text);
        if (condition_ && toUpperAscii(t.text) == "NULL" && !schema_.find(t.text))
          return nullConstant();
        return fieldRef(t.text);
      default:
        fail("unexpected \"" + std::string(text_.substr(std::min(t.pos, text_.size()))) + "\"");
    }
  }

  NodePtr nullConstant() {
    Value v;
    v.null = true;
    auto n = constant(v, 1);
    n->nullable = true;
    n->untypedNull = true;
    return n;
  }

  // {^2024-05-31}, {^2024-05-31 13:45[:10]} (also with "," or "T" before the time), and the
  // empty date {} or {/ /}.
  NodePtr dateConstant(const std::string& inside) {
    std::string s;
    for (char c : inside)
      if (c != ' ' || !s.empty()) s += c;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    Value v;
    v.type = Type::Date;
    if (s.empty() || s == "/ /" || s == "//" || s == "/  /" || s == "^") return constant(v, 8);
    if (s[0] != '^') fail("dates are written {^yyyy-mm-dd}, not {" + inside + "}");
    s.erase(0, 1);
    for (char& c : s)
      if (c == '/') c = '-';
    const auto sep = s.find_first_of(" ,T");
    std::string date = s.substr(0, sep), time;
    if (sep != std::string::npos) {
      time = s.substr(sep + 1);
      while (!time.empty() && time[0] == ' ') time.erase(0, 1);
      if (std::count(time.begin(), time.end(), ':') == 1) time += ":00";
    }
    bool hasTime = false;
    const auto when = parseDateTimeText(time.empty() ? date : date + " " + time, &hasTime);
    if (!when) fail("{" + inside + "} is not a valid date");
    v.day = dateToJulian(when->date);
    if (hasTime) {
      v.type = Type::DateTime;
      v.ms = ((when->hour * 60 + when->minute) * 60 + when->second) * 1000LL;
    }
    return constant(v, 8);
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

    static const std::array<const char*, 16> kNames = {
        "UPPER", "LOWER", "STR",     "DTOS",    "TTOC",  "SUBSTR", "LEFT", "PADL",
        "PADR",  "EMPTY", "DELETED", "ALLTRIM", "LTRIM", "RTRIM",  "TRIM", "ISNULL"};
    const std::string up = toUpperAscii(rawName);
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
    if (name == "ISNULL") {
      arity(1, 1);
      auto n = make(Op::IsNull, Type::Logical, 1, std::move(args));
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
    fail("function " + toUpperAscii(rawName) + "() is not supported");
  }

  std::string_view text_;
  std::vector<Token> toks_;
  std::size_t i_ = 0;
  const KeySchema& schema_;
  bool condition_ = false;
};

}  // namespace

std::unique_ptr<Node> parse(std::string_view text, const KeySchema& schema, bool condition) {
  return Parser(text, schema, condition).parseAll();
}

}  // namespace vfp::keyexpr::detail
