// Code pages through Windows' own conversion (MultiByteToWideChar / WideCharToMultiByte).
//
// Windows maps a few undefined bytes of some single-byte pages into the private use area; those
// are refused here so that they fall back as on other systems (the control character of the
// same number), and a table's bytes read the same everywhere. Best-fit replacements ("Ā" stored
// as "A") are refused too: a character a page cannot hold is reported, never silently changed.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "vfp/codepage.h"
#include "vfp/os/codec.h"
#include "vfp/os/windows/wide.h"

namespace vfp::os {

namespace {

bool isMultiByte(int codePage) { return isDoubleBytePage(codePage); }

class WindowsCodec : public Codec {
 public:
  explicit WindowsCodec(int codePage) : codePage_(UINT(codePage)) {}
  bool decode(std::string_view bytes, std::string& utf8) const override {
    if (bytes.empty()) return true;
    int n = MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                                nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(std::size_t(n), L'\0');
    MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                        wide.data(), n);
    if (!isMultiByte(int(codePage_)))
      for (wchar_t c : wide)
        if (c >= 0xE000 && c <= 0xF8FF) return false;
    utf8 += toUtf8(wide);
    return true;
  }
  bool encode(std::string_view utf8, std::string& bytes) const override {
    if (utf8.empty()) return true;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()),
                                nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), wide.data(),
                        n);
    BOOL usedDefault = FALSE;
    int m = WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0,
                                nullptr, &usedDefault);
    if (m <= 0 || usedDefault) return false;
    std::string out(std::size_t(m), '\0');
    WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, wide.data(), n, out.data(), m, nullptr,
                        nullptr);
    bytes += out;
    return true;
  }

 private:
  UINT codePage_;
};

}  // namespace

std::unique_ptr<Codec> openCodec(int codePage) {
  if (!IsValidCodePage(UINT(codePage))) return nullptr;
  return std::make_unique<WindowsCodec>(codePage);
}

}  // namespace vfp::os
