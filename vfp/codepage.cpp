#include "vfp/codepage.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "vfp/error.h"
#include "vfp/os/codec.h"

namespace vfp {

namespace {

struct MarkEntry {
  std::uint8_t mark;
  int codePage;
  const char* name;
};

// FoxPro's code-page marks, in the order foxproCodePages() hands them out.
constexpr MarkEntry kMarks[] = {
    {0x03, 1252, "Windows Western European"},
    {0xC8, 1250, "Windows Central European"},
    {0xC9, 1251, "Windows Cyrillic"},
    {0xCB, 1253, "Windows Greek"},
    {0xCA, 1254, "Windows Turkish"},
    {0x7D, 1255, "Windows Hebrew"},
    {0x7E, 1256, "Windows Arabic"},
    {0x7C, 874, "Windows Thai"},
    {0x7A, 936, "Windows Simplified Chinese"},
    {0x78, 950, "Windows Traditional Chinese"},
    {0x7B, 932, "Windows Japanese"},
    {0x79, 949, "Windows Korean"},
    {0x01, 437, "DOS United States"},
    {0x02, 850, "DOS Western European"},
    {0x64, 852, "DOS Central European"},
    {0x65, 866, "DOS Cyrillic"},
    {0x6A, 737, "DOS Greek"},
    {0x6B, 857, "DOS Turkish"},
    {0x66, 865, "DOS Nordic"},
    {0x67, 861, "DOS Icelandic"},
    {0x68, 895, "DOS Czech, Kamenicky"},
    {0x69, 620, "DOS Polish, Mazovia"},
    {0x04, 10000, "Mac Roman"},
    {0x97, 10029, "Mac Central European"},
    {0x96, 10007, "Mac Cyrillic"},
    {0x98, 10006, "Mac Greek"},
};

bool knownPage(int codePage) {
  for (const auto& e : kMarks)
    if (e.codePage == codePage) return true;
  return false;
}

void appendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

}  // namespace

char32_t nextUtf8(std::string_view s, std::size_t& i) {
  auto b = static_cast<unsigned char>(s[i++]);
  if (b < 0x80) return b;
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
  if (extra < 0 || b >= 0xF8) return 0xFFFD;
  char32_t c = b & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return c;
}

namespace {

// Where an undefined byte whose own number is taken stands in the private use area.
constexpr char32_t kUndefinedBase = 0xF700;

// Single-byte pages: a 256-entry table built once from the system's converter, so a row loop
// never calls it.
class SingleByteConverter : public TextConverter {
 public:
  SingleByteConverter(int codePage, const os::Codec& decode) : codePage_(codePage) {
    // The bytes the page defines come first, so that a character always encodes to the byte
    // that defines it. An undefined byte stands for the character of the same number, unless a
    // defined byte already means that one (0xD5 of code page 857 is undefined, 0xE5 is "Õ"):
    // then for a private-use character, so that it still survives a round trip.
    std::array<bool, 256> defined{};
    for (int b = 0; b < 256; ++b) {
      char c = char(b);
      std::string u;
      if (b < 0x80) {
        u = std::string(1, c);
      } else if (decode.decode(std::string_view(&c, 1), u) && !u.empty()) {
      } else {
        continue;
      }
      defined[b] = true;
      toUtf8_[b] = u;
      std::size_t i = 0;
      fromUnicode_.emplace(nextUtf8(u, i), std::uint8_t(b));
    }
    for (int b = 0x80; b < 256; ++b) {
      if (defined[b]) continue;
      char32_t stand = fromUnicode_.count(char32_t(b)) ? kUndefinedBase + char32_t(b) : char32_t(b);
      appendUtf8(stand, toUtf8_[b]);
      fromUnicode_.emplace(stand, std::uint8_t(b));
    }
    bmp_.assign(kBmp, -1);
    for (const auto& [u, b] : fromUnicode_)
      if (u < kBmp) bmp_[u] = b;
  }
  int codePage() const override { return codePage_; }
  void toUtf8(std::string_view bytes, std::string& out) const override {
    for (std::size_t i = 0; i < bytes.size();) {
      if (std::size_t run = asciiPrefix(bytes.substr(i))) {
        out.append(bytes.data() + i, run);
        i += run;
        continue;
      }
      out += toUtf8_[static_cast<unsigned char>(bytes[i++])];
    }
  }
  std::size_t fromUtf8(std::string_view utf8, std::string& out) const override {
    std::size_t replaced = 0;
    for (std::size_t i = 0; i < utf8.size();) {
      if (std::size_t run = asciiPrefix(utf8.substr(i))) {
        out.append(utf8.data() + i, run);
        i += run;
        continue;
      }
      const char32_t u = nextUtf8(utf8, i);
      const int b = byteFor(u);
      if (b < 0) {
        out += '?';
        ++replaced;
      } else {
        out += char(b);
      }
    }
    return replaced;
  }

