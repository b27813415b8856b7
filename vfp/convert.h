// Text forms of FoxPro values: exact decimal arithmetic on digit strings (so that 20-digit
// numerics and currency never pass through a double) and the date forms the engine accepts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vfp/value.h"

namespace vfp {

// A number read from text: sign, integer digits (no leading zeros), fraction digits.
struct DecimalText {
  bool negative = false;
  std::string whole;
  std::string fraction;
};

// Parses "  -12.50", "+3", ".5", "1e3" (exponent allowed); nullopt when it is not a number.
std::optional<DecimalText> parseDecimal(std::string_view text);
// Whether parseDecimal would read the text, without building its digits.
bool isDecimalText(std::string_view text);
// Whole numbers of at most 18 digits with an optional sign ("-12", " 7 "), else nullopt.
std::optional<std::int64_t> plainInteger(std::string_view text);
// Whether the text is already what formatDecimal gives for it: optional "-", no leading zero,
// an optional point with digits after it, no negative zero.
bool isCanonicalDecimal(std::string_view text);
// Rounds half away from zero to `decimals` places and formats ("-0.50"); "0" for zero.
std::string formatDecimal(const DecimalText& d, int decimals);
// Canonical decimal text of a stored N/F field ("  12.50" -> "12.50"); nullopt when blank/bad.
std::optional<std::string> normalizeStoredNumber(std::string_view field);
// Currency: int64 ten-thousandths <-> text.
std::string formatCurrency(std::int64_t tenThousandths);
std::optional<std::int64_t> parseCurrency(std::string_view text);

// "2021-08-31", "20210831", "2021-08-31 12:34:56[.fff]", "2021-08-31T12:34:56".
// Returns nullopt unless the text is one of those forms with a real date.
std::optional<DateTime> parseDateTimeText(std::string_view text, bool* hasTime = nullptr);

}  // namespace vfp
