#include "vfp/codepage.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "vfp/error.h"

namespace vfp {

namespace {

struct MarkEntry {
  std::uint8_t mark;
  int codePage;
  const char* iconvName;
};

// FoxPro's code-page marks, with the name glibc's iconv knows each page by.
constexpr MarkEntry kMarks[] = {
    {0x01, 437, "CP437"},
    {0x02, 850, "CP850"},
    {0x03, 1252, "CP1252"},
    {0x04, 10000, "MACINTOSH"},
    {0x64, 852, "CP852"},
    {0x65, 866, "CP866"},
    {0x66, 865, "CP865"},
    {0x67, 861, "CP861"},
    {0x68, 895, "KEYBCS2"},
    {0x69, 620, "MAZOVIA"},
    {0x6A, 737, "CP737"},
    {0x6B, 857, "CP857"},
    {0x7A, 936, "GBK"},
    {0x7B, 932, "CP932"},
    {0x7C, 874, "CP874"},
    {0x7D, 1255, "CP1255"},
    {0x7E, 1256, "CP1256"},
    {0x96, 10007, "MAC-CYRILLIC"},
    {0x97, 10029, "MAC-CENTRALEUROPE"},
    {0x98, 10006, "MAC-GREEK"},
    {0xC8, 1250, "CP1250"},
    {0xC9, 1251, "CP1251"},
    {0xCA, 1254, "CP1254"},
    {0xCB, 1253, "CP1253"},
};

const char* iconvName(int codePage) {
  for (const auto& e : kMarks)
    if (e.codePage == codePage) return e.iconvName;
  return nullptr;
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

// Decodes one UTF-8 character at s[i], advancing i; malformed bytes decode as U+FFFD.
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

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Converts all of in; false when iconv refuses any of it.
  bool convert(std::string_view in, std::string& out) const {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char buf[256];
    while (left > 0) {
      char* dst = buf;
      std::size_t room = sizeof buf;
      std::size_t r = iconv(cd_, &src, &left, &dst, &room);
      out.append(buf, dst - buf);
      if (r == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
    }
    char* dst = buf;
    std::size_t room = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &room);
    out.append(buf, dst - buf);
    return true;
  }

 private:
  iconv_t cd_;
};

// Single-byte pages: a 256-entry table built once from iconv, so a row loop never calls it.
class SingleByteConverter : public TextConverter {
 public:
  SingleByteConverter(int codePage, const Iconv& decode) : codePage_(codePage) {
    for (int b = 0; b < 256; ++b) {
      std::string u;
      char c = char(b);
      if (b < 0x80 || !decode.convert(std::string_view(&c, 1), u) || u.empty()) {
        u.clear();
        appendUtf8(char32_t(b), u);
      }
      toUtf8_[b] = u;
      std::size_t i = 0;
      fromUnicode_.emplace(nextUtf8(u, i), std::uint8_t(b));
    }
  }
  int codePage() const override { return codePage_; }
  void toUtf8(std::string_view bytes, std::string& out) const override {
    for (unsigned char c : bytes) {
      if (c < 0x80)
        out += char(c);
      else
        out += toUtf8_[c];
    }
  }
  std::size_t fromUtf8(std::string_view utf8, std::string& out) const override {
    std::size_t replaced = 0;
    for (std::size_t i = 0; i < utf8.size();) {
      auto c = static_cast<unsigned char>(utf8[i]);
      if (c < 0x80) {
        out += char(c);
        ++i;
        continue;
      }
      char32_t u = nextUtf8(utf8, i);
      auto it = fromUnicode_.find(u);
      if (it == fromUnicode_.end()) {
        out += '?';
        ++replaced;
      } else {
        out += char(it->second);
      }
    }
    return replaced;
  }

 private:
  int codePage_;
  std::array<std::string, 256> toUtf8_;
  std::unordered_map<char32_t, std::uint8_t> fromUnicode_;
};

// Multi-byte pages (936, 932): iconv per call, character by character where it refuses.
class MultiByteConverter : public TextConverter {
 public:
  MultiByteConverter(int codePage, const char* name)
      : codePage_(codePage), decode_("UTF-8", name), encode_(name, "UTF-8") {}
  bool ok() const { return decode_.ok() && encode_.ok(); }
  int codePage() const override { return codePage_; }
  void toUtf8(std::string_view bytes, std::string& out) const override {
    std::lock_guard lock(mutex_);
    std::size_t mark = out.size();
    if (decode_.convert(bytes, out)) return;
    // Undecodable sequences: keep what decodes, show the rest as U+FFFD.
    out.resize(mark);
    for (std::size_t i = 0; i < bytes.size();) {
      std::size_t len =
          (static_cast<unsigned char>(bytes[i]) >= 0x80 && i + 1 < bytes.size()) ? 2 : 1;
      std::string piece;
      if (decode_.convert(bytes.substr(i, len), piece)) {
        out += piece;
      } else {
        appendUtf8(0xFFFD, out);
      }
      i += len;
    }
  }
  std::size_t fromUtf8(std::string_view utf8, std::string& out) const override {
    std::lock_guard lock(mutex_);
    std::size_t mark = out.size();
    if (encode_.convert(utf8, out)) return 0;
    out.resize(mark);
    std::size_t replaced = 0;
    for (std::size_t i = 0; i < utf8.size();) {
      std::size_t start = i;
      nextUtf8(utf8, i);
      std::string piece;
      if (encode_.convert(utf8.substr(start, i - start), piece)) {
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
  Iconv decode_;
  Iconv encode_;
  mutable std::mutex mutex_;  // an iconv descriptor keeps state
};

}  // namespace

std::shared_ptr<const TextConverter> converterFor(int codePage) {
  static std::mutex mutex;
  static std::map<int, std::shared_ptr<const TextConverter>> cache;
  std::lock_guard lock(mutex);
  if (auto it = cache.find(codePage); it != cache.end()) return it->second;
  const char* name = iconvName(codePage);
  if (!name) throw Error("Code page " + std::to_string(codePage) + " is not supported.");
  std::shared_ptr<const TextConverter> conv;
  if (codePage == 936 || codePage == 932) {
    auto mb = std::make_shared<MultiByteConverter>(codePage, name);
    if (mb->ok()) conv = mb;
  } else {
    Iconv decode("UTF-8", name);
    if (decode.ok()) conv = std::make_shared<SingleByteConverter>(codePage, decode);
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

std::uint8_t markFromCodePage(int codePage) {
  for (const auto& e : kMarks)
    if (e.codePage == codePage) return e.mark;
  return 0;
}

}  // namespace vfp