 private:
  // The byte for a character, or -1: a table for the Basic Multilingual Plane (every character
  // these pages hold lies there), as a hash lookup per character dominated converting text.
  int byteFor(char32_t u) const {
    if (u < kBmp) return bmp_[u];
    auto it = fromUnicode_.find(u);
    return it == fromUnicode_.end() ? -1 : it->second;
  }
  static constexpr char32_t kBmp = 0x10000;

  int codePage_;
  std::array<std::string, 256> toUtf8_;
  std::unordered_map<char32_t, std::uint8_t> fromUnicode_;
  std::vector<std::int16_t> bmp_;
};

// Double-byte pages (932, 936, 949, 950): the system's converter per call, character by character
// where it refuses.
class MultiByteConverter : public TextConverter {
 public:
  MultiByteConverter(int codePage, std::unique_ptr<os::Codec> codec)
      : codePage_(codePage), codec_(std::move(codec)) {
    // Whether the page stores ASCII as itself, so that ASCII text needs no call to the system.
    std::string ascii, encoded;
    for (int c = 1; c < 0x80; ++c) ascii += char(c);
    asciiSame_ = codec_->encode(ascii, encoded) && encoded == ascii;
  }
  int codePage() const override { return codePage_; }
  void toUtf8(std::string_view bytes, std::string& out) const override {
    std::lock_guard lock(mutex_);
    std::size_t mark = out.size();
    if (codec_->decode(bytes, out)) return;
    // Undecodable sequences: keep what decodes, show the rest as U+FFFD.
    out.resize(mark);
    for (std::size_t i = 0; i < bytes.size();) {
      std::size_t len =
          (static_cast<unsigned char>(bytes[i]) >= 0x80 && i + 1 < bytes.size()) ? 2 : 1;
      std::string piece;
      if (codec_->decode(bytes.substr(i, len), piece)) {
        out += piece;
      } else {
        appendUtf8(0xFFFD, out);
      }
      i += len;
    }
  }
  std::size_t fromUtf8(std::string_view utf8, std::string& out) const override {
    if (asciiSame_ && asciiPrefix(utf8) == utf8.size()) {
      out.append(utf8);
      return 0;
    }
    std::lock_guard lock(mutex_);
    std::size_t mark = out.size();
    if (codec_->encode(utf8, out)) return 0;
    out.resize(mark);
    std::size_t replaced = 0;
    for (std::size_t i = 0; i < utf8.size();) {
      std::size_t start = i;
      nextUtf8(utf8, i);
      std::string piece;
      if (codec_->encode(utf8.substr(start, i - start), piece)) {
        out += piece;
      } else {
        out += '?';
        ++replaced;
      }
    }
    return replaced;
  }

 private:
  int codePage_;
  std::unique_ptr<os::Codec> codec_;
  mutable std::mutex mutex_;  // a system converter may keep state between calls
  bool asciiSame_ = false;
};

}  // namespace

std::shared_ptr<const TextConverter> converterFor(int codePage) {
  static std::mutex mutex;
  static std::map<int, std::shared_ptr<const TextConverter>> cache;
  std::lock_guard lock(mutex);
  if (auto it = cache.find(codePage); it != cache.end()) return it->second;
  if (!knownPage(codePage))
    throw Error("Code page " + std::to_string(codePage) + " is not supported.");
  std::shared_ptr<const TextConverter> conv;
  if (auto codec = os::openCodec(codePage)) {
    if (isDoubleBytePage(codePage))
      conv = std::make_shared<MultiByteConverter>(codePage, std::move(codec));
    else
      conv = std::make_shared<SingleByteConverter>(codePage, *codec);
  }
  if (!conv)
    throw Error("Code page " + std::to_string(codePage) + " cannot be converted on this system.");
  cache.emplace(codePage, conv);
  return conv;
}

int codePageFromMark(std::uint8_t mark) {
  for (const auto& e : kMarks)
    if (e.mark == mark) return e.codePage;
  return 0;
}

bool isDoubleBytePage(int codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

const std::vector<int>& foxproCodePages() {
  static const std::vector<int> pages = [] {
    std::vector<int> v;
    for (const auto& e : kMarks) v.push_back(e.codePage);
    return v;
  }();
  return pages;
}

std::string codePageTitle(int codePage) {
  for (const auto& e : kMarks)
    if (e.codePage == codePage)
      return "code page " + std::to_string(codePage) + " (" + e.name + ")";
  return "code page " + std::to_string(codePage);
}

std::uint8_t markFromCodePage(int codePage) {
  for (const auto& e : kMarks)
    if (e.codePage == codePage) return e.mark;
  return 0;
}

// Length of the run of ASCII bytes at the start of s. Text is mostly ASCII, which every page
// supported here stores as itself, so converters copy such runs whole.
std::size_t asciiPrefix(std::string_view s) {
  std::size_t i = 0;
  const char* d = s.data();
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, d + i, 8);
    if (w & 0x8080808080808080ull) break;
  }
  while (i < s.size() && static_cast<unsigned char>(d[i]) < 0x80) ++i;
  return i;
}

}  // namespace vfp
