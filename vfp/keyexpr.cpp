// Key expressions bound to a table: compiling them, and the key bytes FoxPro stores for a record.
#include "vfp/keyexpr.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "vfp/bytes.h"
#include "vfp/file.h"
#include "vfp/keyexpr_internal.h"
#include "vfp/value.h"

namespace vfp::keyexpr {

using namespace detail;

std::optional<std::size_t> KeySchema::find(std::string_view name) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (equalsNoCase(fields[i].name, name) ||
        (!fields[i].longName.empty() && equalsNoCase(fields[i].longName, name)))
      return i;
  return std::nullopt;
}

namespace {

// Integer keys: big-endian with the sign bit flipped, so that memcmp orders them.
void putOrderedInt(char* out, double number) {
  const auto u = static_cast<std::uint32_t>(static_cast<std::int32_t>(number)) ^ 0x80000000u;
  bytes::putBe32(reinterpret_cast<std::uint8_t*>(out), u);
}

// The 8 key bytes of a number, date or date-time (see encodeDouble).
void putOrderedDouble(char* out, double v) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(v == 0 ? 0.0 : v);  // no negative zero
  bits = v < 0 ? ~bits : bits ^ (std::uint64_t{1} << 63);
  bytes::putBe64(reinterpret_cast<std::uint8_t*>(out), bits);
}

// A date or date-time as the day number with the time as its fraction: how their keys order.
double dayNumber(const Value& v) {
  return static_cast<double>(v.day) + static_cast<double>(v.ms) / 86400000.0;
}

// Whether 8 stored bytes are a real date, YYYYMMDD: what DTOS() gives back for it unchanged.
bool storedDateIsExact(const std::uint8_t* d) {
  int v[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  for (int k = 0, at = 0; k < 3; ++k)
    for (int i = 0; i < widths[k]; ++i, ++at) {
      if (d[at] < '0' || d[at] > '9') return false;
      v[k] = v[k] * 10 + (d[at] - '0');
    }
  return validDate({v[0], v[1], v[2]});
}

}  // namespace

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
    e.root_ = detail::parse(text, schema);
  } catch (const UnsupportedExpression& err) {
    throw UnsupportedExpression("\"" + std::string(text) + "\": " + err.what());
  }
  if (e.root_->type == Type::Character && e.root_->width == 0)
    throw UnsupportedExpression("\"" + std::string(text) + "\": the key is empty");
  auto plan = std::make_unique<Plan>();
  if (plan->bind(*e.root_)) e.plan_ = std::move(plan);
  return e;
}

Expression Expression::compileCondition(std::string_view text, const KeySchema& schema) {
  Expression e;
  try {
    e.root_ = detail::parse(text, schema, /*condition=*/true);
  } catch (const UnsupportedExpression& err) {
    throw UnsupportedExpression("\"" + std::string(text) + "\": " + err.what());
  }
  if (e.root_->type != Type::Logical)
    throw UnsupportedExpression("\"" + std::string(text) + "\" is not a logical expression");
  return e;
}

std::optional<std::size_t> Expression::bareField() const {
  if (root_->op != Op::Field) return std::nullopt;
  return root_->field;
}

std::vector<Expression::FieldEquality> Expression::requiredEqualities() const {
  std::vector<FieldEquality> out;
  std::vector<const Node*> todo{root_.get()};
  while (!todo.empty()) {
    const Node* n = todo.back();
    todo.pop_back();
    if (n->op == Op::And) {
      for (const auto& a : n->args) todo.push_back(a.get());
      continue;
    }
    if (n->op != Op::Cmp || (n->cmp != detail::CmpOp::Eq && n->cmp != detail::CmpOp::ExactEq))
      continue;
    const Node* f = n->args[0].get();
    const Node* c = n->args[1].get();
    // Text compares by the right side's length, so only field = 'text' narrows to a prefix.
    if (f->op != Op::Field && f->type != Type::Character) std::swap(f, c);
    if (f->op != Op::Field || c->op != Op::Const || c->constant.null) continue;
    out.push_back({f->field, c->constant, n->cmp == detail::CmpOp::ExactEq});
  }
  return out;
}

std::vector<std::size_t> Expression::fieldsRead() const {
  std::vector<std::size_t> out;
  std::vector<const Node*> todo{root_.get()};
  while (!todo.empty()) {
    const Node* n = todo.back();
    todo.pop_back();
    if (n->op == Op::Field) out.push_back(n->field);
    for (const auto& a : n->args) todo.push_back(a.get());
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
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
    if (v.type == Type::Integer)
      putOrderedInt(o, v.number);
    else
      putOrderedDouble(o, v.type == Type::Numeric ? v.number : dayNumber(v));
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
  std::string out(8, '\0');
  putOrderedDouble(out.data(), v);
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
    case Type::Integer:
      k.resize(4);
      putOrderedInt(k.data(), value.number);
      break;
    case Type::Numeric:
      k = encodeDouble(value.number);
      break;
    case Type::Date:
      k = encodeDouble(static_cast<double>(value.day));
      break;
    case Type::DateTime:
      k = encodeDouble(dayNumber(value));
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

}  // namespace vfp::keyexpr
