#include "vfp/field_lookup.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vfp {

namespace {

struct Fnv {
  std::uint64_t h = 14695981039346656037ull;
  void add(const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  }
  template <class T>
  void add(const T& v) {
    add(&v, sizeof v);
  }
};

}  // namespace

FieldLookup::FieldLookup(const keyexpr::KeySchema& schema, std::size_t field)
    : field_(field), value_(keyexpr::Expression::compile(schema.fields[field].name, schema)) {}

bool FieldLookup::answers(const keyexpr::FieldDef& field, const keyexpr::Value& c, bool exact) {
  if (c.null) return false;
  const bool number = c.type == keyexpr::Type::Numeric || c.type == keyexpr::Type::Integer;
  switch (field.type) {
    case 'C':
      return c.type == keyexpr::Type::Character &&
             (exact || c.text.size() == std::size_t(field.width));
    case 'V':
      return c.type == keyexpr::Type::Character && exact;
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
      return number;
    case 'D':
      return c.type == keyexpr::Type::Date;
    case 'T':
      return c.type == keyexpr::Type::DateTime;
    case 'L':
      return c.type == keyexpr::Type::Logical;
    default:
      return false;
  }
}

std::uint64_t FieldLookup::hash(const keyexpr::Value& v) {
  if (v.null) return kNoValue;
  Fnv f;
  switch (v.type) {
    case keyexpr::Type::Character: {
      // Trailing blanks do not make two texts differ for "==", nor for C fields of one width.
      std::size_t n = v.text.size();
      while (n > 0 && v.text[n - 1] == ' ') --n;
      f.add('C');
      f.add(v.text.data(), n);
      break;
    }
    case keyexpr::Type::Numeric:
    case keyexpr::Type::Integer: {
      if (std::isnan(v.number)) return kNoValue;
      const double d = v.number == 0 ? 0.0 : v.number;  // -0 equals 0
      f.add('N');
      f.add(d);
      break;
    }
    case keyexpr::Type::Date:
      f.add('D');
      f.add(v.day);
      break;
    case keyexpr::Type::DateTime:
      f.add('T');
      f.add(v.day);
      f.add(v.ms);
      break;
    case keyexpr::Type::Logical:
      f.add('L');
      f.add(v.logical);
      break;
  }
  return f.h == kNoValue ? 1 : f.h;
}

bool FieldLookup::valueOf(const keyexpr::KeyRecord& record, std::uint64_t& out) const {
  try {
    out = hash(value_.evaluate(record));
    return true;
  } catch (const keyexpr::EvaluationError&) {
    // The condition cannot be evaluated for this record either: reading the table says so.
    return false;
  }
}

bool FieldLookup::add(std::uint32_t recno, const keyexpr::KeyRecord& record) {
  std::uint64_t h = 0;
  if (recno != hashOf_.size() || !valueOf(record, h)) return false;
  hashOf_.push_back(h);
  if (h != kNoValue) records_.emplace(h, recno);
  return true;
}

bool FieldLookup::change(std::uint32_t recno, const keyexpr::KeyRecord& record) {
  std::uint64_t h = 0;
  if (recno >= hashOf_.size() || !valueOf(record, h)) return false;
  const std::uint64_t old = hashOf_[recno];
  if (old == h) return true;
  if (old != kNoValue) {
    auto [first, last] = records_.equal_range(old);
    for (auto it = first; it != last; ++it)
      if (it->second == recno) {
        records_.erase(it);
        break;
      }
  }
  hashOf_[recno] = h;
  if (h != kNoValue) records_.emplace(h, recno);
  return true;
}

std::vector<std::uint32_t> FieldLookup::candidates(const keyexpr::Value& constant) const {
  std::vector<std::uint32_t> out;
  const std::uint64_t h = hash(constant);
  if (h == kNoValue) return out;
  auto [first, last] = records_.equal_range(h);
  for (auto it = first; it != last; ++it) out.push_back(it->second);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace vfp
