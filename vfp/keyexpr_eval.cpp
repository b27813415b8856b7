// Values of expressions: a field's value read from the record, and the evaluation of the tree.
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "vfp/bytes.h"
#include "vfp/keyexpr_internal.h"
#include "vfp/value.h"

namespace vfp::keyexpr {

using namespace detail;

namespace {

std::string trimNumber(std::span<const std::uint8_t> raw) {
  std::string s(raw.begin(), raw.end());
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(' ');
  s = s.substr(b, e - b + 1);
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  return s;
}

Value nullOf(Type t) {
  Value v;
  v.type = t;
  v.null = true;
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

std::string twoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string dtos(std::int64_t day) {
  if (day == 0) return std::string(8, ' ');
  const Date d = julianToDate(static_cast<long>(day));
  std::string ys = std::to_string(d.year);
  while (ys.size() < 4) ys = "0" + ys;
  return ys + twoDigits(d.month) + twoDigits(d.day);
}

}  // namespace

namespace detail {

std::string typeName(Type t) {
  // In the order of Type.
  static constexpr const char* kNames[] = {"character", "numeric",  "integer",
                                           "date",      "datetime", "logical"};
  return kNames[static_cast<std::size_t>(t)];
}

std::string fit(std::string s, std::size_t width, bool keepLeft) {
  if (s.size() > width) s = keepLeft ? s.substr(0, width) : s.substr(s.size() - width);
  return s;
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
      v.number = static_cast<std::int32_t>(bytes::le32(raw.data()));
      break;
    case 'B':
      v.number = bytes::leDouble(raw.data());
      break;
    case 'Y':
      v.number = static_cast<double>(static_cast<std::int64_t>(bytes::le64(raw.data()))) / 10000.0;
      break;
    case 'D': {
      int y = 0, m = 0, d = 0;
      const std::string s(raw.begin(), raw.end());
      if (s.find_first_not_of(' ') == std::string::npos) break;  // empty date
      if (std::sscanf(s.c_str(), "%4d%2d%2d", &y, &m, &d) != 3 || m < 1 || m > 12 || d < 1 ||
          d > 31)
        throw EvaluationError("field " + n.def.name + " holds \"" + s + "\", not a date");
      v.day = dateToJulian({y, m, d});
      break;
    }
    case 'T':
      v.day = static_cast<std::int32_t>(bytes::le32(raw.data()));
      v.ms = static_cast<std::int32_t>(bytes::le32(raw.data() + 4));
      break;
    case 'L': {
      const char c = static_cast<char>(raw[0]);
      v.logical = c == 'T' || c == 't' || c == 'Y' || c == 'y';
      break;
    }
  }
  return v;
}

}  // namespace detail

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
    case Op::IsNull: {
      Value v;
      v.logical = args[0]->eval(r).null;
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

}  // namespace vfp::keyexpr
