// A stored record as the expression evaluator sees it, and the fields such expressions can name:
// what index maintenance and the WHERE of UPDATE and DELETE share.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "vfp/dbf_header.h"
#include "vfp/keyexpr.h"

namespace vfp {

// A raw record seen through the table header, for the expression evaluator.
class RawRecord final : public keyexpr::KeyRecord {
 public:
  RawRecord(const TableHeader& h, const std::vector<int>& fields)
      : header_(h), fields_(fields), nullFlags_(h.nullFlagsField()) {}
  void set(const std::uint8_t* record) { rec_ = record; }

  bool deleted() const override { return rec_[0] == '*'; }
  std::span<const std::uint8_t> raw(std::size_t field) const override {
    const auto& f = header_.fields[std::size_t(fields_[field])];
    return {rec_ + f.offset, f.length};
  }
  bool isNull(std::size_t field) const override {
    const auto& f = header_.fields[std::size_t(fields_[field])];
    return nullFlagBit(rec_, nullFlags_, f.nullBit);
  }
  std::size_t length(std::size_t field) const override {
    const auto& f = header_.fields[std::size_t(fields_[field])];
    // A shorter Varchar keeps its length in its last byte and says so in _NullFlags.
    if (f.varLengthBit >= 0 && nullFlagBit(rec_, nullFlags_, f.varLengthBit))
      return std::min<std::size_t>(rec_[f.offset + f.length - 1], f.length - 1);
    return f.length;
  }

 private:
  const TableHeader& header_;
  const std::vector<int>& fields_;
  const FieldDescriptor* nullFlags_;
  const std::uint8_t* rec_ = nullptr;
};

// The fields of a table that expressions can name (user fields, with the container's long names
// when given), and in fieldIndex the header field of each.
keyexpr::KeySchema keySchemaOf(const TableHeader& header, const std::vector<std::string>& longNames,
                               std::vector<int>& fieldIndex);

}  // namespace vfp
