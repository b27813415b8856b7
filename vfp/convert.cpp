#include "vfp/convert.h"

#include <algorithm>

namespace vfp {

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
std::string_view trimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\0'))
    s.remove_suffix(1);
  return s;
}
}  // namespace

std::optional<DecimalText> parseDecimal(std::string_view text) {
  text = trimSpaces(text);
  DecimalText d;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
  std::string digits;
  int pointAt = -1;
  bool any = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (isDigit(c)) {
      digits += c;
      any = true;
    } else if (c == '.' && pointAt < 0) {
      pointAt = int(digits.size());
    } else {
      break;
    }
  }
  if (!any) return std::nullopt;
  if (pointAt < 0) pointAt = int(digits.size());
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool neg = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
    int exp = 0;
    bool expDigits = false;
    for (; i < text.size() && isDigit(text[i]); ++i) {
      exp = std::min(exp * 10 + (text[i] - '0'), 400);
      expDigits = true;
    }
    if (!expDigits) return std::nullopt;
    pointAt += neg ? -exp : exp;
  }
  if (i != text.size()) return std::nullopt;
  if (pointAt < 0) {
    digits.insert(0, std::size_t(-pointAt), '0');
    pointAt = 0;
  }
  if (pointAt > int(digits.size())) digits.append(std::size_t(pointAt) - digits.size(), '0');
  d.whole = digits.substr(0, std::size_t(pointAt));
  d.fraction = digits.substr(std::size_t(pointAt));
  d.whole.erase(0, std::min(d.whole.find_first_not_of('0'), d.whole.size()));
  return d;
}

std::string formatDecimal(const DecimalText& d, int decimals) {
  std::string whole = d.whole;
  std::string frac = d.fraction;
  bool roundUp = int(frac.size()) > decimals && frac[std::size_t(decimals)] >= '5';
  frac.resize(std::size_t(decimals), '0');
  if (roundUp) {
    std::string all = whole + frac;
    int k = int(all.size()) - 1;
    while (k >= 0 && all[std::size_t(k)] == '9') all[std::size_t(k--)] = '0';
    if (k < 0)
      all.insert(0, 1, '1');
    else
      all[std::size_t(k)]++;
    whole = all.substr(0, all.size() - frac.size());
    frac = all.substr(all.size() - frac.size());
  }
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  bool zero = whole == "0" && frac.find_first_not_of('0') == std::string::npos;
  std::string out = (d.negative && !zero) ? "-" : "";
  out += whole;
  if (decimals > 0) out += "." + frac;
  return out;
}

bool isDecimalText(std::string_view text) {
  text = trimSpaces(text);
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  bool any = false, point = false;
  for (; i < text.size(); ++i) {
    if (isDigit(text[i]))
      any = true;
    else if (text[i] == '.' && !point)
      point = true;
    else
      break;
  }
  if (!any) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const std::size_t from = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    if (i == from) return false;
  }
  return i == text.size();
}

std::optional<std::int64_t> plainInteger(std::string_view text) {
  text = trimSpaces(text);
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
  if (i == text.size() || text.size() - i > 18) return std::nullopt;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (!isDigit(text[i])) return std::nullopt;
    v = v * 10 + (text[i] - '0');
  }
  return negative ? -v : v;
}

// True when t is already the canonical text of its number: an optional "-", digits without a
// leading zero (a lone "0" before the point excepted), and an optional point followed by at
// least one digit; not a negative zero. That is how FoxPro writes nearly every value, so the
// general parse and format below, which would give the same text back, is skipped.
bool isCanonicalDecimal(std::string_view t) {
  std::size_t i = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (negative) ++i;
  const std::size_t wholeAt = i;
  while (i < t.size() && isDigit(t[i])) ++i;
  const std::size_t wholeDigits = i - wholeAt;
  if (wholeDigits == 0 || (wholeDigits > 1 && t[wholeAt] == '0')) return false;
  bool nonZero = wholeDigits > 1 || t[wholeAt] != '0';
  if (i < t.size()) {
    if (t[i] != '.') return false;
    const std::size_t fractionAt = ++i;
    for (; i < t.size(); ++i) {
      if (!isDigit(t[i])) return false;
      nonZero = nonZero || t[i] != '0';
    }
    if (i == fractionAt) return false;
  }
  return !negative || nonZero;
}

