// The system's converter between one code page and UTF-8, under vfp/codepage.h. Each system
// supplies openCodec() in vfp/os/<system>/codec_*.cpp; the tables and fallbacks that make
// conversions alike everywhere are in vfp/codepage.cpp.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vfp::os {

class Codec {
 public:
  virtual ~Codec() = default;
  // Appends the conversion of all of the input to out; false when the system refuses any of it
  // (a byte the page leaves undefined, a character it cannot hold). Not safe to call from two
  // threads at once.
  virtual bool decode(std::string_view bytes, std::string& utf8) const = 0;
  virtual bool encode(std::string_view utf8, std::string& bytes) const = 0;
};

// nullptr when the system has no converter for the code page.
std::unique_ptr<Codec> openCodec(int codePage);

}  // namespace vfp::os
