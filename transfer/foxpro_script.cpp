#include "transfer/foxpro_script.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t kPieceCharacters = 200;

// Length of the UTF-8 sequence that starts with this byte; stray continuation bytes count
// as one so that malformed text still advances.
std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

// Calls piece(begin, end) for consecutive runs of at most kPieceCharacters characters.
template <typename F>
void forEachPiece(const std::string& text, std::size_t begin, std::size_t end, F piece) {
  std::size_t start = begin, count = 0, i = begin;
  while (i < end) {
    std::size_t n = sequenceLength(static_cast<unsigned char>(text[i]));
    if (i + n > end) n = end - i;
    i += n;
    if (++count == kPieceCharacters) {
      piece(start, i);
      start = i;
      count = 0;
    }
  }
  if (start < end) piece(start, end);
}

void appendQuoted(std::string& out, const std::string& text, std::size_t begin, std::size_t end) {
  out += '\'';
  for (std::size_t i = begin; i < end; ++i) {
    if (text[i] == '\'') out += '\'';
    out += text[i];
  }
  out += '\'';
}

}  // namespace

namespace FoxproScript {

std::string ColumnEntry(const std::string& fieldName) {
  std::string entry = "[" + fieldName + "]";
  for (auto& c : entry)
    if (c == ' ' || c == '/') c = '_';
  return entry;
}

std::string BareName(const std::string& columnEntry) {
  std::string bare;
  for (char c : columnEntry)
    if (c != '[' && c != ']') bare += c;
  return bare;
}

bool IsNumericName(const std::string& bareName) {
  std::size_t i = 0, n = bareName.size();
  auto skipSpaces = [&] {
    while (i < n && std::isspace(static_cast<unsigned char>(bareName[i]))) ++i;
  };
  skipSpaces();
  if (i < n && (bareName[i] == '+' || bareName[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && std::isdigit(static_cast<unsigned char>(bareName[i]))) ++i, ++digits;
  if (i < n && bareName[i] == '.') {
    ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(bareName[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (bareName[i] == 'e' || bareName[i] == 'E')) {
    std::size_t save = i++;
    if (i < n && (bareName[i] == '+' || bareName[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(bareName[i]))) ++i, ++expDigits;
    if (expDigits == 0) i = save;
  }
  skipSpaces();
  return i == n;
}

bool IsBinaryType(int typeCode) { return typeCode == 128 || typeCode == 204 || typeCode == 205; }

std::string ColumnText(int typeCode) { return IsBinaryType(typeCode) ? " BLOB," : " M,"; }

std::string CreateCommand(const std::string& targetPath,
                          const std::vector<std::string>& columnEntries,
                          const std::vector<int>& typeCodes) {
  return CreateCommand("'" + targetPath + "'", columnEntries, typeCodes, 1252);
}

std::string CreateCommand(const std::string& delimitedPath,
                          const std::vector<std::string>& columnEntries,
                          const std::vector<int>& typeCodes, int codePage) {
  std::string command = "CREATE TABLE " + delimitedPath;
  if (codePage != 1252) command += " CODEPAGE = " + std::to_string(codePage);
  command += "(";
  for (std::size_t i = 0; i < columnEntries.size(); ++i)
    command += columnEntries[i] + ColumnText(i < typeCodes.size() ? typeCodes[i] : 0);
  // The last column's comma goes; with no columns at all this drops the "(" as the original
  // recipe does, and FoxPro reports the command.
  command.pop_back();
  return command + ")";
}

void AppendLiteral(std::string& out, const ado::Value& value, int typeCode) {
  if (value.isNull()) {
    out += "''";
    return;
  }
  // Text, decimals and bytes are read in place; only the other kinds are formatted first.
  std::string formatted;
  const bool inPlace = value.kind() == ado::Value::Kind::Text ||
                       value.kind() == ado::Value::Kind::Decimal ||
                       value.kind() == ado::Value::Kind::Bytes;
  // Doubles as the server prints them, a FLOAT with the digits of a float (3.4e38, not
  // 3.3999999521443642e+38).
  if (value.kind() == ado::Value::Kind::Double)
    formatted = ado::formatDouble(value.asDouble(), typeCode == 4 /* adSingle */);
  else if (!inPlace)
    formatted = value.toText();
  const std::string& text = inPlace ? value.asString() : formatted;

  if (value.kind() == ado::Value::Kind::Bytes || IsBinaryType(typeCode)) {
    if (text.empty()) {
      out += "''";
      return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.reserve(out.size() + 2 + text.size() * 2);
    out += "0h";
    for (unsigned char b : text) {
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
    return;
  }
  const std::size_t start = out.size();
  std::size_t runStart = 0;
  auto flushRun = [&](std::size_t end) {
    forEachPiece(text, runStart, end, [&](std::size_t b, std::size_t e) {
      if (out.size() != start) out += '+';
      appendQuoted(out, text, b, e);
    });
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    flushRun(i);
    if (out.size() != start) out += '+';
    out += text[i] == '\r' ? "CHR(13)" : "CHR(10)";
    runStart = i + 1;
  }
  flushRun(text.size());
  if (out.size() == start) out += "''";
}

std::string Literal(const ado::Value& value, int typeCode) {
  std::string out;
  AppendLiteral(out, value, typeCode);
  return out;
}

std::string InsertCommand(const std::string& targetPath, const std::vector<std::string>& literals) {
  std::string command = "INSERT INTO [" + targetPath + "] VALUES(";
  for (std::size_t i = 0; i < literals.size(); ++i) {
    if (i) command += ", ";
    command += literals[i];
  }
  return command + ")";
}

}  // namespace FoxproScript
