// Index key and FOR expressions: the subset of FoxPro expressions this engine can evaluate exactly
// as FoxPro does, and the key bytes FoxPro stores for their values under MACHINE collation.
//
// Supported: field names (DBF or long container names; fields of types C, V, N, F, I, B, Y, D,
// T, L; a Varchar's key is its value padded with blanks to the field's width, as FoxPro pads it),
// string/numeric/logical literals,
// + (concatenation or addition), - (numbers), UPPER, LOWER, STR, DTOS, TTOC(t, 1), SUBSTR, LEFT,
// PADL, PADR, ALLTRIM/LTRIM/RTRIM/TRIM (keys padded back to the widest result), EMPTY, DELETED(),
// ISNULL, date and datetime constants ({^2024-05-31}, {^2024-05-31 13:45:10}, {}),
// NOT / .NOT. / !, .AND., .OR., and comparisons (= == <> # != < <= > >= => =<). Function names may
// be abbreviated to four letters, as FoxPro allows. Conditions (the WHERE of UPDATE and DELETE)
// may also hold NULL / .NULL. and x IS [NOT] NULL; a comparison with NULL is .NULL., which a
// condition counts as false, as FoxPro does. Anything else is reported by compile() as
// UnsupportedExpression, so a caller can refuse to maintain the index instead of writing a wrong
// one.
//
// Expressions are bound to a table through KeySchema / KeyRecord, which the table layer
// implements; this header does no file I/O.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vfp/error.h"

namespace vfp::keyexpr {

// The expression uses something outside the supported subset, or does not type-check.
class UnsupportedExpression : public vfp::Error {
 public:
  using vfp::Error::Error;
};

// A record's value cannot be turned into a key the way FoxPro would (e.g. a number field holding
// "*****", or case conversion of a byte whose code-page mapping is unknown).
class EvaluationError : public vfp::Error {
 public:
  using vfp::Error::Error;
};

struct FieldDef {
  std::string name;      // as in the .dbf (10 characters at most)
  std::string longName;  // the container's long name, empty for free tables
  char type = 'C';       // FoxPro type letter
  int width = 0;
  int decimals = 0;
  bool nullable = false;
};

struct KeySchema {
  std::vector<FieldDef> fields;
  std::uint8_t codePageMark = 0x03;  // header byte 29: decides case mapping of UPPER/LOWER

  // Case-insensitive lookup by DBF name or long name.
  std::optional<std::size_t> find(std::string_view name) const;
};

// One record of the table, as stored.
class KeyRecord {
 public:
  virtual ~KeyRecord() = default;
  virtual bool deleted() const = 0;
  virtual std::span<const std::uint8_t> raw(std::size_t field) const = 0;  // exactly width bytes
  virtual bool isNull(std::size_t field) const = 0;
  // Bytes of raw(field) that hold the value: fewer than its width for a shorter Varchar.
  virtual std::size_t length(std::size_t field) const { return raw(field).size(); }
};

enum class Type { Character, Numeric, Integer, Date, DateTime, Logical };

// A computed value. Integer appears only for a bare I field, whose key is 4 bytes.
struct Value {
  Type type = Type::Logical;
  bool null = false;
  std::string text;      // Character: bytes in the table's code page
  double number = 0;     // Numeric, Integer
  std::int64_t day = 0;  // Date, DateTime: Julian day number (vfp/value.h), 0 = empty
  std::int64_t ms = 0;   // DateTime: milliseconds since midnight
  bool logical = false;
};

struct Node;

class Expression {
 public:
  Expression(Expression&&) noexcept;
  Expression& operator=(Expression&&) noexcept;
  ~Expression();

  // Parses and type-checks `text` against `schema`; throws UnsupportedExpression naming the
  // offending part.
  static Expression compile(std::string_view text, const KeySchema& schema);
  // The same for a condition (a logical expression that may use NULL and IS [NOT] NULL).
  static Expression compileCondition(std::string_view text, const KeySchema& schema);

  // The schema field the whole expression is, when it is one bare field.
  std::optional<std::size_t> bareField() const;
  // A field = constant (or ==) comparison that the expression cannot hold without: itself or
  // one operand of its outermost .AND.s. Lets a caller find the records through an index on
  // that field and test only those.
  struct FieldEquality {
    std::size_t field = 0;
    Value constant;
    bool exact = false;  // ==
  };
  std::vector<FieldEquality> requiredEqualities() const;
  // The schema fields the expression reads, ascending, each once.
  std::vector<std::size_t> fieldsRead() const;

  Type type() const;
  // Width of a character result; the key length of other types (without a null marker).
  std::size_t width() const;
  // Whether the result can be .NULL. (some field it reads is nullable).
  bool nullable() const;
  // Length of the index key: the value bytes plus one null-marker byte when nullable.
  std::size_t keyLength() const { return width() + (nullable() ? 1 : 0); }

  // The kind of key ("datetime", "currency") whose bytes in FoxPro's own indexes have not been
  // checked against real files; empty for every other key. Maintainers refuse such tags.
  std::string unverifiedKeyEncoding() const;

  Value evaluate(const KeyRecord& record) const;
  // The key bytes FoxPro stores for this record (MACHINE collation), with the null-marker byte
  // when the tag has one (candidate tags have none: their keys may not be .NULL.).
  std::string key(const KeyRecord& record, bool nullMarker) const;
  // The same bytes as key(), written to out (width() bytes, one more with the null marker).
  // Keys made of character fields (joined by +, in UPPER() or LOWER()) are copied straight from
  // the record, without building a value.
  void writeKey(const KeyRecord& record, bool nullMarker, char* out) const;
  // For a FOR clause: whether the record belongs in the index (.NULL. counts as false).
  bool holds(const KeyRecord& record) const;

 private:
  struct Plan;
  Expression();
  std::unique_ptr<Node> root_;
  std::unique_ptr<Plan> plan_;  // set when writeKey can copy the fields directly
};

// Key bytes of a value, `width` bytes long (character values are padded with spaces), with the
// null-marker byte in front when `nullable`.
std::string encodeKey(const Value& value, std::size_t width, bool nullable);
// Numbers, dates and date-times: big-endian IEEE double, sign bit flipped for >= 0, all bits
// inverted for < 0, so that memcmp orders them.
std::string encodeDouble(double v);

// FoxPro's STR(n, len, dec) text.
std::string formatStr(double value, int length, int decimals);

}  // namespace vfp::keyexpr