std::optional<std::string> normalizeStoredNumber(std::string_view field) {
  auto t = trimSpaces(field);
  if (t.empty()) return std::nullopt;
  if (isCanonicalDecimal(t)) return std::string(t);
  auto d = parseDecimal(t);
  if (!d) return std::nullopt;
  // Keep the stored number of decimals: "12.50" stays "12.50".
  auto dot = t.find('.');
  bool exp = t.find_first_of("eE") != std::string_view::npos;
  int decimals =
      (dot == std::string_view::npos || exp) ? int(d->fraction.size()) : int(t.size() - dot - 1);
  return formatDecimal(*d, decimals);
}

std::string formatCurrency(std::int64_t v) {
  bool neg = v < 0;
  std::uint64_t u = neg ? std::uint64_t(0) - std::uint64_t(v) : std::uint64_t(v);
  std::string frac = std::to_string(u % 10000);
  frac.insert(0, 4 - frac.size(), '0');
  return (neg ? "-" : "") + std::to_string(u / 10000) + "." + frac;
}

std::optional<std::int64_t> parseCurrency(std::string_view text) {
  auto d = parseDecimal(text);
  if (!d) return std::nullopt;
  std::string s = formatDecimal(*d, 4);
  bool neg = !s.empty() && s[0] == '-';
  if (neg) s.erase(0, 1);
  s.erase(s.find('.'), 1);
  if (s.size() > 19) return std::nullopt;
  std::uint64_t u = 0;
  for (char c : s) u = u * 10 + std::uint64_t(c - '0');
  if (u > std::uint64_t(INT64_MAX) + (neg ? 1 : 0)) return std::nullopt;
  return neg ? std::int64_t(0 - u) : std::int64_t(u);
}

std::optional<DateTime> parseDateTimeText(std::string_view text, bool* hasTime) {
  text = trimSpaces(text);
  if (hasTime) *hasTime = false;
  auto num = [&](std::size_t at, std::size_t n, int& out) {
    if (at + n > text.size()) return false;
    out = 0;
    for (std::size_t k = 0; k < n; ++k) {
      if (!isDigit(text[at + k])) return false;
      out = out * 10 + (text[at + k] - '0');
    }
    return true;
  };
  DateTime dt;
  std::size_t pos;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    if (!num(0, 4, dt.date.year) || !num(5, 2, dt.date.month) || !num(8, 2, dt.date.day))
      return std::nullopt;
    pos = 10;
  } else if (text.size() >= 8 && num(0, 4, dt.date.year) && num(4, 2, dt.date.month) &&
             num(6, 2, dt.date.day)) {
    pos = 8;
  } else {
    return std::nullopt;
  }
  if (!validDate(dt.date)) return std::nullopt;
  if (pos == text.size()) return dt;
  if (text[pos] != ' ' && text[pos] != 'T') return std::nullopt;
  ++pos;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (!num(pos, 2, dt.hour) || pos + 2 >= text.size() || text[pos + 2] != ':' ||
      !num(pos + 3, 2, dt.minute))
    return std::nullopt;
  pos += 5;
  if (pos < text.size() && text[pos] == ':') {
    if (!num(pos + 1, 2, dt.second)) return std::nullopt;
    pos += 3;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      while (pos < text.size() && isDigit(text[pos])) ++pos;
    }
  }
  if (pos != text.size() || dt.hour > 23 || dt.minute > 59 || dt.second > 59) return std::nullopt;
  if (hasTime) *hasTime = true;
  return dt;
}

}  // namespace vfp
