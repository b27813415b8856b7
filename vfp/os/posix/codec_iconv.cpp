// Code pages through iconv, under the names glibc knows them by.
#include <iconv.h>

#include <cerrno>

#include "vfp/os/codec.h"

namespace vfp::os {

namespace {

struct PageName {
  int codePage;
  const char* iconvName;
};

constexpr PageName kNames[] = {
    {437, "CP437"},       {850, "CP850"},          {1252, "CP1252"},
    {10000, "MACINTOSH"}, {852, "CP852"},          {866, "CP866"},
    {865, "CP865"},       {861, "CP861"},          {895, "KEYBCS2"},
    {620, "MAZOVIA"},     {737, "CP737"},          {857, "CP857"},
    {936, "GBK"},         {932, "CP932"},          {949, "CP949"},
    {950, "CP950"},       {874, "CP874"},          {1255, "CP1255"},
    {1256, "CP1256"},     {10007, "MAC-CYRILLIC"}, {10029, "MAC-CENTRALEUROPE"},
    {10006, "MAC-GREEK"}, {1250, "CP1250"},        {1251, "CP1251"},
    {1254, "CP1254"},     {1253, "CP1253"},
};

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
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

class IconvCodec : public Codec {
 public:
  explicit IconvCodec(const char* name) : decode_("UTF-8", name), encode_(name, "UTF-8") {}
  bool ok() const { return decode_.ok() && encode_.ok(); }
  bool decode(std::string_view bytes, std::string& utf8) const override {
    return decode_.convert(bytes, utf8);
  }
  bool encode(std::string_view utf8, std::string& bytes) const override {
    return encode_.convert(utf8, bytes);
  }

 private:
  Iconv decode_;
  Iconv encode_;
};

}  // namespace

std::unique_ptr<Codec> openCodec(int codePage) {
  for (const auto& n : kNames) {
    if (n.codePage != codePage) continue;
    auto codec = std::make_unique<IconvCodec>(n.iconvName);
    if (codec->ok()) return codec;
    return nullptr;
  }
  return nullptr;
}

}  // namespace vfp::os
