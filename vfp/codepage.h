// Conversion between a table's code page and UTF-8. One small interface over the system's own
// converter (iconv on POSIX systems, MultiByteToWideChar/WideCharToMultiByte on Windows; see
// vfp/os/codec.h), so tables convert alike on every system.
//
// Callers may rely on:
// - toUtf8 never fails: bytes the code page leaves undefined come out as the character of the
//   same number (U+F700 plus the byte where the page already uses that character), so every
//   byte of a single-byte page survives a round trip;
// - fromUtf8 writes "?" for each character the code page cannot hold and returns how many;
// - the code-page mark of a table header (byte 29) maps to a code page number and back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vfp {

class TextConverter {
 public:
  virtual ~TextConverter() = default;
  virtual int codePage() const = 0;
  // Appends the UTF-8 form of bytes to out.
  virtual void toUtf8(std::string_view bytes, std::string& out) const = 0;
  // Appends the code-page form of utf8 to out; returns the number of characters replaced by "?".
  virtual std::size_t fromUtf8(std::string_view utf8, std::string& out) const = 0;
};

// The converter for a Windows/DOS code page number (1252, 437, 936, ...). Throws vfp::Error when
// the system has no converter for it. Converters are cached and shared; they are immutable.
std::shared_ptr<const TextConverter> converterFor(int codePage);

// Length of the run of ASCII bytes at the start of s, eight bytes at a time.
std::size_t asciiPrefix(std::string_view s);

// Decodes the UTF-8 character at s[i] and moves i past it; a malformed sequence gives U+FFFD.
char32_t nextUtf8(std::string_view s, std::size_t& i);

// Whether a code page stores characters in one or two bytes (932, 936, 949, 950).
bool isDoubleBytePage(int codePage);

// Header mark (byte 29) -> code page; 0 when the mark is 0 or unknown.
int codePageFromMark(std::uint8_t mark);
// Code page -> header mark; 0 when FoxPro has no mark for it.
std::uint8_t markFromCodePage(int codePage);

// The code page an unmarked table is read in when nothing else says which (see
// vfp/codepage_guess.h), and the one new tables get by default.
constexpr int kDefaultCodePage = 1252;

// Every code page FoxPro has a mark for, in the order a tie between pages that read a text
// alike is settled: Windows pages first (FoxPro's default 1252 leading), then DOS, then Mac.
const std::vector<int>& foxproCodePages();
// "code page 866 (DOS Cyrillic)"; the bare number for a page FoxPro has no mark for.
std::string codePageTitle(int codePage);

}  // namespace vfp
