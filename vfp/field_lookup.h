// An equality lookup held in memory over one field of a table that no tag indexes, so that a
// script of many UPDATE or DELETE statements keyed on such a field reads the table once instead
// of once per statement. Values are hashed the way a condition compares them: every record that
// "field = constant" holds for is among the candidates, and records of other values may be too
// (hash collisions, trailing blanks), so callers test each candidate with the whole condition.
// The owner keeps it in step by passing every appended and every changed record.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "vfp/keyexpr.h"

namespace vfp {

class FieldLookup {
 public:
  // Throws keyexpr::UnsupportedExpression for a field no condition compares as a value.
  FieldLookup(const keyexpr::KeySchema& schema, std::size_t field);

  // Whether `constant` can be looked up for `field`: a value of the field's own kind, and text
  // only when "==" compares it or it is as long as a C field (with "=" shorter text matches
  // every value it begins).
  static bool answers(const keyexpr::FieldDef& field, const keyexpr::Value& constant, bool exact);

  std::size_t field() const { return field_; }
  // Records added so far.
  std::size_t records() const { return hashOf_.size(); }
  // Adds the next record (recno 0-based, one past the last added). False, with nothing added,
  // when recno is not the next one or its value cannot be evaluated: the lookup is then of no
  // use and its owner drops it.
  bool add(std::uint32_t recno, const keyexpr::KeyRecord& record);
  // Record recno (0-based, added before) now holds `record`. False as add() is.
  bool change(std::uint32_t recno, const keyexpr::KeyRecord& record);
  // The records (0-based, ascending) that may hold `constant`.
  std::vector<std::uint32_t> candidates(const keyexpr::Value& constant) const;

 private:
  static constexpr std::uint64_t kNoValue = 0;  // NULL or NaN: equal to no constant
  static std::uint64_t hash(const keyexpr::Value& v);
  bool valueOf(const keyexpr::KeyRecord& record, std::uint64_t& out) const;

  std::size_t field_;
  keyexpr::Expression value_;
  std::unordered_multimap<std::uint64_t, std::uint32_t> records_;
  std::vector<std::uint64_t> hashOf_;  // by record number
};

}  // namespace vfp
